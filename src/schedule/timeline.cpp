// A channel's switching as the board executes its list; see timeline.h.
#include "schedule/timeline.h"

#include <algorithm>

namespace {
constexpr int kYearBase = 2000;

using OnWire = BoardEntry;

int digits(const QString &r, int at, int width)
{
    return r.mid(at, width).toInt();
}

} // namespace

BoardEntry AsBoardEntry(const Clsdata &e)
{
    const QString r = e.GetStr();
    OnWire w;
    w.mode = e.mode();
    w.on = e.bIsOpen;
    const QTime t(digits(r, 20, 2), digits(r, 22, 2), digits(r, 24, 2));
    if (t.isValid())
        w.timeOfDay = t.msecsSinceStartOfDay() / 1000;
    if (e.bIsWeek)
        for (int k = 0; k < 7; ++k)
            if (r[3 + k] == QLatin1Char('1'))
                w.days |= uint8_t(1u << k);
    w.date = QDate(kYearBase + digits(r, 14, 2), digits(r, 16, 2), digits(r, 18, 2));
    return w;
}

namespace {
OnWire Decode(const Clsdata &e)
{
    return AsBoardEntry(e);
}

std::optional<WallSecs> FixedFiring(const OnWire &w)
{
    if (w.mode != EntryMode::FixedDate || w.timeOfDay < 0 || !w.date.isValid())
        return std::nullopt;
    return ToWall(w.date) + w.timeOfDay;
}

bool FiresOnDay(const OnWire &w, qint64 julianDay, int weekdayShift)
{
    if (w.timeOfDay < 0)
        return false;
    if (w.mode == EntryMode::Daily)
        return true;
    if (w.mode != EntryMode::Weekly)
        return false;
    return (w.days >> ((QDate::fromJulianDay(julianDay).dayOfWeek() - 1 + weekdayShift) % 7)) & 1u;
}

qint64 DayOf(WallSecs at)
{
    return at >= 0 ? at / kSecsPerDay : (at - kSecsPerDay + 1) / kSecsPerDay;
}

// Fixed-date firings before `before`: the latest, the last in book order at one second.
std::optional<SwitchPoint> LastFixedBefore(const QList<EntryRef> &list, WallSecs before)
{
    std::optional<SwitchPoint> last;
    for (int i = 0; i < list.size(); ++i) {
        const OnWire w = Decode(*list[i]);
        const auto t = FixedFiring(w);
        if (t && *t < before && (!last || *t >= last->at))
            last = SwitchPoint{*t, w.on, i + 1};
    }
    return last;
}
} // namespace

WallSecs ToWall(const QDate &date, const QTime &time)
{
    return date.toJulianDay() * kSecsPerDay + time.msecsSinceStartOfDay() / 1000;
}

WallSecs ToWall(const QDateTime &at)
{
    return ToWall(at.date(), at.time());
}

QDateTime FromWall(WallSecs at)
{
    const qint64 day = DayOf(at);
    return QDateTime(QDate::fromJulianDay(day), QTime(0, 0).addSecs(int(at - day * kSecsPerDay)), Qt::UTC);
}

QList<EntryRef> BoardList(const QList<EntryRef> &channelEntries)
{
    QList<EntryRef> out;
    for (const EntryRef &e : channelEntries) {
        // The write sends a blank record as the end of the list; the board reads no further.
        if (IsBlankRecord(e->GetStr()) || out.size() == kMaxEntriesPerChannel)
            break;
        out.append(e);
    }
    return out;
}

QList<SwitchPoint> Firings(const QList<EntryRef> &channelEntries, WallSecs from, WallSecs to, int weekdayShift)
{
    QList<SwitchPoint> out;
    if (to <= from)
        return out;
    const QList<EntryRef> list = BoardList(channelEntries);
    for (int i = 0; i < list.size(); ++i) {
        const OnWire w = Decode(*list[i]);
        if (w.mode == EntryMode::FixedDate) {
            const auto t = FixedFiring(w);
            if (t && *t >= from && *t < to)
                out.append({*t, w.on, i + 1});
            continue;
        }
        for (qint64 day = DayOf(from); day <= DayOf(to - 1); ++day) {
            const WallSecs t = day * kSecsPerDay + w.timeOfDay;
            if (t >= from && t < to && FiresOnDay(w, day, weekdayShift))
                out.append({t, w.on, i + 1});
        }
    }
    // Generated entry by entry, so a stable sort keeps book order within a second.
    std::stable_sort(out.begin(), out.end(), [](const SwitchPoint &a, const SwitchPoint &b) { return a.at < b.at; });
    return out;
}

ChannelTimeline Timeline(const QList<EntryRef> &channelEntries, WallSecs from, WallSecs to, int weekdayShift)
{
    ChannelTimeline t;
    if (to <= from)
        return t;
    // Daily and weekly entries fire at least once a week, so a week back finds
    // their last firing; a fixed date counts however long ago it was.
    const QList<SwitchPoint> before = Firings(channelEntries, from - kSecsPerWeek, from, weekdayShift);
    std::optional<SwitchPoint> prior;
    if (!before.isEmpty())
        prior = before.last();
    else
        prior = LastFixedBefore(BoardList(channelEntries), from - kSecsPerWeek);

    StateSpan current{from, from, RelayState::Unknown, 0};
    if (prior)
        current = {from, from, prior->on ? RelayState::On : RelayState::Off, prior->number};
    t.points = Firings(channelEntries, from, to, weekdayShift);
    for (const SwitchPoint &p : t.points) {
        if (p.at > current.from) {
            current.to = p.at;
            t.spans.append(current);
        }
        current = {p.at, p.at, p.on ? RelayState::On : RelayState::Off, p.number};
    }
    current.to = to;
    t.spans.append(current);
    return t;
}

ChannelTimeline Timeline(const ScheduleBook &book, int channel, WallSecs from, WallSecs to)
{
    return Timeline(book.channel(channel), from, to);
}

StateSpan StateAt(const QList<EntryRef> &channelEntries, WallSecs at, int weekdayShift)
{
    return Timeline(channelEntries, at, at + 1, weekdayShift).spans.constFirst();
}

std::optional<SwitchPoint> NextFiring(const QList<EntryRef> &channelEntries, WallSecs at, int weekdayShift)
{
    const QList<SwitchPoint> soon = Firings(channelEntries, at + 1, at + 1 + kSecsPerWeek, weekdayShift);
    if (!soon.isEmpty())
        return soon.first();
    // Only fixed dates can lie further ahead: the earliest, the first in book order.
    std::optional<SwitchPoint> next;
    const QList<EntryRef> list = BoardList(channelEntries);
    for (int i = 0; i < list.size(); ++i) {
        const OnWire w = Decode(*list[i]);
        const auto t = FixedFiring(w);
        if (t && *t > at && (!next || *t < next->at))
            next = SwitchPoint{*t, w.on, i + 1};
    }
    return next;
}

bool FiresFrom(const Clsdata &entry, WallSecs from)
{
    if (IsBlankRecord(entry.GetStr()))
        return false;
    const OnWire w = Decode(entry);
    if (w.timeOfDay < 0)
        return false;
    switch (w.mode) {
    case EntryMode::Daily:
        return true;
    case EntryMode::Weekly:
        return w.days != 0;
    case EntryMode::FixedDate:
        break;
    }
    const auto t = FixedFiring(w);
    return t && *t >= from;
}
