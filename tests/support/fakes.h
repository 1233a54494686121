// Fakes for driving the engine and the window without a port, a board or a screen.
#pragma once

#include "bridge/mqttclient.h"
#include "device/boarddriver.h"
#include "device/engineview.h"
#include "device/seriallink.h"
#include "protocol/frames.h"
#include "protocol/replies.h"
#include "support/frames.h"
#include "support/printers.h"

#include <QList>
#include <QMap>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "schedule/schedulebook.h"

// Appends `count` entries made from `record` to a channel, numbered after its last.
void AddEntries(ScheduleBook &book, int channel, const char *record, int count = 1);
// Every channel's list in order as "key=record" (how channels interleave is not kept by files).
QStringList ChannelRecords(const ScheduleBook &book);

// Records what is written; open/close by flag.
class FakeLink final : public SerialLink {
public:
    void setListener(LinkListener *l) override { listener = l; }
    OpenResult open(int portNumber) override
    {
        openedPort = portNumber;
        if (openError != OpenError::None)
            return {openError, device, QStringLiteral("refused")};
        opened = true;
        return {};
    }
    void close() override { opened = false; }
    bool isOpen() const override { return opened; }
    void discardInput() override { ++discards; }
    void write(const QByteArray &bytes) override { written.append(FromBytes(bytes)); }

    LinkListener *listener = nullptr;
    OpenError openError = OpenError::None;
    QString device = QStringLiteral("/dev/fake"); // what a refused open names
    bool opened = false;
    int openedPort = 0;
    int discards = 0;
    QList<Frame> written;
};

// Records what a link hands on.
struct RecordingListener final : LinkListener {
    void onFrame(const Frame &f) override { frames.push_back(f); }
    void onLinkFailed(const QString &why) override { failures << why; }
    void onStrayBytes(const QByteArray &bytes) override { stray += bytes; }
    std::vector<Frame> frames;
    QByteArray stray; // what discardInput threw away unread
    QStringList failures;
};

// Records every effect the engine has on the window.
class RecordingView final : public EngineView {
public:
    void setActivityText(const QString &text) override { activity = text, activityLog << text; }
    void setProgressVisible(bool v) override { progressVisible = v; }
    void setProgressMax(int m) override { progressMax = m; }
    void setProgressValue(int v) override { progressValue = v; }
    void setTabsEnabled(bool e) override { tabsEnabled = e; }
    void setWriteCommandsEnabled(bool e) override { writeEnabled = e; }
    void setReadCommandsEnabled(bool e) override { readEnabled = e; }
    void setLamp(int i, uint32_t c) override { lamps[i] = c; }
    void setDebugText(const QString &t) override { debug = t; }
    void showChannel(int channel) override { shownChannel = channel; }
    void showMessage(const QString &text) override
    {
        messages << text;
        if (onMessage)
            onMessage(text);
    }
    bool ask(const QString &text) override { return questions << text, answer; }
    void startClockClearTimer() override { ++clockClears; }
    bool schedulePacedStep(std::chrono::milliseconds after) override
    {
        if (onPace)
            onPace(after);
        return bool(onPace);
    }
    void setTransferRunning(bool running) override { transferRunning = running; }
    void setTransferNote(const QString &text) override { note = text; }
    void relaysNotFollowed(const RelayFollowFault &fault) override { notFollowed << fault.channels; }
    void requestRefused(const QString &why) override { refused << why; }
    void transferEnded(const TransferResult &r) override { ended << r; }

    QString activity;
    QStringList activityLog;
    bool progressVisible = false;
    int progressMax = 0, progressValue = 0;
    bool tabsEnabled = true, writeEnabled = true, readEnabled = true;
    std::array<uint32_t, 16> lamps{};
    QString debug;
    int shownChannel = 0;
    QStringList messages, questions;
    bool answer = true;
    int clockClears = 0;
    std::function<void(const QString &)> onMessage;
    std::function<void(std::chrono::milliseconds)> onPace;
    bool transferRunning = false;
    QString note; // status panel 2
    QList<QList<int>> notFollowed;
    QStringList refused;
    QList<TransferResult> ended;
};

// An MQTT client whose broker is the test: it records what goes out, and the test calls
// the handlers for what comes in.
struct ScriptedMqtt final : MqttClient {
    void setHandlers(MqttHandlers h) override { handlers = std::move(h); }
    void setWill(const QString &, const QByteArray &) override {}
    void start() override {}
    bool isConnected() const override { return connected; }
    void publish(const QString &t, const QByteArray &p, bool) override { sent << qMakePair(t, p); }
    void subscribe(const QString &f) override { subscribed << f; }
    void unsubscribe(const QString &f) override { subscribed.removeAll(f); }
    MqttHandlers handlers;
    bool connected = false;
    QList<QPair<QString, QByteArray>> sent;
    QStringList subscribed;
};

// A board that answers the way the real one does, with switches for the faults tests need.
class FakeBoard {
public:
    std::optional<Frame> answer(const Frame &request);

    uint8_t relays1 = 0, relays2 = 0;
    bool silent = false;
    std::function<bool(int writeIndex)> ackWrite = [](int) { return true; };
    int writes = 0;
    bool ackClock = true;
    // Requests it does not answer (beside `silent` and `ackWrite`).
    std::function<bool(const Frame &request)> deaf = [](const Frame &) { return false; };
    int readNumberShift = 0;            // entry replies about another number than asked
    QList<int> unsealedCodes;           // reply codes sent with check bytes left 0
    QMap<QPair<int, int>, Frame> slots; // (channel, number) -> the write frame
    QMap<int, int> ends;                // channel -> number of its blank entry

private:
    std::optional<Frame> answerSealed(const Frame &request);
};

// The board on the event loop: every pass of the loop answers what was written since
// the last, then calls `pass` (where a test ticks the engine instead of waiting for the
// 200 ms timer). `answer` stands for the board; by default `board` answers.
class BoardOnLoop {
public:
    BoardOnLoop(FakeLink &link, FakeBoard &board, std::function<void()> pass = {})
        : answer([&board](const Frame &f) { return board.answer(f); })
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, &link, pass = std::move(pass)] {
            for (; m_answered < link.written.size(); ++m_answered)
                if (const std::optional<Frame> r = answer(link.written[m_answered]); r && link.listener)
                    link.listener->onFrame(*r);
            if (pass)
                pass();
        });
        m_timer.start(0);
    }
    std::function<std::optional<Frame>(const Frame &)> answer;

private:
    QTimer m_timer;
    qsizetype m_answered = 0;
};
