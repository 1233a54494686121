// The schedule and channel-name files: Note.ini (records) and Name.ini (names).
#pragma once

#include "schedule/schedulebook.h"

#include <QString>
#include <QStringList>

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

private:
    QString m_folder;
};

QString ReadNoteFrom(const QString &recordKey, const QString &path);

// Moves a file to the desktop's trash without asking; deletes it where there is
// no trash. False if the request could not be made (nothing was there to move).
bool ShellDelete(const QString &path);

// Every channel's records of a schedule file, read with one parse: channel by
// channel from number 001 up to the first empty record, at most 255 each.
struct LoadedSchedules {
    QList<EntryRef> entries; // load order, nNo set from the key
    QStringList skippedKeys; // records that could not be converted
    bool unreadable = false; // the file is there but could not be read at all
};
LoadedSchedules LoadSchedules(const QString &path);

// The whole book as one file's bytes: [Note], then each channel's entries as
// 001, 002, ... in book order. Entries outside channels 1..16 are not written.
QByteArray SchedulesToIni(const ScheduleBook &book);

enum class SaveOutcome { Saved, Failed };
// Save: new file written completely first; only then the old Note.ini goes to
// the trash and the new one takes its name. An empty book just trashes the old file.
SaveOutcome SaveSchedules(const ScheduleBook &book, const QString &notePath);
// Save As: the book as it stands, to any path (replacing it).
SaveOutcome ExportSchedules(const ScheduleBook &book, const QString &path);

// Open: the whole file is checked before anything is handed back. On a record
// that cannot be converted, `badKey` names it and nothing is returned.
struct OpenedSchedules {
    bool ok = false;
    QString badKey;
    QList<EntryRef> entries;
};
OpenedSchedules OpenSchedules(const QString &path);
