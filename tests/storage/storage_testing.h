// Helpers shared by the storage tests: files in temporary folders and a private trash.
#pragma once

#include "support/files.h"
#include "support/printers.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

inline constexpr qsizetype kTenMegabytes = 10 * 1024 * 1024;

inline QStringList folderEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// 10 MB of the same random bytes every run.
inline QByteArray noise()
{
    QByteArray bytes(kTenMegabytes, Qt::Uninitialized);
    std::generate(bytes.begin(), bytes.end(), std::mt19937(7));
    return bytes;
}

// Points HOME and XDG_DATA_HOME into a temporary folder so trashing never reaches the real trash.
struct TrashSandbox {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME"), oldDataHome = qgetenv("XDG_DATA_HOME"); // empty is as unset
    TrashSandbox()
    {
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("share"))));
    }
    ~TrashSandbox()
    {
        qputenv("HOME", oldHome);
        qputenv("XDG_DATA_HOME", oldDataHome);
    }
    QString files() const { return home.filePath(QStringLiteral("share/Trash/files")); }
};
