// Reply fields, bit helpers and the 22-byte grouping of the stream.
#include "protocol/replies.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

TEST(Replies, BitHelpersAndWeekdays)
{
    EXPECT_EQ(std::tuple(GetBit(0x05, 0), GetBit(0x05, 1), GetBit(0x80, 7)), std::tuple(1, 0, 1));
    EXPECT_EQ(QStringList({DECtoBIN(5), DECtoBIN(0), DECtoBIN(-3)}), QStringList({"101", "0000000", "0000000"}));

    // The decoder's reading of a mask undoes the encoding for every pattern the board sends.
    for (int mask = 0; mask < 128; ++mask)
        EXPECT_EQ(WeekMaskToWire(WeekMaskFromReply(uint8_t(mask))), mask);
    EXPECT_EQ(WeekMaskFromReply(0x2A), QStringLiteral("1010100"));
}

TEST(Replies, FramerCutsWholeGroupsInOrder)
{
    ReplyFramer framer;
    QByteArray a(22, 'a'), b(22, 'b');
    framer.feed(a.left(5));
    EXPECT_FALSE(framer.next());
    framer.feed(a.mid(5) + b + QByteArray(3, 'c'));
    auto first = framer.next(), second = framer.next();
    ASSERT_TRUE(first && second);
    EXPECT_TRUE((*first)[21] == 'a' && (*second)[0] == 'b' && !framer.next());
    EXPECT_EQ(framer.pending(), 3);
    framer.clear();
    EXPECT_EQ(framer.pending(), 0);
}

} // namespace
