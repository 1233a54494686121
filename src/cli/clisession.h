// kelmora-cli's one run: opens the link, runs one command on the headless
// session (the same engine the window drives), and turns what the board told
// into an exit code and a result on stdout.
#pragma once

#include "bridge/mqttclient.h"
#include "bridge/networkboard.h"
#include "cli/cliargs.h"
#include "cli/convert.h"
#include "device/engine.h"
#include "device/headlesssession.h"
#include "device/seriallink.h"
#include "device/statusagreement.h"
#include "schedule/schedulebook.h"

#include <QJsonObject>
#include <QStringList>
#include <QTextStream>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>

struct CliOutput {
    QTextStream &out;
    QTextStream &err;
    bool errIsTerminal = false;
};

class CliSession final {
public:
    // `open` opens the link on the requested port (the program passes the
    // port-naming rules; tests a fake).
    CliSession(const CliRequest &request, SerialLink &link, std::function<OpenResult()> open, CliOutput output,
               DeviceEngine::Clock clock = {});

    // The board behind the broker (--broker) instead of the link; `by` names this client in requests.
    void useBroker(MqttClient &mqtt, const QString &by);
    // Set by SIGINT: a transfer under way is stopped (B/transfer/stop through the broker).
    static volatile std::sig_atomic_t interrupted;

    int run();
    void setPdfPainter(PdfPainter paint) { m_paintPdf = std::move(paint); }

private:
    int status();
    int readBoard();
    int writeBoard();
    int verify();
    int clock();
    int relay();
    int scan();
    int convert();
    int check();
    int plan();
    int boards();

    bool openBroker();
    // Ticks the status and relay waits may take: through the broker the bridge answers, in its time.
    int ticks(int serial) const { return m_network ? kBrokerTicks : serial; }
    static constexpr int kBrokerTicks = 100; // 20 s

    bool openLink();
    bool boardAnswers(); // waits for the board's relay states; reports exit 4 itself
    // Waits for two status replies that agree, which status and clock report; exit 4 itself.
    bool boardAgrees();
    // Runs ticks until `done` holds or `maxTicks` have passed; exit 4 itself on a time-out or a lost link.
    bool waitFor(const std::function<bool()> &done, int maxTicks);
    bool readBoardInto(int channel); // into m_board
    // Runs the transfer just started to its end; true when it succeeded.
    bool runTransfer();
    QString transferFailure(const QString &text) const;

    QJsonValue relaysJson(uint16_t states) const;
    QJsonObject clockJson() const;
    QString clockLine() const;
    int finish(CliExit exit, const QJsonObject &json, const QStringList &lines);
    int fail(CliExit exit, const QString &text);
    void progressLine(const QString &text);

    CliRequest m_request;
    std::function<OpenResult()> m_open;
    CliOutput m_output;
    ScheduleBook m_book;  // the schedule file: what a write sends, what a verify expects
    ScheduleBook m_board; // what a read brings back
    HeadlessSession m_session;
    StatusAgreement m_agreement;
    bool m_progressShown = false;
    PdfPainter m_paintPdf;
    MqttClient *m_mqtt = nullptr;
    std::unique_ptr<NetworkBoard> m_network;
};
