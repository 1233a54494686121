// Note.ini (schedule records) and Name.ini (channel names) of a program folder.
#include "storage/notestore.h"

#include "storage/inifile.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <array>

namespace {

constexpr QByteArrayView kNoteSection = "Note";
// ReadNote's 27-byte buffer: 26 characters and the terminator.
constexpr qsizetype kNoteBufferChars = kRecordLength;
constexpr qsizetype kRecordLineBytes = 5 + 1 + kRecordLength + 2; // "01001=" record CRLF

QString joined(const QString &folder, const QString &name)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

// What ReadNoteFrom hands back for one key of an already parsed file.
QString noteFrom(const IniFile &ini, const QString &recordKey)
{
    const auto value = ini.value(kNoteSection, recordKey.toLatin1());
    if (!value)
        return kEmptyRecord;
    return QString::fromLatin1(value->left(kNoteBufferChars));
}

// Walks every channel as the per-key reads would, then numbers the loaded records so each
// channel runs 1..n in load order with keys to match, at most 255 to a channel.
struct Walk {
    QList<EntryRef> entries;
    QStringList badKeys;      // cannot be converted, or name no channel 1..16
    QStringList overflowKeys; // their channel was already full
};
Walk walkRecords(const IniFile &ini)
{
    struct Found {
        QString key;
        int keyChannel;
        EntryRef entry;
    };
    Walk walk;
    QList<Found> found;
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        for (int number = 1; number <= kMaxEntriesPerChannel; ++number) {
            const QString key = RecordKey(channel, number);
            const QString record = noteFrom(ini, key);
            if (record == kEmptyRecord)
                break;
            // Any other length converts to an entry of no channel: that is a bad record too.
            std::optional<Clsdata> entry;
            if (record.size() == kRecordLength)
                entry = StrToData(record);
            if (!entry || entry->nRoute < 1 || entry->nRoute > kChannelCount) {
                walk.badKeys.append(key);
                continue;
            }
            found.append({key, channel, std::make_shared<Clsdata>(*entry)});
        }
    }

    // The records filed under their own channel fit (at most 255 keys each); a record whose
    // channel digits name another channel takes what room that channel has left.
    std::array<int, kChannelCount + 1> room;
    room.fill(kMaxEntriesPerChannel);
    for (const Found &f : found)
        room[f.entry->nRoute] -= f.entry->nRoute == f.keyChannel ? 1 : 0;
    std::array<int16_t, kChannelCount + 1> next{};
    for (const Found &f : found) {
        const int channel = f.entry->nRoute;
        if (channel != f.keyChannel) {
            if (room[channel] <= 0) {
                walk.overflowKeys.append(f.key);
                continue;
            }
            --room[channel];
        }
        f.entry->nNo = ++next[channel];
        walk.entries.append(f.entry);
    }
    return walk;
}

} // namespace

NoteStore::NoteStore(QString folder) : m_folder(std::move(folder)) {}

QString NoteStore::notePath() const
{
    return joined(m_folder, QStringLiteral("Note.ini"));
}

QString NoteStore::namePath() const
{
    return joined(m_folder, QStringLiteral("Name.ini"));
}

QString NoteStore::ReadNote(const QString &recordKey) const
{
    return ReadNoteFrom(recordKey, notePath());
}

bool NoteStore::WriteNote(const QString &recordKey, const QString &record) const
{
    const FileBytes file = ReadWholeFile(notePath());
    if (file.status == ReadStatus::Unreadable)
        return false;
    IniFile ini(file.bytes);
    if (!ini.setValue(kNoteSection, recordKey.toLatin1(), record.toLatin1()))
        return false;
    return WriteFileAtomically(notePath(), ini.toBytes()).ok;
}

QString NoteStore::ReadName(const QString &channelKey) const
{
    const FileBytes file = ReadWholeFile(namePath());
    if (file.status != ReadStatus::Ok)
        return kDefaultChannelName;
    return NameFromIni(file.bytes, channelKey.toLatin1()).value_or(kDefaultChannelName);
}

QStringList NoteStore::ReadNames() const
{
    return ReadNamesFrom(namePath());
}

QStringList ReadNamesFrom(const QString &path)
{
    const FileBytes file = ReadWholeFile(path);
    const IniFile ini(file.status == ReadStatus::Ok ? file.bytes : QByteArray());
    const NameEncoding encoding = ini.hasUtf8Bom() ? NameEncoding::Utf8 : NameEncoding::Gbk;
    QStringList names;
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        const auto raw = ini.value(kNoteSection, QByteArray::number(channel).rightJustified(2, '0'));
        names.append(raw ? DecodeName(*raw, encoding) : kDefaultChannelName);
    }
    return names;
}

QString ReadNoteFrom(const QString &recordKey, const QString &path)
{
    const FileBytes file = ReadWholeFile(path);
    if (file.status != ReadStatus::Ok)
        return kEmptyRecord;
    return noteFrom(IniFile(file.bytes), recordKey);
}

bool ShellDelete(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return false;
    if (MoveToTrash(path))
        return true;
    return QFile::remove(path);
}

LoadedSchedules LoadSchedules(const QString &path)
{
    LoadedSchedules out;
    const FileBytes file = ReadWholeFile(path);
    out.unreadable = file.status == ReadStatus::Unreadable;
    if (file.status != ReadStatus::Ok)
        return out;
    const IniFile ini(file.bytes);
    if (!ini.hasSection(kNoteSection)) {
        out.noSection = true;
        return out;
    }
    Walk walk = walkRecords(ini);
    out.entries = std::move(walk.entries);
    out.skippedKeys = std::move(walk.badKeys);
    out.overflowKeys = std::move(walk.overflowKeys);
    return out;
}

QByteArray SchedulesToIni(const ScheduleBook &book)
{
    QByteArray out;
    out.reserve(16 + book.size() * kRecordLineBytes);
    out.append("[Note]\r\n");
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        int number = 0;
        for (const ScheduleBook::Item &item : book.items()) {
            if (item.entry->nRoute != channel)
                continue;
            // Readers stop at 255; anything past it could never be loaded.
            if (++number > kMaxEntriesPerChannel)
                break;
            out.append(RecordKey(channel, number).toLatin1());
            out.append('=');
            out.append(item.entry->GetStr().toLatin1());
            out.append("\r\n");
        }
    }
    return out;
}

SaveResult SaveSchedules(const ScheduleBook &book, const QString &notePath)
{
    if (book.isEmpty()) {
        // Nothing to keep: the file goes, unless it is protected as a full save would find it.
        if (IsWriteProtected(notePath))
            return {SaveOutcome::Failed, QString::fromUtf16(kReasonReadOnly)};
        ShellDelete(notePath);
        // If it cannot go, the next load would bring it back.
        const QFileInfo info(notePath);
        if (info.exists() || info.isSymLink())
            return {SaveOutcome::Failed, QStringLiteral("旧文件无法放入回收站，也无法删除")};
        return {SaveOutcome::Saved, {}};
    }
    const WriteResult r = WriteFileAtomically(notePath, SchedulesToIni(book), PreviousFile::Trash);
    return {r.ok ? SaveOutcome::Saved : SaveOutcome::Failed, r.reason};
}

SaveResult ExportSchedules(const ScheduleBook &book, const QString &path)
{
    const WriteResult r = WriteFileAtomically(path, SchedulesToIni(book));
    return {r.ok ? SaveOutcome::Saved : SaveOutcome::Failed, r.reason};
}

OpenedSchedules OpenSchedules(const QString &path, bool mustExist)
{
    OpenedSchedules out;
    if (mustExist && !QFileInfo::exists(path)) {
        out.problem = OpenProblem::Missing;
        return out;
    }
    const LoadedSchedules loaded = LoadSchedules(path);
    // A file that is there but cannot be read, or holds no schedule section, must not open
    // as an empty schedule; nor may a record be left behind.
    if (loaded.unreadable) {
        out.problem = OpenProblem::Unreadable;
    } else if (loaded.noSection) {
        out.problem = OpenProblem::NoSection;
    } else if (!loaded.skippedKeys.isEmpty() || !loaded.overflowKeys.isEmpty()) {
        out.problem = OpenProblem::BadRecord;
        out.badKey = loaded.skippedKeys.isEmpty() ? loaded.overflowKeys.first() : loaded.skippedKeys.first();
    } else {
        out.ok = true;
        out.entries = loaded.entries;
    }
    return out;
}

QString OpenRefusal(const OpenedSchedules &opened, const QString &path)
{
    if (opened.ok)
        return {};
    const QString format = QStringLiteral("文件格式错误：");
    switch (opened.problem) {
    case OpenProblem::Missing:
        return QStringLiteral("文件不存在：") + path;
    case OpenProblem::Unreadable:
        return QStringLiteral("文件无法读取：") + path;
    case OpenProblem::NoSection:
        return format + QStringLiteral("没有[Note]节");
    default:
        return format + opened.badKey;
    }
}

QString ScheduleFolder(const QString &programFolder)
{
    // An installed copy never keeps files beside itself, not even when run by root.
    const bool installed = programFolder.startsWith(QStringLiteral("/usr/"));
    // A probe file says more than permission bits (read-only mounts, ACLs).
    QTemporaryFile probe(programFolder + QStringLiteral("/.kelmora-probe-XXXXXX"));
    if (!installed && probe.open())
        return programFolder;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return data;
}
