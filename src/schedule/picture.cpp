// Rows of the schedule picture and the point-to-entry mapping; see picture.h.
#include "schedule/picture.h"

#include <cmath>

QDate MondayOf(const QDate &day)
{
    return day.addDays(1 - day.dayOfWeek());
}

QList<DayRow> WeekRows(const ScheduleBook &book, int channel, const QDate &day)
{
    const QList<EntryRef> entries = book.channel(channel);
    const QDate monday = MondayOf(day);
    QList<DayRow> rows;
    for (int i = 0; i < 7; ++i) {
        const QDate d = monday.addDays(i);
        const WallSecs start = ToWall(d);
        rows.append({channel, d, Timeline(entries, start, start + kSecsPerDay)});
    }
    return rows;
}

QList<DayRow> DayRows(const ScheduleBook &book, const QDate &day)
{
    const WallSecs start = ToWall(day);
    QList<DayRow> rows;
    for (int c = 1; c <= kChannelCount; ++c)
        rows.append({c, day, Timeline(book, c, start, start + kSecsPerDay)});
    return rows;
}

std::optional<PictureHit> HitTest(const QList<DayRow> &rows, const QRectF &plot, const QPointF &p, double tolerance)
{
    if (rows.isEmpty() || plot.width() <= 0 || plot.height() <= 0 || !plot.contains(p))
        return std::nullopt;
    const double rowHeight = plot.height() / double(rows.size());
    const int r = std::min(int((p.y() - plot.top()) / rowHeight), int(rows.size()) - 1);
    const DayRow &row = rows[r];
    const double perSecond = plot.width() / double(kSecsPerDay);
    const WallSecs start = ToWall(row.day);
    PictureHit hit;
    hit.row = r;
    hit.channel = row.channel;
    hit.at = start + std::min<WallSecs>(WallSecs((p.x() - plot.left()) / perSecond), kSecsPerDay - 1);

    // The nearest switching point across (the earlier of two as near), then
    // every entry that fires at its second.
    std::optional<WallSecs> nearest;
    double best = tolerance;
    for (const SwitchPoint &s : row.line.points) {
        const double distance = std::abs(plot.left() + double(s.at - start) * perSecond - p.x());
        if (distance < best || (!nearest && distance <= best)) {
            best = distance;
            nearest = s.at;
        }
    }
    if (nearest) {
        hit.onPoint = true;
        hit.at = *nearest;
        for (const SwitchPoint &s : row.line.points)
            if (s.at == *nearest)
                hit.numbers.append(s.number);
    }
    for (const StateSpan &span : row.line.spans)
        if (hit.at >= span.from && hit.at < span.to) {
            hit.state = span.state;
            if (!hit.onPoint && span.number > 0)
                hit.numbers = {span.number};
            break;
        }
    return hit;
}
