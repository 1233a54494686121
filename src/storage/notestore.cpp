// Note.ini (schedule records) and Name.ini (channel names) of a program folder.
#include "storage/notestore.h"

#include "storage/inifile.h"

#include <QFile>
#include <QFileInfo>

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

// Walks every channel as the per-key reads would. `stopAtBad` ends the walk at the first
// record that cannot be converted (Open refuses the whole file then).
struct Walk {
    QList<EntryRef> entries;
    QStringList badKeys;
};
Walk walkRecords(const IniFile &ini, bool stopAtBad)
{
    Walk walk;
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
            if (!entry) {
                walk.badKeys.append(key);
                if (stopAtBad)
                    return walk;
                continue;
            }
            entry->nNo = int16_t(number);
            walk.entries.append(std::make_shared<Clsdata>(*entry));
        }
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
    return WriteFileAtomically(notePath(), ini.toBytes());
}

QString NoteStore::ReadName(const QString &channelKey) const
{
    const FileBytes file = ReadWholeFile(namePath());
    if (file.status != ReadStatus::Ok)
        return kDefaultChannelName;
    return NameFromIni(file.bytes, channelKey.toLatin1()).value_or(kDefaultChannelName);
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
    const FileBytes file = ReadWholeFile(path);
    if (file.status != ReadStatus::Ok)
        return {{}, {}, file.status == ReadStatus::Unreadable};
    Walk walk = walkRecords(IniFile(file.bytes), false);
    return {std::move(walk.entries), std::move(walk.badKeys), false};
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

SaveOutcome SaveSchedules(const ScheduleBook &book, const QString &notePath)
{
    if (book.isEmpty()) {
        // Nothing to keep: the file goes; if it cannot go, the next load would bring it back.
        ShellDelete(notePath);
        const QFileInfo info(notePath);
        return (info.exists() || info.isSymLink()) ? SaveOutcome::Failed : SaveOutcome::Saved;
    }
    return WriteFileAtomically(notePath, SchedulesToIni(book), PreviousFile::Trash) ? SaveOutcome::Saved
                                                                                    : SaveOutcome::Failed;
}

SaveOutcome ExportSchedules(const ScheduleBook &book, const QString &path)
{
    return WriteFileAtomically(path, SchedulesToIni(book)) ? SaveOutcome::Saved : SaveOutcome::Failed;
}

OpenedSchedules OpenSchedules(const QString &path)
{
    const FileBytes file = ReadWholeFile(path);
    if (file.status == ReadStatus::Missing)
        return {true, {}, {}};
    // A file that is there but cannot be read must not open as an empty schedule.
    if (file.status == ReadStatus::Unreadable)
        return {false, {}, {}};
    Walk walk = walkRecords(IniFile(file.bytes), true);
    if (!walk.badKeys.isEmpty())
        return {false, walk.badKeys.first(), {}};
    return {true, {}, std::move(walk.entries)};
}
