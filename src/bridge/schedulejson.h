// A channel's schedule as JSON on MQTT, and back into entries:
// {"id":..., "entries":[{"mode":"daily"|"weekly"|"date","time":"18:30:00",
//  "days":["mon",...],"date":"2026-12-10","action":"on"|"off"}, ...]}
#pragma once

#include "schedule/clsdata.h"

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
