// The frame log: re-sends, silences, gaps, stray bytes, the ring's bound, the filter, the saved lines, the link.
#include "device/framelog.h"
#include "support/fakes.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

constexpr qint64 kBase = 1'796'000'000'000; // a whole second

TEST(FrameLog, TellsTheLinesStoryRowByRow)
{
    qint64 now = kBase;
    FrameLog log([&] { return now; });
    Frame bad = SealedReply(16, {1});
    bad[21] ^= 1;
    const Frame relay = RelayFrame(1, 16, 0, 0x05, 0);
    log.sent(RelayFrame(1, 16, 0, 0, 0));
    now += 48, log.received(SealedReply(16, {0x01}));
    now += 52, log.sent(relay);
    now += 200, log.sent(relay);
    now += 50, log.received(bad);
    now += 150, log.sent(relay);
    now += 150, log.sent(ReadEntryFrame(1, 1, 1));
    log.stray(QByteArray("\x22\x01\x02", 3));
    now += 47, log.received(SealedReply(2, {1, 1}));
    log.sent(ReadEntryFrame(1, 1, 2));
    log.sent(RelayFrame(1, 16, 0, 0, 0));
    const QStringList want = {
        "发送\t状态查询 地址1\t",
        "接收\t应答：吸合 第1路 模块当前时间:2000-00-00 00:00:00 星期-1\t48 ms",
        "发送\t吸合 第3路 (其余保持)\t",
        "发送\t无应答（第1次重发）：吸合 第3路 (其余保持)\t",
        "接收\t校验字节错误：应答：吸合 第1路 模块当前时间:2000-00-00 00:00:00 星期-1\t50 ms",
        "发送\t校验错误，重发（第2次）：吸合 第3路 (其余保持)\t",
        "—\t无应答（共发3次）：吸合 第3路 (其余保持)\t",
        "发送\t读取 第1路第1条\t",
        "接收\t多余字节 3 个，不成帧\t",
        "接收\t应答：第1路第1条 空（该路结束）\t47 ms",
        "发送\t读取 第1路第2条\t",
        "—\t无应答（共发1次）：读取 第1路第2条\t",
        "发送\t状态查询 地址1\t",
    };
    QStringList got;
    for (quint64 s = log.firstSeq(); s < log.endSeq(); ++s)
        got << QStringList{RecordField(log.at(s), 1), RecordField(log.at(s), 3), RecordField(log.at(s), 4)}.join('\t');
    EXPECT_EQ(got, want);
    EXPECT_EQ(RecordField(log.at(1), 0).right(4), ".048");
    // Saved as CSV, the bytes (which hold commas) are quoted.
    EXPECT_TRUE(RecordLine(log.at(8), true).endsWith(",接收,\" ,22 ,1 ,2\",多余字节 3 个，不成帧,"));
}

TEST(FrameLog, RingDropsTheOldestAndClearKeepsNumbering)
{
    FrameLog log({}, 3);
    std::vector<quint64> told;
    log.setListener([&](quint64 seq) { told.push_back(seq); });
    for (uint8_t n = 1; n <= 5; ++n)
        log.received(SealedReply(2, {1, n}));
    EXPECT_EQ(std::tuple(log.firstSeq(), log.endSeq(), log.size(), int(log.at(2).bytes[5]), told.back()),
              std::tuple(2u, 5u, 3, 3, 4u));
    log.clear();
    log.stray(QByteArray(30, 'x')); // more than a frame's worth: two rows
    EXPECT_EQ(std::tuple(log.firstSeq(), log.size(), int(log.at(5).length), int(log.at(6).length)),
              std::tuple(5u, 2, 22, 8));
    log.received(SealedReply(19, {0x04})); // a compat board's states count too
    log.sent(RelayFrame(1, 19, 0, 0x06, 0));
    EXPECT_EQ(RecordWords(log.at(log.endSeq() - 1)).text, "吸合 第2路 (其余保持)");
}

TEST(FrameLog, FilterByDirectionKindAndText)
{
    FrameLog log;
    log.sent(ReadEntryFrame(1, 4, 12));
    log.received(SealedReply(3));
    log.sent(ReadEntryFrame(1, 4, 12)); // a re-send: a fault
    // name, filter, which of the three pass
    const std::tuple<const char *, LogFilter, std::vector<bool>> rows[] = {
        {"sent only", {true, false, KindFilter::All, {}}, {true, false, true}},
        {"received only", {false, true, KindFilter::All, {}}, {false, true, false}},
        {"reads", {true, true, KindFilter::Read, {}}, {true, false, true}},
        {"clock", {true, true, KindFilter::Clock, {}}, {false, true, false}},
        {"faults: another reply leaves the read owed", {true, true, KindFilter::Faults, {}}, {false, false, true}},
        {"words", {true, true, KindFilter::All, "第4路"}, {true, false, true}},
        {"bytes, case ignored", {true, true, KindFilter::All, ",c ,0"}, {true, false, true}},
    };
    for (const auto &[name, filter, passes] : rows) {
        std::vector<bool> got;
        for (quint64 s = 0; s < 3; ++s)
            got.push_back(Passes(log.at(s), filter));
        EXPECT_EQ(got, passes) << name;
    }
}

TEST(FrameLog, LinkLogsWhatGoesOutAndComesIn)
{
    FakeLink inner;
    FrameLog log;
    LoggedLink link(inner, log);
    RecordingListener listener;
    link.setListener(&listener);
    link.write(ToBytes(ReadClockFrame(1))); // the port is closed: nothing went out
    inner.opened = true;
    link.write(ToBytes(ReadClockFrame(1)));
    inner.listener->onFrame(SealedReply(4));
    inner.listener->onStrayBytes("\x22");
    inner.listener->onLinkFailed("gone");
    EXPECT_EQ(std::tuple(log.size(), inner.written.size(), listener.frames.size(), listener.failures),
              std::tuple(3, 2, size_t(1), QStringList{"gone"}));
}

} // namespace
