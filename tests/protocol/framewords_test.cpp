// Frames in words: every kind of request and reply, and damaged frames.
#include "protocol/framewords.h"
#include "support/frames.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

Frame Damaged(Frame f, int at, uint8_t value)
{
    f[at] = value;
    return f;
}

const QDateTime kMonday(QDate(2026, 12, 7), QTime(10, 0));

TEST(FrameWords, EveryKindBothDirectionsAndDamage)
{
    using D = FrameDirection;
    using K = FrameKind;
    const Frame weekly = WriteEntryFrame(1, 2, 2, 5, u"10110101000000000000180530");
    const Frame status = SealedReply(16, {0x05, 0x80, 0, 0, 0, 0, 0, 0, 0, 26, 12, 7, 2, 18, 5, 30});
    struct Row {
        const char *name;
        Frame frame;
        D direction;
        QString text;
        K kind;
        bool fault;
        std::optional<uint16_t> before = {}; // the relay states known before a relay command
    } rows[] = {
        {"status request", RelayFrame(1, 16, 0, 0, 0), D::Sent, "状态查询 地址1", K::Status, false},
        {"relay command that pulls in and releases", RelayFrame(1, 19, 0, 0x04, 0x80), D::Sent,
         "吸合 第3、16路，断开 第1、2路 (其余保持)", K::Relay, false, 0x0003},
        {"relay command with nothing known before", RelayFrame(1, 16, 0, 0x05, 0), D::Sent,
         "继电器命令：吸合 第1、3路，其余断开", K::Relay, false},
        {"relay command that changes nothing", RelayFrame(1, 19, 0, 0, 0), D::Sent, "继电器命令：不变 (全部保持)",
         K::Relay, false, 0},
        {"weekly write", weekly, D::Sent, "写入 第2路第5条：每星期一三五 18:05:30 吸合", K::Write, false},
        {"daily write", WriteEntryFrame(1, 1, 16, 255, u"00100000000000000000235959"), D::Sent,
         "写入 第16路第255条：每天 23:59:59 断开", K::Write, false},
        {"fixed-date write", WriteEntryFrame(1, 3, 3, 1, u"10000000000000991231000000"), D::Sent,
         "写入 第3路第1条：2099-12-31 00:00:00 吸合", K::Write, false},
        {"clock set", SetClockFrame(1, kMonday), D::Sent, "对时 2026-12-07 10:00:00 星期1", K::Clock, false},
        {"clock read", ReadClockFrame(1), D::Sent, "读时", K::Clock, false},
        {"write acknowledged", SealedReply(1), D::Received, "应答：写入已确认", K::Write, false},
        {"entry reply", SealedReply(2, {2, 5, 2, 0, 0, 0, 0x2A, 18, 5, 30, 2}), D::Received,
         "应答：第2路第5条 每星期一三五 18:05:30 吸合", K::Read, false},
        {"clock reply", SealedReply(4, {13, 4, 28, 1, 10, 23, 38}), D::Received, "应答：模块当前时间:13-04-28 10:23:38",
         K::Clock, false},
        {"status reply", status, D::Received, "应答：吸合 第1、3、16路 模块当前时间:2026-12-07 18:05:30 星期1",
         K::Status, false},
        {"compat relay reply", SealedReply(19, {0xFF, 0xFF}), D::Received, "应答：全部吸合", K::Relay, false},
        {"reply with a request's header", ReadClockFrame(1), D::Received, "帧头错误（66）", K::Other, true},
        {"request with a wrong header", Damaged(ReadClockFrame(1), 0, 0xA5), D::Sent, "帧头错误（A5）", K::Other, true},
        {"unknown reply code", SealedReply(7), D::Received, "未知应答 代码7", K::Other, true},
        {"unknown request code", Damaged(ReadClockFrame(1), 2, 9), D::Sent, "校验字节错误：未知命令 代码9", K::Other,
         true},
    };
    for (const Row &r : rows) {
        const FrameWords w = DescribeFrame(r.frame, r.direction, r.before);
        EXPECT_EQ(std::tuple(w.text, w.kind, w.fault), std::tuple(r.text, r.kind, r.fault)) << r.name;
    }
}

TEST(FrameWords, WhichReplyAnswersWhichRequest)
{
    const Frame read = ReadEntryFrame(1, 4, 12);
    // name, request, reply, whether it answers
    const std::tuple<const char *, Frame, Frame, bool> rows[] = {
        {"another slot", read, SealedReply(2, {4, 11}), false},
        {"another code", read, SealedReply(1), false},
        {"a request echoed", read, read, false},
        {"compat relay command", RelayFrame(1, 19, 0, 1, 0), SealedReply(19), true},
        {"write", BlankEntryFrame(1, 1, 1), SealedReply(1), true},
    };
    for (const auto &[name, request, reply, answers] : rows)
        EXPECT_EQ(Answers(request, reply), answers) << name;

    // A clock set sent again a second later asks the same; a read of another board does not.
    EXPECT_TRUE(SameRequest(SetClockFrame(1, kMonday), SetClockFrame(1, kMonday.addSecs(1))));
    EXPECT_FALSE(SameRequest(ReadEntryFrame(1, 4, 12), ReadEntryFrame(2, 4, 12)));
}

} // namespace
