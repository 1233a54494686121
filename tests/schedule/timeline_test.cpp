// A channel's on/off spans as the board switches them, and the point-to-entry
// mapping of the picture.
#include "schedule/picture.h"
#include "schedule/timeline.h"

#include "entries.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {
using namespace entries;

const QDate kMonday(2026, 12, 7);

// "+d hh:mm:ss" from `origin`: days only when not 0.
QString At(WallSecs at, WallSecs origin)
{
    const WallSecs d = (at - origin) / kSecsPerDay;
    const QString time = QTime(0, 0).addSecs(int((at - origin) % kSecsPerDay)).toString(QStringLiteral("hh:mm:ss"));
    return d ? QStringLiteral("+%1 %2").arg(d).arg(time) : time;
}

// "On#1 | 08:00:00 Off#2": the state at the start, then each change of span.
QString Describe(const ChannelTimeline &t, WallSecs origin)
{
    QStringList parts;
    for (const StateSpan &s : t.spans) {
        const QString state = s.state == RelayState::Unknown
                                  ? QStringLiteral("U")
                                  : QStringLiteral("%1#%2").arg(s.state == RelayState::On ? "On" : "Off").arg(s.number);
        parts << (s.from == origin ? state : At(s.from, origin) + u' ' + state);
    }
    return parts.join(QStringLiteral(" | "));
}

TEST(Timeline, SpansAsTheBoardSwitches)
{
    const EntryRef blank = Fixed(false, "0000-00-00", "00:00:00");
    struct Case {
        const char *name;
        QList<EntryRef> list;
        QDate from;
        int days;
        QString expected;
    };
    const Case cases[] = {
        {"no entries leave the state unknown", {}, kMonday, 1, "U"},
        {"daily pair, the day starts as yesterday ended",
         {Daily(true, "08:00:00"), Daily(false, "18:00:00")},
         kMonday,
         1,
         "Off#2 | 08:00:00 On#1 | 18:00:00 Off#2"},
        {"daily pull-in alone holds from yesterday", {Daily(true, "08:00:00")}, kMonday, 1, "On#1 | 08:00:00 On#1"},
        {"weekly Saturday and Sunday seen from Monday",
         {Weekly(true, "0000010", "09:00:00"), Weekly(false, "0000001", "09:00:00")},
         kMonday,
         1,
         "Off#2"},
        {"weekly with only Sunday fires on the seventh day",
         {Weekly(true, "0000001", "10:00:00"), Daily(false, "23:00:00")},
         kMonday,
         7,
         "Off#2 | 23:00:00 Off#2 | +1 23:00:00 Off#2 | +2 23:00:00 Off#2 | +3 23:00:00 Off#2 | +4 23:00:00 Off#2 | "
         "+5 23:00:00 Off#2 | +6 10:00:00 On#1 | +6 23:00:00 Off#2"},
        {"week boundary: Sunday's release, Monday's pull-in",
         {Weekly(true, "1000000", "06:00:00"), Weekly(false, "0000001", "23:00:00")},
         kMonday.addDays(6),
         2,
         "On#1 | 23:00:00 Off#2 | +1 06:00:00 On#1"},
        {"weekly with no day never switches", {Weekly(true, "0000000", "08:00:00")}, kMonday, 1, "U"},
        {"both flags are daily whatever the mask says",
         {[] {
             EntryRef e = Weekly(true, "0000010", "07:00:00");
             e->bIsEveryDay = true;
             return e;
         }()},
         kMonday,
         1,
         "On#1 | 07:00:00 On#1"},
        {"fixed date inside the range", {Fixed(true, "2026-12-07", "10:00:00")}, kMonday, 1, "U | 10:00:00 On#1"},
        {"fixed date years back still holds", {Fixed(true, "2020-01-01", "00:00:01")}, kMonday, 1, "On#1"},
        {"fixed date ahead leaves it unknown until then", {Fixed(true, "2027-01-01", "00:00:00")}, kMonday, 1, "U"},
        {"fixed date older than a daily firing loses",
         {Fixed(true, "2026-11-01", "12:00:00"), Daily(false, "20:00:00")},
         kMonday,
         1,
         "Off#2 | 20:00:00 Off#2"},
        {"fixed date after the last daily firing wins",
         {Daily(false, "20:00:00"), Fixed(true, "2026-12-06", "22:00:00")},
         kMonday,
         1,
         "On#2 | 20:00:00 Off#1"},
        {"same second: the later entry in book order wins",
         {Daily(true, "12:00:00"), Daily(false, "12:00:00")},
         kMonday,
         1,
         "Off#2 | 12:00:00 Off#2"},
        {"same second the other way round",
         {Daily(false, "12:00:00"), Daily(true, "12:00:00")},
         kMonday,
         1,
         "On#2 | 12:00:00 On#2"},
        {"a blank record ends the list the board holds",
         {Daily(true, "08:00:00"), blank, Daily(false, "18:00:00")},
         kMonday,
         1,
         "On#1 | 08:00:00 On#1"},
        {"a time that does not exist never fires", {Daily(true, "25:00:00")}, kMonday, 1, "U"},
        {"fixed date on a day that does not exist never fires",
         {Fixed(true, "2026-02-30", "08:00:00")},
         kMonday,
         1,
         "U"},
    };
    for (const Case &c : cases) {
        const ScheduleBook book = Book(c.list);
        const WallSecs from = ToWall(c.from);
        EXPECT_EQ(Describe(Timeline(book, 1, from, from + c.days * kSecsPerDay), from), c.expected) << c.name;
    }
}

TEST(Timeline, StateNowAndNextFiring)
{
    const QList<EntryRef> list = {Daily(true, "08:00:00"), Weekly(false, "0000001", "18:00:00"),
                                  Fixed(false, "2027-03-01", "09:00:00")};
    struct Case {
        const char *name;
        QList<EntryRef> list;
        QDateTime at;
        RelayState state;
        QString next; // "" when none
    };
    const Case cases[] = {
        {"at the firing second the firing counts", list, QDateTime(kMonday, QTime(8, 0)), RelayState::On,
         "2026-12-08T08:00:00"},
        {"a second before it, Sunday's release holds", list, QDateTime(kMonday, QTime(7, 59, 59)), RelayState::Off,
         "2026-12-07T08:00:00"},
        {"weekly only: next firing six days on",
         {Weekly(false, "0000001", "18:00:00")},
         QDateTime(kMonday, QTime(0, 0)),
         RelayState::Off,
         "2026-12-13T18:00:00"},
        {"fixed date months ahead",
         {Fixed(false, "2027-03-01", "09:00:00")},
         QDateTime(kMonday, QTime(0, 0)),
         RelayState::Unknown,
         "2027-03-01T09:00:00"},
        {"nothing more to come",
         {Fixed(true, "2026-01-01", "09:00:00")},
         QDateTime(kMonday, QTime(0, 0)),
         RelayState::On,
         ""},
    };
    for (const Case &c : cases) {
        const ScheduleBook book = Book(c.list);
        EXPECT_EQ(StateAt(book.channel(1), ToWall(c.at)).state, c.state) << c.name;
        const auto next = NextFiring(book.channel(1), ToWall(c.at));
        EXPECT_EQ(next ? FromWall(next->at).toString(Qt::ISODate).left(19) : QString(), c.next) << c.name;
    }
}

TEST(Picture, PointMapsToItsEntries)
{
    const ScheduleBook book =
        Book({Daily(true, "06:00:00"), Daily(false, "18:00:00"), Weekly(true, "0001000", "18:00:00")});
    const QList<DayRow> rows = WeekRows(book, 1, kMonday.addDays(3)); // any day of the week
    ASSERT_EQ(rows.size(), 7);
    EXPECT_EQ(rows[0].day, kMonday);
    // 864 px for a day: 100 seconds a pixel; 7 rows of 10 px.
    const QRectF plot(100, 20, 864, 70);
    struct Case {
        const char *name;
        QPointF p;
        QString expected; // "row:numbers:point/span:state", or "none"
    };
    const Case cases[] = {
        {"on a switching point", {316, 25}, "0:1:point:On"},
        {"three pixels beside it", {319, 25}, "0:1:point:On"},
        {"inside a span: the entry that set it", {500, 25}, "0:1:span:On"},
        {"before the day's first point: yesterday's entry", {150, 25}, "0:2:span:Off"},
        {"one second, two entries: both, last wins", {748, 55}, "3:2,3:point:On"},
        {"the row is the weekday", {748, 85}, "6:2:point:Off"},
        {"outside the plot", {90, 25}, "none"},
    };
    for (const Case &c : cases) {
        const auto hit = HitTest(rows, plot, c.p, 4);
        QString got = QStringLiteral("none");
        if (hit) {
            QStringList numbers;
            for (int n : hit->numbers)
                numbers << QString::number(n);
            got = QStringLiteral("%1:%2:%3:%4")
                      .arg(hit->row)
                      .arg(numbers.join(u','))
                      .arg(hit->onPoint ? "point" : "span")
                      .arg(hit->state == RelayState::On    ? "On"
                           : hit->state == RelayState::Off ? "Off"
                                                           : "U");
        }
        EXPECT_EQ(got, c.expected) << c.name;
    }
    EXPECT_EQ(DayRows(book, kMonday).size(), kChannelCount);
}

} // namespace
