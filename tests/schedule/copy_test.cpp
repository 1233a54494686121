// Copying a channel's entries to other channels.
#include "schedule/copy.h"

#include "entries.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {
using namespace entries;

// Channel 1: two entries. Channel 3: one. Channel 5: 253, channel 6: 255.
ScheduleBook Sample()
{
    ScheduleBook book = Book({Daily(true, "08:00:00"), Daily(false, "18:00:00")}, 1);
    for (auto [channel, count] : {std::pair{3, 1}, {5, 253}, {6, 255}})
        for (int i = 1; i <= count; ++i) {
            EntryRef e = Daily(true, "07:00:00");
            e->nRoute = int16_t(channel), e->nNo = int16_t(i);
            book.add(e);
        }
    return book;
}

// "03001@07:00+" for each of the channel's first three entries, by its key.
QString Channel(const ScheduleBook &book, int channel)
{
    QStringList out;
    for (const auto &item : book.items())
        if (item.entry->nRoute == channel && item.entry->nNo <= 3)
            out << QStringLiteral("%1@%2%3")
                       .arg(item.key.mid(3))
                       .arg(QTime(item.entry->nStartHour, item.entry->nStartMin).toString(QStringLiteral("hh:mm")))
                       .arg(QChar(item.entry->bIsOpen ? u'+' : u'-'));
    return out.join(u' ');
}

TEST(Copy, PlansAndCopies)
{
    // name, targets (the first is looked at afterwards), mode, refused and replaced (ChannelList texts), the first
    // after
    using Case = std::tuple<const char *, QList<int>, CopyMode, QString, QString, QString>;
    const auto R = CopyMode::Replace, A = CopyMode::Append;
    const Case cases[] = {
        {"replace into empty channels, each its own copies", {2, 4}, R, "", "", "02001@08:00+ 02002@18:00-"},
        {"replace a channel that holds entries", {3}, R, "", "第3路", "03001@08:00+ 03002@18:00-"},
        {"append after the target's last entry", {3}, A, "", "", "03001@07:00+ 03002@08:00+ 03003@18:00-"},
        {"append past 255 is refused", {2, 6}, A, "第6路", "", ""},
        {"append up to exactly 255 fits", {5}, A, "", "", "05001@07:00+ 05002@07:00+ 05003@07:00+"},
        {"replace into a full channel fits", {6}, R, "", "第6路", "06001@08:00+ 06002@18:00-"},
        {"the source itself is no target", {1}, A, "", "", "01001@08:00+ 01002@18:00-"},
    };
    for (const auto &[name, targets, mode, refused, replaced, after] : cases) {
        SCOPED_TRACE(name);
        ScheduleBook book = Sample();
        const CopyPlan plan = PlanCopy(book, 1, targets, mode);
        EXPECT_EQ(std::pair(ChannelList(plan.tooFull), ChannelList(plan.replaced)), std::pair(refused, replaced));
        EXPECT_EQ(CopyEntries(book, plan), plan.refused() ? 0 : 2 * plan.targets.size()); // the source's two
        EXPECT_EQ(Channel(book, targets.first()), after);
        EXPECT_EQ(Channel(book, 1), QStringLiteral("01001@08:00+ 01002@18:00-"));
    }
}

} // namespace
