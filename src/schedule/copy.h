// Copying one channel's entries to other channels.
#pragma once

#include "schedule/schedulebook.h"

#include <QList>

enum class CopyMode { Replace, Append };

struct CopyPlan {
    int source = 0;
    QList<int> targets; // 1..16, without the source, ascending, no repeats
    CopyMode mode = CopyMode::Replace;
    QList<int> tooFull;  // targets that would pass 255 entries: the copy is refused
    QList<int> replaced; // targets whose entries a replace deletes (they hold some)
    bool refused() const { return !tooFull.isEmpty(); }
};

// What copying would do; changes nothing.
CopyPlan PlanCopy(const ScheduleBook &book, int source, const QList<int> &targets, CopyMode mode);

// Carries out a plan that is not refused: each target gets copies of the
// source's entries (new objects) with its own channel, numbered after the
// target's last entry (after none, for a replace) and keyed to match. Returns
// the number of entries added; 0 for a refused plan.
int CopyEntries(ScheduleBook &book, const CopyPlan &plan);

// "第3路、第5路"
QString ChannelList(const QList<int> &channels);
