// The line's pace: the board's answer time, a request's deadline, how long an answer is still owed.
#include "device/linepace.h"

#include <gtest/gtest.h>

namespace {

TEST(LinePace, DeadlineFollowsTheAnswerTimeAndAnAnswerIsOwedUntilIt)
{
    // Name; events at ms: "s" a request at a tick, "b" one between ticks, "r" one repeated, "a" an answer, "t" a
    // tick; the ms `owedAt`; then the deadline, the answer still owed at `owedAt`, the answer time.
    const std::tuple<const char *, const char *, int, int, int, int> cases[] = {
        {"board not heard yet", "s0", 600, 2000, 1400, -1},
        {"board answering within the line time", "s0 a46", 46, 100, 0, 46},
        {"board slower than the bound", "s0 a1500", 1500, 2000, 0, 1500},
        {"a slower answer counts at once", "s0 a46 s200 a500", 500, 600, 0, 300},
        {"a faster one by a quarter", "s0 a400 s600 a600", 600, 600, 0, 300},
        {"after a repeat the other answer may still come", "s0 a500 s600 r1600 a1700", 1700, 1000, 900, 500},
        {"both answers came", "s0 a500 s600 r1600 a1700 a2100", 2100, 1000, 0, 500},
        {"an overdue request is given up: the answer is the next one's", "s0 a500 s3000 s4000 a4300", 4300, 900, 0,
         450},
        {"a clock set back: the ticks still count", "s0 a500 b3000 t", 0, 1000, 1000, 500},
        {"five ticks later nothing is owed", "s0 a500 b3000 t t t t t t", 0, 1000, 0, 500},
    };
    const QDateTime start(QDate(2026, 3, 29), QTime(1, 0));
    for (const auto &[name, events, owedAt, deadline, owed, answerMs] : cases) {
        LinePace pace;
        for (const QString &e : QString::fromLatin1(events).split(u' ')) {
            const QDateTime at = start.addMSecs(e.mid(1).toInt());
            const char kind = e[0].toLatin1();
            kind == 'a' ? pace.answered(at) : kind == 't' ? pace.tick() : pace.sent(at, kind != 'b', kind == 'r');
        }
        EXPECT_EQ(std::tuple(int(pace.deadline().count()), int(pace.owed(start.addMSecs(owedAt)).count()),
                             int(pace.answerMs().value_or(-1))),
                  std::tuple(deadline, owed, answerMs))
            << name;
    }
}

} // namespace
