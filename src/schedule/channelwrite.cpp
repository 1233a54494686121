#include "schedule/channelwrite.h"

namespace {

// Two entries go out as the same frame: same mode, same record.
bool SameFrame(const Clsdata &a, const Clsdata &b)
{
    return a.mode() == b.mode() && a.GetStr() == b.GetStr();
}

} // namespace

QList<EntryRef> ChannelWrite(int channel, const QList<EntryRef> &wanted, const std::optional<QList<EntryRef>> &held)
{
    QList<EntryRef> frames;
    for (qsizetype i = 0; i < wanted.size(); ++i)
        if (!held || i >= held->size() || !SameFrame(*wanted[i], *(*held)[i]))
            frames << wanted[i];
    if (wanted.size() < kMaxEntriesPerChannel && (!held || held->size() != wanted.size())) {
        auto blank = std::make_shared<Clsdata>();
        blank->nRoute = int16_t(channel);
        blank->nNo = int16_t(wanted.size() + 1);
        frames << blank;
    }
    return frames;
}
