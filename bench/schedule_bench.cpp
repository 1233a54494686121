// What the schedule tools cost on a full book (16 channels of 255 entries, all
// three modes): the lamp rings each second, the picture's rows, the check that
// runs when a write starts, and kelmora-cli plan over a year of it.
#include "schedule/check.h"
#include "schedule/picture.h"
#include "storage/notestore.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <sys/resource.h>

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

// kelmora-cli plan on the book for a year: its time, and the largest resident size of
// the children so far (the text run comes first, so the JSON line is the larger of both).
void PlanRun(const QString &file, bool json)
{
    QStringList args{QStringLiteral("plan"), file, QStringLiteral("--start"), QStringLiteral("2026-12-07"),
                     QStringLiteral("--days"), QStringLiteral("366")};
    if (json)
        args.prepend(QStringLiteral("--json"));
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    cli.start(QStringLiteral(KELMORA_CLI), args);
    const bool ok = cli.waitForFinished(600000) && cli.exitCode() == 0;
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("%-40s %8lld ms %6ld MB%s\n", json ? "kelmora-cli plan, 366 days, JSON" : "kelmora-cli plan, 366 days, text",
                t.elapsed(), children.ru_maxrss / 1024, ok ? "" : "  (FAILED)");
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
    Time("a year of firings, 16 channels, by day", 1, [&] {
        for (WallSecs day = ToWall(now.date()); day < ToWall(now.date().addDays(366)); day += kSecsPerDay)
            for (int c = 1; c <= kChannelCount; ++c)
                (void)Firings(book.channel(c), day, day + kSecsPerDay);
    });
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("full.ini"));
    if (SaveSchedules(book, file).outcome != SaveOutcome::Saved)
        return 1;
    PlanRun(file, false);
    PlanRun(file, true);
    return 0;
}
