// Compares the program's schedules with what a board holds, channel by channel.
// Entries are compared slot by slot (a board runs its list in order, so a
// different order is a difference), on the fields the board acts on.
#pragma once

#include "schedule/schedulebook.h"

#include <QList>
#include <QStringList>

// Fields of an entry, as bits of a mask.
enum EntryField : unsigned {
    kFieldMode = 1u << 0, // 每天 / 每星期 / 固定日期
    kFieldYear = 1u << 1,
    kFieldMonth = 1u << 2,
    kFieldDay = 1u << 3,
    kFieldWeekdays = 1u << 4,
    kFieldHour = 1u << 5,
    kFieldMinute = 1u << 6,
    kFieldSecond = 1u << 7,
    kFieldAction = 1u << 8, // 吸合 / 断开
};

// The fields in which two entries differ as the board sees them: mode, time and
// action always; weekdays when either is weekly; the date (two-digit year, as the
// board keeps it) when either is a fixed date. Fields a mode ignores are not
// compared, so an entry with both flags (daily) equals the daily entry read back.
unsigned EntryDifferences(const Clsdata &program, const Clsdata &board);

// Names of the fields in `fields`, in the order above ("方式", "年", ..., "动作").
QStringList EntryFieldNames(unsigned fields);

enum class DifferenceKind {
    OnlyInProgram, // the board's list ends before this entry
    OnlyOnBoard,   // the board's list goes on past the program's
    Changed,       // both have an entry here, and `fields` says where they differ
};

struct EntryDifference {
    int number = 0; // the slot, 1-based
    DifferenceKind kind = DifferenceKind::Changed;
    EntryRef program; // null for OnlyOnBoard
    EntryRef board;   // null for OnlyInProgram
    unsigned fields = 0;
};

enum class ChannelVerdict { Same, Differs, Unread };

struct ChannelComparison {
    int channel = 0;
    ChannelVerdict verdict = ChannelVerdict::Same;
    QList<EntryDifference> differences; // in slot order; empty unless Differs
};

// One channel's lists in order. Blank entries at the end of the board's list
// (empty slots past its end) are not differences.
ChannelComparison CompareChannel(int channel, const QList<EntryRef> &program, const QList<EntryRef> &board);

// The channel could not be read from the board: nothing is known about it.
ChannelComparison UnreadChannel(int channel);

// `channels` compared in the given order; those in `unread` are Unread.
QList<ChannelComparison> CompareBooks(const ScheduleBook &program, const ScheduleBook &board,
                                      const QList<int> &channels, const QList<int> &unread = {});

// True when every comparison is Same.
bool AllSame(const QList<ChannelComparison> &comparisons);
