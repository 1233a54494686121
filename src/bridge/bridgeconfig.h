// kelmora-bridge's configuration file: [mqtt] and one [board.ID] per board.
#pragma once

#include "protocol/frames.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct MqttSettings {
    QString host = QStringLiteral("localhost");
    int port = 1883;
    QString username;
    QString passwordFile;
    QString password; // read from passwordFile
    QString tlsCa;    // TLS when set; resolved against the configuration's folder
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
    QString namesFile;        // Name.ini-style channel names for discovery
    QStringList channelNames; // sixteen from namesFile, "" where a channel has none; empty without namesFile
    QString area;             // Home Assistant's suggested area; none when empty
};

struct BridgeConfig {
    MqttSettings mqtt;
    QList<BoardSettings> boards;
};

struct ConfigResult {
    std::optional<BridgeConfig> config;
    QString error;        // "FILE:LINE: problem"
    QStringList warnings; // the same form, for what works but should be mended
};

// A file the configuration names (password_file, tls_ca, names_file).
struct NamedFile {
    QString path; // the name resolved against the configuration's folder
    QByteArray bytes;
    bool everyoneReads = false;
};
// Reads a named file; nothing when it cannot be read.
using FileReader = std::function<std::optional<NamedFile>(const QString &name)>;
// The device a board's port names, so that two names of one device compare equal.
using PortResolver = std::function<QString(const QString &port)>;

ConfigResult ParseBridgeConfig(const QString &fileName, const QByteArray &text, const FileReader &read,
                               const PortResolver &device = {});
// From the disk.
ConfigResult LoadBridgeConfig(const QString &fileName);
// What a board's port opens: ComN as the window names it (a ComN link in
// `configFolder` first), anything else as given.
QString BoardPortDevice(const QString &port, const QString &configFolder);
