// The schedule check: mistakes a list hides, found over the whole book.
#pragma once

#include "schedule/schedulebook.h"

#include <QDateTime>
#include <QList>

enum class FindingKind {
    NeverFires,     // a weekly entry with no day ticked, a date or time that does not exist
    DatePast,       // a fixed date before the computer's clock: it never fires again
    OppositeAtOnce, // two entries of one channel fire at the same second with opposite actions
    Duplicate,      // an entry exactly like an earlier one of its channel
    OneWay,         // the relay is pulled in and never released again, or the reverse
    ChannelFull,    // 255 entries: nothing more can be added
    IgnoredFields,  // stored fields the entry's mode does not use (for information only)
};

struct Finding {
    FindingKind kind = FindingKind::NeverFires;
    int channel = 0;
    int number = 0;    // the entry to go to, 1-based in its channel
    QString entryText; // its list text
    QString message;
    bool informational() const { return kind == FindingKind::IgnoredFields; }
    bool operator==(const Finding &) const = default;
};

// Findings by channel, then entry number. `now` is the computer's clock.
QList<Finding> CheckBook(const ScheduleBook &book, const QDateTime &now);
// Findings that are not merely informational.
int ProblemCount(const QList<Finding> &findings);
// "检查发现N处问题"
QString FindingsSummary(int problems);
// The whole result in a line: "检查发现N处问题" or "未发现问题", then "，另有M条提示" for notes.
QString CheckSummary(const QList<Finding> &findings);
// What the findings panel says after the check a write runs: the summary, or
// nothing (the panel hidden) when there are only notes or nothing at all.
QString FindingsPanelText(const QList<Finding> &findings);
