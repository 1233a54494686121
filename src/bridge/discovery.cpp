#include "bridge/discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString ConfigTopic(const MqttSettings &mqtt, const QString &component, const QString &id, const QString &object)
{
    return QStringLiteral("%1/%2/kelmora_%3/%4/config").arg(mqtt.discoveryPrefix, component, id, object);
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

} // namespace

QList<Publication> DiscoveryConfigs(const MqttSettings &mqtt, const BoardSettings &board, const QStringList &names,
                                    const QString &bridgeAvailability)
{
    const QString b = mqtt.baseTopic + QLatin1Char('/') + board.id;
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{QStringLiteral("kelmora_") + board.id}},
                             {QStringLiteral("name"), board.name},
                             {QStringLiteral("model"), QStringLiteral("16-channel time switch")}};
    const QJsonArray availability{QJsonObject{{QStringLiteral("topic"), bridgeAvailability}},
                                  QJsonObject{{QStringLiteral("topic"), b + QStringLiteral("/availability")}}};
    QList<Publication> out;
    for (const auto &[component, object] : Objects()) {
        QJsonObject c{{QStringLiteral("unique_id"), QStringLiteral("kelmora_%1_%2").arg(board.id, object)},
                      {QStringLiteral("device"), device},
                      {QStringLiteral("availability"), availability},
                      {QStringLiteral("availability_mode"), QStringLiteral("all")}};
        if (component == QStringLiteral("switch")) {
            const int n = object.mid(5).toInt();
            const QString named = names.value(n - 1);
            c[QStringLiteral("name")] = named.isEmpty() ? QStringLiteral("第%1路").arg(n) : named;
            c[QStringLiteral("state_topic")] = QStringLiteral("%1/relay/%2").arg(b).arg(n);
            c[QStringLiteral("command_topic")] = QStringLiteral("%1/relay/%2/set").arg(b).arg(n);
            c[QStringLiteral("payload_on")] = QStringLiteral("ON");
            c[QStringLiteral("payload_off")] = QStringLiteral("OFF");
        } else if (component == QStringLiteral("sensor")) {
            c[QStringLiteral("name")] = QStringLiteral("时钟偏差");
            c[QStringLiteral("state_topic")] = b + QStringLiteral("/clock");
            c[QStringLiteral("value_template")] = QStringLiteral("{{ value_json.drift_seconds }}");
            c[QStringLiteral("unit_of_measurement")] = QStringLiteral("s");
            c[QStringLiteral("device_class")] = QStringLiteral("duration");
        } else {
            c[QStringLiteral("name")] = QStringLiteral("对时");
            c[QStringLiteral("command_topic")] = b + QStringLiteral("/clock/set");
        }
        out.append({ConfigTopic(mqtt, component, board.id, object), QJsonDocument(c).toJson(QJsonDocument::Compact)});
    }
    return out;
}

QList<Publication> DiscoveryClears(const MqttSettings &mqtt, const QString &id)
{
    QList<Publication> out;
    for (const auto &[component, object] : Objects())
        out.append({ConfigTopic(mqtt, component, id, object), QByteArray()});
    return out;
}
