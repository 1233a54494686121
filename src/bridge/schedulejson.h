// A channel's schedule as JSON on MQTT, and back into entries:
// {"id":..., "entries":[{"mode":"daily"|"weekly"|"date","time":"18:30:00",
//  "days":["mon",...],"date":"2026-12-10","action":"on"|"off"}, ...]}
#pragma once

#include "schedule/schedulebook.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>

struct ScheduleParse {
    QJsonValue id;           // the request's "id", undefined when it has none
    QList<Clsdata> entries;  // numbered 1.. on the channel
    QString error;           // why it is refused; empty when it is not
};

ScheduleParse ParseScheduleJson(const QByteArray &payload, int channel);

// The channel's entries in book order (no "id"). An entry the board keeps with
// a date that is no date comes out as it is stored.
QByteArray ScheduleJson(const QList<EntryRef> &entries);

// The whole book in the same entry format, every channel 1..16 (empty ones as []):
// {"channels":{"1":[entries],...,"16":[]}}. A file the converter reads and writes.
QByteArray BookJson(const ScheduleBook &book);

struct BookParse {
    QList<int> channels;    // the channels named, ascending
    QList<Clsdata> entries; // numbered 1.. per channel
    QString error;          // "channel 2: entry 3 has ..."; empty when taken
};
// Only "channels" is allowed (and the keys `alsoAllowed`, which the caller reads), with keys
// "1".."16", each an entry array as one channel's schedule.
BookParse ParseBookJson(const QByteArray &payload, const QStringList &alsoAllowed = {});
