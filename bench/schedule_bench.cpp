// What the schedule tools cost on a full book (16 channels of 255 entries, all
// three modes): the lamp rings each second, the picture's rows and the check
// that runs when a write starts.
#include "schedule/check.h"
#include "schedule/picture.h"

#include <QElapsedTimer>

#include <cstdio>
#include <functional>

namespace {
ScheduleBook FullBook()
{
    ScheduleBook book;
    for (int c = 1; c <= kChannelCount; ++c)
        for (int n = 1; n <= kMaxEntriesPerChannel; ++n) {
            auto e = std::make_shared<Clsdata>();
            e->nRoute = int16_t(c);
            e->nNo = int16_t(n);
            e->bIsOpen = n % 2 == 1;
            if (n % 3 == 0) {
                e->bIsWeek = true;
                e->strWeek = QStringLiteral("1010100");
            } else if (n % 3 == 1) {
                e->bIsEveryDay = true;
            } else {
                e->nStartYear = 2026, e->nStartMonth = 12, e->nStartDay = int16_t(1 + n % 28);
            }
            e->nStartHour = int16_t(n % 24), e->nStartMin = int16_t(n % 60), e->nStartSecond = int16_t(n * 7 % 60);
            book.add(e);
        }
    return book;
}

void Time(const char *what, int rounds, const std::function<void()> &run)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i)
        run();
    std::printf("%-40s %8.2f ms\n", what, double(t.nsecsElapsed()) / 1e6 / rounds);
}
} // namespace

int main()
{
    const ScheduleBook book = FullBook();
    const QDateTime now(QDate(2026, 12, 9), QTime(12, 0));
    std::printf("%-40s %11s\n", "full book (4080 entries)", "per run");
    Time("lamp rings: state now, 16 channels", 20, [&] {
        for (int c = 1; c <= kChannelCount; ++c)
            (void)StateAt(book.channel(c), ToWall(now));
    });
    Time("picture: one channel's week", 20, [&] { (void)WeekRows(book, 1, now.date()); });
    Time("picture: all channels on one day", 20, [&] { (void)DayRows(book, now.date()); });
    Time("check of the whole book", 5, [&] { (void)CheckBook(book, now); });
    return 0;
}
