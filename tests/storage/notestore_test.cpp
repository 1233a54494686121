// Note.ini: single reads and writes, whole-store load, save, export and open.
#include "storage/inifile.h"
#include "storage/notestore.h"
#include "storage_testing.h"

#include <QFileInfo>

#include <csignal>
#include <random>
#include <sys/resource.h>

namespace {

const QString kNote = QStringLiteral("Note.ini");

QList<Clsdata> values(const QList<EntryRef> &entries)
{
    QList<Clsdata> out;
    for (const EntryRef &e : entries)
        out.append(*e);
    return out;
}

Clsdata entryOf(const QString &record, int number)
{
    Clsdata d = StrToData(record).value();
    d.nNo = int16_t(number);
    return d;
}

EntryRef refOf(const QString &record, int number)
{
    return std::make_shared<Clsdata>(entryOf(record, number));
}

// The load done the slow way: one file read per key.
LoadedSchedules loadKeyByKey(const QString &path)
{
    LoadedSchedules out;
    for (int c = 1; c <= kChannelCount; ++c) {
        for (int n = 1; n <= kMaxEntriesPerChannel; ++n) {
            const QString key = RecordKey(c, n);
            const QString record = ReadNoteFrom(key, path);
            if (record == kEmptyRecord)
                break;
            const auto d = record.size() == kRecordLength ? StrToData(record) : std::nullopt;
            if (!d) {
                out.skippedKeys.append(key);
                continue;
            }
            out.entries.append(refOf(record, n));
        }
    }
    return out;
}

QByteArray fullChannel16()
{
    QByteArray file = "[Note]\r\n";
    for (int n = 1; n <= kMaxEntriesPerChannel + 1; ++n)
        file += RecordKey(16, n).toLatin1() + '=' + recordOf(16, n).toLatin1() + "\r\n";
    return file;
}

// Writes beyond `bytes` fail (EFBIG) for this process, even for root: a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldSignal);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_old{};
    void (*m_oldSignal)(int) = SIG_DFL;
};

bool canCreateFileIn(const QString &dir)
{
    QFile probe(dir + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly))
        return false;
    probe.remove();
    return true;
}

TEST(ReadNote, ValueCutToTwentySixOrTheEmptyRecord)
{
    const QString r = QStringLiteral("11000000000100000000083000");
    struct Case {
        const char *name;
        QByteArray file; // empty: no file
        QString expected;
    };
    const Case cases[] = {
        {"exact 26 digits", "[Note]\r\n01001=" + r.toLatin1() + "\r\n", r},
        {"30 digits give the first 26", "[Note]\r\n01001=" + r.toLatin1() + "1234\r\n", r},
        {"quoted record", "[Note]\r\n01001=\"" + r.toLatin1() + "\"\r\n", r},
        {"short value as it is", "[Note]\r\n01001=123\r\n", QStringLiteral("123")},
        {"absent key", "[Note]\r\n01002=" + r.toLatin1() + "\r\n", kEmptyRecord},
        {"absent section", "[Name]\r\n01001=" + r.toLatin1() + "\r\n", kEmptyRecord},
        {"absent file", "", kEmptyRecord},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        if (!c.file.isEmpty())
            writeBytes(dir.filePath(kNote), c.file);
        EXPECT_EQ(NoteStore(dir.path()).ReadNote(QStringLiteral("01001")), c.expected);
    }
}

TEST(WriteNote, CreatesAppendsAndReplacesInPlace)
{
    QTemporaryDir dir;
    const NoteStore store(dir.path());
    const QString a = recordOf(1, 1), b = recordOf(1, 2), c = recordOf(1, 3);

    ASSERT_TRUE(store.WriteNote(QStringLiteral("01001"), a));
    EXPECT_EQ(readBytes(store.notePath()), "[Note]\r\n01001=" + a.toLatin1() + "\r\n");
    ASSERT_TRUE(store.WriteNote(QStringLiteral("01002"), b));
    ASSERT_TRUE(store.WriteNote(QStringLiteral("01001"), c));
    EXPECT_EQ(readBytes(store.notePath()), "[Note]\r\n01001=" + c.toLatin1() + "\r\n01002=" + b.toLatin1() + "\r\n");
    EXPECT_EQ(store.ReadNote(QStringLiteral("01001")), c);
    EXPECT_EQ(store.ReadNote(QStringLiteral("01002")), b);

    // A Note.ini that cannot be read is never overwritten.
    QTemporaryDir other;
    ASSERT_TRUE(QDir(other.path()).mkdir(kNote));
    EXPECT_FALSE(NoteStore(other.path()).WriteNote(QStringLiteral("01001"), a));
    EXPECT_TRUE(QFileInfo(other.filePath(kNote)).isDir());
}

TEST(LoadSchedules, MatchesKeyByKeyReads)
{
    const QString r1 = recordOf(1, 1), r2 = recordOf(1, 2), r4 = recordOf(1, 4);
    const QString bad = QStringLiteral("1100000000020000000008300X");
    struct Case {
        const char *name;
        QByteArray file;
        QList<Clsdata> expected;
        QStringList skipped;
    };
    QList<Clsdata> full16;
    for (int n = 1; n <= kMaxEntriesPerChannel; ++n)
        full16.append(entryOf(recordOf(16, n), n));
    const Case cases[] = {
        {"a gap at 003 ends the channel",
         "[Note]\n01001=" + r1.toLatin1() + "\n01002=" + r2.toLatin1() + "\n01004=" + r4.toLatin1() + "\n",
         {entryOf(r1, 1), entryOf(r2, 2)},
         {}},
        {"the empty record at 001 ends the channel",
         "[Note]\n01001=" + kEmptyRecord.toLatin1() + "\n01002=" + r2.toLatin1() +
             "\n02001=" + recordOf(2, 1).toLatin1(),
         {entryOf(recordOf(2, 1), 1)},
         {}},
        {"a corrupt record is skipped, the next ones load",
         "[Note]\n02001=" + recordOf(2, 1).toLatin1() + "\n02002=" + bad.toLatin1() +
             "\n02003=" + recordOf(2, 3).toLatin1(),
         {entryOf(recordOf(2, 1), 1), entryOf(recordOf(2, 3), 3)},
         {QStringLiteral("02002")}},
        {"short and empty values are skipped",
         "[Note]\n03001=123\n03002=\n03003=" + recordOf(3, 3).toLatin1(),
         {entryOf(recordOf(3, 3), 3)},
         {QStringLiteral("03001"), QStringLiteral("03002")}},
        {"the channel comes from the record",
         "[Note]\n05001=" + recordOf(7, 1).toLatin1(),
         {entryOf(recordOf(7, 1), 1)},
         {}},
        {"long values are cut to 26",
         "[Note]\n04001=" + recordOf(4, 1).toLatin1() + "99",
         {entryOf(recordOf(4, 1), 1)},
         {}},
        {"first key and first section only",
         "[note]\n 01001 = \"" + r1.toLatin1() + "\" \n01001=" + r2.toLatin1() + "\n[NOTE]\n01002=" + r2.toLatin1(),
         {entryOf(r1, 1)},
         {}},
        {"channel 16 holds 255 and 16256 is never read", fullChannel16(), full16, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(kNote);
        writeBytes(path, c.file);
        const LoadedSchedules loaded = LoadSchedules(path);
        EXPECT_EQ(values(loaded.entries), c.expected);
        EXPECT_EQ(loaded.skippedKeys, c.skipped);
        const LoadedSchedules slow = loadKeyByKey(path);
        EXPECT_EQ(values(loaded.entries), values(slow.entries));
        EXPECT_EQ(loaded.skippedKeys, slow.skippedKeys);
    }
    QTemporaryDir empty;
    EXPECT_TRUE(LoadSchedules(empty.filePath(kNote)).entries.isEmpty());
}

TEST(SchedulesToIni, NumbersEachChannelInBookOrder)
{
    ScheduleBook book;
    const auto add = [&](int channel, int number) {
        auto e = refOf(recordOf(channel == 0 || channel > kChannelCount ? 1 : channel, number), number);
        e->nRoute = int16_t(channel);
        book.add(e);
        return e->GetStr().toLatin1();
    };
    const QByteArray a = add(2, 1), b = add(1, 1), c = add(2, 2), d = add(1, 2);
    add(0, 1);
    add(17, 1);
    const QByteArray g = add(1, 4);
    EXPECT_EQ(SchedulesToIni(book), "[Note]\r\n01001=" + b + "\r\n01002=" + d + "\r\n01003=" + g + "\r\n02001=" + a +
                                        "\r\n02002=" + c + "\r\n");

    ScheduleBook crowded;
    for (int n = 1; n <= kMaxEntriesPerChannel + 1; ++n)
        crowded.add(refOf(recordOf(3, n), n));
    const QByteArray text = SchedulesToIni(crowded);
    EXPECT_TRUE(text.contains("03255="));
    EXPECT_FALSE(text.contains("03256="));
}

TEST(SaveSchedules, WritesOnceTrashesTheOldAndLoadsBackTheSame)
{
    TrashSandbox trash;
    QTemporaryDir dir;
    const QString path = dir.filePath(kNote);
    const QByteArray old = "[Note]\r\n01001=" + recordOf(1, 9).toLatin1() + "\r\n";
    writeBytes(path, old);

    ScheduleBook book;
    QList<Clsdata> expected;
    for (int channel : {3, 1, 16, 1, 3, 1})
        book.add(refOf(recordOf(channel, book.size()), book.countOf(channel) + 1));
    for (int channel = 1; channel <= kChannelCount; ++channel)
        expected += values(book.channel(channel));

    const qint64 writes = FileWriteCount();
    ASSERT_EQ(SaveSchedules(book, path), SaveOutcome::Saved);
    EXPECT_EQ(FileWriteCount() - writes, 1);
    EXPECT_EQ(readBytes(path), SchedulesToIni(book));
    EXPECT_EQ(values(LoadSchedules(path).entries), expected);
    EXPECT_EQ(folderEntries(dir.path()), QStringList{kNote});
    ASSERT_EQ(trash.trashed(), QStringList{kNote});
    EXPECT_EQ(readBytes(trash.trashFiles() + QLatin1Char('/') + kNote), old);
}

TEST(SaveSchedules, EmptyBookTrashesTheFileAndCreatesNone)
{
    TrashSandbox trash;
    QTemporaryDir dir;
    const QString path = dir.filePath(kNote);
    ASSERT_EQ(SaveSchedules(ScheduleBook(), path), SaveOutcome::Saved);
    EXPECT_FALSE(QFileInfo::exists(path));

    writeBytes(path, "[Note]\r\n");
    ASSERT_EQ(SaveSchedules(ScheduleBook(), path), SaveOutcome::Saved);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(trash.trashed(), QStringList{kNote});
}

TEST(SaveSchedules, FailureLeavesTheOldFileAsItWas)
{
    enum class Way { ReadOnlyFolder, DiskFull, PathIsFolder, FolderMissing };
    struct Case {
        const char *name;
        Way way;
    };
    const Case cases[] = {
        {"read-only folder", Way::ReadOnlyFolder},
        {"disk full", Way::DiskFull},
        {"Note.ini is a folder", Way::PathIsFolder},
        {"folder missing", Way::FolderMissing},
    };
    ScheduleBook book;
    for (int n = 1; n <= 4; ++n)
        book.add(refOf(recordOf(1, n), n));
    const QByteArray old = "[Note]\n01001=" + recordOf(2, 1).toLatin1() + "\n";
    constexpr rlim_t kFullAfter = 16;

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TrashSandbox trash;
        QTemporaryDir dir;
        QString path = dir.filePath(kNote);
        if (c.way == Way::PathIsFolder) {
            ASSERT_TRUE(QDir(dir.path()).mkdir(kNote));
            writeBytes(path + QStringLiteral("/inside"), old);
        } else if (c.way == Way::FolderMissing) {
            path = dir.filePath(QStringLiteral("missing/") + kNote);
        } else {
            writeBytes(path, old);
        }
        const QStringList before = folderEntries(dir.path());

        std::optional<FileSizeLimit> full;
        const auto perms = QFile::permissions(dir.path());
        if (c.way == Way::ReadOnlyFolder) {
            QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            // Root writes into read-only folders: make the write fail the other way then.
            if (canCreateFileIn(dir.path()))
                full.emplace(kFullAfter);
        }
        if (c.way == Way::DiskFull)
            full.emplace(kFullAfter);
        const SaveOutcome outcome = SaveSchedules(book, path);
        full.reset();
        QFile::setPermissions(dir.path(), perms);

        EXPECT_EQ(outcome, SaveOutcome::Failed);
        EXPECT_EQ(folderEntries(dir.path()), before);
        EXPECT_TRUE(trash.trashed().isEmpty());
        if (c.way == Way::PathIsFolder) {
            EXPECT_EQ(readBytes(path + QStringLiteral("/inside")), old);
        } else if (c.way != Way::FolderMissing) {
            EXPECT_EQ(readBytes(path), old);
        }
    }
}

// The moment before the rename is the last point a crash can hit: the new bytes are all
// written, and Note.ini must still be the whole old file.
TEST(SaveSchedules, InterruptedSaveLeavesTheOldFile)
{
    TrashSandbox trash;
    QTemporaryDir dir;
    const QString path = dir.filePath(kNote);
    const QByteArray old = "[Note]\r\n01001=" + recordOf(1, 1).toLatin1() + "\r\n01002=" + recordOf(1, 2).toLatin1();
    writeBytes(path, old);
    const QList<Clsdata> oldEntries = values(LoadSchedules(path).entries);
    ASSERT_EQ(oldEntries.size(), 2);

    ScheduleBook book;
    for (int n = 1; n <= kMaxEntriesPerChannel; ++n)
        book.add(refOf(recordOf(5, n), n));
    bool interrupted = false;
    const bool saved = WriteFileAtomically(path, SchedulesToIni(book), PreviousFile::Trash, [&] {
        interrupted = true;
        EXPECT_EQ(readBytes(path), old);
        EXPECT_EQ(values(LoadSchedules(path).entries), oldEntries);
        for (const QString &name : folderEntries(dir.path())) {
            if (name != kNote) {
                EXPECT_NE(readBytes(dir.filePath(name)), SchedulesToIni(book)) << qPrintable(name);
            }
        }
        return false;
    });
    EXPECT_TRUE(interrupted);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(folderEntries(dir.path()), QStringList{kNote});
}

TEST(ExportAndOpen, RoundTripAndRefusals)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("plan.ini"));
    writeBytes(path, "stale content that must go");

    ScheduleBook book;
    for (int channel : {9, 2, 9})
        book.add(refOf(recordOf(channel, book.size()), book.countOf(channel) + 1));
    ASSERT_EQ(ExportSchedules(book, path), SaveOutcome::Saved);
    const OpenedSchedules opened = OpenSchedules(path);
    ASSERT_TRUE(opened.ok);
    EXPECT_EQ(values(opened.entries), values(book.channel(2)) + values(book.channel(9)));

    ASSERT_EQ(ExportSchedules(ScheduleBook(), path), SaveOutcome::Saved);
    EXPECT_EQ(readBytes(path), "[Note]\r\n");
    EXPECT_EQ(ExportSchedules(book, dir.filePath(QStringLiteral("missing/plan.ini"))), SaveOutcome::Failed);

    std::mt19937 random(11);
    QByteArray noise(10 * 1024 * 1024, Qt::Uninitialized);
    for (char &c : noise)
        c = char(random());
    const QString r1 = recordOf(1, 1), r2 = recordOf(1, 2);
    struct Case {
        const char *name;
        QByteArray file; // empty: no file; "/": a folder
        bool ok;
        QString badKey;
        int entries;
    };
    const Case cases[] = {
        {"gap ends the channel",
         "[Note]\n01001=" + r1.toLatin1() + "\n01002=" + r2.toLatin1() + "\n01004=" + r1.toLatin1(),
         true,
         {},
         2},
        {"no Note section", "[Other]\n01001=" + r1.toLatin1(), true, {}, 0},
        {"corrupt record refuses the file",
         "[Note]\n01001=" + r1.toLatin1() + "\n02001=" + r1.toLatin1() + "\n02002=1100000000020000000008300X\n", false,
         QStringLiteral("02002"), 0},
        {"short record refuses the file", "[Note]\n01001=110\n", false, QStringLiteral("01001"), 0},
        {"10 MB of random bytes", noise, true, {}, 0},
        {"missing file", "", true, {}, 0},
        {"a folder is not a schedule", "/", false, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir sub;
        const QString file = sub.filePath(kNote);
        if (c.file == "/")
            ASSERT_TRUE(QDir(sub.path()).mkdir(kNote));
        else if (!c.file.isEmpty())
            writeBytes(file, c.file);
        const OpenedSchedules o = OpenSchedules(file);
        EXPECT_EQ(o.ok, c.ok);
        EXPECT_EQ(o.badKey, c.badKey);
        EXPECT_EQ(o.entries.size(), c.entries);
    }
}

TEST(ShellDelete, TrashesOrDeletesWithoutAsking)
{
    TrashSandbox trash;
    QTemporaryDir dir;
    const QString path = dir.filePath(kNote);

    EXPECT_FALSE(ShellDelete(path));

    writeBytes(path, "x");
    EXPECT_TRUE(ShellDelete(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(trash.trashed(), QStringList{kNote});

    // No trash can be made under a plain file: the file is deleted instead, and nothing
    // lands in the working directory.
    writeBytes(dir.filePath(QStringLiteral("blocker")), "");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("blocker/share"))));
    const QStringList cwd = folderEntries(QDir::currentPath());
    writeBytes(path, "y");
    EXPECT_TRUE(ShellDelete(path));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(folderEntries(QDir::currentPath()), cwd);
}

} // namespace
