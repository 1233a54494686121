// Helpers shared by the storage tests: files in temporary folders and a private trash.
#pragma once

#include "schedule/clsdata.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
    ASSERT_EQ(f.write(bytes), bytes.size());
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every name in a folder, hidden ones included.
inline QStringList folderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A valid record of `channel` whose other fields vary with `seed`.
inline QString recordOf(int channel, int seed)
{
    Clsdata d;
    d.nRoute = int16_t(channel);
    d.bIsOpen = seed % 2 == 0;
    d.bIsEveryDay = seed % 3 == 0;
    d.bIsWeek = seed % 3 == 1;
    d.strWeek = QStringLiteral("1010100");
    d.nStartYear = int16_t(seed % 3 == 2 ? 2000 + seed % 100 : 0);
    d.nStartMonth = int16_t(seed % 12 + 1);
    d.nStartDay = int16_t(seed % 28 + 1);
    d.nStartHour = int16_t(seed % 24);
    d.nStartMin = int16_t(seed % 60);
    d.nStartSecond = int16_t((seed * 7) % 60);
    return d.GetStr();
}

// Points HOME and XDG_DATA_HOME at a temporary folder so trashing never reaches the real trash.
class TrashSandbox {
public:
    TrashSandbox()
        : m_home(qgetenv("HOME")), m_data(qgetenv("XDG_DATA_HOME")), m_hadHome(qEnvironmentVariableIsSet("HOME")),
          m_hadData(qEnvironmentVariableIsSet("XDG_DATA_HOME"))
    {
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome()));
    }
    ~TrashSandbox()
    {
        restore("HOME", m_hadHome, m_home);
        restore("XDG_DATA_HOME", m_hadData, m_data);
    }
    TrashSandbox(const TrashSandbox &) = delete;
    TrashSandbox &operator=(const TrashSandbox &) = delete;

    QString dataHome() const { return m_dir.path() + QStringLiteral("/share"); }
    QString trashFiles() const { return dataHome() + QStringLiteral("/Trash/files"); }
    QStringList trashed() const { return folderEntries(trashFiles()); }

private:
    static void restore(const char *name, bool had, const QByteArray &value)
    {
        if (had)
            qputenv(name, value);
        else
            qunsetenv(name);
    }

    QTemporaryDir m_dir;
    QByteArray m_home;
    QByteArray m_data;
    bool m_hadHome;
    bool m_hadData;
};
