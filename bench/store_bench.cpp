// Timings of the schedule store on a full Note.ini (16 channels x 255 entries).
#include "schedule/channelview.h"
#include "storage/bookcsv.h"
#include "storage/inifile.h"
#include "storage/notestore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRuns = 7;

EntryRef makeEntry(int channel, int number)
{
    auto e = std::make_shared<Clsdata>();
    e->nRoute = int16_t(channel);
    e->nNo = int16_t(number);
    e->bIsOpen = number % 2 == 0;
    e->bIsWeek = true;
    e->strWeek = QStringLiteral("1010100");
    e->nStartHour = int16_t(number % 24);
    e->nStartMin = int16_t(number % 60);
    e->nStartSecond = int16_t((number * 7) % 60);
    return e;
}

struct Timing {
    double median, min, max; // milliseconds
};

Timing measure(const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

void row(const char *what, const Timing &t)
{
    std::printf("| %-44s | %10.2f | %10.2f | %10.2f |\n", what, t.median, t.min, t.max);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // Saving trashes the previous file: keep that away from the real trash.
    qputenv("HOME", QFile::encodeName(dir.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path() + QStringLiteral("/share")));
    const QString folder = dir.filePath(QStringLiteral("store"));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/Note.ini");

    ScheduleBook book;
    for (int c = 1; c <= kChannelCount; ++c)
        for (int n = 1; n <= kMaxEntriesPerChannel; ++n)
            book.add(makeEntry(c, n));
    if (SaveSchedules(book, path) != SaveOutcome::Saved) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }

    qsizetype loaded = 0;
    const Timing load = measure([&] { loaded = LoadSchedules(path).entries.size(); });
    qsizetype slowLoaded = 0;
    const Timing perKey = measure([&] {
        slowLoaded = 0;
        for (int c = 1; c <= kChannelCount; ++c)
            for (int n = 1; n <= kMaxEntriesPerChannel; ++n)
                if (ReadNoteFrom(RecordKey(c, n), path) != kEmptyRecord)
                    ++slowLoaded;
    });
    const Timing save = measure([&] { SaveSchedules(book, path); });
    qsizetype opened = 0;
    const Timing open = measure([&] { opened = OpenSchedules(path).entries.size(); });
    const qint64 writesBefore = FileWriteCount();
    SaveSchedules(book, path);
    const qint64 writesPerSave = FileWriteCount() - writesBefore;
    const Timing fill = measure([&] { FillList(book, 7); });
    // A spreadsheet's whole book replacing every channel of a full one (target: 100 ms).
    const QByteArray csv = BookToCsv(book);
    qsizetype imported = 0;
    const Timing csvImport = measure([&] {
        ScheduleBook target = book;
        ApplyCsv(target, ParseBookCsv(csv));
        imported = target.size();
    });

    std::printf("store: %lld records, Note.ini %lld bytes, median of %d runs\n", (long long)loaded,
                (long long)QFileInfo(path).size(), kRuns);
    std::printf("| %-44s | %10s | %10s | %10s |\n", "operation", "median ms", "min ms", "max ms");
    std::printf("|%s|%s|%s|%s|\n", QByteArray(46, '-').constData(), QByteArray(12, '-').constData(),
                QByteArray(12, '-').constData(), QByteArray(12, '-').constData());
    row("LoadSchedules (one parse)", load);
    row("ReadNoteFrom per key (4080 reads)", perKey);
    row("SaveSchedules (full book)", save);
    row("OpenSchedules (full file)", open);
    row("FillList (255-entry channel)", fill);
    row("CSV import replacing a full book (4080 rows)", csvImport);
    std::printf("file writes per save: %lld\n", (long long)writesPerSave);
    if (loaded != kChannelCount * kMaxEntriesPerChannel || slowLoaded != loaded || opened != loaded ||
        imported != loaded) {
        std::fprintf(stderr, "mismatch: load %lld, per key %lld, open %lld\n", (long long)loaded, (long long)slowLoaded,
                     (long long)opened);
        return 1;
    }
    return 0;
}
