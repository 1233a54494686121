// What the poll-and-transfer engine needs from the window. The window
// implements it with widgets; tests implement it with a recorder.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

struct TransferResult;

// Channels that did not switch as a relay command said, once the board's states
// had settled after it (two agreeing status replies).
struct RelayFollowFault {
    QList<int> channels;    // 1..16
    uint16_t commanded = 0; // the states the command carried, channel 1 in bit 0
    // Both masks zero under the status code: the board took it for a status request.
    bool sameAsStatusRequest = false;
};

// Lamp fill colours as the board's tool has always stored them (red in the low byte).
inline constexpr uint32_t kLampGrey = 12632256; // 0xC0C0C0: no state known
inline constexpr uint32_t kLampGreen = 65280;   // 0x00FF00: relay on
inline constexpr uint32_t kLampRed = 255;       // 0x0000FF: relay off

class EngineView {
public:
    virtual ~EngineView() = default;
    virtual void setActivityText(const QString &text) = 0; // status panel 1
    virtual void setProgressVisible(bool visible) = 0;
    virtual void setProgressMax(int max) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setTabsEnabled(bool enabled) = 0;
    virtual void setWriteCommandsEnabled(bool enabled) = 0; // 写入, 写入所有
    virtual void setReadCommandsEnabled(bool enabled) = 0;  // 读取, 读取设备
    virtual void setLamp(int index, uint32_t colour) = 0;   // index 0..15 = channel 1..16
    virtual void setDebugText(const QString &text) = 0;
    // Fills the list with `channel` and selects its tab, so list, tab and the
    // editing commands always agree.
    virtual void showChannel(int channel) = 0;
    virtual void showMessage(const QString &text) = 0; // modal, OK, title "提示"
    virtual bool ask(const QString &text) = 0;         // modal, OK/Cancel; true = OK
    virtual void startClockClearTimer() = 0;           // one-shot, clears panel 1 after 3 s
    // The board reported its clock (a clock or status reply), and how far it is
    // off the computer's (worked out once, by the engine: DeviceEngine::boardDrift).
    // Views that do not show it ignore it.
    virtual void boardClockSeen(const QDateTime &board, std::optional<qint64> drift)
    {
        (void)board;
        (void)drift;
    }
    // Run DeviceEngine::pacedStep once, `after` from now (a later request
    // replaces an earlier one); false if this view never does, which leaves
    // transfers at the tick's pace.
    virtual bool schedulePacedStep(std::chrono::milliseconds after)
    {
        (void)after;
        return false;
    }
    // A write or read started (true) or ended (false): the stop command is
    // offered, and the commands that would start another transfer or change the
    // entries being transferred are not.
    virtual void setTransferRunning(bool running) { (void)running; }
    // Status panel 2: the transfer's progress and why other commands wait, or
    // how it ended when it ended without its box.
    virtual void setTransferNote(const QString &text) { (void)text; }
    virtual void transferEnded(const TransferResult &result) { (void)result; }
    // A relay command was not followed (panel 1 says so as well).
    virtual void relaysNotFollowed(const RelayFollowFault &fault) { (void)fault; }
    // A board behind the broker: the bridge refused a request, or did not answer it, for this
    // reason (shown as well, in a box or panel as the request has it).
    virtual void requestRefused(const QString &why) { (void)why; }
};
