// The line's pace: the board's answer time, the deadline it gives a request,
// and which answers are owed.
#include "device/linepace.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kStart(QDate(2026, 3, 29), QTime(1, 0));
QDateTime At(int ms)
{
    return kStart.addMSecs(ms);
}
int Owed(const LinePace &pace, int atMs)
{
    return int(pace.owed(At(atMs)).count());
}

TEST(LinePace, DeadlineIsTwiceTheAnswerTimeWithinItsBounds)
{
    const struct {
        const char *name;
        QList<int> answers; // ms, each to a request alone on the line
        int deadline;
    } cases[] = {
        {"board not heard yet", {}, 2000},
        {"board answering within the line time", {46}, 100},
        {"board answering in 450 ms", {496}, 992},
        {"board slower than the bound", {1500}, 2000},
        {"a slower answer counts at once", {46, 300}, 600},
        {"a faster one by a quarter", {400, 0}, 600},
    };
    for (const auto &c : cases) {
        LinePace pace;
        int now = 0;
        for (int ms : c.answers) {
            pace.sent(At(now), true, false);
            pace.answered(At(now += ms));
        }
        EXPECT_EQ(std::pair(int(pace.deadline().count()), Owed(pace, now)), std::pair(c.deadline, 0)) << c.name;
    }
}

TEST(LinePace, AnswersOwedAfterARepeatAndAfterAClockSetBack)
{
    LinePace pace;
    pace.sent(At(0), true, false);
    pace.answered(At(500)); // deadline 1000
    pace.sent(At(600), true, false);
    EXPECT_EQ(Owed(pace, 1000), 600);
    pace.sent(At(1600), true, true); // repeated at its deadline
    pace.answered(At(1700));         // to either sending: the other may still come
    EXPECT_EQ(std::pair(Owed(pace, 1700), pace.answerMs().value_or(0)), std::pair(900, qint64(500)));
    pace.answered(At(2100));
    EXPECT_EQ(Owed(pace, 2100), 0);

    pace.sent(At(3000), false, false); // between two ticks
    pace.tick();
    EXPECT_EQ(Owed(pace, 0), 1000); // the clock set back an hour: the ticks still count
    for (int i = 0; i < 5; ++i)
        pace.tick();
    EXPECT_EQ(Owed(pace, 0), 0);
    pace.sent(At(0), true, false); // an overdue request is given up: the answer is this one's
    pace.answered(At(300));
    EXPECT_EQ(pace.answerMs().value_or(0), 450);
}

} // namespace
