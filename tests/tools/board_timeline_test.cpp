// The schedule timeline against the simulated board's own execution: random books are written into the board as the
// write command sends them, the board runs a week, and every relay change, to the second, is what the timeline says.
#include "boardsim.h"
#include "protocol/frames.h"
#include "schedule/timeline.h"
#include "support/printers.h"

#include <gtest/gtest.h>

#include <random>

namespace {

const QDate kWeek(2026, 12, 7); // a Monday
constexpr int kBoardStartDaysBefore = 8;
constexpr int64_t kDayMs = 24 * 3600 * 1000;

// A random book: few distinct times so that entries often meet at one second; fixed dates inside the time the board
// runs; now and then both mode flags, a weekly entry without days, a blank record or a time that does not exist.
ScheduleBook RandomBook(uint32_t seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    const char *const times[] = {"000000", "063000", "080015", "120000", "120001", "184559", "235959"};
    ScheduleBook book;
    for (int ch = 1; ch <= kChannelCount; ++ch) {
        const int count = pick(10);
        for (int n = 1; n <= count; ++n) {
            // A record's slices: pull in, daily, weekly, weekday mask, channel, date, time.
            QString time = pick(3) == 0 ? QString::asprintf("%02d%02d%02d", pick(24), pick(60), pick(60))
                                        : QString::fromLatin1(times[pick(7)]);
            QString flags = pick(2) == 0 ? QStringLiteral("110") : QStringLiteral("010");
            QString mask = QStringLiteral("0000000"), date = QStringLiteral("00000000");
            const int kind = pick(100);
            if (kind >= 98) {
                time.replace(0, 2, QStringLiteral("24")); // daily, at an hour that does not exist
            } else if (kind >= 96) {
                flags = QStringLiteral("000"), time = QStringLiteral("000000"); // a blank record: ends the list
            } else if (kind >= 93) {
                flags[2] = u'1', mask = QStringLiteral("0100000"); // both mode flags
            } else if (kind >= 75) {
                flags[1] = u'0';
                date = kWeek.addDays(pick(kBoardStartDaysBefore + 7) - kBoardStartDaysBefore + 1).toString(u"yyyyMMdd");
            } else if (kind >= 40) {
                flags[1] = u'0', flags[2] = u'1';
                for (QChar &d : mask)
                    d = pick(kind < 45 ? 9 : 2) == 0 ? u'1' : u'0';
            }
            auto e = std::make_shared<Clsdata>(*StrToData(flags + mask + QString::asprintf("%02d", ch) + date + time));
            e->nNo = int16_t(n);
            book.add(e);
        }
    }
    return book;
}

// What the write command sends: each entry, a blank record as a blank frame, then a blank entry behind the last.
void WriteInto(BoardSim &board, const ScheduleBook &book)
{
    for (int ch = 1; ch <= kChannelCount; ++ch) {
        const QList<EntryRef> list = book.channel(ch);
        for (const EntryRef &e : list) {
            const QString r = e->GetStr();
            const Frame f = IsBlankRecord(r) ? BlankEntryFrame(1, uint8_t(ch), uint8_t(e->nNo))
                                             : WriteEntryFrame(1, uint8_t(e->mode()), uint8_t(ch), uint8_t(e->nNo), r);
            board.feed(ToBytes(f));
        }
        board.feed(ToBytes(BlankEntryFrame(1, uint8_t(ch), uint8_t(list.size() + 1))));
    }
}

TEST(BoardAgreement, TimelineMatchesTheBoardOverAWeek)
{
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        const ScheduleBook book = RandomBook(seed);
        const WallSecs weekStart = ToWall(kWeek), weekEnd = weekStart + kSecsPerWeek;

        // The board runs from a day more than a week earlier, so the look-back has happened on it too.
        BoardSim board(BoardConfig{}, QDateTime(kWeek.addDays(-kBoardStartDaysBefore), QTime(0, 0)));
        WriteInto(board, book);
        board.advance(kBoardStartDaysBefore * kDayMs);
        const size_t logBefore = board.relayLog().size();

        // The timeline's changes over the week; unknown is what a board that never switched shows: off.
        QStringList expected;
        std::array<bool, kChannelCount + 1> state{};
        for (int ch = 1; ch <= kChannelCount; ++ch) {
            const QList<StateSpan> spans = Timeline(book, ch, weekStart, weekEnd).spans;
            bool on = state[ch] = spans.first().state == RelayState::On;
            EXPECT_EQ(board.relayOn(ch), on) << "seed " << seed << " channel " << ch << " at the week's start";
            for (const StateSpan &s : spans) {
                if ((s.state == RelayState::On) != on) {
                    on = !on;
                    expected
                        << QStringLiteral("%1 ch%2 %3").arg(FromWall(s.from).toString(Qt::ISODate)).arg(ch).arg(on);
                }
            }
        }

        board.advance(7 * kDayMs); // firings at the week's very end are the next week's
        // The board applies the entries of one second one after another; what holds after the second is its change.
        QStringList changes;
        const auto &log = board.relayLog();
        for (size_t i = logBefore; i < log.size(); ++i) {
            const RelayChange &c = log[i];
            if (ToWall(c.time) >= weekEnd)
                break;
            if (i + 1 < log.size() && log[i + 1].channel == c.channel && log[i + 1].time == c.time)
                continue;
            if (state[c.channel] != c.on) {
                state[c.channel] = c.on;
                changes << QStringLiteral("%1 ch%2 %3").arg(c.time.toString(Qt::ISODate)).arg(c.channel).arg(c.on);
            }
        }
        // The board logs in time order across channels; the timeline channel by channel.
        std::stable_sort(expected.begin(), expected.end());
        std::stable_sort(changes.begin(), changes.end());
        EXPECT_EQ(changes, expected) << "seed " << seed << ": the board's changes against the timeline's";
        EXPECT_GT(changes.size(), 20) << "seed " << seed << ": a week of switching";
    }
}

} // namespace
