// The command line of kelmora-cli, parsed into a plain request. No I/O here:
// the caller prints the usage error or the help text and exits.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

// Exit codes, a contract for scripts (see kelmora-cli(1)).
enum class CliExit : int {
    Ok = 0,
    Differs = 1,
    Usage = 2,
    PortFailed = 3,
    NoAnswer = 4,
    TransferFailed = 5,
};

enum class CliCommand { Status, Read, Write, Verify, Clock, Relay, Scan, Convert, Check, Plan, Boards };

struct CliRequest {
    CliCommand command = CliCommand::Status;
    QString port; // "Com3" or a device path; empty: list the ports and exit 2
    int address = 1;
    bool compat = false;
    bool json = false;
    bool quiet = false;
    QString trace;   // --trace: the frame log's lines go here ("-": stderr)
    int channel = 0; // 0: all channels
    QString file;    // write/verify/check: the schedule file; read: -o FILE; convert: IN
    QString target;  // convert: OUT
    bool setClock = false;
    std::optional<int> setIfDrift; // seconds
    int relay = 0;                 // 0: all
    bool relayOn = false;
    int scanFrom = 0, scanTo = 255;
    int scanTries = 2; // times a silent address is asked
    QDate planStart;   // invalid: today
    int planDays = 7;
    // A board behind the broker instead of --port: mqtt[s]://[user@]host[:port], and its ID.
    QString broker;
    QString board;
    QString baseTopic = QStringLiteral("kelmora");
    QString passwordFile;
    QString tlsCa;
};

struct CliParse {
    std::optional<CliRequest> request;
    QString error; // usage error, one line
    bool json = false; // --json was given, also when the rest was refused
    bool help = false;
    bool version = false;
    QString helpText;
};

// Commands on files alone: no port, no board.
inline bool FilesOnly(CliCommand c)
{
    return c == CliCommand::Convert || c == CliCommand::Check || c == CliCommand::Plan;
}

// `args` without the program name.
CliParse ParseCliArguments(const QStringList &args);

// What --json prints on stdout for any failure: {"error":...,"exit":N}.
QByteArray CliErrorJson(const QString &error, CliExit exit);
