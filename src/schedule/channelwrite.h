// What goes to the board to make one channel hold a list of entries: the whole list and its end
// mark, or, when what the board holds is known, only the entries that differ.
#pragma once

#include "schedule/clsdata.h"

#include <QList>

#include <optional>

// The frames, in order, that leave channel `channel` holding `wanted` (entries 1..n in order).
// Without `held` (what the board holds is not known): every entry, then the blank end mark as
// entry n+1. With `held`: only the entries whose frame would differ, and the end mark only when
// the length changed. A full channel (255 entries) has no end mark: number 256 fits no frame.
QList<EntryRef> ChannelWrite(int channel, const QList<EntryRef> &wanted,
                             const std::optional<QList<EntryRef>> &held = std::nullopt);
