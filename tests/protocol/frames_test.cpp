// Request frames byte for byte.
#include "protocol/frames.h"

#include <gtest/gtest.h>

namespace {

Frame hex(std::initializer_list<int> head, int zeros, std::initializer_list<int> tail)
{
    Frame f{};
    int i = 0;
    for (int b : head)
        f[i++] = uint8_t(b);
    i += zeros;
    for (int b : tail)
        f[i++] = uint8_t(b);
    EXPECT_EQ(i, kFrameSize);
    return f;
}

TEST(Frames, WorkedExamples)
{
    const QDateTime sunday(QDate(2013, 4, 28), QTime(10, 23, 38));
    struct {
        const char *name;
        Frame built;
        Frame expected;
    } cases[] = {
        {"read clock", ReadClockFrame(1), hex({0x66, 0x01, 0x04, 0x00}, 16, {0x6B, 0x63})},
        {"status request at address 0", RelayFrame(0, wire::kStatus, 0, 0, 0), hex({0x66, 0x00, 0x10, 0x00}, 16, {0x76, 0x76})},
        {"read entry 3/5", ReadEntryFrame(1, 3, 5), hex({0x66, 0x01, 0x02, 0x02, 0x03, 0x05}, 14, {0x73, 0x61})},
        {"write weekly entry", WriteEntryFrame(1, 2, 3, 5, u"10110101000320130428073000"),
         hex({0x66, 0x01, 0x01, 0x0B, 0x03, 0x05, 0x02, 0x0D, 0x04, 0x1C, 0x2A, 0x07, 0x1E, 0x00, 0x02, 0, 0, 0, 0, 0, 0xFB,
              0x4D},
             0, {})},
        {"set clock on a Sunday", SetClockFrame(1, sunday),
         hex({0x66, 0x01, 0x03, 0x07, 0x0D, 0x04, 0x1C, 0x01, 0x0A, 0x17, 0x26}, 9, {0xE6, 0x4C})},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.built, c.expected);
    }
}

TEST(Frames, WeekdayMaskYearsAndAction)
{
    struct {
        const char *name;
        const char *record;
        int mask;
        int year;
        int action;
    } cases[] = {
        {"Sunday only", "00100000010100000000000000", 0x01, 0, 1},
        {"Monday only", "00110000000100000000000000", 0x02, 0, 1},
        {"every day", "10111111110100000000000000", 0x7F, 0, 2},
        {"weekly flag off ignores the days", "11011111110100000000000000", 0x00, 0, 2},
        {"year 2000", "00000000000120000101000000", 0x00, 0, 1},
        {"year 2099", "10000000000120991231235959", 0x00, 99, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Frame f = WriteEntryFrame(1, 2, 1, 1, QString::fromLatin1(c.record));
        EXPECT_EQ(f[10], c.mask);
        EXPECT_EQ(f[7], c.year);
        EXPECT_EQ(f[14], c.action);
    }
}

TEST(Frames, DebugTextAndChecks)
{
    const Frame f = ReadEntryFrame(1, 10, 0);
    const QString text = FrameDebugText(f);
    EXPECT_TRUE(text.startsWith(QStringLiteral(" ,66 ,1 ,2 ,2 ,A ,0")));
    EXPECT_EQ(text.count(QStringLiteral(" ,")), 22);

    // Every builder seals: sum and XOR over bytes 0..19.
    for (const Frame &g : {BlankEntryFrame(7, 16, 255), RelayFrame(255, 19, 0, 0xFF, 0x7F), ReadClockFrame(200)}) {
        unsigned sum = 0;
        uint8_t x = 0;
        for (int i = 0; i < 20; ++i) {
            sum += g[i];
            x ^= g[i];
        }
        EXPECT_EQ(g[20], sum % 256);
        EXPECT_EQ(g[21], x);
    }
    EXPECT_EQ(BlankEntryFrame(1, 2, 3)[6], 0);
    EXPECT_EQ(RelayCommandCode(Variant::Standard), 16);
    EXPECT_EQ(RelayCommandCode(Variant::Compat), 19);
}

} // namespace
