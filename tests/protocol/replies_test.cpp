// Reply fields, bit helpers and the 22-byte grouping of the stream.
#include "protocol/replies.h"

#include <gtest/gtest.h>

namespace {

TEST(Replies, BitHelpersAndWeekdays)
{
    EXPECT_EQ(GetBit(0x05, 0), 1);
    EXPECT_EQ(GetBit(0x05, 1), 0);
    EXPECT_EQ(GetBit(0x80, 7), 1);
    EXPECT_EQ(DECtoBIN(5), QStringLiteral("101"));
    EXPECT_EQ(DECtoBIN(0), QStringLiteral("0000000"));
    EXPECT_EQ(DECtoBIN(-3), QStringLiteral("0000000"));

    struct {
        const char *name;
        uint8_t mask;
        const char *week;
    } cases[] = {
        {"Monday Wednesday Friday", 0x2A, "1010100"},
        {"Sunday", 0x01, "0000001"},
        {"none", 0x00, "0000000"},
        {"every day", 0x7F, "1111111"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(WeekMaskFromReply(c.mask), QString::fromLatin1(c.week));
    }
}

TEST(Replies, ClockTexts)
{
    Frame clock{};
    clock[0] = 0x22;
    clock[2] = 4;
    clock[4] = 13, clock[5] = 4, clock[6] = 28, clock[7] = 1, clock[8] = 10, clock[9] = 23, clock[10] = 38;
    EXPECT_EQ(ClockReplyText(clock), QStringLiteral("模块当前时间:13-04-28 10:23:38"));

    Frame status{};
    status[0] = 0x22;
    status[2] = 16;
    status[13] = 13, status[14] = 4, status[15] = 28, status[16] = 1, status[17] = 10, status[18] = 23, status[19] = 38;
    EXPECT_EQ(StatusReplyText(status), QStringLiteral("模块当前时间:2013-04-28 10:23:38 星期0"));
    status[16] = 7;
    EXPECT_TRUE(StatusReplyText(status).endsWith(QStringLiteral("星期6")));
}

TEST(Replies, FramerCutsWholeGroupsInOrder)
{
    ReplyFramer framer;
    QByteArray a(22, 'a'), b(22, 'b');
    framer.feed(a.left(5));
    EXPECT_FALSE(framer.next());
    framer.feed(a.mid(5) + b + QByteArray(3, 'c'));
    auto first = framer.next();
    auto second = framer.next();
    ASSERT_TRUE(first && second);
    EXPECT_EQ((*first)[21], 'a');
    EXPECT_EQ((*second)[0], 'b');
    EXPECT_FALSE(framer.next());
    EXPECT_EQ(framer.pending(), 3);
    framer.clear();
    EXPECT_EQ(framer.pending(), 0);
}

} // namespace
