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
    // A client of the bridge's (the window, kelmora-cli): no session kept while it is away.
    bool cleanSession = false;
    // MQTT 5 where the broker speaks it (refusals come back with reason codes), else 3.1.1.
    bool mqtt5 = false;
    bool operator==(const MqttSettings &) const = default;
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
    bool fullWrites = false;  // every schedule write whole, even when the board's contents are known
    bool operator==(const BoardSettings &) const = default;
};

struct BridgeConfig {
    MqttSettings mqtt;
    QList<BoardSettings> boards;
};

struct ConfigResult {
    std::optional<BridgeConfig> config;
    QString error;        // "FILE:LINE: problem"
    QStringList warnings; // the same form, for what works but should be mended
    bool noBoard = false; // the one fault is that no board is configured yet
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

// `credentials`: under systemd, the folder of the unit's credentials ($CREDENTIALS_DIRECTORY). The
// password is then read from the credential named as password_file's file name, which the unit loads
// from that file as root (LoadCredential=): a password file only root may read works.
ConfigResult ParseBridgeConfig(const QString &fileName, const QByteArray &text, const FileReader &read,
                               const PortResolver &device = {}, const QString &credentials = {});
// From the disk, with the credentials of $CREDENTIALS_DIRECTORY when it is set.
ConfigResult LoadBridgeConfig(const QString &fileName);

// The password file the shipped unit hands the service, and the credential it is handed as.
inline constexpr char kServiceConfig[] = "/etc/kelmora/bridge.ini";
inline constexpr char kServicePasswordFile[] = "/etc/kelmora/bridge.password";
QString PasswordCredential(const QString &passwordFile);
// What --check-config of the service's configuration, run outside the service, cannot see by reading
// the password file itself: a file the unit does not hand over (one line, or none).
QStringList ServiceCredentialWarnings(const QString &configFile, const MqttSettings &mqtt);

// What a reload does with the running boards: boards only in `next` start, boards only in `running`
// stop, boards with any setting changed restart, the others run on untouched. IDs in `next`'s order
// (removed ones in `running`'s).
struct ReloadPlan {
    QStringList added, removed, changed, kept;
    bool mqttChanged = false; // [mqtt] differs: it takes a restart
};
ReloadPlan PlanReload(const BridgeConfig &running, const BridgeConfig &next);
// What a board's port opens: ComN as the window names it (a ComN link in
// `configFolder` first), anything else as given.
QString BoardPortDevice(const QString &port, const QString &configFolder);
