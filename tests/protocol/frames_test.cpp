// Request frames byte for byte.
#include "protocol/frames.h"
#include "protocol/replies.h"

#include <gtest/gtest.h>

namespace {

Frame bytes(std::initializer_list<int> head, int sum, int xorByte)
{
    Frame f{};
    int i = 0;
    for (int b : head)
        f[i++] = uint8_t(b);
    f[20] = uint8_t(sum);
    f[21] = uint8_t(xorByte);
    return f;
}

TEST(Frames, WorkedExamples)
{
    const QDateTime sunday(QDate(2013, 4, 28), QTime(10, 23, 38));
    const std::pair<Frame, Frame> cases[] = {
        {ReadClockFrame(1), bytes({0x66, 0x01, 0x04}, 0x6B, 0x63)},
        {RelayFrame(0, wire::kStatus, 0, 0, 0), bytes({0x66, 0x00, 0x10}, 0x76, 0x76)},
        {WriteEntryFrame(1, 2, 3, 5, u"10110101000320130428073000"),
         bytes({0x66, 0x01, 0x01, 0x0B, 0x03, 0x05, 0x02, 0x0D, 0x04, 0x1C, 0x2A, 0x07, 0x1E, 0x00, 0x02}, 0xFB, 0x4D)},
        {SetClockFrame(1, sunday),
         bytes({0x66, 0x01, 0x03, 0x07, 0x0D, 0x04, 0x1C, 0x01, 0x0A, 0x17, 0x26}, 0xE6, 0x4C)},
        // Tuesday, Thursday, Saturday and Sunday: the weekday bits the example above leaves clear; a release.
        {WriteEntryFrame(1, 2, 1, 1, u"00101010110100000000000000"),
         bytes({0x66, 0x01, 0x01, 0x0B, 0x01, 0x01, 0x02, 0, 0, 0, 0x55, 0, 0, 0, 0x01}, 0xCD, 0x3B)},
        // Without the weekly flag the days are not sent.
        {WriteEntryFrame(1, 2, 1, 1, u"11011111110100000000000000"),
         bytes({0x66, 0x01, 0x01, 0x0B, 0x01, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x02}, 0x79, 0x6D)},
    };
    for (const auto &[built, expected] : cases)
        EXPECT_EQ(built, expected) << FrameDebugText(expected).toStdString();
    // The decoder's reading of a weekday mask undoes the encoding for every pattern the board sends.
    for (int mask = 0; mask < 128; ++mask)
        EXPECT_EQ(WeekMaskToWire(WeekMaskFromReply(uint8_t(mask))), mask);
}

} // namespace
