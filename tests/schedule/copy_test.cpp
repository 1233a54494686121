// Copying a channel's entries to other channels.
#include "schedule/copy.h"

#include "entries.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {
using namespace entries;

// Channel 1: two entries. Channel 3: one. Channel 5: 254, channel 6: 255.
ScheduleBook Sample()
{
    ScheduleBook book = Book({Daily(true, "08:00:00"), Daily(false, "18:00:00")}, 1);
    auto put = [&](int channel, int count) {
        for (int i = 1; i <= count; ++i) {
            EntryRef e = Daily(true, "07:00:00");
            e->nRoute = int16_t(channel);
            e->nNo = int16_t(i);
            book.add(e);
        }
    };
    put(3, 1);
    put(5, 254);
    put(6, 255);
    return book;
}

// "key03001@07:00:00+" for each entry of the channel.
QString Channel(const ScheduleBook &book, int channel)
{
    QStringList out;
    for (const auto &item : book.items())
        if (item.entry->nRoute == channel && item.entry->nNo <= 3)
            out << QStringLiteral("%1@%2%3")
                       .arg(item.key)
                       .arg(QTime(item.entry->nStartHour, item.entry->nStartMin).toString(QStringLiteral("hh:mm")))
                       .arg(item.entry->bIsOpen ? QStringLiteral("+") : QStringLiteral("-"));
    return out.join(u' ');
}

TEST(Copy, PlansAndCopies)
{
    struct Case {
        const char *name;
        QList<int> targets;
        CopyMode mode;
        QString refused, replaced; // ChannelList texts
        int target;
        QString after;
    };
    const Case cases[] = {
        {"replace into an empty channel", {2}, CopyMode::Replace, "", "", 2, "key02001@08:00+ key02002@18:00-"},
        {"replace a channel that holds entries",
         {3},
         CopyMode::Replace,
         "",
         "第3路",
         3,
         "key03001@08:00+ key03002@18:00-"},
        {"append after the target's last entry",
         {3},
         CopyMode::Append,
         "",
         "",
         3,
         "key03001@07:00+ key03002@08:00+ key03003@18:00-"},
        {"append past 255 is refused", {2, 5}, CopyMode::Append, "第5路", "", 2, ""},
        {"replace into a full channel fits", {6}, CopyMode::Replace, "", "第6路", 6, "key06001@08:00+ key06002@18:00-"},
        {"the source itself is no target", {1}, CopyMode::Append, "", "", 1, "key01001@08:00+ key01002@18:00-"},
    };
    for (const Case &c : cases) {
        ScheduleBook book = Sample();
        const CopyPlan plan = PlanCopy(book, 1, c.targets, c.mode);
        EXPECT_EQ(ChannelList(plan.tooFull), c.refused) << c.name;
        EXPECT_EQ(ChannelList(plan.replaced), c.replaced) << c.name;
        const qsizetype before = book.size();
        CopyEntries(book, plan);
        if (plan.refused()) {
            EXPECT_EQ(book.size(), before) << c.name;
        }
        EXPECT_EQ(Channel(book, c.target), c.after) << c.name;
        EXPECT_EQ(Channel(book, 1), QStringLiteral("key01001@08:00+ key01002@18:00-")) << c.name;
    }
}

TEST(Copy, CopiesAreEntriesOfTheirOwn)
{
    ScheduleBook book = Sample();
    CopyEntries(book, PlanCopy(book, 1, {2, 4}, CopyMode::Replace));
    book.channel(2).first()->nStartHour = 9;
    EXPECT_EQ(book.channel(1).first()->nStartHour, 8);
    EXPECT_EQ(book.channel(4).first()->nStartHour, 8);
    EXPECT_EQ(book.channel(4).first()->nRoute, 4);
}

} // namespace
