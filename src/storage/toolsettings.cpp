// The program's options file; see toolsettings.h.
#include "storage/toolsettings.h"

#include <QDir>
#include <QSettings>

namespace {
const QString kVerifyAfterWrite = QStringLiteral("Options/VerifyAfterWrite");
const QString kSetClockOnConnect = QStringLiteral("Options/SetClockOnConnect");
const QString kDriftThreshold = QStringLiteral("Options/DriftThresholdSeconds");
constexpr qint64 kLeastThreshold = 3; // below that, a right clock would look wrong
} // namespace

ToolSettings::ToolSettings(QString folder) : m_folder(std::move(folder)) {}

QString ToolSettings::path() const
{
    return QDir(m_folder).filePath(QStringLiteral("Setting.ini"));
}

bool ToolSettings::read(const QString &key) const
{
    return QSettings(path(), QSettings::IniFormat).value(key, false).toBool();
}

bool ToolSettings::write(const QString &key, bool on) const
{
    QSettings settings(path(), QSettings::IniFormat);
    settings.setValue(key, on);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool ToolSettings::verifyAfterWrite() const
{
    return read(kVerifyAfterWrite);
}

bool ToolSettings::setVerifyAfterWrite(bool on) const
{
    return write(kVerifyAfterWrite, on);
}

bool ToolSettings::setClockOnConnect() const
{
    return read(kSetClockOnConnect);
}

bool ToolSettings::setSetClockOnConnect(bool on) const
{
    return write(kSetClockOnConnect, on);
}

std::chrono::seconds ToolSettings::driftThreshold(std::chrono::seconds fallback) const
{
    bool ok = false;
    const qint64 s = QSettings(path(), QSettings::IniFormat).value(kDriftThreshold).toLongLong(&ok);
    return std::chrono::seconds(ok && s >= kLeastThreshold ? s : fallback.count());
}
