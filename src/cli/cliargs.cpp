#include "cli/cliargs.h"

#include "bridge/networkboard.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kUsage = QStringLiteral(
    R"(Usage: kelmora-cli [--port PORT] [--address N] [--compat] [--json] [--quiet] [--trace FILE] COMMAND ...
       kelmora-cli --broker URL --board ID [--base-topic T] [--password-file FILE] [--tls-ca FILE]
                   [--json] [--quiet] COMMAND ...

Commands:
  status                       relay states, board time and clock drift
  read  [--channel N] -o FILE  board -> schedule file (Note.ini layout)
  write FILE [--channel N]     schedule file -> board
  verify FILE [--channel N]    exit 0 when the board holds exactly FILE's schedules, else 1
  clock [--set] [--set-if-drift SECONDS]
  relay N|all on|off           switch relays; the other channels keep the board's states
  scan [--from A --to B] [--tries N]
                               which addresses on the line answer a status request
                               (a silent address is asked N times, default 2)
  convert IN OUT               a schedule book from one file into another, by their
                               endings: .ini (Note.ini), .csv, .json (needs no --port)
  check FILE [--channel N]     the schedule check of 工具 › 检查 on a file: one line a
                               finding; exit 1 when it finds a problem (needs no --port)
  plan FILE [--channel N] [--start YYYY-MM-DD] [--days N]
                               when the board will switch each relay by FILE's entries,
                               from a day (default today) for N days (default 7)
  boards                       with --broker: the boards kelmora-bridge offers there
                               (ID, name, online, bridge)

Options:
  --port PORT        Com1..Com99 or a device path such as /dev/ttyUSB0
  --address N        the board's address, 0-255 (default 1)
  --compat           boards that take the compatibility relay command (code 19)
  --json             one JSON object on stdout
  --quiet            no progress, no human output on success
  --trace FILE       every frame sent and received, in words, one line each ("-": stderr)
  --broker URL       a board that kelmora-bridge holds, through the broker instead of a
                     port: mqtt://[user@]host[:port], or mqtts:// (TLS, the system's CAs)
  --board ID         the board's ID in the bridge's configuration ([board.ID])
  --base-topic T     the bridge's base_topic (default kelmora)
  --password-file F  the broker password, from the file's first line (never on the command line)
  --tls-ca FILE      the CA that signed the broker's certificate (implies TLS)
  -h, --help         this text
  --version          the program's version

Exit codes: 0 success, 1 verify found differences or check found a problem,
2 usage error (a bad input file included), 3 port (or broker) could not be
opened, 4 board did not answer (through the broker: unknown, offline, or no
result in time), 5 transfer failed, relays did not follow a relay command, or
the output file could not be written.
)");

std::optional<int> number(const QString &text, int lo, int hi)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < lo || n > hi)
        return std::nullopt;
    return n;
}

} // namespace

CliParse ParseCliArguments(const QStringList &args)
{
    CliParse out;
    out.helpText = kUsage;
    QCommandLineParser p;
    p.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("PORT"));
    const QCommandLineOption address(QStringLiteral("address"), {}, QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption compat(QStringLiteral("compat"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption channel(QStringLiteral("channel"), {}, QStringLiteral("N"));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")}, {},
                                    QStringLiteral("FILE"));
    const QCommandLineOption set(QStringLiteral("set"));
    const QCommandLineOption setIfDrift(QStringLiteral("set-if-drift"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption from(QStringLiteral("from"), {}, QStringLiteral("A"), QStringLiteral("0"));
    const QCommandLineOption to(QStringLiteral("to"), {}, QStringLiteral("B"), QStringLiteral("255"));
    const QCommandLineOption tries(QStringLiteral("tries"), {}, QStringLiteral("N"), QStringLiteral("2"));
    const QCommandLineOption start(QStringLiteral("start"), {}, QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption days(QStringLiteral("days"), {}, QStringLiteral("N"), QStringLiteral("7"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption trace(QStringLiteral("trace"), {}, QStringLiteral("FILE"));
    const QCommandLineOption broker(QStringLiteral("broker"), {}, QStringLiteral("URL"));
    const QCommandLineOption board(QStringLiteral("board"), {}, QStringLiteral("ID"));
    const QCommandLineOption baseTopic(QStringLiteral("base-topic"), {}, QStringLiteral("T"), QStringLiteral("kelmora"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), {}, QStringLiteral("FILE"));
    const QCommandLineOption tlsCa(QStringLiteral("tls-ca"), {}, QStringLiteral("FILE"));
    p.addOptions({port, address, compat, json, quiet, channel, output, set, setIfDrift, from, to, tries, start, days, help,
                  version, trace, broker, board, baseTopic, passwordFile, tlsCa});

    const auto fail = [&out](const QString &why) {
        out.request.reset();
        out.error = why;
        return out;
    };
    const bool parsed = p.parse(QStringList{QStringLiteral("kelmora-cli")} + args);
    out.json = parsed ? p.isSet(json) : args.contains(QStringLiteral("--json"));
    if (!parsed)
        return fail(p.errorText());
    if (p.isSet(help)) {
        out.help = true;
        return out;
    }
    if (p.isSet(version)) {
        out.version = true;
        return out;
    }

    CliRequest r;
    r.port = p.value(port);
    r.compat = p.isSet(compat);
    r.json = p.isSet(json);
    r.quiet = p.isSet(quiet);
    r.trace = p.value(trace);
    r.broker = p.value(broker);
    r.board = p.value(board);
    r.baseTopic = p.value(baseTopic);
    r.passwordFile = p.value(passwordFile);
    r.tlsCa = p.value(tlsCa);
    // Through the broker the bridge knows the board's port, address and variant.
    for (const QCommandLineOption *o : {&port, &address, &compat, &trace})
        if (!r.broker.isEmpty() && p.isSet(*o))
            return fail(QStringLiteral("--%1 does not go with --broker").arg(o->names().last()));
    for (const QCommandLineOption *o : {&board, &passwordFile, &tlsCa})
        if (r.broker.isEmpty() && p.isSet(*o))
            return fail(QStringLiteral("--%1 needs --broker").arg(o->names().last()));
    const auto addr = number(p.value(address), 0, 255);
    if (!addr)
        return fail(QStringLiteral("--address takes a number from 0 to 255"));
    r.address = *addr;

    QStringList pos = p.positionalArguments();
    if (pos.isEmpty())
        return fail(QStringLiteral("no command given (try --help)"));
    const QString command = pos.takeFirst();
    const auto only = [&](std::initializer_list<const QCommandLineOption *> allowed) -> QString {
        for (const QCommandLineOption *o : {&channel, &output, &set, &setIfDrift, &from, &to, &tries, &start, &days})
            if (p.isSet(*o) && std::find(allowed.begin(), allowed.end(), o) == allowed.end())
                return QStringLiteral("--%1 does not go with %2").arg(o->names().last(), command);
        return {};
    };
    QString misuse;
    if (p.isSet(channel)) {
        const auto ch = number(p.value(channel), 1, 16);
        if (!ch)
            return fail(QStringLiteral("--channel takes a number from 1 to 16"));
        r.channel = *ch;
    }

    if (command == QLatin1String("status")) {
        r.command = CliCommand::Status;
        misuse = only({});
    } else if (command == QLatin1String("read")) {
        r.command = CliCommand::Read;
        misuse = only({&channel, &output});
        r.file = p.value(output);
        if (misuse.isEmpty() && r.file.isEmpty())
            misuse = QStringLiteral("read needs -o FILE");
    } else if (command == QLatin1String("write") || command == QLatin1String("verify") ||
               command == QLatin1String("check")) {
        r.command = command == QLatin1String("write")    ? CliCommand::Write
                    : command == QLatin1String("verify") ? CliCommand::Verify
                                                         : CliCommand::Check;
        misuse = only({&channel});
        if (pos.isEmpty())
            return fail(QStringLiteral("%1 needs a schedule file").arg(command));
        r.file = pos.takeFirst();
    } else if (command == QLatin1String("clock")) {
        r.command = CliCommand::Clock;
        misuse = only({&set, &setIfDrift});
        r.setClock = p.isSet(set);
        if (p.isSet(setIfDrift)) {
            const auto s = number(p.value(setIfDrift), 0, 10 * 365 * 86400);
            if (!s)
                return fail(QStringLiteral("--set-if-drift takes a number of seconds"));
            r.setIfDrift = *s;
        }
    } else if (command == QLatin1String("relay")) {
        r.command = CliCommand::Relay;
        misuse = only({});
        if (pos.size() < 2)
            return fail(QStringLiteral("relay needs a channel (1-16 or all) and on or off"));
        const QString which = pos.takeFirst();
        const QString state = pos.takeFirst().toLower();
        if (which != QLatin1String("all")) {
            const auto ch = number(which, 1, 16);
            if (!ch)
                return fail(QStringLiteral("relay takes a channel from 1 to 16, or all"));
            r.relay = *ch;
        }
        if (state != QLatin1String("on") && state != QLatin1String("off"))
            return fail(QStringLiteral("relay takes on or off"));
        r.relayOn = state == QLatin1String("on");
    } else if (command == QLatin1String("scan")) {
        r.command = CliCommand::Scan;
        misuse = only({&from, &to, &tries});
        const auto a = number(p.value(from), 0, 255);
        const auto b = number(p.value(to), 0, 255);
        if (!a || !b || *a > *b)
            return fail(QStringLiteral("--from and --to take addresses 0-255, from not above to"));
        r.scanFrom = *a;
        r.scanTo = *b;
        const auto n = number(p.value(tries), 1, 10);
        if (!n)
            return fail(QStringLiteral("--tries takes a number from 1 to 10"));
        r.scanTries = *n;
    } else if (command == QLatin1String("plan")) {
        r.command = CliCommand::Plan;
        misuse = only({&channel, &start, &days});
        if (pos.isEmpty())
            return fail(QStringLiteral("plan needs a schedule file"));
        r.file = pos.takeFirst();
        if (p.isSet(start) &&
            !(r.planStart = QDate::fromString(p.value(start), QStringLiteral("yyyy-MM-dd"))).isValid())
            return fail(QStringLiteral("--start takes a date such as 2026-12-07"));
        const auto n = number(p.value(days), 1, 366);
        if (!n)
            return fail(QStringLiteral("--days takes a number from 1 to 366"));
        r.planDays = *n;
    } else if (command == QLatin1String("boards")) {
        r.command = CliCommand::Boards;
        misuse = only({});
        if (r.broker.isEmpty())
            misuse = QStringLiteral("boards needs --broker");
    } else if (command == QLatin1String("convert")) {
        r.command = CliCommand::Convert;
        misuse = only({});
        if (pos.size() < 2)
            return fail(QStringLiteral("convert needs a file to read and a file to write"));
        r.file = pos.takeFirst();
        r.target = pos.takeFirst();
    } else {
        return fail(QStringLiteral("unknown command '%1' (try --help)").arg(command));
    }
    if (misuse.isEmpty() && !r.broker.isEmpty()) {
        if (r.command == CliCommand::Scan)
            misuse = QStringLiteral("scan means nothing through the broker: kelmora-bridge owns the line "
                                    "(run it where the line is, with the bridge stopped)");
        else if (r.command != CliCommand::Boards && !FilesOnly(r.command) && r.board.isEmpty())
            misuse = QStringLiteral("--broker needs --board ID (kelmora-cli --broker URL boards lists them)");
        else if (QString why; !ParseBrokerUrl(r.broker, &why))
            misuse = why;
    }
    if (!misuse.isEmpty())
        return fail(misuse);
    if (!pos.isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(pos.first()));
    out.request = r;
    return out;
}

QByteArray CliErrorJson(const QString &error, CliExit exit)
{
    const QJsonObject o{{QStringLiteral("error"), error}, {QStringLiteral("exit"), int(exit)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
