// Note.ini as a whole: load, open and save of the schedule, and the trash.
#include "storage/inifile.h"
#include "storage/notestore.h"
#include "storage_testing.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>

namespace {

const QString kNote = QStringLiteral("Note.ini");

// "CCNNN=record", a valid record whose time of day tells `seed` (the number by default) apart.
QString line(int channel, int number, int seed = 0)
{
    seed = seed ? seed : number;
    return RecordKey(channel, number) +
           QString::asprintf("=%d101010100%02d00000101%02d%02d00", seed % 2, channel, seed / 60, seed % 60);
}

QByteArray noteFile(const QStringList &lines)
{
    return "[Note]\n" + lines.join(QLatin1Char('\n')).toLatin1();
}

EntryRef entryOf(int channel, int number)
{
    auto e = std::make_shared<Clsdata>(StrToData(line(channel, number).mid(6)).value());
    e->nNo = int16_t(number);
    return e;
}

QStringList linesOf(const QList<EntryRef> &entries)
{
    QStringList out;
    for (const EntryRef &e : entries)
        out += RecordKey(e->nRoute, e->nNo) + QLatin1Char('=') + e->GetStr();
    return out;
}

// Load numbers every channel 1..n with at most 255 entries and names what it leaves out; Open
// hands back the same, but refuses the whole file when Load leaves anything out.
TEST(ScheduleFile, LoadNumbersEveryChannelAndOpenRefusesWhatLoadLeavesOut)
{
    QStringList full5, full16;
    for (int n = 1; n <= kMaxEntriesPerChannel; ++n)
        full5 += line(5, n), full16 += line(16, n);
    full16 += line(16, kMaxEntriesPerChannel + 1);
    const QString bad = QStringLiteral("02002=1100000000020000000008300X");
    // A record under 03001 whose channel digits say 05, and the lines it loads as.
    const QString stranger = RecordKey(3, 1) + line(5, 1, 77).mid(5);
    const auto as = [](const QString &l, int channel, int number) { return RecordKey(channel, number) + l.mid(5); };
    const auto sized = [&](qsizetype size) { // a record and a comment up to `size` bytes
        const QByteArray start = "[Note]\n" + line(1, 1).toLatin1() + "\n";
        return start + QByteArray(size - start.size(), ';');
    };
    enum Problem { None, Unreadable, NoSection };
    struct Row {
        const char *name;
        QByteArray file; // "/": a folder in its place
        QStringList loaded = {}, skipped = {}, overflow = {};
        Problem problem = None;
    };
    const Row rows[] = {
        {"gap at 003 ends the channel", noteFile({line(1, 1), line(1, 2), line(1, 4)}), {line(1, 1), line(1, 2)}},
        {"26 zeros at 01001", noteFile({"01001=" + kEmptyRecord, line(1, 2), line(2, 1)}), {line(2, 1)}},
        {"channel 16 holds 255, 16256 is never read", noteFile(full16), full16.first(kMaxEntriesPerChannel)},
        {"bad record skipped, no gap left", noteFile({line(2, 1), bad, line(2, 3)}), {line(2, 1), as(line(2, 3), 2, 2)},
         {"02002"}},
        {"record under another channel's key joins its channel", noteFile({line(5, 1), stranger}),
         {as(stranger, 5, 1), as(line(5, 1), 5, 2)}},
        {"full channel: the stranger does not fit", noteFile(QStringList(full5) << stranger), full5, {}, {"03001"}},
        {"channel digits 00 and 17 skipped",
         noteFile({as(line(1, 1), 1, 1).replace(16, 2, "00"), as(line(1, 2), 1, 2).replace(16, 2, "17"), line(1, 3)}),
         {as(line(1, 3), 1, 1)}, {"01001", "01002"}},
        {"missing section", "[Other]\n" + line(1, 1).toLatin1(), {}, {}, {}, NoSection},
        {"empty file", "", {}, {}, {}, NoSection},
        {"10 MB of binary", noise(), {}, {}, {}, NoSection},
        {"exactly 16 MB", sized(kMaxReadBytes), {line(1, 1)}},
        {"above 16 MB", sized(kMaxReadBytes + 1), {}, {}, {}, Unreadable},
        {"unreadable", "/", {}, {}, {}, Unreadable},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(kNote);
        ASSERT_TRUE(r.file == "/" ? QDir().mkpath(path) : writeBytes(path, r.file));
        const LoadedSchedules l = LoadSchedules(path);
        EXPECT_EQ(std::tuple(linesOf(l.entries), l.skippedKeys, l.overflowKeys),
                  std::tuple(r.loaded, r.skipped, r.overflow));
        EXPECT_EQ(std::pair(l.unreadable, l.noSection), std::pair(r.problem == Unreadable, r.problem == NoSection));
        const OpenedSchedules o = OpenSchedules(path);
        const bool ok = r.skipped.isEmpty() && r.overflow.isEmpty() && r.problem == None;
        EXPECT_EQ(std::tuple(o.ok, o.badKey, linesOf(o.entries)),
                  std::tuple(ok, (r.skipped + r.overflow).value(0), ok ? r.loaded : QStringList()));
    }
    QTemporaryDir dir;
    EXPECT_TRUE(OpenSchedules(dir.filePath(kNote)).ok); // no file: no schedules, unless it was named
    const OpenedSchedules named = OpenSchedules(dir.filePath(kNote), true);
    EXPECT_EQ(std::pair(named.ok, OpenRefusal(named, "f")), std::pair(false, QStringLiteral("文件不存在：f")));
}

TEST(SaveSchedules, RenumbersWritesOnceNeverLeavesAMixAndTrashesWithoutAsking)
{
    TrashSandbox trash;
    QTemporaryDir dir;
    const QString path = dir.filePath(kNote);
    ASSERT_TRUE(writeBytes(path, "old"));
    ScheduleBook book;
    for (int channelAndNumber : {201, 101, 202, 102, 104})
        book.add(entryOf(channelAndNumber / 100, channelAndNumber % 100));
    const QStringList lines = {line(1, 1), line(1, 2), line(1, 3, 4), line(2, 1), line(2, 2)};
    const QByteArray bytes = "[Note]\r\n" + lines.join(QStringLiteral("\r\n")).toLatin1() + "\r\n";
    EXPECT_EQ(SchedulesToIni(book), bytes);

    const qint64 writes = FileWriteCount();
    ASSERT_EQ(SaveSchedules(book, path), SaveOutcome::Saved);
    EXPECT_EQ(FileWriteCount() - writes, 1);
    EXPECT_EQ(readBytes(trash.files() + QStringLiteral("/Note.ini")), "old");

    // An empty book leaves no file, whether there was one or not.
    for (int twice = 0; twice < 2; ++twice)
        ASSERT_EQ(SaveSchedules(ScheduleBook(), path), SaveOutcome::Saved);
    EXPECT_EQ(std::pair(folderEntries(dir.path()), folderEntries(trash.files()).size()),
              std::pair(QStringList(), qsizetype(2)));

    // A file-size limit fails a write even for root, as a full disk would.
    const auto withFileSizeLimit = [](rlim_t bytes, const auto &run) {
        rlimit limit{};
        EXPECT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit full{bytes, limit.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
        const SaveResult result = run();
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        return std::pair(result.outcome, result.reason);
    };
    ASSERT_TRUE(writeBytes(path, "old"));
    EXPECT_EQ(withFileSizeLimit(16, [&] { return SaveSchedules(book, path); }),
              std::pair(SaveOutcome::Failed, QStringLiteral("文件超出系统允许的大小")));
    // No room for a copy of the old file: it goes to the trash all the same, its bytes never copied.
    const QByteArray bigOld(4096, 'o');
    ASSERT_TRUE(writeBytes(path, bigOld));
    ScheduleBook one;
    one.add(entryOf(1, 1));
    EXPECT_EQ(withFileSizeLimit(1024, [&] { return SaveSchedules(one, path); }),
              std::pair(SaveOutcome::Saved, QString()));
    const QStringList trashed = folderEntries(trash.files());
    EXPECT_TRUE(
        std::ranges::any_of(trashed, [&](const QString &f) { return readBytes(trash.files() + u'/' + f) == bigOld; }));
    EXPECT_EQ(readBytes(path), SchedulesToIni(one));

    // A read-only Note.ini stays as it is, whether the book is empty or not.
    ASSERT_TRUE(writeBytes(path, "old"));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    const ScheduleBook empty;
    for (const ScheduleBook *b : std::array<const ScheduleBook *, 3>{&book, &one, &empty}) {
        const SaveResult r = SaveSchedules(*b, path);
        EXPECT_EQ(std::pair(r.outcome, r.reason), std::pair(SaveOutcome::Failed, QStringLiteral("文件为只读")));
    }
    EXPECT_EQ(readBytes(path), "old");
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const SaveResult nowhere = ExportSchedules(book, dir.filePath(QStringLiteral("no/such/x.ini")));
    EXPECT_EQ(std::pair(nowhere.outcome, nowhere.reason),
              std::pair(SaveOutcome::Failed, QStringLiteral("文件夹不存在")));
    // The reason from the system's error itself: as root, permissions cannot provoke it.
    for (auto [error, reason] : {std::pair(EACCES, kReasonNotWritable), std::pair(ENOENT, kReasonFolderMissing)})
        EXPECT_EQ(FileFailureReason(qt_error_string(error), path), QString::fromUtf16(reason)) << error;

    // Interrupted at the last moment, every new byte written: Note.ini is still the old file.
    QByteArray atInterrupt;
    EXPECT_FALSE(WriteFileAtomically(path, bytes, PreviousFile::Trash, [&] {
        atInterrupt = readBytes(path);
        return false;
    }));
    EXPECT_EQ(std::pair(atInterrupt, readBytes(path)), std::pair(QByteArray("old"), QByteArray("old")));
    EXPECT_EQ(folderEntries(dir.path()), QStringList{kNote});

    // The trash takes a file without asking, and never moves it into the working directory: with no trash to be
    // made under a plain file, Qt 6.4 would. With nothing there, nothing is trashed.
    const QStringList cwd = folderEntries(QDir::currentPath());
    EXPECT_FALSE(ShellDelete(dir.filePath(QStringLiteral("none"))));
    ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("blocker")), ""));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("blocker/share"))));
    EXPECT_TRUE(ShellDelete(path) && !QFile::exists(path));
    EXPECT_EQ(folderEntries(QDir::currentPath()), cwd);
}

} // namespace
