// The program's own options, kept across runs in Setting.ini beside Note.ini
// (QSettings, INI format): never in the schedule files, whose layout stays as it is.
#pragma once

#include <QString>

#include <chrono>

class ToolSettings {
public:
    explicit ToolSettings(QString folder);

    QString path() const;

    // 写入后校验: verify what was written after a successful write. Off by default.
    bool verifyAfterWrite() const;
    bool setVerifyAfterWrite(bool on) const;
    // 连接时自动对时: set the board's clock when the link opens and it is far off. Off by default.
    bool setClockOnConnect() const;
    bool setSetClockOnConnect(bool on) const;
    // Drift beyond which the clock is shown in red (and set on connect): `fallback`
    // unless the file says otherwise. Only read: an installer may change it in the file.
    std::chrono::seconds driftThreshold(std::chrono::seconds fallback) const;

    // 网络设备…: the broker last used (mqtt://host), its user and the bridge's base topic.
    struct Broker {
        QString url, user, baseTopic;
    };
    Broker broker() const;
    bool setBroker(const Broker &b) const;
    // The broker password, kept only when the operator asks, in a file only they may read
    // (beside Setting.ini); empty when none is kept. `password` empty: the file goes.
    QString brokerPasswordPath() const;
    QString brokerPassword() const;
    bool setBrokerPassword(const QString &password) const;

private:
    bool read(const QString &key) const;
    bool write(const QString &key, bool on) const; // false when the file could not be written

    QString m_folder;
};
