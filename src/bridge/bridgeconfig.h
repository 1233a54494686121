// kelmora-bridge's configuration file: [mqtt] and one [board.ID] per board.
#pragma once

#include "protocol/frames.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct MqttSettings {
    QString host = QStringLiteral("localhost");
    int port = 1883;
    QString username;
    QString passwordFile;
    QString password; // read from passwordFile
    QString tlsCa;    // TLS when set
    QString clientId = QStringLiteral("kelmora-bridge");
    QString baseTopic = QStringLiteral("kelmora");
    QString discoveryPrefix = QStringLiteral("homeassistant");
};

struct BoardSettings {
    QString id;
    QString port; // ComN or a device path
    int address = 1;
    Variant variant = Variant::Standard;
    QString name;
    QString namesFile; // Name.ini-style channel names for discovery
};

struct BridgeConfig {
    MqttSettings mqtt;
    QList<BoardSettings> boards;
};

struct ConfigResult {
    std::optional<BridgeConfig> config;
    QString error; // "FILE:LINE: problem"
};

// Reads other files (the password file) by name, relative names against the
// config file's folder already resolved; empty when unreadable.
using FileReader = std::function<std::optional<QByteArray>(const QString &path)>;

ConfigResult ParseBridgeConfig(const QString &fileName, const QByteArray &text, const FileReader &read);
// From the disk.
ConfigResult LoadBridgeConfig(const QString &fileName);
