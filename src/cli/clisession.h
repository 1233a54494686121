// kelmora-cli's one run: opens the link, drives the same engine the window
// drives (through EngineView, with plain output instead of widgets), and turns
// what the engine reports into an exit code and a result on stdout.
#pragma once

#include "cli/cliargs.h"
#include "device/engine.h"
#include "device/engineview.h"
#include "device/seriallink.h"
#include "device/statusagreement.h"
#include "schedule/schedulebook.h"

#include <QJsonObject>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>

struct CliOutput {
    QTextStream &out;
    QTextStream &err;
    bool errIsTerminal = false;
};

class CliSession final : public EngineView, public LinkListener {
public:
    // `open` opens the link on the requested port (the program passes the
    // port-naming rules; tests a fake).
    CliSession(const CliRequest &request, SerialLink &link, std::function<OpenResult()> open, CliOutput output,
               DeviceEngine::Clock clock = {});
    ~CliSession() override;

    int run();

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
    bool ask(const QString &) override { return true; } // the book is the run's own
    void startClockClearTimer() override {}
    bool schedulePacedStep(std::chrono::milliseconds after) override;
    void transferEnded(const TransferResult &result) override { m_result = result; }
    void relaysNotFollowed(const RelayFollowFault &fault) override { m_notFollowed = fault; }

    // --- LinkListener ---
    void onFrame(const Frame &frame) override;
    void onLinkFailed(const QString &why) override;

private:
    int status();
    int readBoard();
    int writeBoard();
    int verify();
    int clock();
    int relay();
    int scan();

    bool openLink();
    bool boardAnswers(); // waits for the board's relay states; reports exit 4 itself
    // Waits for two status replies that agree, which status and clock report; exit 4 itself.
    bool boardAgrees();
    // Runs ticks until `done` holds or `maxTicks` have passed; false on time-out or a lost link.
    bool runUntil(const std::function<bool()> &done, int maxTicks);
    bool readBoardInto(int channel); // into m_board
    // Runs the transfer just started to its end; true when it succeeded.
    bool runTransfer();
    QString transferFailure(const QString &text) const;

    QJsonValue relaysJson(uint16_t states) const;
    std::optional<QDateTime> boardClockNow() const; // as the agreeing replies told it
    std::optional<qint64> drift() const;
    QJsonObject clockJson() const;
    QString clockLine() const;
    int finish(CliExit exit, const QJsonObject &json, const QStringList &lines);
    int fail(CliExit exit, const QString &text);
    void progressLine(const QString &text);

    CliRequest m_request;
    SerialLink &m_link;
    std::function<OpenResult()> m_open;
    CliOutput m_output;
    ScheduleBook m_book;  // the schedule file: what a write sends, what a verify expects
    ScheduleBook m_board; // what a read brings back
    DeviceEngine m_engine;
    std::array<uint32_t, 16> m_lamps{};
    QStringList m_messages;
    std::optional<TransferResult> m_result;
    std::optional<RelayFollowFault> m_notFollowed;
    StatusAgreement m_agreement;
    QTimer m_pace;
    QString m_linkLost;
    int m_progressMax = 0;
    bool m_progressShown = false;
    std::function<void(const Frame &)> m_frameHook; // the bus scan takes the replies
};
