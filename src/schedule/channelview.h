// What the list of one channel shows, and the commands that delete entries.
#pragma once

#include "schedule/schedulebook.h"

#include <QList>
#include <QString>

struct ListRow {
    QString key;    // entry key of the row's entry
    QString number; // "001"
    QString text;   // DataToText of the entry
    EntryRef entry;
};

// Display text of one entry, e.g. "第1路, 每天, 08:30:00 ,吸合 ".
QString DataToText(const Clsdata &entry);

// Renumbers the channel's entries (keeping the book's keys in step) and returns
// its rows in book order.
QList<ListRow> FillList(ScheduleBook &book, int channel);

// Deletes the rows (1-based positions in the channel's list) of one channel,
// then renumbers that channel and re-keys the book.
void DeleteRows(ScheduleBook &book, int channel, const QList<int> &rows);

// Removes every entry of one channel; other channels keep numbers and keys.
void DeleteChannel(ScheduleBook &book, int channel);
