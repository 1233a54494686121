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

Frame FakeBoard::reply(uint8_t code)
{
    Frame r{};
    r[0] = wire::kReplyHeader;
    r[1] = 1;
    r[2] = code;
    SealFrame(r);
    return r;
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
        return reply(wire::kWriteEntry);
    }
    case wire::kReadEntry: {
        Frame r = reply(wire::kReadEntry);
        const auto slot = slots.find({q[4], q[5]});
        const bool pastEnd = ends.contains(q[4]) && q[5] >= ends[q[4]];
        r[4] = q[4];
        r[5] = uint8_t(q[5] + readNumberShift);
        if (slot != slots.end() && !pastEnd)
            for (int i = 6; i <= 14; ++i)
                r[i] = (*slot)[i];
        SealFrame(r);
        return r;
    }
    case wire::kSetClock:
        return ackClock ? std::optional(reply(wire::kSetClock)) : std::nullopt;
    case wire::kReadClock:
        return reply(wire::kReadClock);
    case wire::kStatus:
    case wire::kStatusCompat: {
        if (q[2] == wire::kStatusCompat || q[4] || q[5]) {
            relays1 = q[4];
            relays2 = q[5];
        }
        Frame r = reply(q[2]);
        r[4] = relays1;
        r[5] = relays2;
        r[13] = 26, r[14] = 12, r[15] = 6, r[16] = 1, r[17] = 21, r[18] = 0, r[19] = 0;
        SealFrame(r);
        return r;
    }
    }
    return std::nullopt;
}
