// What each reply of the board does to lamps, status texts, flags and the book.
#include "device/engine.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace {

struct Decoder {
    explicit Decoder(Variant v = Variant::Standard) : engine(view, link, book, v) {}
    void feed(std::initializer_list<std::pair<int, int>> bytes, uint8_t code, bool seal = true)
    {
        Frame r = FakeBoard::reply(code);
        for (auto [i, v] : bytes)
            r[i] = uint8_t(v);
        if (seal)
            SealFrame(r);
        engine.MSCommDown_OnComm(r);
    }
    FakeLink link;
    RecordingView view;
    ScheduleBook book;
    DeviceEngine engine;
};

const std::initializer_list<std::pair<int, int>> kSunday = {{13, 13}, {14, 4},  {15, 28}, {16, 1},
                                                            {17, 10}, {18, 23}, {19, 38}};

TEST(Decoder, StatusAndClockReplies)
{
    Decoder d;
    d.feed({{0, 0x21}, {4, 0xFF}}, 16); // wrong header: nothing
    EXPECT_EQ(std::pair(d.view.lamps[0], d.engine.RecvBuf[0]), std::pair(0u, 0x21));

    d.feed({{4, 0x05}, {5, 0x80}, {20, 0}, {21, 0}}, 16, false); // wrong check bytes still taken
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(d.view.lamps[k], k == 0 || k == 2 || k == 15 ? kLampGreen : kLampRed) << k;
    EXPECT_EQ(std::pair(d.engine.nLinkCount, d.engine.PendingCommand[16]), std::pair(5, kRelayOn));
    d.feed(kSunday, 16); // the second reply repaints but does not load
    EXPECT_EQ(std::tuple(d.view.lamps[0], d.engine.PendingCommand[1], d.view.activity),
              std::tuple(kLampRed, kRelayOn, QStringLiteral("模块当前时间:2013-04-28 10:23:38 星期0")));

    d.feed({{4, 13}, {5, 4}, {6, 28}, {7, 1}, {8, 10}, {9, 23}, {10, 38}}, 4);
    EXPECT_EQ(d.view.activity, QStringLiteral("模块当前时间:13-04-28 10:23:38"));
    d.engine.bSetTimePending = true;
    d.feed({}, 3);
    EXPECT_EQ(std::pair(d.view.messages, d.engine.bSetTimePending), std::pair(QStringList{"设置成功！"}, false));
    d.feed({}, 1);
    EXPECT_TRUE(d.engine.bWriteAck);

    for (Variant v : {Variant::Standard, Variant::Compat}) {
        Decoder c(v);
        c.feed({{4, 1}}, 19);
        // No clock text for code 19.
        EXPECT_EQ(std::pair(c.view.lamps[0], c.view.activity),
                  std::pair(v == Variant::Compat ? kLampGreen : 0u, QString()));
    }
}

TEST(Decoder, EntryRepliesBecomeEntriesOrAreDropped)
{
    const struct {
        const char *name;
        std::initializer_list<std::pair<int, int>> bytes;
        const char *record; // empty: nothing added
    } cases[] = {
        {"daily pull in", {{11, 8}, {12, 30}}, "11000000000100000000083000"},
        {"mode 3 fixed date", {{6, 3}, {7, 13}, {8, 4}, {9, 28}}, "10000000000120130428000000"},
        {"mode 5 and 255 are fixed date", {{6, 255}, {8, 1}, {9, 1}}, "10000000000120000101000000"},
        {"fixed date 2000-00-00 keeps its year", {{6, 3}, {14, 1}}, "00000000000120000000000000"},
        {"daily without a date has year 0", {{7, 13}}, "11000000000100000000000000"},
        {"weekly mask 0x2A releases", {{6, 2}, {10, 0x2A}, {14, 1}}, "00110101000100000000000000"},
        {"weekly mask 1 is Sunday", {{6, 2}, {10, 1}}, "10100000010100000000000000"},
        {"action 0 pulls in", {{14, 0}}, "11000000000100000000000000"},
        {"channel 0", {{4, 0}}, ""},
        {"channel 200", {{4, 200}}, ""},
        {"number 0", {{5, 0}}, ""},
        {"hour 99", {{11, 99}}, ""},
        {"month 13", {{6, 3}, {8, 13}, {9, 1}}, ""},
        {"year past 2099", {{6, 3}, {7, 100}, {8, 1}, {9, 1}}, ""},
    };
    for (const auto &c : cases) {
        Decoder d;
        std::vector<std::pair<int, int>> bytes = {{4, 1}, {5, 1}, {6, 1}, {14, 2}};
        bytes.insert(bytes.end(), c.bytes);
        Frame r = FakeBoard::reply(2);
        for (auto [i, v] : bytes)
            r[i] = uint8_t(v);
        d.engine.MSCommDown_OnComm(r);
        EXPECT_TRUE(d.engine.bReadReply) << c.name; // every reply counts as an answer
        QStringList got;
        for (const auto &item : d.book.items())
            got << item.entry->GetStr();
        EXPECT_EQ(got, *c.record ? QStringList{QString::fromLatin1(c.record)} : QStringList{}) << c.name;
    }

    Decoder d;
    d.feed({{4, 1}, {5, 1}, {6, 0}}, 2);
    EXPECT_TRUE(d.engine.bReadEnd && d.engine.bReadReply);
    d.feed({{4, 1}, {5, 1}, {6, 1}, {11, 1}}, 2);
    d.feed({{4, 1}, {5, 1}, {6, 1}, {11, 2}}, 2); // the same number again keeps the first
    EXPECT_EQ(ChannelRecords(d.book), QStringList{"key01001=11000000000100000000010000"});
}

} // namespace
