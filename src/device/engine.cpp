#include "device/engine.h"

#include "protocol/replies.h"

namespace {
// Replies with correct check bytes before the board counts as one that fills them.
constexpr int kTrustChecksAfter = 3;
const QString kWriteOk = QStringLiteral("写入成功！");
const QString kWriteFailed = QStringLiteral("写入失败！");
const QString kReadOk = QStringLiteral("读取成功！");
const QString kReadFailed = QStringLiteral("读取失败！");
const QString kClockSet = QStringLiteral("设置成功！");
const QString kAskReadOne = QStringLiteral("此操作将清除软件显示当前路信息，继续否？");
const QString kAskReadAll = QStringLiteral("此操作将清除软件显示所有路信息，继续否？");
} // namespace

DeviceEngine::DeviceEngine(EngineView &view, SerialLink &link, ScheduleBook &book, Variant variant, Clock clock)
    : m_view(view), m_link(link), m_book(book), m_variant(variant),
      m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); }))
{
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
    if (bWriting)
        writeSection();
    bool goOn = true;
    if (bReading)
        goOn = readSection();
    if (goOn && bReadingAll)
        goOn = readAllSection();
    if (goOn) {
        if (bSetTimePending)
            SetTime(DeviceAddress);
        watchdog();
        if (!transferUnderWay())
            idleSection();
    }

    // Everything this tick had to do is done; only now may a box open (and with
    // it a nested event loop in which further ticks can run).
    const QStringList messages = std::exchange(m_messages, {});
    for (const QString &m : messages)
        m_view.showMessage(m);
}

void DeviceEngine::writeSection()
{
    if (WriteQueue.isEmpty()) {
        // The last frame's acknowledgement had its tick to arrive.
        if (m_writeFramesSent > 0 && !bWriteAck)
            m_writeAllAcked = false;
        const bool ok = m_writeAllAcked && m_writeFramesSent > 0;
        bWriting = false;
        m_view.setWriteCommandsEnabled(true);
        m_view.setProgressVisible(false);
        m_view.setActivityText(QString());
        m_view.setTabsEnabled(true);
        ++m_counters.writesEnded;
        m_messages.append(ok ? kWriteOk : kWriteFailed);
        return;
    }

    if (m_writeFramesSent > 0 && !bWriteAck)
        m_writeAllAcked = false;
    bWriteAck = false;

    const EntryRef e = WriteQueue.first();
    const QString r = e->GetStr();
    if (IsBlankRecord(r)) {
        tx_frame220(DeviceAddress, 1, uint8_t(e->nRoute), uint8_t(e->nNo), r);
        m_view.setProgressVisible(false);
        m_view.setActivityText(QString());
    } else {
        tx_frame22(DeviceAddress, uint8_t(e->mode()), uint8_t(e->nRoute), uint8_t(e->nNo), r);
        m_view.setActivityText(QStringLiteral("正在写入第%1路第%2条").arg(e->nRoute).arg(e->nNo));
        m_view.setProgressValue(nWriteTotal - int(WriteQueue.size()) + 1);
    }
    ++m_writeFramesSent;
    m_view.setTabsEnabled(false);
    WriteQueue.removeFirst();
    nLinkCount = kLinkTicks;
}

void DeviceEngine::requestNextEntry()
{
    m_view.setProgressValue(nReadNo);
    UploadNote(DeviceAddress, uint8_t(nPage), uint8_t(nReadNo));
    m_view.setActivityText(QStringLiteral("正在读取第%1路第%2条").arg(nPage).arg(nReadNo));
    bReadReply = false;
    ++nReadNo;
    if (nReadNo > kMaxReadNumber)
        bReadEnd = true;
    m_view.setTabsEnabled(false);
    nLinkCount = kLinkTicks;
}

void DeviceEngine::endRead(bool success, int channel)
{
    bReading = false;
    bReadingAll = false;
    bReadEnd = false;
    nReadNo = 1;
    nPage = int16_t(channel);
    m_view.showChannel(channel);
    m_view.setProgressVisible(false);
    m_view.setActivityText(QString());
    m_view.setReadCommandsEnabled(true);
    m_view.setTabsEnabled(true);
    ++m_counters.readsEnded;
    m_messages.append(success ? kReadOk : kReadFailed);
}

bool DeviceEngine::readSection()
{
    if (!bReadReply) {
        endRead(false, nPage);
        return false;
    }
    if (bReadEnd) {
        endRead(true, nPage);
        return true;
    }
    requestNextEntry();
    return true;
}

bool DeviceEngine::readAllSection()
{
    nLinkCount = kLinkTicks;
    if (!bReadReply) {
        endRead(false, 1);
        return false;
    }
    if (bReadEnd) {
        if (nPage >= kChannelCount) {
            endRead(true, 1);
        } else {
            // The next tick asks for entry 1 of the next channel.
            nReadNo = 1;
            ++nPage;
            bReading = false;
            bReadEnd = false;
        }
        return true;
    }
    requestNextEntry();
    return true;
}

void DeviceEngine::watchdog()
{
    if (nLinkCount <= 0) {
        // The board has gone quiet: its states are no longer known. Commanded
        // states stay as they are; they are reloaded from the board before any
        // relay command goes out again.
        greyLamps();
        bSyncRelay = true;
        forgetBoardStates();
    } else {
        --nLinkCount;
    }
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
        for (int ch = 1; ch <= kChannelCount; ++ch) {
            const bool on = m_commanded[ch] ? PendingCommand[ch] == kRelayOn : ((m_boardStates >> (ch - 1)) & 1u);
            if (on)
                mask |= uint16_t(1u << (ch - 1));
        }
        tx_frame22bit(RelayCommandCode(m_variant), 0, uint8_t(mask & 0xFF), uint8_t(mask >> 8));
        bManualPending = false;
        m_commanded.fill(false);
        // What the board does with it is known from its next replies only.
        m_agreeing = 0;
        return;
    }
    // Also the way to learn the board's states before a waiting command may go.
    tx_frame22bit(wire::kStatus, 0, 0, 0);
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
    const QList<EntryRef> entries = m_book.channel(channel);
    WriteQueue.append(entries);
    // A full channel needs no end marker, and number 256 would not fit the frame.
    if (entries.size() < kMaxEntriesPerChannel) {
        auto blank = std::make_shared<Clsdata>();
        blank->nRoute = int16_t(channel);
        blank->nNo = int16_t(entries.size() + 1);
        WriteQueue.append(blank);
    }
}

void DeviceEngine::startWrite()
{
    bWriteAck = false;
    m_writeAllAcked = true;
    m_writeFramesSent = 0;
    nWriteTotal = int16_t(WriteQueue.size());
    m_view.setProgressMax(nWriteTotal);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    m_view.setWriteCommandsEnabled(false);
    m_view.setTabsEnabled(false);
    bWriting = true;
}

void DeviceEngine::CmdDown()
{
    ClearWriteQueue();
    queueChannel(nPage);
    startWrite();
}

void DeviceEngine::CmdDownAll()
{
    ClearWriteQueue();
    for (int c = 1; c <= kChannelCount; ++c)
        queueChannel(c);
    startWrite();
}

void DeviceEngine::CmdUpload()
{
    bReadReply = true;
    m_view.setProgressMax(kMaxReadNumber);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    if (!m_view.ask(kAskReadOne))
        return;
    for (const auto &item : QList<ScheduleBook::Item>(m_book.items()))
        if (item.entry->nRoute == nPage)
            m_book.remove(item.key);
    bReadEnd = false;
    bReading = true;
    nReadNo = 1;
    m_view.setReadCommandsEnabled(false);
    // The channel being read must not change under the read.
    m_view.showChannel(nPage);
    m_view.setTabsEnabled(false);
}

void DeviceEngine::CmdUpLoadAll()
{
    bReadReply = true;
    m_view.setProgressMax(kMaxReadNumber);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    if (!m_view.ask(kAskReadAll))
        return;
    m_book.clear();
    bReadingAll = true;
    nReadNo = 1;
    m_view.setReadCommandsEnabled(false);
    bReadEnd = false;
    nPage = 1;
    m_view.showChannel(1);
    m_view.setTabsEnabled(false);
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
    bSyncRelay = true;
    greyLamps();
    for (int k = 1; k <= kChannelCount; ++k)
        PendingCommand[k] = kRelayOff;
    // A command not yet sent is dropped with the states it was made against.
    m_commanded.fill(false);
    bManualPending = false;
    forgetBoardStates();
    m_goodChecks = 0;
    m_boardClock.reset();
}

std::optional<QDateTime> DeviceEngine::boardClockNow() const
{
    if (!m_boardClock)
        return std::nullopt;
    return m_boardClock->addMSecs(m_boardClockAt.msecsTo(m_clock()));
}

void DeviceEngine::noteBoardClock(const std::optional<QDateTime> &board)
{
    if (!board)
        return;
    m_boardClock = board;
    m_boardClockAt = m_clock();
    m_view.boardClockSeen(*board, m_boardClockAt);
}

// ---------------------------------------------------------------- replies

void DeviceEngine::MSCommDown_OnComm(const Frame &reply)
{
    for (int i = 0; i < kFrameSize; ++i)
        RecvBuf[i] = reply[i];
    if (reply[0] != wire::kReplyHeader)
        return;
    Frame sealed = reply;
    SealFrame(sealed);
    if (sealed[20] == reply[20] && sealed[21] == reply[21]) {
        ++m_goodChecks;
    } else if (m_goodChecks >= kTrustChecksAfter) {
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
            m_view.setActivityText(StatusReplyText(reply));
            noteBoardClock(StatusReplyTime(reply));
        }
    }
    if (code == wire::kWriteEntry)
        bWriteAck = true;
    if (code == wire::kReadEntry) {
        if (reply[6] != 0 && m_expectedChannel != 0 &&
            (reply[4] != m_expectedChannel || reply[5] != m_expectedNumber)) {
            // The answer to some other request (or a damaged one): the read has no answer yet.
            ++m_counters.repliesRejected;
            return;
        }
        if (reply[6] != 0) {
            bReadReply = true;
            AddReceivedEntry();
        } else {
            bReadEnd = true;
            bReadReply = true;
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

void DeviceEngine::AddReceivedEntry()
{
    const auto b = [this](int i) { return uint8_t(RecvBuf[i]); };
    auto e = std::make_shared<Clsdata>();
    e->nRoute = b(4);
    e->nNo = b(5);
    e->bIsEveryDay = b(6) == 1;
    e->bIsWeek = b(6) == 2;
    // The board keeps no year for an entry without a date (month and day 0):
    // such an entry has year 0, as it had when it was written.
    e->nStartYear = (b(8) == 0 && b(9) == 0) ? 0 : int16_t(b(7) + 2000);
    e->nStartMonth = b(8);
    e->nStartDay = b(9);
    e->nStartHour = b(11);
    e->nStartMin = b(12);
    e->nStartSecond = b(13);
    e->strWeek = WeekMaskFromReply(b(10));
    e->bIsOpen = b(14) != 1;

    // A corrupted reply must not put an entry into the book that saves under a
    // wrong key or as a record of the wrong shape; it is dropped like a duplicate.
    if (!e->isWithinRanges() || !m_book.add(e))
        ++m_counters.entriesDropped;
}
