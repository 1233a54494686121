// What the schedule picture shows, as plain data: rows of one day each, for a
// channel's week or for every channel on one day, and the one function that
// maps a point of the drawing back to its entries. The widget only paints.
#pragma once

#include "schedule/timeline.h"

#include <QPointF>
#include <QRectF>

struct DayRow {
    int channel = 0;
    QDate day;
    ChannelTimeline line; // over [day 00:00, next day 00:00)
};

QDate MondayOf(const QDate &day);
// Monday .. Sunday of the week that holds `day`, for one channel.
QList<DayRow> WeekRows(const ScheduleBook &book, int channel, const QDate &day);
// Channels 1..16 on one day.
QList<DayRow> DayRows(const ScheduleBook &book, const QDate &day);

struct PictureHit {
    int row = 0;
    int channel = 0;
    WallSecs at = 0;      // the moment under the point (a switching point's own when on one)
    bool onPoint = false; // a switching point lies within the tolerance
    QList<int> numbers;   // its entries in the order they fire; else the entry that set the state
    RelayState state = RelayState::Unknown;
};

// `plot` holds the rows stacked top to bottom at equal heights, each a whole
// day from left (00:00) to right (24:00). A switching point within `tolerance`
// pixels across wins over the span under the point.
std::optional<PictureHit> HitTest(const QList<DayRow> &rows, const QRectF &plot, const QPointF &p, double tolerance);
