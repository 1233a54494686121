// A channel's on/off spans as the board switches them, and the point-to-entry mapping of the picture.
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

QString Name(RelayState s)
{
    return s == RelayState::Unknown ? "U" : s == RelayState::On ? "On" : "Off";
}

// "On#1 | 08:00:00 Off#2": the state at the start, then each change of span.
QString Describe(const ChannelTimeline &t, WallSecs origin)
{
    QStringList parts;
    for (const StateSpan &s : t.spans) {
        const QString state =
            Name(s.state) + (s.state == RelayState::Unknown ? QString() : u'#' + QString::number(s.number));
        parts << (s.from == origin ? state : At(s.from, origin) + u' ' + state);
    }
    return parts.join(QStringLiteral(" | "));
}

TEST(Timeline, SpansAsTheBoardSwitches)
{
    const EntryRef blank = Fixed(false, "0000-00-00", "00:00");
    EntryRef bothFlags = Weekly(true, "0000010", "07:00");
    bothFlags->bIsEveryDay = true;
    const auto on = [](const char *t) { return Daily(true, t); };
    const auto off = [](const char *t) { return Daily(false, t); };
    struct Case {
        const char *name;
        QList<EntryRef> list;
        QString expected;
        int days = 1;
        QDate from = kMonday;
    };
    const Case cases[] = {
        {"no entries leave the state unknown", {}, "U"},
        {"daily pair, the day starts as yesterday ended", {on("08:00"), off("18:00")},
         "Off#2 | 08:00:00 On#1 | 18:00:00 Off#2"},
        {"daily pull-in alone holds from yesterday", {on("08:00")}, "On#1 | 08:00:00 On#1"},
        {"weekend seen from Monday", {Weekly(true, "0000010", "09:00"), Weekly(false, "0000001", "09:00")}, "Off#2"},
        {"weekly with only Sunday fires on the seventh day",
         {Weekly(true, "0000001", "10:00"), off("23:00")},
         "Off#2 | 23:00:00 Off#2 | +1 23:00:00 Off#2 | +2 23:00:00 Off#2 | +3 23:00:00 Off#2 | +4 23:00:00 Off#2 | "
         "+5 23:00:00 Off#2 | +6 10:00:00 On#1 | +6 23:00:00 Off#2",
         7},
        {"week boundary: Sunday's release, Monday's pull-in",
         {Weekly(true, "1000000", "06:00"), Weekly(false, "0000001", "23:00")},
         "On#1 | 23:00:00 Off#2 | +1 06:00:00 On#1", 2, kMonday.addDays(6)},
        {"weekly with no day never switches", {Weekly(true, "0000000", "08:00")}, "U"},
        {"both flags are daily whatever the mask says", {bothFlags}, "On#1 | 07:00:00 On#1"},
        {"fixed date years back still holds", {Fixed(true, "2020-01-01", "00:00:01")}, "On#1"},
        {"a fixed date's year is its last two digits", {Fixed(true, "2126-12-07", "10:00")}, "U | 10:00:00 On#1"},
        {"past fixed dates at one second: the later in book order holds",
         {Fixed(false, "2020-12-01", "08:00"), Fixed(true, "2020-12-01", "08:00")}, "On#2"},
        {"fixed date ahead leaves it unknown until then", {Fixed(true, "2027-01-01", "00:00")}, "U"},
        {"fixed date older than a daily firing loses", {Fixed(true, "2026-11-01", "12:00"), off("20:00")},
         "Off#2 | 20:00:00 Off#2"},
        {"fixed date after the last daily firing wins", {off("20:00"), Fixed(true, "2026-12-06", "22:00")},
         "On#2 | 20:00:00 Off#1"},
        {"same second: the later entry in book order wins", {on("12:00"), off("12:00")}, "Off#2 | 12:00:00 Off#2"},
        {"same second the other way round", {off("12:00"), on("12:00")}, "On#2 | 12:00:00 On#2"},
        {"a blank record ends the list the board holds", {on("08:00"), blank, off("18:00")}, "On#1 | 08:00:00 On#1"},
        {"a time that does not exist never fires", {on("25:00")}, "U"},
        {"fixed date on a day that does not exist never fires", {Fixed(true, "2026-02-30", "08:00")}, "U"},
    };
    for (const Case &c : cases) {
        const WallSecs from = ToWall(c.from);
        EXPECT_EQ(Describe(Timeline(Book(c.list), 1, from, from + c.days * kSecsPerDay), from), c.expected) << c.name;
    }
}

TEST(Timeline, StateNowAndNextFiring)
{
    const QList<EntryRef> list = {Daily(true, "08:00:00"), Weekly(false, "0000001", "18:00:00"),
                                  Fixed(false, "2027-03-01", "09:00:00")};
    struct Case {
        const char *name;
        QList<EntryRef> list;
        QTime at; // on Monday
        RelayState state;
        QString next;  // "" when none
        int shift = 0; // days from the date's weekday to the board's
    };
    const Case cases[] = {
        {"at the firing second the firing counts", list, QTime(8, 0), RelayState::On, "2026-12-08T08:00:00"},
        {"a second before it, Sunday's release holds", list, QTime(7, 59, 59), RelayState::Off, "2026-12-07T08:00:00"},
        {"weekly only: next firing six days on", {list[1]}, QTime(0, 0), RelayState::Off, "2026-12-13T18:00:00"},
        {"weekly, the board's Sunday this Monday", {list[1]}, QTime(0, 0), RelayState::Off, "2026-12-07T18:00:00", 6},
        {"fixed date months ahead", {list[2]}, QTime(0, 0), RelayState::Unknown, "2027-03-01T09:00:00"},
        {"nothing more to come", {Fixed(true, "2026-01-01", "09:00:00")}, QTime(0, 0), RelayState::On, ""},
    };
    for (const Case &c : cases) {
        const ScheduleBook book = Book(c.list);
        const WallSecs at = ToWall(kMonday, c.at);
        EXPECT_EQ(StateAt(book.channel(1), at, c.shift).state, c.state) << c.name;
        const auto next = NextFiring(book.channel(1), at, c.shift);
        EXPECT_EQ(next ? FromWall(next->at).toString(Qt::ISODate).left(19) : QString(), c.next) << c.name;
    }
}

TEST(Picture, PointMapsToItsEntries)
{
    const ScheduleBook book =
        Book({Daily(true, "06:00:00"), Daily(false, "18:00:00"), Weekly(true, "0001000", "18:00:00")});
    const QList<DayRow> rows = WeekRows(book, 1, kMonday.addDays(3)); // any day of the week
    ASSERT_EQ(std::pair(rows.size(), rows.value(0).day), std::pair(qsizetype(7), kMonday));
    // 864 px for a day: 100 seconds a pixel; 7 rows of 10 px.
    const QRectF plot(100, 20, 864, 70);
    // name, the point, what it hits: "row:numbers:point/span:state", or "none"
    const std::tuple<const char *, QPointF, QString> cases[] = {
        {"on a switching point", {316, 25}, "0:1:point:On"},
        {"three pixels beside it", {319, 25}, "0:1:point:On"},
        {"inside a span: the entry that set it", {500, 25}, "0:1:span:On"},
        {"before the day's first point: yesterday's entry", {150, 25}, "0:2:span:Off"},
        {"one second, two entries: both, last wins", {748, 55}, "3:2,3:point:On"},
        {"the row is the weekday", {748, 85}, "6:2:point:Off"},
        {"outside the plot", {90, 25}, "none"},
    };
    for (const auto &[name, point, expected] : cases) {
        const auto hit = HitTest(rows, plot, point, 4);
        QString got = QStringLiteral("none");
        if (hit) {
            QStringList numbers;
            for (int n : hit->numbers)
                numbers << QString::number(n);
            got = QStringLiteral("%1:%2:%3:%4")
                      .arg(hit->row)
                      .arg(numbers.join(u','))
                      .arg(hit->onPoint ? "point" : "span", Name(hit->state));
        }
        EXPECT_EQ(got, expected) << name;
    }
    EXPECT_EQ(DayRows(book, kMonday).size(), kChannelCount);
}

} // namespace
