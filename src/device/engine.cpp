#include "device/engine.h"

#include "device/clockdrift.h"

#include "protocol/replies.h"
#include "schedule/channelwrite.h"

DeviceEngine::DeviceEngine(EngineView &view, SerialLink &link, ScheduleBook &book, Variant variant, Clock clock)
    : m_view(view), m_link(link), m_book(book), m_variant(variant),
      m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); }))
{
}

// ---------------------------------------------------------------- as a BoardDriver

void DeviceEngine::write(int channel)
{
    if (channel == 0)
        return CmdDownAll();
    nPage = int16_t(channel);
    CmdDown();
}

void DeviceEngine::read(int channel)
{
    if (channel == 0)
        return CmdUpLoadAll();
    nPage = int16_t(channel);
    CmdUpload();
}

void DeviceEngine::switchRelay(int channel, bool on)
{
    if (channel == 0)
        return on ? CmdOpenAll() : CmdCloseAll();
    nPage = int16_t(channel);
    on ? CmdIn() : CmdOut();
}

// ---------------------------------------------------------------- frames

void DeviceEngine::send(const Frame &frame)
{
    m_view.setDebugText(FrameDebugText(frame));
    if (!m_link.isOpen())
        return;
    // A late or partial reply to an earlier request must not be read as the answer to this one.
    m_link.discardInput();
    m_link.write(ToBytes(frame));
    m_pace.sent(m_clock(), m_inTick, m_resending);
    ++m_counters.framesSent;
}

void DeviceEngine::tx_frame22(uint8_t id, uint8_t leixing, uint8_t page, uint8_t index, const QString &str)
{
    send(WriteEntryFrame(id, leixing, page, index, str));
}

void DeviceEngine::tx_frame220(uint8_t id, uint8_t, uint8_t page, uint8_t index, const QString &)
{
    send(BlankEntryFrame(id, page, index));
}

void DeviceEngine::UploadNote(uint8_t id, uint8_t page, uint8_t index)
{
    m_expectedChannel = page;
    m_expectedNumber = index;
    send(ReadEntryFrame(id, page, index));
}

void DeviceEngine::SetTime(uint8_t id)
{
    send(SetClockFrame(id, m_clock()));
}

void DeviceEngine::ReadTime(uint8_t id)
{
    send(ReadClockFrame(id));
}

void DeviceEngine::tx_frame22bit(uint8_t leixing, uint8_t nCount, uint8_t data1, uint8_t data2)
{
    send(RelayFrame(DeviceAddress, leixing, nCount, data1, data2));
}

// ---------------------------------------------------------------- the tick

void DeviceEngine::Timer2_Timer()
{
    m_pace.tick();
    // The next poll waits for the last request's answer, or for its deadline.
    const bool answerOwed = m_pace.owed(m_clock()).count() > 0;
    m_inTick = true;
    if (transferActive())
        transferTick();
    if (bSetTimePending)
        SetTime(DeviceAddress);
    watchdog(answerOwed);
    if (!transferUnderWay() && !answerOwed)
        idleSection();
    m_inTick = false;

    // Everything this tick had to do is done; only now may a box open (and with
    // it a nested event loop in which further ticks can run).
    const QStringList messages = std::exchange(m_messages, {});
    for (const QString &m : messages)
        m_view.showMessage(m);
}

void DeviceEngine::pacedStep()
{
    // Only an answered frame moves the transfer on here; an unanswered one is
    // the tick's to time out.
    m_transfer.pacePending = false;
    if (!transferActive() || m_transfer.awaiting)
        return;
    // After a repeated frame, an answer to its earlier sending may still come.
    if (const auto owed = m_pace.owed(m_clock()); owed.count() > 0) {
        m_transfer.pacePending = m_view.schedulePacedStep(owed);
        return;
    }
    nLinkCount = kLinkTicks;
    advance();
    const QStringList messages = std::exchange(m_messages, {});
    for (const QString &m : messages)
        m_view.showMessage(m);
}

// ---------------------------------------------------------------- transfers

void DeviceEngine::setKind(TransferKind kind)
{
    m_transfer.kind = kind;
    bWriting = kind == TransferKind::Write;
    bReading = kind == TransferKind::Read;
    bReadingAll = kind == TransferKind::ReadAll;
}

void DeviceEngine::begin(TransferKind kind)
{
    m_transfer.awaiting = false;
    m_transfer.answered = true;
    m_transfer.channelEnded = false;
    m_transfer.attempts = 0;
    m_transfer.pacePending = false;
    m_transfer.done = 0;
    m_transfer.retries = 0;
    m_transfer.started = m_clock();
    setKind(kind);
    m_view.setWriteCommandsEnabled(false);
    m_view.setReadCommandsEnabled(false);
    m_view.setTabsEnabled(false);
    m_view.setTransferRunning(true);
    m_view.setTransferNote(transferNote());
}

void DeviceEngine::transferTick()
{
    Transfer &t = m_transfer;
    nLinkCount = kLinkTicks;
    // The frame that is out (or, before the first, the last status poll) still has time to be answered.
    if (m_pace.owed(m_clock()).count() > 0)
        return;
    if (!t.awaiting) {
        // The paced step is due within the guard; it keeps the board's turnaround.
        // Should it not come, this tick was its last chance to.
        if (std::exchange(t.pacePending, false))
            return;
        advance();
        return;
    }
    if (t.attempts >= kFrameAttempts) {
        endTransfer(false);
        return;
    }
    ++t.retries;
    ++m_counters.retries;
    m_resending = true;
    sendCurrent(true);
    m_resending = false;
}

// The next step of the transfer when nothing is out: its next frame, or its end.
void DeviceEngine::advance()
{
    Transfer &t = m_transfer;
    if (t.kind == TransferKind::Write) {
        if (t.queue.isEmpty()) {
            endTransfer(true);
            return;
        }
    } else if (t.channelEnded) {
        if (t.channel >= t.lastChannel) {
            endTransfer(true);
            return;
        }
        ++t.channel;
        t.number = 1;
        t.channelEnded = false;
    }
    t.attempts = 0;
    sendCurrent(false);
}

void DeviceEngine::sendCurrent(bool retry)
{
    Transfer &t = m_transfer;
    ++t.attempts;
    t.awaiting = true;
    t.answered = false;
    int channel = t.channel, number = t.number;
    if (t.kind == TransferKind::Write) {
        const EntryRef e = t.queue.first();
        channel = e->nRoute;
        number = e->nNo;
        const QString r = e->GetStr();
        if (IsBlankRecord(r)) {
            tx_frame220(DeviceAddress, 1, uint8_t(e->nRoute), uint8_t(e->nNo), r);
            m_view.setProgressVisible(false);
            m_view.setActivityText(QString());
        } else {
            tx_frame22(DeviceAddress, uint8_t(e->mode()), uint8_t(e->nRoute), uint8_t(e->nNo), r);
            m_view.setActivityText(QStringLiteral("正在写入第%1路第%2条").arg(e->nRoute).arg(e->nNo));
            m_view.setProgressValue(t.total - int(t.queue.size()) + 1);
        }
    } else {
        m_view.setProgressValue(t.number);
        UploadNote(DeviceAddress, uint8_t(t.channel), uint8_t(t.number));
        m_view.setActivityText(QStringLiteral("正在读取第%1路第%2条").arg(t.channel).arg(t.number));
    }
    if (retry)
        m_view.setActivityText(QStringLiteral("重发第%1路第%2条").arg(channel).arg(number));
    m_view.setTabsEnabled(false);
    nLinkCount = kLinkTicks;
}

// The reply to the frame that is out has come: take it, and step on after the guard.
void DeviceEngine::frameAnswered()
{
    Transfer &t = m_transfer;
    t.awaiting = false;
    t.answered = true;
    ++t.done;
    if (t.kind == TransferKind::Write) {
        t.queue.removeFirst();
    } else {
        ++t.number;
        if (t.number > kMaxReadNumber)
            t.channelEnded = true;
    }
    m_view.setTransferNote(transferNote());
    // A repeated frame may have a second answer coming: the next frame waits out its deadline.
    t.pacePending = m_view.schedulePacedStep(std::max(kReplyGuard, m_pace.owed(m_clock())));
}

QString DeviceEngine::transferNote() const
{
    const Transfer &t = m_transfer;
    const bool write = t.kind == TransferKind::Write;
    // A read does not know a channel's length before its end: its time left is
    // an upper bound, for every slot still possible.
    const int left =
        write ? t.total - t.done : (kMaxReadNumber - t.number + 1) + (t.lastChannel - t.channel) * kMaxReadNumber;
    QString text = write ? QStringLiteral("写入 %1/%2").arg(t.done).arg(t.total)
                         : QStringLiteral("读取第%1路，已读 %2 条").arg(t.channel).arg(t.done);
    const qint64 elapsed = t.started.msecsTo(m_clock());
    if (t.done > 0 && elapsed > 0) {
        const qint64 s = elapsed * std::max(left, 0) / t.done / 1000;
        text += (write ? QStringLiteral("，剩余约") : QStringLiteral("，剩余至多约")) +
                QStringLiteral("%1分%2秒").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
    }
    return text + QStringLiteral("　（传输中：写入、读取与编辑暂不可用）");
}

void DeviceEngine::endTransfer(bool success, bool stopped, bool linkLost)
{
    Transfer &t = m_transfer;
    const TransferKind kind = t.kind;
    TransferResult result;
    result.kind = kind;
    result.success = success;
    result.stopped = stopped;
    result.linkLost = linkLost;
    result.verify = t.verify;
    result.framesDone = t.done;
    result.retries = t.retries;
    if (kind == TransferKind::Write && !t.queue.isEmpty()) {
        result.channel = t.queue.first()->nRoute;
        result.number = t.queue.first()->nNo;
    } else if (kind != TransferKind::Write) {
        result.channel = t.channel;
        result.number = t.number;
    }
    t.queue.clear();
    t.awaiting = false;
    t.answered = false;
    t.channelEnded = false;
    t.number = 1;
    t.target = nullptr;
    t.pacePending = false;
    setKind(TransferKind::None);
    // The board's states seen before or during the transfer are old now: a
    // relay command waits for fresh replies.
    m_agreeing = 0;

    m_view.setWriteCommandsEnabled(true);
    m_view.setReadCommandsEnabled(true);
    m_view.setProgressVisible(false);
    m_view.setActivityText(QString());
    m_view.setTabsEnabled(true);
    m_view.setTransferRunning(false);
    const bool write = kind == TransferKind::Write;
    if (write)
        ++m_counters.writesEnded;
    else
        ++m_counters.readsEnded;
    if (success)
        ++m_counters.transfersSucceeded;
    if (!write && !result.verify) {
        nPage = int16_t(kind == TransferKind::ReadAll ? 1 : result.channel);
        m_view.showChannel(nPage);
    }

    if (linkLost)
        m_view.setTransferNote(write ? QStringLiteral("写入未完成：连接已关闭")
                                     : QStringLiteral("读取未完成：连接已关闭"));
    else if (stopped && write)
        m_view.setTransferNote(
            QStringLiteral("写入停在第%1路第%2条，该路板上计划不完整").arg(result.channel).arg(result.number));
    else
        m_view.setTransferNote(QString());

    if (stopped)
        m_messages.append(write
                              ? QStringLiteral("已停止（写入停在第%1路第%2条）").arg(result.channel).arg(result.number)
                              : QStringLiteral("已停止"));
    else if (!linkLost && !result.verify)
        m_messages.append(write ? (success ? kWriteOk : kWriteFailed) : (success ? kReadOk : kReadFailed));
    m_lastResult = result;
    m_view.transferEnded(result);
}

void DeviceEngine::CmdStop()
{
    if (!transferActive())
        return;
    endTransfer(false, true);
    const QStringList messages = std::exchange(m_messages, {});
    for (const QString &m : messages)
        m_view.showMessage(m);
}

void DeviceEngine::watchdog(bool answerOwed)
{
    // A slow board's answer is not silence: only ticks at which no answer is owed count.
    if (answerOwed)
        return;
    if (nLinkCount <= 0) {
        // The board has gone quiet: its states are no longer known. Commanded
        // states stay as they are; they are reloaded from the board before any
        // relay command goes out again.
        lineTakenElsewhere();
    } else {
        --nLinkCount;
    }
}

void DeviceEngine::lineTakenElsewhere()
{
    m_pace.forget(false);
    greyLamps();
    bSyncRelay = true;
    forgetBoardStates();
}

bool DeviceEngine::relayCommandMayGo() const
{
    return !bSyncRelay && m_agreeing >= 2;
}

void DeviceEngine::forgetBoardStates()
{
    m_agreeing = 0;
    m_boardStates = 0;
}

void DeviceEngine::idleSection()
{
    if (bManualPending && relayCommandMayGo()) {
        // Commanded channels carry the operator's state, every other channel the
        // state the board reported last, so only commanded relays can change.
        uint16_t mask = 0;
        FollowCheck follow;
        for (int ch = 1; ch <= kChannelCount; ++ch) {
            const bool on = m_commanded[ch] ? PendingCommand[ch] == kRelayOn : ((m_boardStates >> (ch - 1)) & 1u);
            if (on)
                mask |= uint16_t(1u << (ch - 1));
            if (m_commanded[ch])
                follow.channels |= uint16_t(1u << (ch - 1));
        }
        const uint8_t code = RelayCommandCode(m_variant);
        tx_frame22bit(code, 0, uint8_t(mask & 0xFF), uint8_t(mask >> 8));
        follow.fault.commanded = mask;
        follow.fault.sameAsStatusRequest = code == wire::kStatus && mask == 0;
        m_follow = follow;
        m_followFaultShownUntil = QDateTime();
        bManualPending = false;
        m_commanded.fill(false);
        // What the board does with it is known from its next replies only.
        m_agreeing = 0;
        return;
    }
    // Also the way to learn the board's states before a waiting command may go.
    tx_frame22bit(wire::kStatus, 0, 0, 0);
}

// Two agreeing replies since the command: the relays have settled.
void DeviceEngine::checkRelaysFollowed()
{
    FollowCheck follow = *std::exchange(m_follow, std::nullopt);
    const uint16_t wrong = (m_boardStates ^ follow.fault.commanded) & follow.channels;
    if (wrong == 0)
        return;
    for (int ch = 1; ch <= kChannelCount; ++ch)
        if (wrong & (1u << (ch - 1)))
            follow.fault.channels << ch;
    m_followFaultShownUntil = m_clock().addMSecs(kRelayFaultShownFor.count());
    m_view.setActivityText(RelayFollowText(follow.fault));
    m_view.relaysNotFollowed(follow.fault);
}

QString RelayFollowText(const RelayFollowFault &fault)
{
    QStringList on, off;
    for (int ch : fault.channels)
        ((fault.commanded >> (ch - 1)) & 1u ? on : off) << QString::number(ch);
    QStringList parts;
    if (!on.isEmpty())
        parts << QStringLiteral("第%1路未按命令吸合").arg(on.join(QStringLiteral("、")));
    if (!off.isEmpty())
        parts << QStringLiteral("第%1路未按命令断开").arg(off.join(QStringLiteral("、")));
    QString text = parts.join(QStringLiteral("，"));
    if (fault.sameAsStatusRequest)
        text += QStringLiteral("：全部断开的命令与状态查询相同");
    return text;
}

void DeviceEngine::greyLamps()
{
    for (int k = 0; k < kChannelCount; ++k)
        m_view.setLamp(k, kLampGrey);
}

// ---------------------------------------------------------------- commands

void DeviceEngine::ClearWriteQueue()
{
    WriteQueue.clear();
}

void DeviceEngine::queueChannel(int channel)
{
    WriteQueue.append(ChannelWrite(channel, m_book.channel(channel)));
}

void DeviceEngine::startWrite()
{
    bWriteAck = false;
    m_transfer.total = int16_t(m_transfer.queue.size());
    m_transfer.verify = false;
    m_view.setProgressMax(m_transfer.total);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    begin(TransferKind::Write);
}

void DeviceEngine::CmdDown()
{
    // One transfer at a time: a write must not take a list that a read is still filling.
    if (transferActive())
        return;
    ClearWriteQueue();
    queueChannel(nPage);
    startWrite();
}

void DeviceEngine::CmdDownAll()
{
    if (transferActive())
        return;
    ClearWriteQueue();
    for (int c = 1; c <= kChannelCount; ++c)
        queueChannel(c);
    startWrite();
}

bool DeviceEngine::startWriteChannels(const QList<int> &channels)
{
    if (transferActive() || channels.isEmpty())
        return false;
    for (int c : channels)
        if (c < 1 || c > kChannelCount)
            return false;
    ClearWriteQueue();
    for (int c : channels)
        queueChannel(c);
    startWrite();
    return true;
}

bool DeviceEngine::startWriteEntries(const QList<EntryRef> &entries)
{
    if (transferActive())
        return false;
    for (const EntryRef &e : entries)
        if (e->nRoute < 1 || e->nRoute > kChannelCount || e->nNo < 1 || e->nNo > kMaxEntriesPerChannel)
            return false;
    ClearWriteQueue();
    WriteQueue = entries;
    startWrite();
    return true;
}

void DeviceEngine::startRead(TransferKind kind, int first, int last, ScheduleBook &target, bool verify)
{
    m_transfer.target = &target;
    m_transfer.verify = verify;
    m_transfer.channel = first;
    m_transfer.lastChannel = last;
    m_transfer.number = 1;
    begin(kind);
}

void DeviceEngine::CmdUpload()
{
    if (transferActive())
        return;
    m_view.setProgressMax(kMaxReadNumber);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    if (!m_view.ask(kAskReadOne))
        return;
    for (const auto &item : QList<ScheduleBook::Item>(m_book.items()))
        if (item.entry->nRoute == nPage)
            m_book.remove(item.key);
    // The channel being read must not change under the read.
    m_view.showChannel(nPage);
    startRead(TransferKind::Read, nPage, nPage, m_book, false);
}

void DeviceEngine::CmdUpLoadAll()
{
    if (transferActive())
        return;
    m_view.setProgressMax(kMaxReadNumber);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    if (!m_view.ask(kAskReadAll))
        return;
    m_book.clear();
    nPage = 1;
    m_view.showChannel(1);
    startRead(TransferKind::ReadAll, 1, kChannelCount, m_book, false);
}

bool DeviceEngine::startVerifyRead(int channel, ScheduleBook &target)
{
    if (transferActive() || !m_link.isOpen() || channel < 0 || channel > kChannelCount || &target == &m_book)
        return false;
    const int first = channel == 0 ? 1 : channel;
    const int last = channel == 0 ? kChannelCount : channel;
    for (const auto &item : QList<ScheduleBook::Item>(target.items()))
        if (item.entry->nRoute >= first && item.entry->nRoute <= last)
            target.remove(item.key);
    m_view.setProgressMax(kMaxReadNumber);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    startRead(channel == 0 ? TransferKind::ReadAll : TransferKind::Read, first, last, target, true);
    return true;
}

void DeviceEngine::CmdReadTime()
{
    ReadTime(DeviceAddress);
    m_view.startClockClearTimer();
}

void DeviceEngine::CmdSetTime()
{
    bSetTimePending = true;
}

void DeviceEngine::CmdIn()
{
    PendingCommand[nPage] = kRelayOn;
    m_commanded[nPage] = true;
    bManualPending = true;
}

void DeviceEngine::CmdOut()
{
    PendingCommand[nPage] = kRelayOff;
    m_commanded[nPage] = true;
    bManualPending = true;
}

void DeviceEngine::CmdOpenAll()
{
    commandAll(kRelayOn);
}

void DeviceEngine::CmdCloseAll()
{
    commandAll(kRelayOff);
}

void DeviceEngine::commandAll(uint8_t state)
{
    for (int i = 1; i <= kChannelCount; ++i)
        PendingCommand[i] = state;
    // With the link closed this only changes the commanded states, which the
    // board's own states replace once the link opens: nothing fires then.
    if (m_link.isOpen()) {
        std::fill(m_commanded.begin() + 1, m_commanded.end(), true);
        bManualPending = true;
    }
}

void DeviceEngine::linkClosed()
{
    // Nothing can go on without the link: every transfer ends, without a box of
    // its own (the window may be telling why the link closed).
    if (transferActive())
        endTransfer(false, false, true);
    bSyncRelay = true;
    greyLamps();
    for (int k = 1; k <= kChannelCount; ++k)
        PendingCommand[k] = kRelayOff;
    // A command not yet sent is dropped with the states it was made against.
    m_commanded.fill(false);
    bManualPending = false;
    m_follow.reset();
    m_followFaultShownUntil = QDateTime();
    forgetBoardStates();
    m_trust.forget();
    m_boardClock.reset();
    m_pace.forget(true);
}

std::optional<QDateTime> DeviceEngine::boardClockNow() const
{
    if (!m_boardClock)
        return std::nullopt;
    // Elapsed time, not local-time arithmetic: a summer-time change on the
    // computer moves the board's clock not at all.
    return m_boardClock->at.addMSecs(m_boardClockAt.msecsTo(m_clock()));
}

std::optional<qint64> DeviceEngine::boardDrift() const
{
    return m_boardClock ? ClockDriftSeconds(m_boardClock->at, m_boardClockAt) : std::nullopt;
}

void DeviceEngine::noteBoardClock(const std::optional<BoardClock> &board)
{
    if (!board)
        return;
    m_boardClock = board;
    m_boardClockAt = m_clock();
    m_view.boardClockSeen(board->at, boardDrift());
}

// ---------------------------------------------------------------- replies

void DeviceEngine::MSCommDown_OnComm(const Frame &reply)
{
    for (int i = 0; i < kFrameSize; ++i)
        RecvBuf[i] = reply[i];
    if (reply[0] != wire::kReplyHeader)
        return;
    m_pace.answered(m_clock());
    // A damaged reply is no answer: the frame it answers goes out again.
    if (!m_trust.take(reply)) {
        ++m_counters.repliesRejected;
        return;
    }
    ++m_counters.repliesDecoded;

    const uint8_t code = reply[2];
    if (code == wire::kReadClock) {
        m_view.setActivityText(ClockReplyText(reply));
        noteBoardClock(ClockReplyTime(reply));
    }
    if (code == wire::kSetClock && bSetTimePending) {
        // A repeated frame can be acknowledged twice; the operator hears it once.
        bSetTimePending = false;
        // The board's states from before the set are old: a relay command waits for fresh ones.
        m_agreeing = 0;
        m_view.showMessage(kClockSet);
    }
    const bool status = code == wire::kStatus || (m_variant == Variant::Compat && code == wire::kStatusCompat);
    if (status) {
        const uint16_t states = uint16_t(reply[4] | (reply[5] << 8));
        m_agreeing = (m_agreeing > 0 && states == m_boardStates) ? m_agreeing + 1 : 1;
        m_boardStates = states;
        if (bSyncRelay) {
            bSyncRelay = false;
            LoadRelayState();
        } else {
            ShowRelayState();
        }
        nLinkCount = kLinkTicks;
        if (code == wire::kStatus) {
            if (!m_followFaultShownUntil.isValid() || m_clock() >= m_followFaultShownUntil)
                m_view.setActivityText(StatusReplyText(reply));
            noteBoardClock(StatusReplyTime(reply));
        }
        if (m_follow && m_agreeing >= 2)
            checkRelaysFollowed();
    }
    if (code == wire::kWriteEntry) {
        bWriteAck = true;
        if (bWriting && m_transfer.awaiting)
            frameAnswered();
    }
    if (code == wire::kReadEntry) {
        const bool reading = bReading || bReadingAll;
        if (reading && !m_transfer.awaiting) {
            // Nothing was asked: a late or repeated answer.
            ++m_counters.repliesRejected;
            return;
        }
        // An empty-slot reply is checked too when it names its slot: a late one
        // about the last slot of the channel before must not end this channel.
        const bool namesSlot = reply[6] != 0 || reply[4] != 0;
        if (namesSlot && m_expectedChannel != 0 && (reply[4] != m_expectedChannel || reply[5] != m_expectedNumber)) {
            // The answer to some other request (or a damaged one): the read has no answer yet.
            ++m_counters.repliesRejected;
            return;
        }
        if (reply[6] != 0) {
            AddReceivedEntry(reading ? *m_transfer.target : m_book);
        } else {
            m_transfer.channelEnded = true;
        }
        if (reading) {
            frameAnswered();
        } else {
            m_transfer.answered = true;
        }
    }
}

void DeviceEngine::ShowRelayState()
{
    for (int i = 0; i < 8; ++i) {
        m_view.setLamp(i + 8, GetBit(uint8_t(RecvBuf[5]), i) ? kLampGreen : kLampRed);
        m_view.setLamp(i, GetBit(uint8_t(RecvBuf[4]), i) ? kLampGreen : kLampRed);
    }
}

void DeviceEngine::LoadRelayState()
{
    ShowRelayState();
    for (int i = 0; i < 8; ++i) {
        // A channel the operator commanded while the states were unknown keeps
        // the command; every other channel takes what the board reports.
        if (!m_commanded[i + 9])
            PendingCommand[i + 9] = GetBit(uint8_t(RecvBuf[5]), i) ? kRelayOn : kRelayOff;
        if (!m_commanded[i + 1])
            PendingCommand[i + 1] = GetBit(uint8_t(RecvBuf[4]), i) ? kRelayOn : kRelayOff;
    }
}

void DeviceEngine::AddReceivedEntry(ScheduleBook &target)
{
    const auto b = [this](int i) { return uint8_t(RecvBuf[i]); };
    auto e = std::make_shared<Clsdata>();
    e->nRoute = b(4);
    e->nNo = b(5);
    e->bIsEveryDay = b(6) == 1;
    e->bIsWeek = b(6) == 2;
    // The board keeps no year for a daily or weekly entry without a date (month
    // and day 0): such an entry has year 0, as it had when it was written. A
    // fixed-date entry always has its year, or it would read back as a blank.
    const bool undated = (e->bIsEveryDay || e->bIsWeek) && b(8) == 0 && b(9) == 0;
    e->nStartYear = undated ? 0 : int16_t(b(7) + 2000);
    e->nStartMonth = b(8);
    e->nStartDay = b(9);
    e->nStartHour = b(11);
    e->nStartMin = b(12);
    e->nStartSecond = b(13);
    e->strWeek = WeekMaskFromReply(b(10));
    e->bIsOpen = b(14) != 1;

    // A corrupted reply must not put an entry into the book that saves under a
    // wrong key or as a record of the wrong shape; it is dropped like a duplicate.
    if (!e->isWithinRanges() || !target.add(e))
        ++m_counters.entriesDropped;
}
