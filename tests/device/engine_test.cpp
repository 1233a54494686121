// The poll-and-transfer engine, tick by tick, against a fake link and board.
#include "device/engine.h"
#include "device/headlesssession.h"
#include "device/statusagreement.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kMoment(QDate(2013, 4, 28), QTime(10, 23, 38));
Frame Relays(uint8_t relays1, uint8_t relays2 = 0)
{
    return RelayFrame(1, 16, 0, relays1, relays2);
}
const Frame kPoll = Relays(0);
const QString kIdle = QStringLiteral("w1 r1 t1 stop0 pb0");

struct Harness {
    explicit Harness(Variant v = Variant::Standard)
        : engine(view, link, book, v, [this] { return kMoment.addMSecs(clockMs); })
    {
        link.opened = true;
    }
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
            if (auto r = board.answer(f)) {
                if (damage)
                    damage(*r);
                engine.MSCommDown_OnComm(*r);
            }
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
    Harness &settle(uint8_t relays1 = 0, uint8_t relays2 = 0)
    {
        board.relays1 = relays1, board.relays2 = relays2;
        tick(3);
        return *this;
    }
    void press(int page, void (DeviceEngine::*command)() = &DeviceEngine::CmdIn)
    {
        engine.nPage = int16_t(page);
        (engine.*command)();
    }
    Frame last() const { return link.written.last(); }
    QString controls() const // write, read, tabs, 停止, the progress bar
    {
        return QString::asprintf("w%d r%d t%d stop%d pb%d", view.writeEnabled, view.readEnabled, view.tabsEnabled,
                                 view.transferRunning, view.progressVisible);
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
    std::function<void(Frame &)> damage; // changes replies on their way
    FakeBoard board;
    qint64 clockMs = 0; // the engine's clock, from kMoment
    DeviceEngine engine;
};

TEST(EngineWrite, OneChannelTakesItsEntriesPlusTwoTicksAndAClockReadGoesOutAtOnce)
{
    Harness h;
    h.engine.nPage = 3;
    h.add(3, "10110101000320130428073000");
    h.add(3, "11000000000300000000083000");
    h.engine.CmdDown();
    h.tick();
    h.engine.CmdReadTime();
    h.answer(1);
    h.tick(2);
    EXPECT_EQ(
        std::pair(h.view.activityLog, h.view.clockClears),
        std::pair(QStringList{"正在写入第3路第1条", "模块当前时间:00-00-00 00:00:00", "正在写入第3路第2条", ""}, 1));
    EXPECT_EQ(std::pair(h.controls(), h.view.messages), std::pair(QStringLiteral("w0 r0 t0 stop1 pb0"), QStringList()));
    h.tick();
    EXPECT_EQ(std::tuple(h.view.messages, h.controls(), h.engine.bWriting, h.link.discards, h.view.debug),
              std::tuple(QStringList{"写入成功！"}, kIdle, false, 5, FrameDebugText(kPoll)));
    EXPECT_EQ(
        h.link.written,
        (QList<Frame>{WriteEntryFrame(1, 2, 3, 1, u"10110101000320130428073000"), ReadClockFrame(1),
                      WriteEntryFrame(1, 1, 3, 2, u"11000000000300000000083000"), BlankEntryFrame(1, 3, 3), kPoll}));
}

TEST(EngineWrite, EachFrameIsSentUpToFourTimesAndSuccessNeedsEveryAcknowledgement)
{
    // name, acknowledged (by the index of the frame the board received), write frames sent, verdict, the retry's
    // text shown while it happens ("": no retry)
    const std::tuple<const char *, std::function<bool(int)>, int, const char *, const char *> cases[] = {
        {"blank entry lost three times", [](int i) { return i < 3 || i == 6; }, 7, "写入成功！", "重发第1路第4条"},
        {"second frame never acknowledged fails after 4 attempts", [](int i) { return i == 0; }, 5, "写入失败！",
         "重发第1路第2条"},
        {"silent board fails after 4 attempts", [](int) { return false; }, 4, "写入失败！", "重发第1路第1条"},
    };
    for (const auto &[name, ack, framesSent, verdict, retryText] : cases) {
        Harness h;
        h.board.ackWrite = ack;
        h.add(1, "11000000000100000000083000", 3);
        h.engine.CmdDown();
        h.runWhile(h.engine.bWriting);
        EXPECT_EQ(std::tuple(h.codesSince(0).count(wire::kWriteEntry), h.view.messages, h.engine.counters().retries > 0,
                             h.view.activityLog.contains(QString::fromUtf8(retryText))),
                  std::tuple(framesSent, QStringList{QString::fromUtf8(verdict)}, *retryText != 0, true))
            << name;
    }
}

TEST(EngineRead, OneChannelEndsOnEmptySlotEntry255OrAnEntryUnansweredFourTimes)
{
    // name, the fault, read requests sent, entries read, verdict
    const std::tuple<const char *, std::function<void(Harness &)>, int, int, const char *> cases[] = {
        {"ends on the empty slot after entry 150", [](Harness &f) { f.board.ends[4] = 151; }, 151, 150, "读取成功！"},
        {"full channel ends after entry 255", [](Harness &) {}, 255, 255, "读取成功！"},
        {"request lost once is asked again",
         [](Harness &f) { f.board.deaf = [n = 0](const Frame &q) mutable { return q[5] == 3 && n++ == 0; }; }, 256, 255,
         "读取成功！"},
        {"entry 255 never answered", [](Harness &f) { f.board.deaf = [](const Frame &q) { return q[5] == 255; }; }, 258,
         254, "读取失败！"},
        {"answers about another entry are no answer", [](Harness &f) { f.board.readNumberShift = 1; }, 4, 0,
         "读取失败！"},
        {"empty-slot answers about another slot are no answer",
         [](Harness &f) { f.board.slots.clear(), f.board.readNumberShift = 1; }, 4, 0, "读取失败！"},
    };
    for (const auto &[name, fault, requests, entriesRead, verdict] : cases) {
        Harness f;
        f.boardHolds(4, 255);
        f.add(4, "11000000000400000000120000");
        f.add(5, "11000000000500000000120000");
        f.engine.nPage = 4;
        fault(f);
        f.engine.CmdUpload();
        EXPECT_EQ(std::pair(f.view.questions, f.view.progressMax),
                  std::pair(QStringList{"此操作将清除软件显示当前路信息，继续否？"}, 255));
        f.runWhile(f.engine.bReading);
        EXPECT_EQ(std::tuple(f.codesSince(0).count(wire::kReadEntry), f.book.countOf(4), f.view.messages,
                             f.book.countOf(5), f.view.shownChannel),
                  std::tuple(requests, entriesRead, QStringList{QString::fromUtf8(verdict)}, 1, 4))
            << name;
    }
}

TEST(EngineRead, AllChannelsEndOnChannelOneAndVerifyReadsLeaveTheOperatorsBookAndScreenAlone)
{
    Harness h;
    h.boardHolds(1, 1);
    h.boardHolds(3, 2);
    h.add(9, "11000000000900000000083000");
    h.engine.nPage = 6;
    h.engine.CmdUpLoadAll();
    h.tick(4); // reading channel 3 now, channel 1 on screen
    EXPECT_EQ(std::pair(h.engine.transfer().channel, int(h.engine.nPage)), std::pair(3, 1));
    h.engine.CmdIn(); // acts on the channel on screen, once the read has ended
    EXPECT_EQ(4 + h.runWhile(h.engine.bReadingAll), 3 + 16 + 1); // a request per entry and empty slot, the ending
    EXPECT_EQ(std::tuple(h.view.messages, h.view.tabsEnabled, h.book.size(), h.view.shownChannel),
              std::tuple(QStringList{"读取成功！"}, true, 3, 1));
    h.tick(3);
    EXPECT_TRUE(h.link.written.contains(Relays(0x01)));

    // A verify read fills its own book, asking nothing and leaving the operator's book and screen alone.
    h.boardHolds(2, 1);
    ScheduleBook all;
    h.engine.nPage = 5;
    h.view.shownChannel = 0;
    ASSERT_TRUE(h.engine.startVerifyRead(0, all) && !h.engine.startVerifyRead(17, all));
    h.runWhile(h.engine.bReadingAll);
    EXPECT_EQ(std::tuple(all.size(), h.book.size(), h.view.shownChannel, int(h.engine.nPage), h.view.questions.size(),
                         h.view.messages.size()),
              (std::tuple<qsizetype, qsizetype, int, int, qsizetype, qsizetype>(4, 3, 0, 5, 1, 1)));
    EXPECT_TRUE(h.engine.lastResult()->success && h.engine.lastResult()->verify);
}

TEST(EngineWrite, GivenChannelsAreWrittenAsWriteAllWritesEveryChannelWithItsEndEntry)
{
    Harness h;
    h.add(2, "11000000000200000000083000", 2);
    h.add(3, "11000000000300000000083000");
    h.add(7, "11000000000700000000083000");
    for (const QList<int> &refused : {QList<int>{}, QList<int>{3, 17}, QList<int>{0}})
        EXPECT_FALSE(h.engine.startWriteChannels(refused));
    ASSERT_TRUE(h.engine.startWriteChannels({7, 2}));
    EXPECT_FALSE(h.engine.startWriteChannels({3}));
    EXPECT_EQ(h.view.progressMax, 5);
    h.runWhile(h.engine.bWriting);
    QStringList written; // channel:number of every write frame
    for (const Frame &f : h.link.written)
        if (f[2] != kPoll[2])
            written << QStringLiteral("%1:%2").arg(f[4]).arg(f[5]);
    EXPECT_EQ(std::pair(written, h.view.messages),
              std::pair(QStringList{"7:1", "7:2", "2:1", "2:2", "2:3"}, QStringList{"写入成功！"}));

    h.engine.CmdDownAll();
    ASSERT_EQ(h.engine.WriteQueue.size(), 20);
    for (int i : {0, 3, 19})
        EXPECT_TRUE(IsBlankRecord(h.engine.WriteQueue[i]->GetStr()));
    EXPECT_EQ(std::pair(h.engine.WriteQueue[3]->nNo, h.engine.WriteQueue[19]->nRoute),
              (std::pair<int16_t, int16_t>(3, 16)));

    Harness full; // no end entry: number 256 would not fit the frame
    full.add(1, "11000000000100000000083000", kMaxEntriesPerChannel);
    full.engine.CmdDown();
    EXPECT_EQ(std::pair(full.engine.WriteQueue.size(), IsBlankRecord(full.engine.WriteQueue.last()->GetStr())),
              (std::pair<qsizetype, bool>(255, false)));
}

TEST(EngineTransfer, OneAtATimeAndStopOrAClosedLinkEndsItAtOnceSayingWhereAWriteStopped)
{
    const char *const write = "写入 2/6，剩余约0分02秒", *const read = "读取第2路，已读 5 条，剩余至多约12分44秒";
    // name, a write (else a read), stopped (else the link closes), progress, the box, panel 2 after
    const std::tuple<const char *, bool, bool, const char *, const char *, const char *> cases[] = {
        {"stopped write", true, true, write, "已停止（写入停在第2路第3条）", "写入停在第2路第3条，该路板上计划不完整"},
        {"stopped read keeps what was read", false, true, read, "已停止", ""},
        {"write on a closed link: no box", true, false, write, "", "写入未完成：连接已关闭"},
    };
    for (const auto &[name, isWrite, stop, progress, message, note] : cases) {
        SCOPED_TRACE(name);
        Harness h;
        h.add(2, "11000000000200000000083000", 5);
        h.boardHolds(1, 2);
        h.boardHolds(2, 2);
        h.engine.nPage = 2;
        isWrite ? h.engine.CmdDown() : h.engine.CmdUpLoadAll();
        h.clockMs = 1000;
        h.tick(isWrite ? 2 : 5);
        EXPECT_EQ(std::pair(h.controls(), h.view.note),
                  std::pair(QStringLiteral("w0 r0 t0 stop1 pb1"),
                            QString::fromUtf8(progress) + QStringLiteral("　（传输中：写入、读取与编辑暂不可用）")));
        // The other transfers are held: a write while a read fills the book would cut the board's list short.
        ScheduleBook other;
        h.engine.CmdDown(), h.engine.CmdDownAll(), h.engine.CmdUpLoadAll(), h.engine.CmdUpload();
        EXPECT_EQ(std::pair(h.engine.startVerifyRead(0, other), h.view.questions.size()),
                  std::pair(false, qsizetype(!isWrite)));
        h.view.shownChannel = 0;
        const auto sent = h.link.written.size();
        stop ? h.engine.CmdStop() : (h.link.opened = false, h.engine.linkClosed());
        h.engine.CmdStop(); // nothing under way: nothing happens
        // What was read stays, as for a failed read.
        EXPECT_EQ(std::tuple(h.view.messages.join(u'|'), h.view.note, h.controls(), h.engine.lastResult()->stopped,
                             h.engine.lastResult()->linkLost, h.engine.lastResult()->success, h.book.size(),
                             h.view.shownChannel),
                  std::tuple(QString::fromUtf8(message), QString::fromUtf8(note), kIdle, stop, !stop, false,
                             qsizetype(isWrite ? 5 : 4), isWrite ? 0 : 1));
        h.tick(2);
        EXPECT_EQ(h.codesSince(sent), stop ? QList<int>({16, 16}) : QList<int>()); // idle again
    }
}

// Fake ms: a tick every 200, each answer `latency` (+`late`) after its request, paced steps when asked.
struct Timeline {
    explicit Timeline(Harness &harness, int latencyMs) : h(harness), latency(latencyMs)
    {
        h.view.onPace = [this](std::chrono::milliseconds after) { pace = now + int(after.count()); };
    }
    int run(const bool &flag, int limitMs = 600000)
    {
        for (; flag && now < limitMs; ++now) {
            h.clockMs = now;
            while (!replies.empty() && replies.begin()->first <= now) {
                const Frame r = replies.extract(replies.begin()).mapped();
                call([&] { h.engine.MSCommDown_OnComm(r); });
            }
            if (pace && *pace <= now)
                call([&] { pace.reset(), h.engine.pacedStep(); });
            if (now > 0 && now % 200 == 0)
                call([&] { h.engine.Timer2_Timer(); });
        }
        return now;
    }
    void call(const std::function<void()> &f)
    {
        const auto from = h.link.written.size();
        f();
        for (const Frame &q : h.link.written.mid(from)) {
            sentAt << now;
            const int extra = q[2] == wire::kWriteEntry ? late(writes++) : 0;
            if (auto r = h.board.answer(q))
                replies.emplace(now + latency + extra, *r);
        }
    }
    Harness &h;
    int latency;
    int now = 0, writes = 0;
    std::function<int(int writeIndex)> late = [](int) { return 0; };
    std::optional<int> pace;
    std::multimap<int, Frame> replies;
    QList<int> sentAt;
};

TEST(EnginePacing, EachFrameGoesAGuardAfterTheLastAnswerAndALostOneAtItsDeadline)
{
    // Latencies are the board's time to answer plus 46 ms on the line at 9600 baud.
    // name, latency, the write frame whose first reply is lost (-1: none), ms from it to its retry, the frame answered
    // 800 ms late whose successor the board misses once (-1: none), retries
    const std::tuple<const char *, int, int, int, int, int> cases[] = {
        {"9600-baud board", 46, -1, 0, -1, 0},
        {"lost reply sent 90 ms before a tick is retried at the tick after", 46, 10, 290, -1, 1},
        {"lost reply sent 188 ms before a tick is retried at that tick", 46, 12, 188, -1, 1},
        {"board that needs 350 ms, timed on the status polls before", 396, -1, 0, -1, 0},
        {"late answer after a repeat is not taken for the next frame", 496, -1, 0, 10, 2},
    };
    for (const auto &[name, latencyMs, lostFrame, retryAfter, lateFrame, retries] : cases) {
        SCOPED_TRACE(name);
        Harness h;
        h.board.ackWrite = [&](int i) { return i != lostFrame; };
        h.board.deaf = [&, missed = false](const Frame &q) mutable {
            return lateFrame >= 0 && q[2] == wire::kWriteEntry && q[5] == lateFrame + 2 && !std::exchange(missed, true);
        };
        h.add(1, "11000000000100000000083000", 30);
        Timeline t(h, latencyMs);
        t.late = [&](int i) { return i == lateFrame ? 800 : 0; };
        t.run(true, 1001); // status polls; the command comes between two ticks
        const auto polls = t.sentAt.size();
        h.engine.CmdDown();
        const int took = t.run(h.engine.bWriting) - 1001;
        EXPECT_EQ(std::tuple(h.view.messages, h.board.slots.size(), h.board.ends.value(1), h.engine.counters().retries),
                  std::tuple(QStringList{"写入成功！"}, 30, 31, retries));
        const QList<int> sent = t.sentAt.first(polls + h.codesSince(0).count(wire::kWriteEntry));
        for (qsizetype i = 1; i < sent.size(); ++i) // never before the previous request's answer, unless lost
            EXPECT_GE(sent[i] - sent[i - 1], i - 1 - polls == lostFrame ? 0 : latencyMs) << i;
        const qsizetype lost = polls + lostFrame;
        EXPECT_EQ(lostFrame < 0 ? 0 : sent[lost + 1] - sent[lost], retryAfter);
        EXPECT_LT(took, 400 + latencyMs + 31 * (latencyMs + kReplyGuard.count()) + 2400 * retries);
    }
}

TEST(EngineManual, FramesCarryCommandedStatesAndTheBoardsOwn)
{
    Harness h;
    h.settle(0x01, 0x01); // channels 1 and 9 on
    const auto command = [&](int page, void (DeviceEngine::*cmd)()) { return h.press(page, cmd), h.tick(), h.last(); };
    h.press(4, &DeviceEngine::CmdIn); // several clicks before a tick: one frame, last state wins
    h.engine.CmdOut();
    EXPECT_EQ(command(3, &DeviceEngine::CmdIn), Relays(0x05, 0x01));
    h.tick();
    EXPECT_EQ(command(2, &DeviceEngine::CmdOut), Relays(0x05, 0x01)); // already off: still sent
    h.engine.CmdOpenAll();
    // The next command waits for two agreeing replies on what the last one did.
    EXPECT_EQ(command(16, &DeviceEngine::CmdOut), kPoll);
    h.tick();
    EXPECT_EQ(h.last(), Relays(0xFF, 0x7F));
}

TEST(EngineManual, ClockSetRepeatsUntilAcknowledgedAndACommandAfterItOrATransferWaitsForTwoFreshReplies)
{
    for (bool clockSet : {false, true}) {
        Harness h;
        h.settle(0x08); // relay 4 on
        clockSet ? (h.board.ackClock = false, h.engine.CmdSetTime())
                 : (h.add(1, "11000000000100000000083000", 5), h.engine.CmdDown());
        h.tick(3);
        h.board.relays1 = 0; // the board's own schedule releases relay 4 meanwhile
        h.press(2);
        h.board.ackClock = true;
        const auto from = h.link.written.size();
        h.tick(6);
        h.engine.MSCommDown_OnComm(SealedReply(wire::kSetClock)); // a second acknowledgement is no second success
        const QList<Frame> sent = h.link.written.mid(from);
        EXPECT_EQ(std::tuple(sent.contains(Relays(0x0A)), sent.contains(Relays(0x02)), h.board.relays1,
                             h.link.written.count(SetClockFrame(1, kMoment)), h.view.messages),
                  std::tuple(false, true, uint8_t(0x02), clockSet ? 4 : 0,
                             QStringList(clockSet ? "设置成功！" : "写入成功！")))
            << clockSet;
    }
}

TEST(EngineManual, NoRelaySwitchesThatNobodyCommanded)
{
    // Link lost (the sixth silent tick): states are reloaded, not reset to off; a command given meanwhile waits.
    Harness h;
    h.settle(0x81, 0x10).board.silent = true;
    h.tick(5);
    EXPECT_EQ(h.view.lamps[0], kLampGreen);
    h.tick(); // the sixth silent tick greys the lamps
    EXPECT_EQ(std::tuple(h.view.lamps[0], h.engine.bSyncRelay, h.engine.PendingCommand[1]),
              std::tuple(kLampGrey, true, kRelayOn));
    h.board.relays1 = 0x03; // the board's schedules moved on meanwhile
    h.press(5);
    h.tick();
    h.board.silent = false;
    h.tick(3);
    EXPECT_EQ(h.link.written.last(4), (QList<Frame>{kPoll, kPoll, kPoll, Relays(0x13, 0x10)}));

    // An uncommanded channel carries the board's last report, also one whose relay the board moved since.
    Harness s;
    s.settle(0x08).press(1);
    s.tick(3);
    s.board.relays1 = 0x00; // relays 1 and 4 released by the board itself
    s.tick(2);
    s.press(2);
    s.tick();
    EXPECT_EQ(std::pair(s.last(), s.engine.PendingCommand[4]), std::pair(Relays(0x02), kRelayOn));

    // One reply that disagrees with those around it holds a command back.
    Harness o;
    o.settle().board.relays1 = 0x80;
    o.tick();
    o.board.relays1 = 0;
    o.engine.CmdIn();
    o.tick(3);
    EXPECT_EQ(o.link.written.last(3), (QList<Frame>{kPoll, kPoll, Relays(0x01)}));

    // With the link closed, all-on only changes the commanded states: nothing fires on opening.
    Harness closed;
    closed.link.opened = false;
    closed.engine.CmdOpenAll();
    closed.link.opened = true;
    closed.tick(4);
    EXPECT_EQ(std::pair(closed.codesSince(0), closed.board.relays1), std::pair(QList<int>{16, 16, 16, 16}, uint8_t(0)));
}

TEST(EngineManual, RelaysThatDidNotFollowOnceSettledAreNamedInPanelOne)
{
    using Command = std::function<void(Harness &)>;
    const Command off3 = [](Harness &h) { h.press(3, &DeviceEngine::CmdOut); };
    const auto allOff = [](const char *text) { return QString::fromUtf8(text) + "：全部断开的命令与状态查询相同"; };
    const Command on3off1 = [](Harness &h) { h.press(3), h.press(1, &DeviceEngine::CmdOut); };
    // name, variant, relays before, command, relays the board moves to after it (-1: none), channels, panel 1
    const std::tuple<const char *, Variant, uint8_t, Command, int, QList<int>, QString> rows[] = {
        {"off leaving all off", Variant::Standard, 0x04, off3, -1, {3}, allOff("第3路未按命令断开")},
        {"all off", Variant::Standard, 0x05, [](Harness &h) { h.engine.CmdCloseAll(); }, -1, {1, 3},
         allOff("第1、3路未按命令断开")},
        {"compat all off is a command (code 19)", Variant::Compat, 0x04, off3, -1, {}, {}},
        {"compat relay falls back", Variant::Compat, 0x04, off3, 0x04, {3}, "第3路未按命令断开"},
        {"off leaving another on", Variant::Standard, 0x06, off3, -1, {}, {}},
        {"on and off fall back", Variant::Standard, 0x01, on3off1, 0x01, {1, 3}, "第3路未按命令吸合，第1路未按命令断开"},
        {"a channel nobody commanded may move", Variant::Standard, 0x03, on3off1, 0x04, {}, {}},
        {"a check the link closed under goes with it", Variant::Standard, 0x04,
         [&](Harness &h) { off3(h), h.tick(), h.engine.linkClosed(); }, -1, {}, {}},
    };
    for (const auto &[name, variant, before, command, after, channels, fault] : rows) {
        SCOPED_TRACE(name);
        Harness h(variant);
        h.settle(before);
        const QString status = h.view.activity, text = fault.isEmpty() ? status : fault;
        command(h);
        h.tick();
        if (after >= 0)
            h.board.relays1 = uint8_t(after);
        h.tick(2);
        EXPECT_EQ(std::tuple(h.engine.relayCheckPending(), h.view.notFollowed.value(0), h.view.activity),
                  std::tuple(false, channels, text));
        // Status replies leave it there for a while, then write over it.
        const auto later = [&](qint64 ms) { return h.clockMs += ms, h.tick(), h.view.activity; };
        EXPECT_EQ((QStringList{later(kRelayFaultShownFor.count() - 1), later(1)}), (QStringList{text, status}));
    }
}

TEST(StatusAgreement, TwoRepliesInARowAgreeOnRelaysAndOnTheClockWithinASecond)
{
    const QDateTime board = kMoment.addSecs(90);
    // name, relays, clock skew of the second reply (400 ms later) in ms, or no clock in the first/second/both
    const std::tuple<const char *, uint16_t, qint64, int, bool> rows[] = {
        {"same", 0x05, 0, 0, true},          {"a second off", 0x05, -1000, 0, true},
        {"more", 0x05, 1001, 0, false},      {"relays differ", 0x04, 0, 0, false},
        {"one clock lost", 0x05, 0, 2, false}, {"no clocks", 0x05, 0, 3, true},
    };
    for (const auto &[name, relays, skewMs, noClock, agrees] : rows) {
        const auto clock = [&](bool none, qint64 ms) { return none ? std::nullopt : std::optional(board.addMSecs(ms)); };
        StatusAgreement a;
        const bool first = a.add({0x05, clock(noClock & 1, 0), kMoment});
        const bool second = a.add({relays, clock(noClock & 2, 400 + skewMs), kMoment.addMSecs(400)});
        EXPECT_EQ(std::tuple(first, second, a.agreed().has_value()), std::tuple(false, agrees, agrees)) << name;
    }
}

TEST(EngineReplies, CheckByteTrustIsLearnedPerReplyKind)
{
    // A board that seals its status replies only.
    Harness h;
    h.board.unsealedCodes = {wire::kWriteEntry, wire::kReadEntry, wire::kSetClock};
    h.boardHolds(1, 2);
    h.settle().tick();
    h.engine.CmdUpload();
    h.runWhile(h.engine.bReading);
    h.add(2, "11000000000200000000083000");
    h.press(2, &DeviceEngine::CmdDown);
    h.runWhile(h.engine.bWriting);
    h.engine.CmdSetTime();
    h.tick(2);
    Frame damaged = *h.board.answer(kPoll); // a damaged status reply is still refused
    damaged[4] = 0xFF;
    h.engine.MSCommDown_OnComm(damaged);
    EXPECT_EQ(std::tuple(h.view.messages, h.book.countOf(1), h.engine.counters().repliesRejected),
              std::tuple(QStringList{"读取成功！", "写入成功！", "设置成功！"}, 2, 1));
}

TEST(EngineReplies, ADamagedReplyOfAnyKindIsNeverTakenOnAFreshLink)
{
    // The first reply of a kind comes with one byte changed (its check bytes
    // then are wrong, and not 00 00): the run ends as an undamaged one does.
    // name, the reply code damaged, the byte changed, the run
    const std::tuple<const char *, uint8_t, int, std::function<void(Harness &)>> rows[] = {
        {"status: relay 1 reported on", wire::kStatus, 4, [](Harness &h) { h.tick(3); }},
        {"entry: 08:30 read as 09:30", wire::kReadEntry, 11,
         [](Harness &h) {
             h.boardHolds(1, 3);
             h.settle().engine.CmdUpload();
             h.runWhile(h.engine.bReading);
         }},
        {"write acknowledged", wire::kWriteEntry, 3,
         [](Harness &h) {
             h.add(1, "11000000000100000000083000");
             h.settle().engine.CmdDown();
             h.runWhile(h.engine.bWriting);
         }},
    };
    for (const auto &[name, code, byte, run] : rows) {
        SCOPED_TRACE(name);
        QStringList outcome[2];
        for (const bool damaged : {false, true}) {
            Harness h;
            bool once = false;
            h.damage = [&](Frame &r) {
                if (damaged && r[2] == code && !std::exchange(once, true))
                    r[byte] ^= 0x01;
            };
            run(h);
            outcome[damaged] << h.view.messages << QString::number(h.view.lamps[0]) << h.view.activity;
            for (const EntryRef &e : h.book.channel(1))
                outcome[damaged] << e->GetStr();
            EXPECT_EQ(h.engine.counters().repliesRejected, int(damaged));
        }
        EXPECT_EQ(outcome[1], outcome[0]);
    }
}

TEST(EngineModal, TickDuringAClosingBoxNeitherEndsTwiceNorInterleaves)
{
    Harness h;
    h.add(1, "11000000000100000000083000");
    h.engine.CmdDown();
    qsizetype sentAtBox = -1; // the box's own event loop lets the timer fire
    h.view.onMessage = [&](const QString &) { sentAtBox = h.link.written.size(), h.tick(); };
    h.tick(3); // the ending tick had finished first
    EXPECT_EQ(std::pair(h.view.messages, h.link.written[sentAtBox - 1]), std::pair(QStringList{"写入成功！"}, kPoll));
}

} // namespace

TEST(HeadlessSession, RunsTheLoopUntilATransferEndsAndTellsHowItEnded)
{
    // The board answers on the next pass of the loop, and the test ticks on every pass, as the 200 ms timer
    // would, so retries run at once. (Waits for relay states run in kelmora-cli's end-to-end tests.)
    for (const bool acknowledged : {true, false}) {
        FakeLink link;
        link.opened = true;
        FakeBoard board;
        board.ackWrite = [acknowledged](int) { return acknowledged; };
        ScheduleBook book;
        AddEntries(book, 1, "11000000000100000000083000");
        HeadlessSession session(link, book, Variant::Standard, 1);
        bool stepDue = false;
        session.setPacer([&stepDue](std::chrono::milliseconds) { stepDue = true; });
        BoardOnLoop loop(link, board, [&] {
            if (std::exchange(stepDue, false))
                session.engine().pacedStep();
            session.tick();
        });
        session.engine().nPage = 1, session.engine().CmdDown();
        const bool succeeded = session.runTransfer(25); // before result() is read
        EXPECT_EQ(std::pair(succeeded, session.result().has_value()), std::pair(acknowledged, true));
    }
}
