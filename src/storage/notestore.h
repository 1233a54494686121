// The schedule and channel-name files: Note.ini (records) and Name.ini (names).
#pragma once

#include "schedule/schedulebook.h"

#include <QString>
#include <QStringList>

// The folder the schedule files live in: the program folder when it is writable
// and not under /usr (a portable copy), else the user's data folder (an
// installed program).
QString ScheduleFolder(const QString &programFolder);

inline const QString kDefaultChannelName = QStringLiteral("未命名");

// One folder's Note.ini and Name.ini.
class NoteStore {
public:
    explicit NoteStore(QString folder);

    QString folder() const { return m_folder; }
    QString notePath() const;
    QString namePath() const;

    // The 26-character record under `recordKey` ("01001"), cut to 26; the empty
    // record when the file, section or key is missing.
    QString ReadNote(const QString &recordKey) const;
    // Writes one key in place (creating file and section when missing).
    bool WriteNote(const QString &recordKey, const QString &record) const;
    // Channel name under "01".."16", at most 8 bytes of GBK; "未命名" when missing.
    QString ReadName(const QString &channelKey) const;
    // The sixteen channel names, channel 1 first, from one read of Name.ini.
    QStringList ReadNames() const;

private:
    QString m_folder;
};

QString ReadNoteFrom(const QString &recordKey, const QString &path);
// The sixteen channel names of a file laid out as Name.ini.
QStringList ReadNamesFrom(const QString &path);

// Moves a file to the desktop's trash without asking; deletes it where there is
// no trash. False if the request could not be made (nothing was there to move).
bool ShellDelete(const QString &path);

// Every channel's records of a schedule file, read with one parse: channel by channel
// from number 001 up to the first empty record, at most 255 keys each. The records loaded
// are numbered 1..n per channel in load order, so keys and numbers agree; a channel never
// gets more than 255 (a record filed under another channel's key takes what room is left).
struct LoadedSchedules {
    QList<EntryRef> entries;  // load order, numbered
    QStringList skippedKeys;  // records that could not be converted or name no channel 1..16
    QStringList overflowKeys; // records whose channel was already full
    bool unreadable = false;  // the file is there but could not be read at all (or is too big)
    bool noSection = false;   // the file is there but has no [Note] section
};
LoadedSchedules LoadSchedules(const QString &path);

// The whole book as one file's bytes: [Note], then each channel's entries as
// 001, 002, ... in book order. Entries outside channels 1..16 are not written.
QByteArray SchedulesToIni(const ScheduleBook &book);

enum class SaveOutcome { Saved, Failed };
struct SaveResult {
    SaveOutcome outcome = SaveOutcome::Failed;
    QString reason; // why it failed, for the operator
    bool operator==(SaveOutcome o) const { return outcome == o; }
};
// Save: new file written completely first; only then the old Note.ini goes to the trash and
// the new one takes its name. An empty book just trashes the old file. A write-protected
// Note.ini is left alone either way.
SaveResult SaveSchedules(const ScheduleBook &book, const QString &notePath);
// Save As: the book as it stands, to any path (replacing it unless it is write-protected).
SaveResult ExportSchedules(const ScheduleBook &book, const QString &path);

// Open: the whole file is checked before anything is handed back; on any problem nothing is.
enum class OpenProblem { None, Missing, Unreadable, NoSection, BadRecord };
struct OpenedSchedules {
    bool ok = false;
    OpenProblem problem = OpenProblem::None;
    QString badKey; // the first record not loaded, for BadRecord
    QList<EntryRef> entries;
};
// A file that is not there is an empty schedule, unless `mustExist` (a file the
// operator named to write or compare with the board).
OpenedSchedules OpenSchedules(const QString &path, bool mustExist = false);
// What the operator is told of a file Open refused ("文件不存在：" or "文件无法读取："
// + path, or "文件格式错误：" + the reason); empty when it was not refused.
QString OpenRefusal(const OpenedSchedules &opened, const QString &path);
