// When a channel's relay is on or off, as the board switches it by the
// channel's entries. Shared by the schedule picture, the check and the lamp
// rings, so all three agree with each other and with the board.
//
// Times are the board's wall clock, without time zones: seconds counted from
// a fixed day (see ToWall). An entry is taken as it goes on the wire: the mode
// byte (daily wins over weekly), the two-digit year, the weekday mask only for
// weekly entries, and a channel's list ends at its first blank record.
#pragma once

#include "schedule/schedulebook.h"

#include <QDateTime>
#include <QList>

#include <optional>

using WallSecs = qint64;
inline constexpr WallSecs kSecsPerDay = 86400;
inline constexpr WallSecs kSecsPerWeek = 7 * kSecsPerDay;

WallSecs ToWall(const QDate &date, const QTime &time = QTime(0, 0));
// The date and time fields as they are; the time zone is ignored.
WallSecs ToWall(const QDateTime &at);
QDateTime FromWall(WallSecs at); // in Qt::UTC, as a plain wall-clock reading

enum class RelayState { Unknown, Off, On };

// An entry reduced to what the board gets in its write frame.
struct BoardEntry {
    EntryMode mode = EntryMode::FixedDate;
    bool on = false;
    int timeOfDay = -1; // seconds after midnight; -1: no valid time, never fires
    uint8_t days = 0;   // weekly only: bit 0 Monday .. bit 6 Sunday
    QDate date;         // fixed date only (two-digit year on 2000); invalid: never fires
};
BoardEntry AsBoardEntry(const Clsdata &entry);

// One moment at which an entry switches its relay.
struct SwitchPoint {
    WallSecs at = 0;
    bool on = false;
    int number = 0; // the entry's number on its channel (1-based position)
    bool operator==(const SwitchPoint &) const = default;
};

// The relay's state over [from, to). `number` is the entry that set it; 0 while unknown.
struct StateSpan {
    WallSecs from = 0;
    WallSecs to = 0;
    RelayState state = RelayState::Unknown;
    int number = 0;
    bool operator==(const StateSpan &) const = default;
};

struct ChannelTimeline {
    QList<StateSpan> spans;    // cover [from, to) without gaps, in time order
    QList<SwitchPoint> points; // every firing in [from, to), in the order the board applies them
};

// The entries of one channel as the board holds them: in list order, up to
// (not including) the first blank record.
QList<EntryRef> BoardList(const QList<EntryRef> &channelEntries);

// Firings of the channel's entries in [from, to): by time, and at one second
// in book order, so the last of them is the one that holds.
//
// Weekly entries fire on the weekday the board keeps, which 对时 sets and which
// need not be the date's: `weekdayShift` is the days from the date's weekday to
// the board's (0..6; 0 for calendar days, as the week picture shows them).
QList<SwitchPoint> Firings(const QList<EntryRef> &channelEntries, WallSecs from, WallSecs to, int weekdayShift = 0);

// The state before `from` comes from the last firing before it: at most a week
// back for daily and weekly entries, any time back for a fixed date. Where
// nothing has fired yet, the state is unknown.
ChannelTimeline Timeline(const QList<EntryRef> &channelEntries, WallSecs from, WallSecs to, int weekdayShift = 0);
ChannelTimeline Timeline(const ScheduleBook &book, int channel, WallSecs from, WallSecs to);

// The state at `at`, firings at that very second included.
StateSpan StateAt(const QList<EntryRef> &channelEntries, WallSecs at, int weekdayShift = 0);

// The first firing after `at` (strictly later), if the channel will switch again.
std::optional<SwitchPoint> NextFiring(const QList<EntryRef> &channelEntries, WallSecs at, int weekdayShift = 0);

// True when the entry can fire at all (a weekly entry with a day, a valid time,
// a fixed date that exists) on or after `from`.
bool FiresFrom(const Clsdata &entry, WallSecs from);
