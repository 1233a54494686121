#include "bridge/topics.h"

#include "bridge/schedulejson.h"
#include "device/headlesssession.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

std::optional<int> Channel(const QString &text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n >= 1 && n <= kChannelCount && text == QString::number(n) ? std::optional<int>(n) : std::nullopt;
}

} // namespace

bool TopicMatches(const QString &filter, const QString &topic)
{
    const QStringList f = filter.split(QLatin1Char('/')), t = topic.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < f.size(); ++i) {
        if (f[i] == QStringLiteral("#"))
            return true;
        if (i >= t.size() || (f[i] != QStringLiteral("+") && f[i] != t[i]))
            return false;
    }
    return f.size() == t.size();
}

std::optional<RoutedMessage> RouteMessage(const QString &base, const QStringList &boards, const QString &topic,
                                          const QByteArray &payload)
{
    if (!topic.startsWith(base + QLatin1Char('/')))
        return std::nullopt;
    const QStringList parts = topic.mid(base.size() + 1).split(QLatin1Char('/'));
    if (parts.size() < 3 || !boards.contains(parts[0]))
        return std::nullopt;
    const QStringList rest = parts.mid(1);
    const bool relaySet = rest.size() == 3 && rest[0] == QStringLiteral("relay") && rest[2] == QStringLiteral("set");
    const bool scheduleSet =
        rest.size() == 3 && rest[0] == QStringLiteral("schedule") && rest[2] == QStringLiteral("set");
    const bool clockSet = rest == QStringList{QStringLiteral("clock"), QStringLiteral("set")};
    const bool scheduleGet = rest == QStringList{QStringLiteral("schedule"), QStringLiteral("get")};
    if (!relaySet && !scheduleSet && !clockSet && !scheduleGet)
        return std::nullopt; // our own state topics, or not a request
    RoutedMessage m{parts[0], std::nullopt, {}, topic, QJsonValue(QJsonValue::Undefined)};
    const auto refuse = [&](const QString &why) {
        m.refusal = why;
        return m;
    };
    // Before anything reads it: a huge payload costs no parse.
    if (payload.size() > kMaxRequestBytes)
        return refuse(QStringLiteral("payload of %1 bytes, more than the %2 a request may have")
                          .arg(payload.size())
                          .arg(kMaxRequestBytes));
    const QJsonDocument doc = QJsonDocument::fromJson(payload);
    if (doc.isObject())
        m.id = doc.object().value(QStringLiteral("id"));
    BridgeRequest r{RequestKind::RelaySet, topic, m.id, 0, false, {}};
    if (relaySet) {
        const auto ch = Channel(rest[1]);
        if (!ch)
            return refuse(QStringLiteral("no relay %1 (1-16)").arg(rest[1]));
        const QString word = QString::fromUtf8(payload).trimmed().toUpper();
        if (word != QStringLiteral("ON") && word != QStringLiteral("OFF"))
            return refuse(QStringLiteral("payload must be ON or OFF"));
        r.channel = *ch;
        r.on = word == QStringLiteral("ON");
    } else if (clockSet) {
        r.kind = RequestKind::ClockSet;
    } else if (scheduleSet) {
        const auto ch = Channel(rest[1]);
        if (!ch)
            return refuse(QStringLiteral("no channel %1 (1-16)").arg(rest[1]));
        ScheduleParse s = ParseScheduleJson(payload, *ch);
        if (!s.error.isEmpty())
            return refuse(s.error);
        r.kind = RequestKind::ScheduleSet;
        r.channel = *ch;
        r.entries = std::move(s.entries);
    } else {
        r.kind = RequestKind::ScheduleGet;
        if (!doc.isObject())
            return refuse(QStringLiteral("payload must be {\"channel\":N} or {}"));
        for (const QString &key : doc.object().keys())
            if (key != QStringLiteral("id") && key != QStringLiteral("channel"))
                return refuse(QStringLiteral("unknown field \"%1\"").arg(key));
        const QJsonValue ch = doc.object().value(QStringLiteral("channel"));
        if (!ch.isUndefined()) {
            const auto n = ch.isDouble() ? Channel(QString::number(ch.toDouble())) : std::nullopt;
            if (!n)
                return refuse(QStringLiteral("channel must be 1-16"));
            r.channel = *n;
        }
    }
    m.request = r;
    return m;
}

QStringList RequestFilters(const QString &base, const QStringList &boards)
{
    QStringList filters;
    for (const QString &b : boards)
        for (const char *t : {"relay/+/set", "clock/set", "schedule/+/set", "schedule/get"})
            filters << QStringLiteral("%1/%2/%3").arg(base, b, QLatin1String(t));
    return filters;
}

QByteArray ResultPayload(const QString &topic, const QJsonValue &id, bool ok, const QString &error,
                         const QString &command)
{
    QJsonObject o{{QStringLiteral("request"), topic}, {QStringLiteral("ok"), ok}};
    if (!command.isEmpty())
        o[QStringLiteral("payload")] = command;
    if (!id.isUndefined())
        o[QStringLiteral("id")] = id;
    if (!ok)
        o[QStringLiteral("error")] = error;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString ResultCommand(const BridgeRequest &r)
{
    return r.kind != RequestKind::RelaySet ? QString() : r.on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

QByteArray ClockPayload(const QDateTime &board, std::optional<qint64> drift)
{
    const QJsonObject o{{QStringLiteral("board_time"), IsoSeconds(board)},
                        {QStringLiteral("drift_seconds"), drift ? QJsonValue(*drift) : QJsonValue()}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
