// What a verify shows and what its result window does with the book: the rows
// of the result, which channels a read that ended early still covers, and
// taking the board's version of a channel. Pure: no widgets, no engine.
#pragma once

#include "schedule/bookcompare.h"

#include <QList>
#include <QString>

// "相同", "不同", "无法读取".
QString VerdictText(ChannelVerdict verdict);

// One line of a differing channel, the two sides next to each other.
struct DifferenceRow {
    QString number;  // "002", as the main list numbers
    QString program; // the program's entry as the main list shows it; empty if none
    QString board;   // the board's entry the same way; empty if none
    QString note;    // "仅在软件中", "仅在设备上", "不同：分" ...
};
QList<DifferenceRow> DifferenceRows(const ChannelComparison &comparison);

// The channels a verify of `channel` (0: all) covers, in order.
QList<int> VerifyChannels(int channel);

// Which of `channels` a read that ended at `endedAt` did not read in full: none
// after success; else the channel it ended in and those after it.
QList<int> UnreadChannels(const QList<int> &channels, bool success, int endedAt);

// The channels that differ, in order: what 写入差异 writes.
QList<int> DifferingChannels(const QList<ChannelComparison> &comparisons);

// Replaces the book's entries of `channel` with copies of the board's list
// (blank entries past its end dropped), numbered 1, 2, 3 ... Other channels
// keep their entries, numbers and keys.
void TakeBoardChannel(ScheduleBook &book, int channel, const QList<EntryRef> &board);
