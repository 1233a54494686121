// The program's options file; see toolsettings.h.
#include "storage/toolsettings.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
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

ToolSettings::Broker ToolSettings::broker() const
{
    const QSettings settings(path(), QSettings::IniFormat);
    return {settings.value(QStringLiteral("Network/Broker")).toString(),
            settings.value(QStringLiteral("Network/User")).toString(),
            settings.value(QStringLiteral("Network/BaseTopic"), QStringLiteral("kelmora")).toString()};
}

bool ToolSettings::setBroker(const Broker &b) const
{
    QSettings settings(path(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Network/Broker"), b.url);
    settings.setValue(QStringLiteral("Network/User"), b.user);
    settings.setValue(QStringLiteral("Network/BaseTopic"), b.baseTopic);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString ToolSettings::brokerPasswordPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("broker.password"));
}

QString ToolSettings::brokerPassword() const
{
    QFile f(brokerPasswordPath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readLine()).trimmed() : QString();
}

bool ToolSettings::setBrokerPassword(const QString &password) const
{
    if (password.isEmpty())
        return !QFile::exists(brokerPasswordPath()) || QFile::remove(brokerPasswordPath());
    QSaveFile f(brokerPasswordPath());
    // Only the owner may read it, from its first byte on.
    if (!f.open(QIODevice::WriteOnly) || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    f.write(password.toUtf8() + '\n');
    return f.commit();
}
