#include "bridge/topics.h"

#include "bridge/schedulejson.h"
#include "device/headlesssession.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

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
    const bool bookSet = rest == QStringList{QStringLiteral("schedule"), QStringLiteral("set")};
    const bool stop = rest == QStringList{QStringLiteral("transfer"), QStringLiteral("stop")};
    const bool watch = rest == QStringList{QStringLiteral("frames"), QStringLiteral("watch")};
    if (!relaySet && !scheduleSet && !clockSet && !scheduleGet && !bookSet && !stop && !watch)
        return std::nullopt; // our own state topics, or not a request
    RoutedMessage m{parts[0], std::nullopt, {}, topic, QJsonValue(QJsonValue::Undefined), {}};
    const auto refuse = [&](const QString &why) {
        m.refusal = why;
        return m;
    };
    // Before anything reads it: a huge payload costs no parse.
    if (const qsizetype most = bookSet ? kMaxBookRequestBytes : kMaxRequestBytes; payload.size() > most)
        return refuse(
            QStringLiteral("payload of %1 bytes, more than the %2 a request may have").arg(payload.size()).arg(most));
    const QJsonDocument doc = QJsonDocument::fromJson(payload);
    const QJsonObject o = doc.object();
    if (doc.isObject()) {
        m.id = o.value(QStringLiteral("id"));
        if (const QJsonValue by = o.value(QStringLiteral("by")); !by.isUndefined() && !by.isString())
            return refuse(QStringLiteral("\"by\" must be a string"));
        m.by = o.value(QStringLiteral("by")).toString();
    }
    // Only these keys besides id and by.
    const auto onlyKeys = [&](const QStringList &keys) {
        for (const QString &key : o.keys())
            if (key != QStringLiteral("id") && key != QStringLiteral("by") && !keys.contains(key))
                return QStringLiteral("unknown field \"%1\"").arg(key);
        return QString();
    };
    BridgeRequest r{RequestKind::RelaySet, topic, m.id, 0, false, {}, {}, 0, m.by};
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
    } else if (bookSet) {
        BookParse book = ParseBookJson(payload, {QStringLiteral("id"), QStringLiteral("by")});
        if (!book.error.isEmpty())
            return refuse(book.error);
        if (book.channels.isEmpty())
            return refuse(QStringLiteral("no channel to write"));
        r.kind = RequestKind::BookSet;
        r.channels = std::move(book.channels);
        r.entries = std::move(book.entries);
    } else if (stop) {
        r.kind = RequestKind::TransferStop;
        if (!payload.trimmed().isEmpty() && !doc.isObject())
            return refuse(QStringLiteral("payload must be empty or an object"));
        if (const QString why = onlyKeys({}); !why.isEmpty())
            return refuse(why);
    } else if (watch) {
        r.kind = RequestKind::FramesWatch;
        const QJsonValue s = o.value(QStringLiteral("seconds"));
        if (const QString why = onlyKeys({QStringLiteral("seconds")}); !why.isEmpty())
            return refuse(why);
        if (!doc.isObject() || !s.isDouble() || s.toDouble() != std::floor(s.toDouble()) || s.toDouble() < 1 ||
            s.toDouble() > kMaxWatchSeconds)
            return refuse(QStringLiteral("payload must be {\"seconds\":N}, N 1-%1").arg(kMaxWatchSeconds));
        r.seconds = s.toInt();
    } else {
        r.kind = RequestKind::ScheduleGet;
        if (!doc.isObject())
            return refuse(QStringLiteral("payload must be {\"channel\":N} or {}"));
        if (const QString why = onlyKeys({QStringLiteral("channel")}); !why.isEmpty())
            return refuse(why);
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
        for (const char *t : {"relay/+/set", "clock/set", "schedule/+/set", "schedule/set", "schedule/get",
                              "transfer/stop", "frames/watch"})
            filters << QStringLiteral("%1/%2/%3").arg(base, b, QLatin1String(t));
    return filters;
}

QByteArray ResultPayload(const QString &topic, const QJsonValue &id, bool ok, const QString &error,
                         const QString &command, const QString &by)
{
    QJsonObject o{{QStringLiteral("request"), topic}, {QStringLiteral("ok"), ok}};
    if (!by.isEmpty())
        o[QStringLiteral("by")] = by;
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

QList<int> TransferChannels(const BridgeRequest &r)
{
    switch (r.kind) {
    case RequestKind::ScheduleSet:
        return {r.channel};
    case RequestKind::BookSet:
        return r.channels;
    case RequestKind::ScheduleGet:
        if (r.channel)
            return {r.channel};
        return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    default:
        return {};
    }
}

QByteArray InfoPayload(const BoardSettings &board, const QStringList &names, const QString &bridge,
                       const QString &version)
{
    QJsonArray channels;
    for (int ch = 0; ch < kChannelCount; ++ch)
        channels.append(names.value(ch));
    const QJsonObject o{{QStringLiteral("name"), board.name.isEmpty() ? board.id : board.name},
                        {QStringLiteral("address"), board.address},
                        {QStringLiteral("variant"), board.variant == Variant::Compat ? "compat" : "standard"},
                        {QStringLiteral("port"), board.port},
                        {QStringLiteral("channels"), channels},
                        {QStringLiteral("bridge"), bridge},
                        {QStringLiteral("version"), version}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray TransferPayload(const std::optional<TransferState> &t)
{
    if (!t)
        return R"({"kind":"none"})";
    QJsonArray channels;
    for (int ch : t->channels)
        channels.append(ch);
    QJsonObject o{{QStringLiteral("kind"), t->write ? "write" : "read"},
                  {QStringLiteral("channels"), channels},
                  {QStringLiteral("done"), t->done},
                  {QStringLiteral("total"), t->total},
                  {QStringLiteral("eta_seconds"), t->etaSeconds ? QJsonValue(*t->etaSeconds) : QJsonValue()},
                  {QStringLiteral("request"), t->request}};
    if (!t->id.isUndefined())
        o[QStringLiteral("id")] = t->id;
    if (!t->by.isEmpty())
        o[QStringLiteral("by")] = t->by;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray FramePayload(const FrameRecord &r)
{
    const QJsonObject o{
        {QStringLiteral("time"), QDateTime::fromMSecsSinceEpoch(r.atMs).toString(Qt::ISODateWithMs)},
        {QStringLiteral("direction"), RecordField(r, 1)},
        {QStringLiteral("hex"), QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(r.bytes.data()), r.length)
                                                        .toHex(' ')
                                                        .toUpper())},
        {QStringLiteral("words"), RecordField(r, 3)},
        {QStringLiteral("gap_ms"), r.gapMs >= 0 ? QJsonValue(r.gapMs) : QJsonValue()},
        {QStringLiteral("fault"), r.fault}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<FrameRecord> FrameFromPayload(const QJsonObject &o)
{
    const QByteArray bytes = QByteArray::fromHex(o.value(QStringLiteral("hex")).toString().toLatin1());
    const QString direction = o.value(QStringLiteral("direction")).toString();
    const QDateTime at = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (bytes.isEmpty() || bytes.size() > kFrameSize || !at.isValid() ||
        (direction != QStringLiteral("发送") && direction != QStringLiteral("接收")))
        return std::nullopt;
    FrameRecord r;
    r.atMs = at.toMSecsSinceEpoch();
    r.length = uint8_t(bytes.size());
    std::copy(bytes.cbegin(), bytes.cend(), r.bytes.begin());
    r.direction = direction == QStringLiteral("发送") ? FrameDirection::Sent : FrameDirection::Received;
    r.event = bytes.size() < kFrameSize ? RecordEvent::Stray : RecordEvent::Frame;
    if (const QJsonValue gap = o.value(QStringLiteral("gap_ms")); gap.isDouble())
        r.gapMs = int32_t(gap.toInt());
    r.fault = o.value(QStringLiteral("fault")).toBool();
    return r;
}
