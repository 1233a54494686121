// The poll-and-transfer engine, tick by tick, against a fake link and board.
#include "device/engine.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kMoment(QDate(2013, 4, 28), QTime(10, 23, 38));
const Frame kPoll = RelayFrame(1, 16, 0, 0, 0);

struct Harness {
    explicit Harness(Variant v = Variant::Standard) : engine(view, link, book, v, [] { return kMoment; })
    {
        link.opened = true;
    }
    // One tick, then the board's answers, as they arrive between two ticks.
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            const auto from = link.written.size();
            engine.Timer2_Timer();
            answer(from);
        }
    }
    void answer(qsizetype from)
    {
        for (const Frame &f : link.written.mid(from))
            if (auto r = board.answer(f))
                engine.MSCommDown_OnComm(*r);
    }
    int runWhile(const bool &flag)
    {
        int ticks = 0;
        for (; flag && ticks < 600; ++ticks)
            tick();
        return ticks;
    }
    void add(int channel, const char *record, int count = 1) { AddEntries(book, channel, record, count); }
    void boardHolds(int channel, int count)
    {
        for (int n = 1; n <= count; ++n)
            board.slots[{channel, n}] =
                WriteEntryFrame(1, 1, uint8_t(channel), uint8_t(n), u"11000000000100000000083000");
    }
    QList<int> codesSince(qsizetype from) const
    {
        QList<int> codes;
        for (const Frame &f : link.written.mid(from))
            codes << f[2];
        return codes;
    }
    FakeLink link;
    RecordingView view;
    ScheduleBook book;
    FakeBoard board;
    DeviceEngine engine;
};

TEST(EngineWrite, OneChannelTakesItsEntriesPlusTwoTicks)
{
    Harness h;
    h.engine.nPage = 3;
    h.add(3, "10110101000320130428073000");
    h.add(3, "11000000000300000000083000");
    h.engine.CmdDown();
    EXPECT_EQ(h.view.progressMax, 3);
    EXPECT_FALSE(h.view.writeEnabled);
    h.tick(3);
    EXPECT_EQ(h.view.activityLog, (QStringList{"正在写入第3路第1条", "正在写入第3路第2条", ""}));
    EXPECT_FALSE(h.view.progressVisible);
    EXPECT_FALSE(h.view.tabsEnabled);
    EXPECT_TRUE(h.view.messages.isEmpty());
    h.tick();
    EXPECT_EQ(h.view.messages, QStringList{"写入成功！"});
    EXPECT_TRUE(h.view.writeEnabled && h.view.tabsEnabled && !h.engine.bWriting);
    EXPECT_EQ(h.link.written, (QList<Frame>{WriteEntryFrame(1, 2, 3, 1, u"10110101000320130428073000"),
                                            WriteEntryFrame(1, 1, 3, 2, u"11000000000300000000083000"),
                                            BlankEntryFrame(1, 3, 3), kPoll}));
}

TEST(EngineWrite, QueuesForAllEmptyAndFullChannels)
{
    Harness h;
    h.add(2, "11000000000200000000083000", 3);
    h.engine.CmdDownAll();
    ASSERT_EQ(h.engine.WriteQueue.size(), 19);
    EXPECT_EQ(h.engine.WriteQueue[1], h.book.channel(2)[0]); // the book's own entry
    for (int i : {0, 4, 18})
        EXPECT_TRUE(IsBlankRecord(h.engine.WriteQueue[i]->GetStr()));
    EXPECT_EQ(h.engine.WriteQueue[4]->nNo, 4);
    EXPECT_EQ(h.engine.WriteQueue[18]->nRoute, 16);

    Harness empty;
    empty.engine.CmdDown();
    empty.tick(2);
    EXPECT_EQ(empty.link.written[0], BlankEntryFrame(1, 1, 1));
    EXPECT_EQ(empty.view.messages, QStringList{"写入成功！"});

    Harness full; // no end entry: number 256 would not fit the frame
    full.add(1, "11000000000100000000083000", kMaxEntriesPerChannel);
    full.engine.CmdDown();
    EXPECT_EQ(full.engine.WriteQueue.size(), 255);
    EXPECT_FALSE(IsBlankRecord(full.engine.WriteQueue.last()->GetStr()));
}

TEST(EngineWrite, SuccessNeedsEveryFrameAcknowledgedDuringTheWrite)
{
    const struct {
        const char *name;
        std::function<bool(int)> ack;
        const char *verdict;
    } cases[] = {
        {"all acknowledged", [](int) { return true; }, "写入成功！"},
        {"silent board", [](int) { return false; }, "写入失败！"},
        {"only the first", [](int i) { return i == 0; }, "写入失败！"},
        {"all but the last", [](int i) { return i < 3; }, "写入失败！"},
    };
    for (const auto &c : cases) {
        Harness h;
        h.board.ackWrite = c.ack;
        h.add(1, "11000000000100000000083000", 3);
        h.engine.CmdDown();
        h.tick(5);
        EXPECT_EQ(h.view.messages, QStringList{QString::fromUtf8(c.verdict)}) << c.name;
    }
    Harness late; // an acknowledgement from before the write does not count
    late.board.silent = true;
    late.engine.MSCommDown_OnComm(FakeBoard::reply(1));
    late.engine.CmdDown();
    late.tick(2);
    EXPECT_EQ(late.view.messages, QStringList{"写入失败！"});
}

TEST(EngineRead, OneChannelEndsOnEmptySlotMissingReplyOrEntry255)
{
    Harness h;
    h.engine.nPage = 4;
    h.boardHolds(4, 150);
    h.add(4, "11000000000400000000120000");
    h.add(5, "11000000000500000000120000");
    h.engine.CmdUpload();
    EXPECT_EQ(h.view.questions, QStringList{"此操作将清除软件显示当前路信息，继续否？"});
    EXPECT_EQ(h.view.progressMax, 255);
    EXPECT_EQ(h.runWhile(h.engine.bReading), 152); // 151 requests, then the ending
    EXPECT_EQ(h.view.messages, QStringList{"读取成功！"});
    EXPECT_EQ(h.book.countOf(4), 150);
    EXPECT_EQ(h.book.countOf(5), 1);
    EXPECT_EQ(h.view.shownChannel, 4);

    Harness silent;
    silent.board.silent = true;
    silent.engine.CmdUpload();
    silent.tick(2);
    EXPECT_EQ(silent.link.written.size(), 1); // the failing tick sends nothing
    EXPECT_EQ(silent.view.messages, QStringList{"读取失败！"});

    Harness full;
    full.boardHolds(1, 255);
    full.engine.CmdUpload();
    EXPECT_EQ(full.runWhile(full.engine.bReading), 256);
    EXPECT_EQ(full.book.countOf(1), 255);
    EXPECT_EQ(full.view.messages, QStringList{"读取成功！"});
}

TEST(EngineRead, AllChannelsAdvanceWithAnExtraTickAndEndOnChannelOne)
{
    Harness h;
    h.boardHolds(1, 1);
    h.boardHolds(3, 2);
    h.add(9, "11000000000900000000083000");
    h.engine.nPage = 6;
    h.engine.CmdUpLoadAll();
    EXPECT_EQ(h.engine.nPage, 1);
    EXPECT_TRUE(h.book.isEmpty());
    // A request per entry and per empty slot, an advance after channels 1..15, the ending.
    EXPECT_EQ(h.runWhile(h.engine.bReadingAll), 3 + 16 + 15 + 1);
    EXPECT_EQ(h.view.messages, QStringList{"读取成功！"});
    EXPECT_EQ(h.book.size(), 3);
    EXPECT_EQ(h.view.shownChannel, 1);

    Harness fail;
    fail.boardHolds(1, 1);
    fail.engine.nPage = 6;
    fail.engine.CmdUpLoadAll();
    fail.tick(4);
    fail.board.silent = true;
    fail.tick(3);
    EXPECT_EQ(fail.view.messages, QStringList{"读取失败！"});
    EXPECT_EQ(fail.engine.nPage, 1);
    EXPECT_EQ(fail.view.shownChannel, 1);
    EXPECT_EQ(fail.book.size(), 1);
}

TEST(EngineWatchdog, SixthSilentTickGreysTheLamps)
{
    Harness h;
    h.tick(3);
    h.board.silent = true;
    h.tick(5);
    EXPECT_EQ(h.view.lamps[0], kLampRed);
    h.tick();
    EXPECT_EQ(h.view.lamps[0], kLampGrey);
    EXPECT_TRUE(h.engine.bSyncRelay);
}

TEST(EngineClock, SetRepeatsUntilAcknowledgedAndReadGoesOutAtOnce)
{
    Harness h;
    h.board.ackClock = false;
    h.engine.CmdSetTime();
    h.tick(4);
    EXPECT_EQ(h.codesSince(0), (QList<int>{3, 3, 3, 3}));
    EXPECT_EQ(h.link.written.last(), SetClockFrame(1, kMoment));
    h.board.ackClock = true;
    h.tick();
    h.engine.MSCommDown_OnComm(FakeBoard::reply(3)); // a second acknowledgement is no second success
    EXPECT_EQ(h.view.messages, QStringList{"设置成功！"});

    Harness w;
    w.add(1, "11000000000100000000083000", 2);
    w.engine.CmdDown();
    w.tick();
    w.engine.CmdReadTime();
    w.answer(1);
    EXPECT_EQ(w.view.activity, QStringLiteral("模块当前时间:00-00-00 00:00:00"));
    EXPECT_EQ(w.view.clockClears, 1);
    w.tick();
    EXPECT_EQ(w.codesSince(0), (QList<int>{1, 4, 1}));
}

TEST(EngineManual, FramesCarryCommandedStatesAndTheBoardsOwn)
{
    Harness h;
    h.board.relays1 = 0x01; // channels 1 and 9 on
    h.board.relays2 = 0x01;
    h.tick(3);
    const auto command = [&](int page, void (DeviceEngine::*cmd)(), int waitTicks = 1) {
        h.engine.nPage = int16_t(page);
        (h.engine.*cmd)();
        h.tick(waitTicks);
        return h.link.written.last();
    };
    h.engine.nPage = 4;
    h.engine.CmdIn(); // several clicks before a tick: one frame, last state wins
    h.engine.CmdOut();
    EXPECT_EQ(command(3, &DeviceEngine::CmdIn), RelayFrame(1, 16, 0, 0x05, 0x01));
    h.tick();
    EXPECT_EQ(command(2, &DeviceEngine::CmdOut), RelayFrame(1, 16, 0, 0x05, 0x01)); // already off: still sent
    h.engine.CmdOpenAll();
    // The next command waits for two agreeing replies on what the last one did.
    EXPECT_EQ(command(16, &DeviceEngine::CmdOut), kPoll);
    h.tick();
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0xFF, 0x7F));
    h.engine.CmdCloseAll(); // goes to the board by itself while the link is open
    h.tick(2);
    EXPECT_FALSE(h.engine.bManualPending);

    Harness compat(Variant::Compat);
    compat.tick(3);
    compat.engine.CmdIn();
    compat.tick();
    EXPECT_EQ(compat.link.written.last(), RelayFrame(1, 19, 0, 0x01, 0));
}

TEST(EngineManual, CommandDuringAWriteGoesOnTheEndingTick)
{
    Harness h;
    h.tick(3);
    h.add(1, "11000000000100000000083000");
    h.engine.CmdDown();
    h.engine.nPage = 2;
    h.engine.CmdIn();
    h.tick(2);
    EXPECT_EQ(h.codesSince(3), (QList<int>{1, 1}));
    h.tick();
    EXPECT_EQ(h.view.messages, QStringList{"写入成功！"});
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0x02, 0));
}

TEST(EngineManual, NoRelaySwitchesThatNobodyCommanded)
{
    // Link lost: states are reloaded, not reset to off; a command given meanwhile waits.
    Harness h;
    h.board.relays1 = 0x81;
    h.board.relays2 = 0x10;
    h.tick(3);
    h.board.silent = true;
    h.tick(6);
    EXPECT_EQ(h.engine.PendingCommand[1], kRelayOn);
    h.board.relays1 = 0x03; // the board's schedules moved on meanwhile
    h.engine.nPage = 5;
    h.engine.CmdIn();
    h.tick();
    EXPECT_EQ(h.link.written.last(), kPoll);
    h.board.silent = false;
    h.tick(3);
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0x13, 0x10));

    // A damaged status reply from a board that fills its check bytes is not believed.
    Harness d;
    d.board.relays1 = 0x01;
    d.tick(3);
    Frame damaged = *d.board.answer(kPoll);
    damaged[4] = 0xFF;
    d.engine.MSCommDown_OnComm(damaged);
    EXPECT_EQ(d.engine.counters().repliesRejected, 1);
    d.engine.nPage = 3;
    d.engine.CmdIn();
    d.tick();
    EXPECT_EQ(d.link.written.last(), RelayFrame(1, 16, 0, 0x05, 0));

    // One reply that disagrees with those around it holds a command back.
    Harness o;
    o.tick(3);
    Frame odd = FakeBoard::reply(16);
    odd[4] = 0x80;
    SealFrame(odd);
    o.engine.MSCommDown_OnComm(odd);
    o.engine.CmdIn();
    o.tick(2);
    EXPECT_EQ(o.link.written.last(), kPoll);
    o.tick();
    EXPECT_EQ(o.link.written.last(), RelayFrame(1, 16, 0, 0x01, 0));

    // With the link closed, all-on only changes the commanded states: nothing fires on opening.
    Harness closed;
    closed.link.opened = false;
    closed.engine.CmdOpenAll();
    closed.link.opened = true;
    closed.tick(4);
    EXPECT_EQ(closed.codesSince(0), (QList<int>{16, 16, 16, 16}));
    EXPECT_EQ(closed.board.relays1, 0);
}

TEST(EngineModal, TickDuringAClosingBoxNeitherEndsTwiceNorInterleaves)
{
    Harness h;
    h.add(1, "11000000000100000000083000");
    h.engine.CmdDown();
    qsizetype sentAtBox = -1;
    h.view.onMessage = [&](const QString &) {
        sentAtBox = h.link.written.size();
        h.tick(); // the box's own event loop lets the timer fire
    };
    h.tick(3);
    EXPECT_EQ(h.view.messages, QStringList{"写入成功！"});
    EXPECT_EQ(h.link.written[sentAtBox - 1], kPoll); // the ending tick had finished first
}

TEST(EngineFrames, BuildersShowDebugTextAndWriteOnlyWhenOpen)
{
    Harness h;
    h.engine.tx_frame220(1, 1, 2, 3, QStringLiteral("x"));
    h.engine.tx_frame220(1, 7, 2, 3, QStringLiteral("11000000000100000000083000"));
    EXPECT_EQ(h.link.written[0], h.link.written[1]);
    EXPECT_EQ(h.link.discards, 2);
    h.link.opened = false;
    h.engine.ReadTime(1);
    EXPECT_EQ(h.link.written.size(), 2);
    EXPECT_EQ(h.view.debug, FrameDebugText(ReadClockFrame(1)));
}

} // namespace
