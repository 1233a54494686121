// Note.ini as a whole: load, open and save of the schedule, and the trash.
#include "storage/inifile.h"
#include "storage/notestore.h"
#include "storage_testing.h"

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

// Entries as the lines that would store them.
QStringList linesOf(const QList<EntryRef> &entries)
{
    QStringList out;
    for (const EntryRef &e : entries)
        out += RecordKey(e->nRoute, e->nNo) + QLatin1Char('=') + e->GetStr();
    return out;
}

// The load done one key at a time: loaded lines and skipped keys.
std::pair<QStringList, QStringList> loadKeyByKey(const QString &path)
{
    std::pair<QStringList, QStringList> out;
    for (int c = 1; c <= kChannelCount; ++c)
        for (int n = 1; n <= kMaxEntriesPerChannel; ++n) {
            const QString key = RecordKey(c, n), record = ReadNoteFrom(key, path);
            if (record == kEmptyRecord)
                break;
            const bool valid = record.size() == kRecordLength && StrToData(record);
            (valid ? out.first : out.second) += valid ? key + QLatin1Char('=') + record : key;
        }
    return out;
}

// Open hands back what Load does, but refuses the whole file at the first record Load skips.
TEST(ScheduleFile, LoadAndOpenAgreeWithKeyByKeyReads)
{
    QStringList full16;
    for (int n = 1; n <= kMaxEntriesPerChannel + 1; ++n)
        full16 += line(16, n);
    const QString bad = QStringLiteral("02002=1100000000020000000008300X");
    struct Row {
        const char *name;
        QByteArray file; // "/": a folder in its place
        QStringList loaded, skipped;
    };
    const Row rows[] = {
        {"gap at 003 ends the channel", noteFile({line(1, 1), line(1, 2), line(1, 4)}), {line(1, 1), line(1, 2)}, {}},
        {"26 zeros at 01001", noteFile({"01001=" + kEmptyRecord, line(1, 2), line(2, 1)}), {line(2, 1)}, {}},
        {"channel 16 holds 255, 16256 is never read", noteFile(full16), full16.first(kMaxEntriesPerChannel), {}},
        {"bad record skipped", noteFile({line(2, 1), bad, line(2, 3)}), {line(2, 1), line(2, 3)}, {"02002"}},
        {"missing section", "[Other]\n" + line(1, 1).toLatin1(), {}, {}},
        {"10 MB of binary", noise(), {}, {}},
        {"unreadable", "/", {}, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(kNote);
        const bool unreadable = r.file == "/";
        ASSERT_TRUE(unreadable ? QDir().mkpath(path) : writeBytes(path, r.file));
        const LoadedSchedules l = LoadSchedules(path);
        EXPECT_EQ(std::tuple(linesOf(l.entries), l.skippedKeys, l.unreadable),
                  std::tuple(r.loaded, r.skipped, unreadable));
        EXPECT_EQ(loadKeyByKey(path), std::pair(r.loaded, r.skipped));
        const OpenedSchedules o = OpenSchedules(path);
        const bool ok = r.skipped.isEmpty() && !unreadable;
        EXPECT_EQ(std::tuple(o.ok, o.badKey, linesOf(o.entries)),
                  std::tuple(ok, r.skipped.value(0), ok ? r.loaded : QStringList()));
    }
}

TEST(SaveSchedules, RenumbersWritesOnceAndNeverLeavesAMix)
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
    EXPECT_EQ(linesOf(LoadSchedules(path).entries), lines);
    EXPECT_EQ(readBytes(trash.files() + QStringLiteral("/Note.ini")), "old");

    // An empty book leaves no file, whether there was one or not.
    ASSERT_EQ(SaveSchedules(ScheduleBook(), path), SaveOutcome::Saved);
    ASSERT_EQ(SaveSchedules(ScheduleBook(), path), SaveOutcome::Saved);
    EXPECT_EQ(folderEntries(dir.path()), QStringList());
    EXPECT_EQ(folderEntries(trash.files()).size(), 2);

    // A file-size limit fails the write even for root, as a full disk would.
    ASSERT_TRUE(writeBytes(path, "old"));
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit full{16, limit.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    const SaveOutcome outcome = SaveSchedules(book, path);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(outcome, SaveOutcome::Failed);

    // Interrupted at the last moment, every new byte written: Note.ini is still the old file.
    QByteArray atInterrupt;
    EXPECT_FALSE(WriteFileAtomically(path, bytes, PreviousFile::Trash, [&] {
        atInterrupt = readBytes(path);
        return false;
    }));
    EXPECT_EQ(atInterrupt, "old");
    EXPECT_EQ(readBytes(path), "old");
    EXPECT_EQ(folderEntries(dir.path()), QStringList{kNote});
}

TEST(ShellDelete, TrashesWithoutAskingAndNeverIntoTheWorkingDirectory)
{
    TrashSandbox trash;
    QTemporaryDir dir;
    const QString path = dir.filePath(kNote);
    const QStringList cwd = folderEntries(QDir::currentPath());
    EXPECT_FALSE(ShellDelete(path));
    ASSERT_TRUE(writeBytes(path, "x"));
    EXPECT_TRUE(ShellDelete(path));
    EXPECT_EQ(folderEntries(dir.path()), QStringList());
    EXPECT_EQ(readBytes(trash.files() + QStringLiteral("/Note.ini")), "x");

    // No trash can be made under a plain file: Qt 6.4 would then move the file into the working directory.
    ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("blocker")), ""));
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("blocker/share"))));
    ASSERT_TRUE(writeBytes(path, "y"));
    EXPECT_TRUE(ShellDelete(path));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(folderEntries(QDir::currentPath()), cwd);
}

} // namespace
