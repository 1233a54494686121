// What each reply of the board does to lamps, status texts, flags and the book.
#include "device/engine.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace {

struct Decoder {
    explicit Decoder(Variant v = Variant::Standard) : engine(view, link, book, v) {}
    FakeLink link;
    RecordingView view;
    ScheduleBook book;
    DeviceEngine engine;
};

Frame status(uint8_t m1, uint8_t m2, uint8_t code = 16)
{
    Frame r = FakeBoard::reply(code);
    r[4] = m1;
    r[5] = m2;
    r[13] = 13, r[14] = 4, r[15] = 28, r[16] = 1, r[17] = 10, r[18] = 23, r[19] = 38;
    SealFrame(r);
    return r;
}

Frame entryReply(std::initializer_list<std::pair<int, int>> bytes)
{
    Frame r = FakeBoard::reply(2);
    r[4] = 1, r[5] = 1, r[6] = 1, r[14] = 2;
    for (auto [i, v] : bytes)
        r[i] = uint8_t(v);
    return r;
}

TEST(Decoder, StatusRepliesPaintLampsAndLoadStatesOnce)
{
    Decoder d;
    Frame wrongHeader = status(0xFF, 0xFF);
    wrongHeader[0] = 0x21;
    d.engine.MSCommDown_OnComm(wrongHeader);
    EXPECT_EQ(d.view.lamps[0], 0u);
    EXPECT_EQ(d.engine.nLinkCount, 0);
    EXPECT_EQ(d.engine.RecvBuf[0], 0x21);  // kept as the last bytes received

    Frame badChecks = status(0x05, 0x80);
    badChecks[20] ^= 0xFF;
    badChecks[21] ^= 0x55;
    d.engine.MSCommDown_OnComm(badChecks);
    for (int k = 0; k < 16; ++k) {
        const bool on = k == 0 || k == 2 || k == 15;
        EXPECT_EQ(d.view.lamps[k], on ? kLampGreen : kLampRed) << k;
    }
    EXPECT_EQ(d.engine.nLinkCount, 5);
    EXPECT_EQ(d.view.activity, QStringLiteral("模块当前时间:2013-04-28 10:23:38 星期0"));
    EXPECT_FALSE(d.engine.bSyncRelay);
    EXPECT_EQ(d.engine.PendingCommand[1], kRelayOn);
    EXPECT_EQ(d.engine.PendingCommand[16], kRelayOn);
    EXPECT_EQ(d.engine.PendingCommand[2], kRelayOff);

    d.engine.MSCommDown_OnComm(status(0x00, 0x00));
    EXPECT_EQ(d.view.lamps[0], kLampRed);
    EXPECT_EQ(d.engine.PendingCommand[1], kRelayOn);  // only the first reply loads
}

TEST(Decoder, CodeNineteenOnlyInTheCompatibilityVariant)
{
    for (Variant v : {Variant::Standard, Variant::Compat}) {
        Decoder d(v);
        d.view.activity = QStringLiteral("before");
        d.engine.MSCommDown_OnComm(status(0x01, 0x00, 19));
        const bool compat = v == Variant::Compat;
        EXPECT_EQ(d.view.lamps[0], compat ? kLampGreen : 0u);
        EXPECT_EQ(d.engine.nLinkCount, compat ? 5 : 0);
        EXPECT_EQ(d.view.activity, QStringLiteral("before"));  // no clock text for 19
    }
}

TEST(Decoder, ClockAckAndWriteAck)
{
    Decoder d;
    Frame clock = FakeBoard::reply(4);
    clock[4] = 13, clock[5] = 4, clock[6] = 28, clock[8] = 10, clock[9] = 23, clock[10] = 38;
    d.engine.MSCommDown_OnComm(clock);
    EXPECT_EQ(d.view.activity, QStringLiteral("模块当前时间:13-04-28 10:23:38"));

    d.engine.bSetTimePending = true;
    d.engine.MSCommDown_OnComm(FakeBoard::reply(3));
    EXPECT_FALSE(d.engine.bSetTimePending);
    EXPECT_EQ(d.view.messages, QStringList{"设置成功！"});

    d.engine.MSCommDown_OnComm(FakeBoard::reply(1));
    EXPECT_TRUE(d.engine.bWriteAck);
}

TEST(Decoder, EntryRepliesBecomeEntries)
{
    struct {
        const char *name;
        std::initializer_list<std::pair<int, int>> bytes;
        const char *record;  // empty: nothing added
    } cases[] = {
        {"daily pull in", {{11, 8}, {12, 30}}, "11000000000100000000083000"},
        {"mode 3 fixed date", {{6, 3}, {7, 13}, {8, 4}, {9, 28}, {11, 6}}, "10000000000120130428060000"},
        {"mode 5 is fixed date", {{6, 5}, {7, 13}, {8, 4}, {9, 28}}, "10000000000120130428000000"},
        {"mode 255 is fixed date", {{6, 255}, {8, 1}, {9, 1}}, "10000000000120000101000000"},
        {"weekly Mon Wed Fri", {{6, 2}, {10, 0x2A}, {14, 1}}, "00110101000100000000000000"},
        {"weekly Sunday", {{6, 2}, {10, 1}}, "10100000010100000000000000"},
        {"action 0 pulls in", {{14, 0}}, "11000000000100000000000000"},
        {"action 1 releases", {{14, 1}}, "01000000000100000000000000"},
        {"channel 0 dropped", {{4, 0}}, ""},
        {"channel 200 dropped", {{4, 200}}, ""},
        {"number 0 dropped", {{5, 0}}, ""},
        {"hour 99 dropped", {{11, 99}}, ""},
        {"minute 60 dropped", {{12, 60}}, ""},
        {"month 13 dropped", {{6, 3}, {8, 13}, {9, 1}}, ""},
        {"day 32 dropped", {{6, 3}, {8, 1}, {9, 32}}, ""},
        {"year past 2099 dropped", {{6, 3}, {7, 100}, {8, 1}, {9, 1}}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Decoder d;
        d.engine.MSCommDown_OnComm(entryReply(c.bytes));
        EXPECT_TRUE(d.engine.bReadReply);  // every reply counts as an answer
        EXPECT_FALSE(d.engine.bReadEnd);
        if (*c.record) {
            ASSERT_EQ(d.book.size(), 1);
            EXPECT_EQ(d.book.items()[0].entry->GetStr(), QString::fromLatin1(c.record));
        } else {
            EXPECT_EQ(d.book.size(), 0);
            EXPECT_EQ(d.engine.counters().entriesDropped, 1);
        }
    }

    Decoder d;
    d.engine.MSCommDown_OnComm(entryReply({{6, 0}}));
    EXPECT_TRUE(d.engine.bReadEnd);
    EXPECT_TRUE(d.engine.bReadReply);
    EXPECT_EQ(d.book.size(), 0);

    // A number already in the book keeps the old entry.
    d.engine.MSCommDown_OnComm(entryReply({{11, 1}}));
    d.engine.MSCommDown_OnComm(entryReply({{11, 2}}));
    ASSERT_EQ(d.book.size(), 1);
    EXPECT_EQ(d.book.find(QStringLiteral("key01001"))->nStartHour, 1);
}

} // namespace
