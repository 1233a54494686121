#include "support/fakes.h"

void AddEntries(ScheduleBook &book, int channel, const char *record, int count)
{
    for (int i = 0; i < count; ++i) {
        auto e = std::make_shared<Clsdata>(*StrToData(QString::fromLatin1(record)));
        e->nRoute = int16_t(channel);
        e->nNo = int16_t(book.countOf(channel) + 1);
        book.add(e);
    }
}

QStringList ChannelRecords(const ScheduleBook &book)
{
    QStringList out;
    for (int c = 1; c <= kChannelCount; ++c)
        for (const EntryRef &e : book.channel(c))
            out << EntryKey(c, e->nNo) + QLatin1Char('=') + e->GetStr();
    return out;
}

std::optional<Frame> FakeBoard::answer(const Frame &q)
{
    std::optional<Frame> r = answerSealed(q);
    if (r && unsealedCodes.contains((*r)[2]))
        (*r)[20] = (*r)[21] = 0;
    return r;
}

std::optional<Frame> FakeBoard::answerSealed(const Frame &q)
{
    if (silent || q[0] != wire::kRequestHeader || deaf(q))
        return std::nullopt;
    switch (q[2]) {
    case wire::kWriteEntry: {
        const int index = writes++;
        if (q[6] == 0)
            ends[q[4]] = q[5];
        else
            slots[{q[4], q[5]}] = q;
        if (!ackWrite(index))
            return std::nullopt;
        return SealedReply(wire::kWriteEntry);
    }
    case wire::kReadEntry: {
        Frame r{wire::kReplyHeader, 1, wire::kReadEntry, 0, q[4], uint8_t(q[5] + readNumberShift)};
        const auto slot = slots.find({q[4], q[5]});
        const bool pastEnd = ends.contains(q[4]) && q[5] >= ends[q[4]];
        if (slot != slots.end() && !pastEnd)
            for (int i = 6; i <= 14; ++i)
                r[i] = (*slot)[i];
        SealFrame(r);
        return r;
    }
    case wire::kSetClock:
        return ackClock ? std::optional(SealedReply(wire::kSetClock)) : std::nullopt;
    case wire::kReadClock:
        return SealedReply(wire::kReadClock);
    case wire::kStatus:
    case wire::kStatusCompat: {
        if (q[2] == wire::kStatusCompat || q[4] || q[5]) {
            relays1 = q[4];
            relays2 = q[5];
        }
        return SealedReply(q[2], {relays1, relays2, 0, 0, 0, 0, 0, 0, 0, 26, 12, 6, 1, 21, 0, 0});
    }
    }
    return std::nullopt;
}
