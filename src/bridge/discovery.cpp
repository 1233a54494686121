#include "bridge/discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kSoftware = QStringLiteral("kelmora-bridge");
const QString kVersion = QStringLiteral(KELMORA_VERSION);

QString ConfigTopic(const MqttSettings &mqtt, const QString &component, const QString &id, const QString &object)
{
    return QStringLiteral("%1/%2/kelmora_%3/%4/config").arg(mqtt.discoveryPrefix, component, id, object);
}

// The bridge's device identifier. Its '-' keeps it apart from every board's "kelmora_ID".
QString BridgeIdentifier(const QString &clientId)
{
    return kSoftware + u'_' + clientId;
}

QList<QPair<QString, QString>> Objects()
{
    QList<QPair<QString, QString>> objects;
    for (int n = 1; n <= 16; ++n)
        objects.append({QStringLiteral("switch"), QStringLiteral("relay%1").arg(n)});
    objects.append({QStringLiteral("sensor"), QStringLiteral("drift")});
    objects.append({QStringLiteral("button"), QStringLiteral("clock_set")});
    return objects;
}

// What every config carries: who published it, and the entity id it starts with. Home Assistant
// 2025.10 took default_entity_id in place of object_id, which it stopped reading in 2026.4: only
// the new key is sent, and an older Home Assistant makes its ids from the names as before.
QJsonObject Entity(const QString &component, const QString &uniqueId, const QJsonObject &device)
{
    return {{QStringLiteral("unique_id"), uniqueId},
            {QStringLiteral("default_entity_id"), component + u'.' + EntitySlug(uniqueId)},
            {QStringLiteral("device"), device},
            {QStringLiteral("origin"),
             QJsonObject{{QStringLiteral("name"), kSoftware}, {QStringLiteral("sw_version"), kVersion}}}};
}

} // namespace

QString EntitySlug(const QString &text)
{
    QString slug;
    for (const QChar c : text.toLower())
        slug += (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ? c : u'_';
    return slug;
}

QList<Publication> DiscoveryConfigs(const MqttSettings &mqtt, const BoardSettings &board, const QStringList &names,
                                    const QString &bridgeAvailability)
{
    const QString b = mqtt.baseTopic + QLatin1Char('/') + board.id;
    // The board names no maker and no firmware version: the device is shown as kelmora's, with the
    // firmware variant the bridge speaks to it.
    QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{QStringLiteral("kelmora_") + board.id}},
                       {QStringLiteral("name"), board.name},
                       {QStringLiteral("manufacturer"), QStringLiteral("kelmora")},
                       {QStringLiteral("model"), QStringLiteral("16-channel time switch")},
                       {QStringLiteral("sw_version"),
                        board.variant == Variant::Compat ? QStringLiteral("compat") : QStringLiteral("standard")},
                       {QStringLiteral("via_device"), BridgeIdentifier(mqtt.clientId)}};
    if (!board.area.isEmpty())
        device[QStringLiteral("suggested_area")] = board.area;
    const QJsonArray availability{QJsonObject{{QStringLiteral("topic"), bridgeAvailability}},
                                  QJsonObject{{QStringLiteral("topic"), b + QStringLiteral("/availability")}}};
    QList<Publication> out;
    for (const auto &[component, object] : Objects()) {
        QJsonObject c = Entity(component, QStringLiteral("kelmora_%1_%2").arg(board.id, object), device);
        c[QStringLiteral("availability")] = availability;
        c[QStringLiteral("availability_mode")] = QStringLiteral("all");
        if (component == QStringLiteral("switch")) {
            const int n = object.mid(5).toInt();
            const QString named = names.value(n - 1);
            c[QStringLiteral("name")] = named.isEmpty() ? QStringLiteral("第%1路").arg(n) : named;
            c[QStringLiteral("state_topic")] = QStringLiteral("%1/relay/%2").arg(b).arg(n);
            c[QStringLiteral("command_topic")] = QStringLiteral("%1/relay/%2/set").arg(b).arg(n);
            c[QStringLiteral("payload_on")] = QStringLiteral("ON");
            c[QStringLiteral("payload_off")] = QStringLiteral("OFF");
            c[QStringLiteral("qos")] = 1; // a command sent while the bridge reconnects waits on the broker
        } else if (component == QStringLiteral("sensor")) {
            c[QStringLiteral("name")] = QStringLiteral("时钟偏差");
            c[QStringLiteral("state_topic")] = b + QStringLiteral("/clock");
            c[QStringLiteral("value_template")] = QStringLiteral("{{ value_json.drift_seconds }}");
            c[QStringLiteral("unit_of_measurement")] = QStringLiteral("s");
            c[QStringLiteral("device_class")] = QStringLiteral("duration");
            c[QStringLiteral("state_class")] = QStringLiteral("measurement");
            c[QStringLiteral("entity_category")] = QStringLiteral("diagnostic");
            c[QStringLiteral("json_attributes_topic")] = b + QStringLiteral("/clock");
            c[QStringLiteral("json_attributes_template")] =
                QStringLiteral("{{ {'board_time': value_json.board_time} | tojson }}");
        } else {
            c[QStringLiteral("name")] = QStringLiteral("对时");
            c[QStringLiteral("command_topic")] = b + QStringLiteral("/clock/set");
            c[QStringLiteral("entity_category")] = QStringLiteral("config");
            c[QStringLiteral("qos")] = 1;
        }
        out.append({ConfigTopic(mqtt, component, board.id, object), QJsonDocument(c).toJson(QJsonDocument::Compact)});
    }
    return out;
}

Publication BridgeDiscoveryConfig(const MqttSettings &mqtt, const QString &bridgeAvailability)
{
    const QString id = BridgeIdentifier(mqtt.clientId);
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{id}},
                             {QStringLiteral("name"), kSoftware + u' ' + mqtt.clientId},
                             {QStringLiteral("manufacturer"), QStringLiteral("kelmora")},
                             {QStringLiteral("model"), kSoftware},
                             {QStringLiteral("sw_version"), kVersion}};
    QJsonObject c = Entity(QStringLiteral("binary_sensor"), id + QStringLiteral("_connectivity"), device);
    // The device's one feature: it takes the device's name. No availability of its own, so that a
    // bridge gone shows as disconnected rather than unavailable.
    c[QStringLiteral("name")] = QJsonValue::Null;
    c[QStringLiteral("state_topic")] = bridgeAvailability;
    c[QStringLiteral("payload_on")] = QStringLiteral("online");
    c[QStringLiteral("payload_off")] = QStringLiteral("offline");
    c[QStringLiteral("device_class")] = QStringLiteral("connectivity");
    c[QStringLiteral("entity_category")] = QStringLiteral("diagnostic");
    return {BridgeDiscoveryTopic(mqtt, mqtt.clientId), QJsonDocument(c).toJson(QJsonDocument::Compact)};
}

QString BridgeDiscoveryTopic(const MqttSettings &mqtt, const QString &clientId)
{
    // A topic's node id is a-z A-Z 0-9 _ - for Home Assistant; a client_id may hold more.
    return QStringLiteral("%1/binary_sensor/%2/connectivity/config")
        .arg(mqtt.discoveryPrefix, kSoftware + u'_' + EntitySlug(clientId));
}

QString DiscoveryFilter(const MqttSettings &mqtt, const QString &id)
{
    return QStringLiteral("%1/+/kelmora_%2/#").arg(mqtt.discoveryPrefix, id);
}
