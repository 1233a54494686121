// kelmora-cli's command line: what is accepted, and the one-line usage errors;
// and a run of one command against a fake board.
#include "cli/cliargs.h"
#include "cli/clisession.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

namespace {

QStringList Args(const char *line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

TEST(CliArgs, AcceptsEachCommandWithItsOptions)
{
    // the line, command, channel, address, relay, relay on, --set, file
    const std::tuple<const char *, CliCommand, int, int, int, bool, bool, const char *> rows[] = {
        {"--port Com3 status", CliCommand::Status, 0, 1, 0, false, false, ""},
        {"--port Com3 --address 0 --json status", CliCommand::Status, 0, 0, 0, false, false, ""},
        {"--port Com3 read --channel 16 -o out.ini", CliCommand::Read, 16, 1, 0, false, false, "out.ini"},
        {"--port Com3 write book.ini --channel 2", CliCommand::Write, 2, 1, 0, false, false, "book.ini"},
        {"--port Com3 relay all OFF", CliCommand::Relay, 0, 1, 0, false, false, ""},
        {"status --port /dev/ttyUSB0 --address 255", CliCommand::Status, 0, 255, 0, false, false, ""},
        {"convert book.ini book.csv", CliCommand::Convert, 0, 1, 0, false, false, "book.ini"}, // no port needed
        {"check book.csv --channel 4", CliCommand::Check, 4, 1, 0, false, false, "book.csv"},
    };
    for (const auto &[line, command, channel, address, relay, relayOn, set, file] : rows) {
        SCOPED_TRACE(line);
        const CliParse p = ParseCliArguments(Args(line));
        ASSERT_TRUE(p.request) << p.error.toStdString();
        const CliRequest &q = *p.request;
        EXPECT_EQ(std::tuple(q.command, q.channel, q.address, q.relay, q.relayOn, q.setClock, q.file),
                  std::tuple(command, channel, address, relay, relayOn, set, QString::fromUtf8(file)));
    }
    const CliParse scan = ParseCliArguments(Args("scan --from 3 --to 9"));
    ASSERT_TRUE(scan.request); // no port: the caller lists the ports and exits 2
    EXPECT_EQ(std::tuple(scan.request->scanFrom, scan.request->scanTo, scan.request->port, scan.request->scanTries),
              std::tuple(3, 9, QString(), 2));
    EXPECT_EQ(ParseCliArguments(Args("scan --tries 10")).request->scanTries, 10);
    const CliParse plan = ParseCliArguments(Args("plan b.ini --start 2026-02-28 --days 366"));
    ASSERT_TRUE(plan.request);
    EXPECT_EQ(std::pair(plan.request->planStart, plan.request->planDays), std::pair(QDate(2026, 2, 28), 366));
}

TEST(CliArgs, RefusesWhatAScriptGotWrong)
{
    const char *const lines[] = {
        "", "frob", "status extra", "--address x status", "read --channel 1", "read --channel 17 -o f", "write",
        "status --channel 2", "relay 3", "relay 0 on", "relay 3 half", "scan --from 9 --to 3", "scan --tries 0",
        "scan --tries 11", "status --tries 3", "clock --set-if-drift soon", "clock --set-if-drift=-1",
        "read --channel 0 -o f", "--bogus --json status", "convert a.ini", "convert a.ini b.csv --channel 2", "check",
        "plan b.ini --days 0", "plan b.ini --days 367", "plan b.ini --start 2026-02-29", "check b.ini --days 2"};
    for (const char *line : lines) {
        SCOPED_TRACE(line);
        const CliParse p = ParseCliArguments(Args(line));
        EXPECT_TRUE(!p.request && !p.error.isEmpty() && !p.error.contains(QLatin1Char('\n'))) << p.error.toStdString();
        EXPECT_EQ(p.json, QByteArray(line).contains("--json")); // the refusal is printed as JSON then
    }
    EXPECT_TRUE(ParseCliArguments(Args("--help")).help);
}

TEST(CliSession, NamesTheRelaysABoardDidNotSwitchAndHowTheyStayed)
{
    // The board answers a relay command as a status request (bytes 4-5 cleared): its relays stay as they were.
    for (const auto &[line, relays, error] : {std::tuple("relay 3 on", 0, "relay 3 did not switch on"),
                                              std::tuple("relay 2 off", 0b1010, "relay 2 did not switch off")}) {
        FakeLink link;
        FakeBoard board;
        board.relays1 = uint8_t(relays);
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        CliSession cli(*ParseCliArguments(Args("--port Com3") + Args(line)).request, link,
                       [&link] { return link.opened = true, OpenResult{}; }, {outStream, errStream});
        BoardOnLoop loop(link, board, [&link] { dynamic_cast<HeadlessSession &>(*link.listener).tick(); });
        loop.answer = [&board](Frame f) { return f[2] == wire::kStatus ? (f[4] = f[5] = 0, f) : f, board.answer(f); };
        EXPECT_EQ(std::pair(cli.run(), err), std::pair(5, QStringLiteral("kelmora-cli: %1 as commanded\n").arg(error)));
    }
}

} // namespace
