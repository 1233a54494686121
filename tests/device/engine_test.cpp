// The poll-and-transfer engine, tick by tick, against a fake link and board.
#include "device/engine.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kMoment(QDate(2013, 4, 28), QTime(10, 23, 38));

struct Harness {
    explicit Harness(Variant v = Variant::Standard) : engine(view, link, book, v, [] { return kMoment; })
    {
        link.opened = true;
    }

    // One tick, then the board's answers to what it sent, as between two real ticks.
    void tick()
    {
        const auto before = link.written.size();
        engine.Timer2_Timer();
        deliverFrom(before);
    }
    void deliverFrom(qsizetype from)
    {
        const QList<Frame> sent = link.written.mid(from);
        for (const Frame &f : sent)
            if (auto r = board.answer(f))
                engine.MSCommDown_OnComm(*r);
    }
    // Ticks until the engine settles into polling, answering the status requests.
    void settle()
    {
        for (int i = 0; i < 3; ++i)
            tick();
    }
    EntryRef add(int channel, const char *record)
    {
        auto e = std::make_shared<Clsdata>(*StrToData(QString::fromLatin1(record)));
        e->nRoute = int16_t(channel);
        e->nNo = int16_t(book.countOf(channel) + 1);
        book.add(e);
        return e;
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

TEST(EngineWrite, OneChannelTakesEntriesPlusTwoTicksWithExactFramesAndTexts)
{
    Harness h;
    h.engine.nPage = 3;
    h.add(3, "10110101000320130428073000");
    h.add(3, "11000000000300000000083000");
    h.add(3, "00000000000320200101000001");
    h.engine.CmdDown();
    EXPECT_EQ(h.engine.WriteQueue.size(), 4);
    EXPECT_TRUE(h.view.progressVisible);
    EXPECT_EQ(h.view.progressMax, 4);
    EXPECT_FALSE(h.view.writeEnabled);

    const auto start = h.link.written.size();
    QStringList texts;
    for (int i = 0; i < 3; ++i) {
        h.tick();
        texts << h.view.activity;
        EXPECT_EQ(h.view.progressValue, i + 1);
        EXPECT_FALSE(h.view.tabsEnabled);
    }
    EXPECT_EQ(texts, (QStringList{"正在写入第3路第1条", "正在写入第3路第2条", "正在写入第3路第3条"}));
    h.tick();  // the blank end entry
    EXPECT_EQ(h.view.activity, QString());
    EXPECT_FALSE(h.view.progressVisible);
    EXPECT_TRUE(h.view.messages.isEmpty());
    h.tick();  // the ending
    EXPECT_EQ(h.view.messages, QStringList{"写入成功！"});
    EXPECT_TRUE(h.view.writeEnabled);
    EXPECT_TRUE(h.view.tabsEnabled);
    EXPECT_FALSE(h.engine.bWriting);

    const QList<Frame> sent = h.link.written.mid(start);
    ASSERT_EQ(sent.size(), 5);  // four write frames, then the ending tick polls
    EXPECT_EQ(sent[0], WriteEntryFrame(1, 2, 3, 1, u"10110101000320130428073000"));
    EXPECT_EQ(sent[1][6], 1);  // daily
    EXPECT_EQ(sent[2][6], 3);  // fixed date
    EXPECT_EQ(sent[3], BlankEntryFrame(1, 3, 4));
    EXPECT_EQ(sent[4], RelayFrame(1, 16, 0, 0, 0));
}

TEST(EngineWrite, QueuesForAllChannelsEmptyChannelsAndFullChannels)
{
    Harness h;
    for (int i = 0; i < 3; ++i)
        h.add(2, "11000000000200000000083000");
    h.engine.CmdDownAll();
    ASSERT_EQ(h.engine.WriteQueue.size(), 19);
    EXPECT_EQ(h.engine.nWriteTotal, 19);
    EXPECT_EQ(h.engine.WriteQueue[0]->nRoute, 1);
    EXPECT_EQ(h.engine.WriteQueue[0]->nNo, 1);
    EXPECT_EQ(h.engine.WriteQueue[4]->nRoute, 2);
    EXPECT_EQ(h.engine.WriteQueue[4]->nNo, 4);
    EXPECT_TRUE(IsBlankRecord(h.engine.WriteQueue[4]->GetStr()));
    EXPECT_EQ(h.engine.WriteQueue[1], h.book.channel(2)[0]);  // the book's own entry

    Harness empty;
    empty.engine.nPage = 7;
    empty.engine.CmdDown();
    ASSERT_EQ(empty.engine.WriteQueue.size(), 1);
    EXPECT_EQ(empty.view.progressMax, 1);
    const auto from = empty.link.written.size();
    empty.tick();
    EXPECT_EQ(empty.link.written[from], BlankEntryFrame(1, 7, 1));
    empty.tick();
    EXPECT_EQ(empty.view.messages, QStringList{"写入成功！"});

    // A full channel goes without its end entry: number 256 does not fit the frame.
    Harness full;
    for (int i = 0; i < kMaxEntriesPerChannel; ++i)
        full.add(1, "11000000000100000000083000");
    full.engine.CmdDown();
    EXPECT_EQ(full.engine.WriteQueue.size(), 255);
    EXPECT_FALSE(IsBlankRecord(full.engine.WriteQueue.last()->GetStr()));
}

TEST(EngineWrite, SuccessNeedsEveryFrameAcknowledged)
{
    struct {
        const char *name;
        std::function<bool(int)> ack;
        bool silent;
        const char *verdict;
    } cases[] = {
        {"all acknowledged", [](int) { return true; }, false, "写入成功！"},
        {"silent board", [](int) { return false; }, true, "写入失败！"},
        {"only the first acknowledged", [](int i) { return i == 0; }, false, "写入失败！"},
        {"all but the last acknowledged", [](int i) { return i < 3; }, false, "写入失败！"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.board.ackWrite = c.ack;
        h.board.silent = c.silent;
        for (int i = 0; i < 3; ++i)
            h.add(1, "11000000000100000000083000");
        h.engine.CmdDown();
        for (int i = 0; i < 5; ++i)
            h.tick();
        EXPECT_EQ(h.view.messages, QStringList{QString::fromUtf8(c.verdict)});
    }

    // An acknowledgement from before the write does not count for it.
    Harness late;
    late.board.silent = true;
    late.engine.MSCommDown_OnComm(FakeBoard::reply(1));
    late.engine.CmdDown();
    late.tick();
    late.tick();
    EXPECT_EQ(late.view.messages, QStringList{"写入失败！"});
}

TEST(EngineRead, OneChannelEndsByEmptySlotMissingReplyOrEntry255)
{
    // Ends on the board's empty slot; 150 entries all come back.
    Harness h;
    h.engine.nPage = 4;
    for (int n = 1; n <= 150; ++n)
        h.board.slots[{4, n}] = WriteEntryFrame(1, 1, 4, uint8_t(n), u"11000000000400000000083000");
    h.add(4, "11000000000400000000120000");  // replaced by the read
    h.add(5, "11000000000500000000120000");  // another channel stays
    h.engine.CmdUpload();
    EXPECT_EQ(h.view.questions, QStringList{"此操作将清除软件显示当前路信息，继续否？"});
    EXPECT_EQ(h.view.progressMax, 255);
    EXPECT_EQ(h.book.countOf(4), 0);
    int ticks = 0;
    while (h.engine.bReading && ticks < 400) {
        h.tick();
        ++ticks;
    }
    EXPECT_EQ(ticks, 152);  // 151 requests (the last answered empty) and the ending
    EXPECT_EQ(h.view.messages, QStringList{"读取成功！"});
    EXPECT_EQ(h.book.countOf(4), 150);
    EXPECT_EQ(h.book.countOf(5), 1);
    EXPECT_EQ(h.view.shownChannel, 4);
    EXPECT_TRUE(h.view.readEnabled);

    // A request without an answer ends the read on the next tick.
    Harness silent;
    silent.board.silent = true;
    silent.engine.CmdUpload();
    silent.tick();
    EXPECT_TRUE(silent.view.messages.isEmpty());
    const auto before = silent.link.written.size();
    silent.tick();
    EXPECT_EQ(silent.view.messages, QStringList{"读取失败！"});
    EXPECT_EQ(silent.link.written.size(), before);  // the failing tick sends nothing more
    EXPECT_EQ(silent.engine.nReadNo, 1);

    // A board whose list runs to 255 ends after entry 255 without asking for 256.
    Harness full;
    for (int n = 1; n <= 255; ++n)
        full.board.slots[{1, n}] = WriteEntryFrame(1, 1, 1, uint8_t(n), u"11000000000100000000083000");
    full.engine.CmdUpload();
    for (int i = 0; i < 256; ++i)
        full.tick();
    EXPECT_EQ(full.view.messages, QStringList{"读取成功！"});
    EXPECT_EQ(full.book.countOf(1), 255);
    for (const Frame &f : full.link.written)
        EXPECT_FALSE(f[2] == wire::kReadEntry && f[5] == 0);

    // Cancelling changes nothing but the progress bar.
    Harness cancel;
    cancel.add(1, "11000000000100000000083000");
    cancel.view.answer = false;
    cancel.engine.CmdUpload();
    EXPECT_FALSE(cancel.engine.bReading);
    EXPECT_EQ(cancel.book.size(), 1);
    EXPECT_TRUE(cancel.view.progressVisible);
}

TEST(EngineRead, AllChannelsAdvanceWithAnExtraTickAndEndOnChannelOne)
{
    Harness h;
    h.board.slots[{1, 1}] = WriteEntryFrame(1, 1, 1, 1, u"11000000000100000000083000");
    h.board.slots[{3, 1}] = WriteEntryFrame(1, 3, 3, 1, u"10000000000320130428060000");
    h.board.slots[{3, 2}] = WriteEntryFrame(1, 2, 3, 2, u"00110101000300000000180530");
    h.add(9, "11000000000900000000083000");
    h.engine.nPage = 6;
    h.engine.CmdUpLoadAll();
    EXPECT_EQ(h.book.size(), 0);
    EXPECT_EQ(h.engine.nPage, 1);
    EXPECT_EQ(h.view.shownChannel, 1);
    int ticks = 0;
    while (h.engine.bReadingAll && ticks < 200) {
        h.tick();
        ++ticks;
    }
    // One request per entry and one for each channel's empty slot, an advance
    // tick after each of the first fifteen channels, and the ending.
    EXPECT_EQ(ticks, 3 + 16 + 15 + 1);
    EXPECT_EQ(h.view.messages, QStringList{"读取成功！"});
    EXPECT_EQ(h.book.size(), 3);
    EXPECT_EQ(h.engine.nPage, 1);
    EXPECT_EQ(h.view.shownChannel, 1);
    EXPECT_EQ(h.book.channel(3)[1]->strWeek, QStringLiteral("1010100"));
    EXPECT_EQ(h.book.channel(3)[0]->nStartYear, 2013);
    EXPECT_EQ(h.book.channel(1)[0]->GetStr(), QStringLiteral("11000000000100000000083000"));

    // A failure part way also leaves list, tab and page on channel 1.
    Harness fail;
    fail.board.slots[{1, 1}] = WriteEntryFrame(1, 1, 1, 1, u"11000000000100000000083000");
    fail.engine.CmdUpLoadAll();
    for (int i = 0; i < 4; ++i)
        fail.tick();
    fail.board.silent = true;
    for (int i = 0; i < 3 && fail.engine.bReadingAll; ++i)
        fail.tick();
    EXPECT_EQ(fail.view.messages, QStringList{"读取失败！"});
    EXPECT_EQ(fail.engine.nPage, 1);
    EXPECT_EQ(fail.view.shownChannel, 1);
    EXPECT_EQ(fail.book.size(), 1);
}

TEST(EngineWatchdog, SixthSilentTickGreysLampsAndAsksForStatesAgain)
{
    Harness h;
    h.settle();
    EXPECT_EQ(h.view.lamps[0], kLampRed);
    EXPECT_FALSE(h.engine.bSyncRelay);
    h.board.silent = true;
    for (int i = 1; i <= 5; ++i) {
        h.tick();
        EXPECT_EQ(h.view.lamps[0], kLampRed) << i;
    }
    h.tick();
    EXPECT_EQ(h.view.lamps[0], kLampGrey);
    EXPECT_TRUE(h.engine.bSyncRelay);
}

TEST(EngineClock, SetRepeatsUntilAcknowledgedAndReadGoesOutAtOnce)
{
    Harness h;
    h.settle();
    h.board.ackClock = false;
    h.engine.CmdSetTime();
    const auto from = h.link.written.size();
    for (int i = 0; i < 4; ++i)
        h.tick();
    EXPECT_EQ(h.codesSince(from), (QList<int>{3, 3, 3, 3}));
    EXPECT_EQ(h.link.written.last(), SetClockFrame(1, kMoment));
    h.board.ackClock = true;
    h.tick();
    EXPECT_FALSE(h.engine.bSetTimePending);
    EXPECT_EQ(h.view.messages, QStringList{"设置成功！"});
    // A second acknowledgement of a repeated frame is not a second success.
    h.engine.MSCommDown_OnComm(FakeBoard::reply(3));
    EXPECT_EQ(h.view.messages.size(), 1);

    // A clock read during a write goes out between two entry frames.
    Harness w;
    w.add(1, "11000000000100000000083000");
    w.add(1, "11000000000100000000093000");
    w.engine.CmdDown();
    const auto start = w.link.written.size();
    w.tick();
    w.engine.CmdReadTime();
    w.deliverFrom(w.link.written.size() - 1);
    EXPECT_EQ(w.view.clockClears, 1);
    EXPECT_EQ(w.view.activity, QStringLiteral("模块当前时间:00-00-00 00:00:00"));
    w.tick();
    EXPECT_EQ(w.codesSince(start), (QList<int>{1, 4, 1}));
}

TEST(EngineManual, MasksCarryCommandedStatesInOneFrame)
{
    Harness h;
    h.board.relays1 = 0x01;  // channel 1 on
    h.board.relays2 = 0x01;  // channel 9 on
    h.settle();
    EXPECT_EQ(h.engine.PendingCommand[1], kRelayOn);
    EXPECT_EQ(h.engine.PendingCommand[2], kRelayOff);

    h.engine.nPage = 3;
    h.engine.CmdIn();
    h.engine.nPage = 4;
    h.engine.CmdIn();
    h.engine.CmdOut();  // several clicks, last state wins
    auto from = h.link.written.size();
    h.tick();
    ASSERT_EQ(h.link.written.size(), from + 1);
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0x05, 0x01));
    h.tick();
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0, 0));  // back to polling

    // Already off still sends.
    h.engine.nPage = 2;
    h.engine.CmdOut();
    h.tick();
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0x05, 0x01));

    // The next command waits for two replies that agree on what the last one did.
    h.engine.CmdOpenAll();
    h.engine.nPage = 16;
    h.engine.CmdOut();
    h.tick();
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0, 0));
    h.tick();
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0xFF, 0x7F));
    h.engine.CmdCloseAll();  // goes to the board by itself while the link is open
    EXPECT_TRUE(h.engine.bManualPending);
    h.tick();
    h.tick();
    EXPECT_FALSE(h.engine.bManualPending);

    Harness compat(Variant::Compat);
    compat.settle();
    compat.engine.CmdIn();
    compat.tick();
    EXPECT_EQ(compat.link.written.last(), RelayFrame(1, 19, 0, 0x01, 0));
}

TEST(EngineManual, CommandDuringWriteGoesOnTheEndingTick)
{
    Harness h;
    h.settle();
    h.add(1, "11000000000100000000083000");
    h.engine.CmdDown();
    h.engine.nPage = 2;
    h.engine.CmdIn();
    const auto from = h.link.written.size();
    h.tick();
    h.tick();
    EXPECT_EQ(h.codesSince(from), (QList<int>{1, 1}));
    h.tick();
    EXPECT_EQ(h.view.messages, QStringList{"写入成功！"});
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0x02, 0));
}

TEST(EngineManual, LostLinkNeverSwitchesAnUncommandedRelay)
{
    Harness h;
    h.board.relays1 = 0x81;  // channels 1 and 8 on
    h.board.relays2 = 0x10;  // channel 13 on
    h.settle();
    h.board.silent = true;
    for (int i = 0; i < 6; ++i)
        h.tick();
    EXPECT_TRUE(h.engine.bSyncRelay);
    EXPECT_EQ(h.engine.PendingCommand[1], kRelayOn);  // not reset to off

    // Meanwhile the board's own schedule switched channel 8 off and 2 on.
    h.board.relays1 = 0x03;
    h.engine.nPage = 5;
    h.engine.CmdIn();  // given while the states are unknown: waits
    h.tick();
    EXPECT_NE(h.link.written.last()[4], 0x13);
    h.board.silent = false;
    h.tick();  // status request answered: states known again
    EXPECT_FALSE(h.engine.bSyncRelay);
    h.tick();  // and confirmed by a second reply
    h.tick();
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0x13, 0x10));
    EXPECT_EQ(h.board.relays1, 0x13);
    EXPECT_EQ(h.board.relays2, 0x10);

    // With the link closed, all-on only changes the commanded states: nothing fires on opening.
    Harness closed;
    closed.link.opened = false;
    closed.engine.CmdOpenAll();
    EXPECT_FALSE(closed.engine.bManualPending);
    closed.link.opened = true;
    closed.settle();
    EXPECT_EQ(closed.board.relays1, 0);
    EXPECT_EQ(closed.engine.PendingCommand[1], kRelayOff);
    for (const Frame &f : closed.link.written)
        EXPECT_EQ(f[4] | f[5], 0);
}

TEST(EngineManual, DamagedRepliesNeverDecideAnUntouchedChannel)
{
    // A board that fills its check bytes: a damaged status reply is not believed.
    Harness h;
    h.board.relays1 = 0x01;
    h.settle();
    Frame damaged = *h.board.answer(RelayFrame(1, 16, 0, 0, 0));
    damaged[4] = 0xFF;  // line noise, check bytes left as they were
    h.engine.MSCommDown_OnComm(damaged);
    EXPECT_EQ(h.engine.counters().repliesRejected, 1);
    EXPECT_EQ(h.view.lamps[7], kLampRed);
    h.engine.nPage = 3;
    h.engine.CmdIn();
    h.tick();
    EXPECT_EQ(h.link.written.last(), RelayFrame(1, 16, 0, 0x05, 0));

    // One reply that disagrees with the one before holds a command back.
    Harness d;
    d.board.relays1 = 0x01;
    d.settle();
    Frame odd = FakeBoard::reply(16);
    odd[4] = 0x81;
    SealFrame(odd);
    d.engine.MSCommDown_OnComm(odd);
    d.engine.nPage = 3;
    d.engine.CmdIn();
    for (int i = 0; i < 2; ++i) {  // the real state comes back, then again: two in a row
        d.tick();
        EXPECT_EQ(d.link.written.last(), RelayFrame(1, 16, 0, 0, 0));
    }
    d.tick();
    EXPECT_EQ(d.link.written.last(), RelayFrame(1, 16, 0, 0x05, 0));

    // An entry reply about another entry is no answer: the read fails instead of
    // filing a wrong entry.
    Harness r;
    r.engine.CmdUpload();
    r.board.silent = true;
    r.tick();
    Frame other = FakeBoard::reply(2);
    other[4] = 1, other[5] = 9, other[6] = 1, other[14] = 2;
    SealFrame(other);
    r.engine.MSCommDown_OnComm(other);
    r.tick();
    EXPECT_EQ(r.view.messages, QStringList{"读取失败！"});
    EXPECT_TRUE(r.book.isEmpty());
}

TEST(EngineModal, TickDuringAClosingBoxNeitherEndsTwiceNorInterleaves)
{
    Harness h;
    h.add(1, "11000000000100000000083000");
    h.engine.CmdDown();
    int nested = 0;
    qsizetype sentAtBox = -1;
    h.view.onMessage = [&](const QString &) {
        // The box's own event loop lets the timer fire again.
        if (nested++ < 3) {
            sentAtBox = h.link.written.size();
            h.tick();
        }
    };
    for (int i = 0; i < 3; ++i)
        h.tick();
    EXPECT_EQ(h.view.messages, QStringList{"写入成功！"});
    EXPECT_GE(sentAtBox, 0);
    // The ending tick had already sent its poll before the box opened.
    EXPECT_EQ(h.link.written[sentAtBox - 1], RelayFrame(1, 16, 0, 0, 0));
}

TEST(EngineFrames, BuildersShowDebugTextAndWriteOnlyWhenOpen)
{
    Harness h;
    h.engine.tx_frame220(1, 1, 2, 3, QStringLiteral("anything"));
    const Frame a = h.link.written.last();
    h.engine.tx_frame220(1, 7, 2, 3, QStringLiteral("11000000000100000000083000"));
    EXPECT_EQ(h.link.written.last(), a);
    EXPECT_EQ(h.link.discards, 2);  // input thrown away before each frame

    h.link.opened = false;
    const auto count = h.link.written.size();
    h.engine.ReadTime(1);
    EXPECT_EQ(h.link.written.size(), count);
    EXPECT_EQ(h.view.debug, FrameDebugText(ReadClockFrame(1)));
    h.engine.DeviceAddress = 255;
    h.engine.tx_frame22bit(16, 0, 0, 0);
    EXPECT_TRUE(h.view.debug.startsWith(QStringLiteral(" ,66 ,FF ,10")));
}

} // namespace
