// The engine without a window: one board on a link, the 200 ms tick, the paced
// steps of a transfer, and what the board's replies mean (relay states, its
// clock, the drift). kelmora-cli runs it to completion command by command;
// kelmora-bridge keeps it ticking and watches it change.
#pragma once

#include "device/boarddriver.h"
#include "device/engine.h"
#include "device/engineview.h"
#include "device/seriallink.h"
#include "schedule/schedulebook.h"

#include <QDateTime>
#include <QStringList>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

class HeadlessSession final : public EngineView, public LinkListener {
public:
    // `book` is what writes send; it outlives the session.
    HeadlessSession(SerialLink &link, ScheduleBook &book, Variant variant, uint8_t address,
                    DeviceEngine::Clock clock = {});
    ~HeadlessSession() override;
    HeadlessSession(const HeadlessSession &) = delete;
    HeadlessSession &operator=(const HeadlessSession &) = delete;

    DeviceEngine &engine() { return m_engine; }
    const DeviceEngine &engine() const { return m_engine; }
    // What the commands go through: the engine on the link, or a board elsewhere
    // (useDriver), which the tick then drives instead.
    BoardDriver &driver() { return *m_driver; }
    // `lost`: why that board is out of reach, empty while it is not (ends runUntil as a lost link does).
    void useDriver(BoardDriver &driver, std::function<QString()> lost)
    {
        m_driver = &driver;
        m_lost = std::move(lost);
    }
    SerialLink &link() { return m_link; }

    // Opens the link through `open`, forgetting a lost link's reason on success.
    OpenResult open(const std::function<OpenResult()> &open);
    // Ends the engine's link state and closes the port.
    void close();

    // One 200 ms tick (tests and owners with their own timer call it).
    void tick();
    // A transfer's paced step, as the pacer asked for it.
    void pacedStep();
    // Ticks every 200 ms on the event loop until stopTicking().
    void startTicking();
    void stopTicking();
    // Runs the event loop, ticking, until `done` holds (true) or `maxTicks`
    // passed or the link was lost (false).
    bool runUntil(const std::function<bool()> &done, int maxTicks);
    // Runs the transfer just started to its end; true when it succeeded. Once `stopWhen` holds
    // (Ctrl+C), the transfer is stopped as 停止 does, and its end is still waited for.
    bool runTransfer(int maxTicks = 16 * 256 * 8, const std::function<bool()> &stopWhen = {});

    // Who runs the paced steps: by default a precise single-shot timer; tests
    // and owners of a shared line take the request and call pacedStep() themselves.
    void setPacer(std::function<void(std::chrono::milliseconds)> pacer) { m_pacer = std::move(pacer); }
    // Called after every frame, tick and link failure: the state may have changed.
    void setOnChange(std::function<void()> f) { m_onChange = std::move(f); }
    // Called with every frame that arrives, before the engine sees it.
    void setFrameObserver(std::function<void(const Frame &)> f) { m_frameObserver = std::move(f); }
    // Called with every frame once the engine has seen it; `taken` is false when
    // the engine refused it (bad check bytes from a board known to fill them, an
    // answer to another request).
    void setReplyObserver(std::function<void(const Frame &, bool taken)> f) { m_replyObserver = std::move(f); }

    // --- What the board has told ---
    const std::array<uint32_t, 16> &lamps() const { return m_lamps; }
    // Bit N-1 = relay N on; empty while any relay's state is not known.
    std::optional<uint16_t> relayStates() const;
    std::optional<QDateTime> boardTime() const { return m_driver->boardClockNow(); }
    std::optional<qint64> drift() const;
    // Messages the engine would have shown in a box ("写入成功！", "设置成功！", ...).
    QStringList &messages() { return m_messages; }
    // The last write or read's end since resetResult().
    const std::optional<TransferResult> &result() const { return m_result; }
    void resetResult() { m_result.reset(); }
    // The last relay command the board did not follow since resetNotFollowed().
    const std::optional<RelayFollowFault> &notFollowed() const { return m_notFollowed; }
    void resetNotFollowed() { m_notFollowed.reset(); }
    // Why the link was lost; empty while it has not been.
    QString linkLost() const { return m_linkLost.isEmpty() && m_lost ? m_lost() : m_linkLost; }
    // Why the last request to a board elsewhere was refused since resetRefused().
    const QString &refused() const { return m_refused; }
    void resetRefused() { m_refused.clear(); }
    // The owner opened the link again by itself.
    void clearLinkLost() { m_linkLost.clear(); }

    // --- EngineView ---
    void setActivityText(const QString &text) override;
    void setProgressVisible(bool visible) override;
    void setProgressMax(int max) override { m_progressMax = max; }
    void setProgressValue(int value) override;
    void setTabsEnabled(bool) override {}
    void setWriteCommandsEnabled(bool) override {}
    void setReadCommandsEnabled(bool) override {}
    void setLamp(int index, uint32_t colour) override { m_lamps[size_t(index)] = colour; }
    void setDebugText(const QString &) override {}
    void showChannel(int) override {}
    void showMessage(const QString &text) override { m_messages << text; }
    bool ask(const QString &) override { return true; } // the book is the session's owner's own
    void startClockClearTimer() override {}
    bool schedulePacedStep(std::chrono::milliseconds after) override;
    void transferEnded(const TransferResult &result) override { m_result = result; }
    void relaysNotFollowed(const RelayFollowFault &fault) override { m_notFollowed = fault; }
    void requestRefused(const QString &why) override { m_refused = why; }

    // Progress for a face that shows it: "正在..." texts and "done/total".
    void setProgressObserver(std::function<void(const QString &)> f) { m_progress = std::move(f); }

    // --- LinkListener ---
    void onFrame(const Frame &frame) override;
    void onLinkFailed(const QString &why) override;

private:
    void changed();

    SerialLink &m_link;
    DeviceEngine m_engine;
    BoardDriver *m_driver = &m_engine;
    std::function<QString()> m_lost;
    QString m_refused;
    std::array<uint32_t, 16> m_lamps{};
    QStringList m_messages;
    std::optional<TransferResult> m_result;
    QString m_linkLost;
    QTimer m_tick;
    QTimer m_pace;
    std::function<void(std::chrono::milliseconds)> m_pacer;
    std::function<void()> m_onChange;
    std::function<void(const Frame &)> m_frameObserver;
    std::function<void(const Frame &, bool)> m_replyObserver;
    std::optional<RelayFollowFault> m_notFollowed;
    std::function<void(const QString &)> m_progress;
    int m_progressMax = 0;
};

// "2026-12-07T10:00:00"
QString IsoSeconds(const QDateTime &t);
