// The poll-and-transfer engine: the device commands, the 200 ms tick, the
// paced steps of a transfer, and the decoding of the board's replies.
//
// A write or read is one Transfer that two events drive: the reply handler,
// which takes the answer to the frame that is out and asks the view for a paced
// step a short guard later, and the 200 ms tick, which gives up on a frame whose
// deadline has passed (it is sent again, at most kFrameAttempts times in all).
// The deadline follows the board's answer time, which the line's pace learns
// from every exchange, status polls included. No request goes out while an
// answer is owed, so a slow board is never sent frames faster than it answers,
// and after a repeated frame the next waits out the earlier one's deadline, so
// a late answer to the first sending is not taken for the next frame. A
// transfer with no paced steps at all still runs at the tick's pace. The
// engine never waits.
#pragma once

#include "device/boarddriver.h"
#include "device/engineview.h"
#include "device/linepace.h"
#include "device/seriallink.h"
#include "protocol/frames.h"
#include "protocol/framewords.h"
#include "protocol/replies.h"
#include "schedule/schedulebook.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

inline constexpr std::chrono::milliseconds kClockShownFor{3000};
// Panel 1 keeps a relay command's failure this long before status replies write over it.
inline constexpr std::chrono::milliseconds kRelayFaultShownFor{10000};
inline constexpr int kLinkTicks = 5;       // watchdog: status replies reset it to this
inline constexpr int kMaxReadNumber = 255; // the board holds 255 entries a channel
inline constexpr uint8_t kRelayOff = 1;
inline constexpr uint8_t kRelayOn = 2;
// After a reply has been decoded, the next frame of a transfer waits this long:
// the board has sent its last byte, and a few character times (1.04 ms each at
// 9600 baud) let it turn its line round before the next request arrives.
inline constexpr std::chrono::milliseconds kReplyGuard{5};
// Each frame of a transfer goes out at most this often before the transfer fails.
inline constexpr int kFrameAttempts = 4;

// Panel 1's words for a relay command that was not followed, e.g.
// "第3路未按命令断开：全部断开的命令与状态查询相同".
QString RelayFollowText(const RelayFollowFault &fault);


// One write or read under way: everything the tick and the reply handler share.
struct Transfer {
    TransferKind kind = TransferKind::None;
    QList<EntryRef> queue;          // write: entries still to be acknowledged, first next
    int16_t total = 0;              // write: entries queued when it started
    ScheduleBook *target = nullptr; // read: where received entries go
    bool verify = false;            // read into a separate book: no question, no box, screen untouched
    int channel = 0;                // read: the channel being read (not the channel on screen)
    int lastChannel = 0;            // read: the last channel to read
    int16_t number = 0;             // read: the entry requested (or next to request)
    bool answered = false;          // the frame that went out last has its answer
    bool channelEnded = false;      // read: the board reported no further entry, or entry 255 came
    bool awaiting = false;          // a frame is out and unanswered
    int attempts = 0;               // times the frame that is out has gone out
    bool pacePending = false;       // answered, and the view runs the paced step after the guard
    int done = 0;                   // frames answered
    int retries = 0;
    QDateTime started;
};

struct EngineCounters {
    int framesSent = 0;
    int repliesDecoded = 0;
    int entriesDropped = 0;  // received entries refused (duplicate or out of range)
    int repliesRejected = 0; // damaged (see ReplyTrust), or an answer to another request
    int writesEnded = 0;
    int readsEnded = 0;
    int transfersSucceeded = 0;
    int retries = 0;
};

class DeviceEngine final : public BoardDriver {
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
    bool bWriteAck = false; // an acknowledgement came (the write's verdict needs every frame's)
    bool bManualPending = false;
    bool bSetTimePending = false;
    // Which transfer is under way: set together from the transfer's kind, read-only outside.
    bool bWriting = false;
    bool bReading = false;
    bool bReadingAll = false;

private:
    Transfer m_transfer;

public:
    // The names the window has always used, as views of the transfer under way.
    QList<EntryRef> &WriteQueue = m_transfer.queue;
    int16_t &nWriteTotal = m_transfer.total;
    int16_t &nReadNo = m_transfer.number;
    bool &bReadReply = m_transfer.answered;
    bool &bReadEnd = m_transfer.channelEnded;

    DeviceEngine(const DeviceEngine &) = delete;
    DeviceEngine &operator=(const DeviceEngine &) = delete;

    Variant variant() const { return m_variant; }
    const EngineCounters &counters() const { return m_counters; }
    // The computer's clock as the engine sees it (fixed in tests).
    QDateTime now() const override { return m_clock(); }

    // --- BoardDriver: the commands below, with nPage set to the channel ---
    void tick() override { Timer2_Timer(); }
    void write(int channel) override;
    void read(int channel) override;
    void readClock() override { CmdReadTime(); }
    void setClock() override { CmdSetTime(); }
    void switchRelay(int channel, bool on) override;
    void stop() override { CmdStop(); }
    bool writing() const override { return m_transfer.kind == TransferKind::Write && !m_transfer.verify; }
    bool relayCommandPending() const override { return bManualPending || relayCheckPending(); }

    // --- Frame builders: build, show in the debug label, send when the port is open ---
    void tx_frame22(uint8_t id, uint8_t leixing, uint8_t page, uint8_t index, const QString &str);
    void tx_frame220(uint8_t id, uint8_t leixing, uint8_t page, uint8_t index, const QString &str);
    void UploadNote(uint8_t id, uint8_t page, uint8_t index);
    void SetTime(uint8_t id);
    void ReadTime(uint8_t id);
    void tx_frame22bit(uint8_t leixing, uint8_t nCount, uint8_t data1, uint8_t data2);

    // --- The tick (Timer2), and the paced step the view runs when asked ---
    void Timer2_Timer();
    void pacedStep();

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
    // Ends the write or read under way at once ("已停止").
    void CmdStop();
    // Reads one channel (1..16) or all (0) into `target`, leaving the operator's
    // book and screen alone and asking nothing; false if a transfer is under way.
    // The outcome is lastResult() (and the view's transferEnded), never a box.
    bool startVerifyRead(int channel, ScheduleBook &target) override;
    // Writes the given channels (1..16, in this order) as 写入所有 writes each,
    // with its closing box; false if a transfer is under way or none is given.
    bool startWriteChannels(const QList<int> &channels) override;
    // Writes exactly these entries, each as the channel and number it carries (the frames
    // ChannelWrite chose), with 写入's closing box; none at all is a write that succeeds at
    // once. False if a transfer is under way or an entry has no place on the board.
    bool startWriteEntries(const QList<EntryRef> &entries);

    // --- Replies ---
    void MSCommDown_OnComm(const Frame &reply);

    // --- Link state changes made by the window ---
    // The link closed (by the operator or because the port failed): a write or
    // read under way ends, lamps grey, commanded states forgotten, states to be
    // reloaded from the board.
    void linkClosed();
    // Something else has the line for a while (a bus scan): the board is out of
    // hearing, as when the watchdog runs out, and its states are heard afresh
    // before a relay command may go.
    void lineTakenElsewhere();

    // The board's clock now, a plain wall-clock reading in Qt::UTC (see
    // BoardClock): its last clock or status reply plus the seconds the
    // computer's clock has run since. Empty while no reply has told it on this link.
    std::optional<QDateTime> boardClockNow() const override;
    // How far the board's clock was off the computer's at its last reading, in
    // seconds (board minus computer); empty before one, or for a clock that is no time.
    // Every face takes it from here.
    std::optional<qint64> boardDrift() const override;
    // Days from the weekday of boardClockNow()'s date to the weekday the board
    // keeps (0..6): the board turns both at its midnight, so the shift holds.
    int boardWeekdayShift() const override { return m_boardClock ? m_boardClock->weekdayShift() : 0; }

    bool transferUnderWay() const override { return transferActive() || bSetTimePending; }
    // A relay command went out and the board's settled states are not yet compared with it.
    bool relayCheckPending() const { return m_follow.has_value(); }
    // A write or read is under way (the clock set is not one).
    bool transferActive() const override { return m_transfer.kind != TransferKind::None; }
    const Transfer &transfer() const { return m_transfer; }
    // How the last write or read ended; empty before the first ended.
    const std::optional<TransferResult> &lastResult() const override { return m_lastResult; }

private:
    void send(const Frame &frame);
    void begin(TransferKind kind);
    void setKind(TransferKind kind);
    void advance();
    void sendCurrent(bool retry);
    void frameAnswered();
    void transferTick();
    void endTransfer(bool success, bool stopped = false, bool linkLost = false);
    QString transferNote() const;
    void watchdog(bool answerOwed);
    void idleSection();
    void startWrite();
    void startRead(TransferKind kind, int first, int last, ScheduleBook &target, bool verify);
    void queueChannel(int channel);
    void commandAll(uint8_t state);

    void ShowRelayState();
    void LoadRelayState();
    void AddReceivedEntry(ScheduleBook &target);
    void greyLamps();
    void forgetBoardStates();
    bool relayCommandMayGo() const;
    void checkRelaysFollowed();

    EngineView &m_view;
    SerialLink &m_link;
    ScheduleBook &m_book;
    Variant m_variant;
    Clock m_clock;
    EngineCounters m_counters;
    LinePace m_pace;
    bool m_inTick = false;    // frames sent now go out at the tick
    bool m_resending = false; // the frame going out repeats the one whose answer is overdue

    std::array<bool, 17> m_commanded{};
    // The board's states as its status replies last reported them, and how many
    // replies in a row have reported the same. A relay command needs two: one
    // corrupted or stale reply must not decide the state of a channel nobody touched.
    uint16_t m_boardStates = 0;
    int m_agreeing = 0;
    // The relay command last sent, until two agreeing replies after it show
    // whether the board followed: which channels it commanded, and to what.
    struct FollowCheck {
        uint16_t channels = 0;
        RelayFollowFault fault;
    };
    std::optional<FollowCheck> m_follow;
    QDateTime m_followFaultShownUntil;
    // Which replies may be taken as data: never one with wrong check bytes; 00 00
    // only from a board not yet seen to fill them for that kind of reply.
    ReplyTrust m_trust;
    // The board's clock as last reported, and the computer's clock at that moment.
    std::optional<BoardClock> m_boardClock;
    QDateTime m_boardClockAt;
    void noteBoardClock(const std::optional<BoardClock> &board);
    // The entry the last read request asked for: a reply about another is no answer.
    int m_expectedChannel = 0;
    int m_expectedNumber = 0;
    std::optional<TransferResult> m_lastResult;
    // Closing messages are shown after the tick has done all its work, so a tick
    // that runs while a box is open never finds a transfer half ended.
    QStringList m_messages;
};
