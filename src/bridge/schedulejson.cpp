#include "bridge/schedulejson.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTime>

#include <algorithm>

namespace {

const QStringList kDays{QStringLiteral("mon"), QStringLiteral("tue"), QStringLiteral("wed"), QStringLiteral("thu"),
                        QStringLiteral("fri"), QStringLiteral("sat"), QStringLiteral("sun")};
const QString kTimeFormat = QStringLiteral("HH:mm:ss");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

// One entry, or the reason it is refused.
QString ParseEntry(const QJsonValue &v, Clsdata &e)
{
    if (!v.isObject())
        return QStringLiteral("is not an object");
    const QJsonObject o = v.toObject();
    for (const QString &key : o.keys())
        if (!QStringList{QStringLiteral("mode"), QStringLiteral("time"), QStringLiteral("days"),
                         QStringLiteral("date"), QStringLiteral("action")}
                 .contains(key))
            return QStringLiteral("has an unknown field \"%1\"").arg(key);
    for (const char *key : {"mode", "time", "action"})
        if (!o.value(QLatin1String(key)).isString())
            return QStringLiteral("needs \"%1\" as a string").arg(QLatin1String(key));
    const QString mode = o.value(QStringLiteral("mode")).toString();
    const QString action = o.value(QStringLiteral("action")).toString();
    if (action != QStringLiteral("on") && action != QStringLiteral("off"))
        return QStringLiteral("has an unknown action \"%1\"").arg(action);
    e.bIsOpen = action == QStringLiteral("on");
    const QString timeText = o.value(QStringLiteral("time")).toString();
    const QTime time = QTime::fromString(timeText, kTimeFormat);
    if (!time.isValid() || timeText.size() != 8)
        return QStringLiteral("has a time that does not exist: \"%1\"").arg(timeText);
    e.nStartHour = int16_t(time.hour());
    e.nStartMin = int16_t(time.minute());
    e.nStartSecond = int16_t(time.second());
    const bool weekly = mode == QStringLiteral("weekly"), dated = mode == QStringLiteral("date");
    if (!weekly && !dated && mode != QStringLiteral("daily"))
        return QStringLiteral("has an unknown mode \"%1\"").arg(mode);
    if (o.contains(QStringLiteral("days")) != weekly)
        return weekly ? QStringLiteral("is weekly without \"days\"") : QStringLiteral("has \"days\" but is not weekly");
    if (o.contains(QStringLiteral("date")) != dated)
        return dated ? QStringLiteral("is a date entry without \"date\"")
                     : QStringLiteral("has \"date\" but is not a date entry");
    e.bIsEveryDay = mode == QStringLiteral("daily");
    e.bIsWeek = weekly;
    if (weekly) {
        const QJsonValue days = o.value(QStringLiteral("days"));
        if (!days.isArray())
            return QStringLiteral("needs \"days\" as an array");
        QString mask(7, QLatin1Char('0'));
        for (const QJsonValue &d : days.toArray()) {
            const qsizetype i = kDays.indexOf(d.toString());
            if (!d.isString() || i < 0)
                return QStringLiteral("has a day that is not one of mon..sun");
            if (mask[i] == QLatin1Char('1'))
                return QStringLiteral("has %1 twice").arg(kDays[i]);
            mask[i] = QLatin1Char('1');
        }
        if (!mask.contains(QLatin1Char('1')))
            return QStringLiteral("is weekly with no days");
        e.strWeek = mask;
    }
    if (dated) {
        const QJsonValue dv = o.value(QStringLiteral("date"));
        if (!dv.isString())
            return QStringLiteral("needs \"date\" as a string \"YYYY-MM-DD\"");
        const QDate date = QDate::fromString(dv.toString(), kDateFormat);
        if (!date.isValid() || dv.toString().size() != 10)
            return QStringLiteral("has a date that does not exist: \"%1\"").arg(dv.toString());
        if (date.year() < 2000 || date.year() > 2099)
            return QStringLiteral("has a date outside 2000-2099");
        e.nStartYear = int16_t(date.year());
        e.nStartMonth = int16_t(date.month());
        e.nStartDay = int16_t(date.day());
    }
    return {};
}

} // namespace

ScheduleParse ParseScheduleJson(const QByteArray &payload, int channel)
{
    ScheduleParse r;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError) {
        r.error = QStringLiteral("invalid JSON: ") + error.errorString();
        return r;
    }
    if (!doc.isObject()) {
        r.error = QStringLiteral("a schedule is a JSON object");
        return r;
    }
    const QJsonObject o = doc.object();
    r.id = o.value(QStringLiteral("id"));
    for (const QString &key : o.keys())
        if (key != QStringLiteral("id") && key != QStringLiteral("by") && key != QStringLiteral("entries")) {
            r.error = QStringLiteral("unknown field \"%1\"").arg(key);
            return r;
        }
    const QJsonValue entries = o.value(QStringLiteral("entries"));
    if (!entries.isArray()) {
        r.error = QStringLiteral("\"entries\" must be an array");
        return r;
    }
    const QJsonArray list = entries.toArray();
    if (list.size() > kMaxEntriesPerChannel) {
        r.error = QStringLiteral("%1 entries, at most %2").arg(list.size()).arg(kMaxEntriesPerChannel);
        return r;
    }
    for (int i = 0; i < list.size(); ++i) {
        Clsdata e;
        e.nRoute = int16_t(channel);
        e.nNo = int16_t(i + 1);
        const QString why = ParseEntry(list[i], e);
        if (!why.isEmpty()) {
            r.error = QStringLiteral("entry %1 %2").arg(i + 1).arg(why);
            r.entries.clear();
            return r;
        }
        r.entries << e;
    }
    return r;
}

QByteArray ScheduleJson(const QList<EntryRef> &entries)
{
    QJsonArray list;
    for (const EntryRef &e : entries) {
        QJsonObject o{{QStringLiteral("action"), e->bIsOpen ? QStringLiteral("on") : QStringLiteral("off")},
                      {QStringLiteral("time"), QStringLiteral("%1:%2:%3")
                                                   .arg(e->nStartHour, 2, 10, QLatin1Char('0'))
                                                   .arg(e->nStartMin, 2, 10, QLatin1Char('0'))
                                                   .arg(e->nStartSecond, 2, 10, QLatin1Char('0'))}};
        switch (e->mode()) {
        case EntryMode::Daily:
            o[QStringLiteral("mode")] = QStringLiteral("daily");
            break;
        case EntryMode::Weekly: {
            o[QStringLiteral("mode")] = QStringLiteral("weekly");
            QJsonArray days;
            for (int i = 0; i < 7 && i < e->strWeek.size(); ++i)
                if (e->strWeek[i] == QLatin1Char('1'))
                    days.append(kDays[i]);
            o[QStringLiteral("days")] = days;
            break;
        }
        case EntryMode::FixedDate:
            o[QStringLiteral("mode")] = QStringLiteral("date");
            o[QStringLiteral("date")] = QStringLiteral("%1-%2-%3")
                                            .arg(e->nStartYear, 4, 10, QLatin1Char('0'))
                                            .arg(e->nStartMonth, 2, 10, QLatin1Char('0'))
                                            .arg(e->nStartDay, 2, 10, QLatin1Char('0'));
            break;
        }
        list.append(o);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("entries"), list}}).toJson(QJsonDocument::Compact);
}

QByteArray BookJson(const ScheduleBook &book)
{
    QJsonObject channels;
    for (int channel = 1; channel <= kChannelCount; ++channel)
        channels[QString::number(channel)] =
            QJsonDocument::fromJson(ScheduleJson(book.channel(channel))).object().value(QStringLiteral("entries"));
    return QJsonDocument(QJsonObject{{QStringLiteral("channels"), channels}}).toJson(QJsonDocument::Indented);
}

BookParse ParseBookJson(const QByteArray &payload, const QStringList &alsoAllowed)
{
    BookParse r;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError) {
        r.error = QStringLiteral("invalid JSON at offset %1: %2").arg(error.offset).arg(error.errorString());
        return r;
    }
    const QJsonObject o = doc.object();
    const bool others = std::ranges::any_of(o.keys(), [&](const QString &key) {
        return key != QStringLiteral("channels") && !alsoAllowed.contains(key);
    });
    if (!doc.isObject() || others || !o.value(QStringLiteral("channels")).isObject()) {
        r.error = alsoAllowed.isEmpty()
                      ? QStringLiteral("a book is a JSON object with only \"channels\", an object")
                      : QStringLiteral("a book is a JSON object with \"channels\", an object, and only %1 beside it")
                            .arg(alsoAllowed.join(QStringLiteral(", ")));
        return r;
    }
    const QJsonObject channels = o.value(QStringLiteral("channels")).toObject();
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const QString key = QString::number(channel);
        if (!channels.contains(key))
            continue;
        // Each channel is read as the bridge reads one channel's schedule.
        const ScheduleParse one = ParseScheduleJson(
            QJsonDocument(QJsonObject{{QStringLiteral("entries"), channels.value(key)}}).toJson(), channel);
        if (!one.error.isEmpty()) {
            r = {};
            r.error = QStringLiteral("channel %1: %2").arg(key, one.error);
            return r;
        }
        r.channels << channel;
        r.entries << one.entries;
    }
    if (r.channels.size() != channels.size()) {
        r = {};
        r.error = QStringLiteral("channels are named \"1\" to \"16\"");
    }
    return r;
}
