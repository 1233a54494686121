// The poll-and-transfer engine: the device commands, the 200 ms tick that
// advances every transfer by one frame, and the decoding of the board's replies.
//
// Commands only fill the write queue, change the commanded relay states and
// set flags; the tick sends; replies set flags that the next tick reads. The
// engine never waits: a reply is expected within one tick.
#pragma once

#include "device/engineview.h"
#include "device/seriallink.h"
#include "protocol/frames.h"
#include "schedule/schedulebook.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

inline constexpr std::chrono::milliseconds kTickInterval{200};
inline constexpr std::chrono::milliseconds kClockShownFor{3000};
inline constexpr int kLinkTicks = 5;       // watchdog: status replies reset it to this
inline constexpr int kMaxReadNumber = 255; // the board holds 255 entries a channel
inline constexpr uint8_t kRelayOff = 1;
inline constexpr uint8_t kRelayOn = 2;

struct EngineCounters {
    int framesSent = 0;
    int repliesDecoded = 0;
    int entriesDropped = 0;  // received entries refused (duplicate or out of range)
    int repliesRejected = 0; // bad check bytes from a board known to fill them, or an answer to another request
    int writesEnded = 0;
    int readsEnded = 0;
};

class DeviceEngine {
public:
    using Clock = std::function<QDateTime()>;

    DeviceEngine(EngineView &view, SerialLink &link, ScheduleBook &book, Variant variant, Clock clock = {});

    // --- Window state the engine works on (names as the window has always used) ---
    int16_t nPage = 1;
    uint8_t DeviceAddress = 1;
    std::array<int32_t, 100> RecvBuf{};
    int32_t nLinkCount = 0;
    std::array<uint8_t, 17> PendingCommand{}; // slot i: channel i, 1 off / 2 on
    bool bSyncRelay = true;
    bool bWriteAck = false;
    bool bReadReply = false;
    bool bReadEnd = false;
    bool bWriting = false;
    bool bReading = false;
    bool bReadingAll = false;
    bool bManualPending = false;
    bool bSetTimePending = false;
    QList<EntryRef> WriteQueue;
    int16_t nWriteTotal = 0;
    int16_t nReadNo = 0;

    Variant variant() const { return m_variant; }
    const EngineCounters &counters() const { return m_counters; }
    // The computer's clock as the engine sees it (fixed in tests).
    QDateTime now() const { return m_clock(); }

    // --- Frame builders: build, show in the debug label, send when the port is open ---
    void tx_frame22(uint8_t id, uint8_t leixing, uint8_t page, uint8_t index, const QString &str);
    void tx_frame220(uint8_t id, uint8_t leixing, uint8_t page, uint8_t index, const QString &str);
    void UploadNote(uint8_t id, uint8_t page, uint8_t index);
    void SetTime(uint8_t id);
    void ReadTime(uint8_t id);
    void tx_frame22bit(uint8_t leixing, uint8_t nCount, uint8_t data1, uint8_t data2);

    // --- The tick (Timer2) ---
    void Timer2_Timer();

    // --- Commands ---
    void ClearWriteQueue();
    void CmdDown();
    void CmdDownAll();
    void CmdUpload();
    void CmdUpLoadAll();
    void CmdReadTime();
    void CmdSetTime();
    void CmdIn();
    void CmdOut();
    void CmdOpenAll();
    void CmdCloseAll();

    // --- Replies ---
    void MSCommDown_OnComm(const Frame &reply);

    // --- Link state changes made by the window ---
    // The link closed (by the operator or because the port failed): lamps grey,
    // commanded states forgotten, states to be reloaded from the board.
    void linkClosed();

    // The board's clock now, from its last clock or status reply and the
    // computer's clock since; empty while no reply has told it on this link.
    std::optional<QDateTime> boardClockNow() const;

    bool transferUnderWay() const { return bWriting || bReading || bReadingAll || bSetTimePending; }

private:
    void send(const Frame &frame);
    void writeSection();
    bool readSection();    // false: the tick ends here
    bool readAllSection(); // false: the tick ends here
    void requestNextEntry();
    void watchdog();
    void idleSection();
    void endRead(bool success, int showChannel);
    void startWrite();
    void queueChannel(int channel);
    void commandAll(uint8_t state);

    void ShowRelayState();
    void LoadRelayState();
    void AddReceivedEntry();
    void greyLamps();
    void forgetBoardStates();
    bool relayCommandMayGo() const;

    EngineView &m_view;
    SerialLink &m_link;
    ScheduleBook &m_book;
    Variant m_variant;
    Clock m_clock;
    EngineCounters m_counters;

    std::array<bool, 17> m_commanded{};
    // The board's states as its status replies last reported them, and how many
    // replies in a row have reported the same. A relay command needs two: one
    // corrupted or stale reply must not decide the state of a channel nobody touched.
    uint16_t m_boardStates = 0;
    int m_agreeing = 0;
    // A board that fills the check bytes shows it; from then on a reply whose
    // check bytes are wrong was damaged on the line and is not believed.
    int m_goodChecks = 0;
    // The board's clock as last reported, and the computer's clock at that moment.
    std::optional<QDateTime> m_boardClock;
    QDateTime m_boardClockAt;
    void noteBoardClock(const std::optional<QDateTime> &board);
    // The entry the last read request asked for: a reply about another is no answer.
    int m_expectedChannel = 0;
    int m_expectedNumber = 0;
    // A write succeeds only if every frame it sent was acknowledged before the next tick.
    bool m_writeAllAcked = true;
    int m_writeFramesSent = 0;
    // Closing messages are shown after the tick has done all its work, so a tick
    // that runs while a box is open never finds a transfer half ended.
    QStringList m_messages;
};
