#include "cli/clisession.h"

#include "cli/convert.h"
#include "device/busscan.h"
#include "device/clockdrift.h"
#include "protocol/replies.h"
#include "schedule/bookcompare.h"
#include "schedule/check.h"
#include "schedule/timeline.h"
#include "storage/notestore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {
// How long the board has to show its relay states before it counts as silent:
// two agreeing status replies normally take two ticks.
constexpr int kAnswerTicks = 15;
// Two agreeing replies in a row, on a line that damages some.
constexpr int kAgreeTicks = 25;
constexpr int kClockSetTicks = 25;
constexpr int kRelayTicks = 25;
// A transfer ends by itself (success, or failure after its attempts); this only
// guards against an engine that never ends one.
constexpr int kTransferTicks = 16 * 256 * 8;

const QString kNoAnswer = QStringLiteral("board did not answer");

QString NotFollowedText(const RelayFollowFault &fault)
{
    QStringList on, off;
    for (int ch : fault.channels)
        ((fault.commanded >> (ch - 1)) & 1u ? on : off) << QString::number(ch);
    QStringList parts;
    const auto part = [&parts](const QStringList &channels, const char *state) {
        if (!channels.isEmpty())
            parts << QStringLiteral("relay%1 %2 did not switch %3 as commanded")
                         .arg(channels.size() > 1 ? QStringLiteral("s") : QString(), channels.join(u','),
                              QLatin1String(state));
    };
    part(on, "on");
    part(off, "off");
    QString text = parts.join(QStringLiteral("; "));
    if (fault.sameAsStatusRequest)
        text += QStringLiteral(": a command that leaves every relay off has the same bytes as a status request, "
                               "and a standard board takes it as one (boards run with --compat take code 19)");
    return text;
}
} // namespace

CliSession::CliSession(const CliRequest &request, SerialLink &link, std::function<OpenResult()> open, CliOutput output,
                       DeviceEngine::Clock clock)
    : m_request(request), m_open(std::move(open)), m_output(output),
      m_session(link, m_book, request.compat ? Variant::Compat : Variant::Standard, uint8_t(request.address),
                std::move(clock))
{
    m_session.setProgressObserver([this](const QString &text) { progressLine(text); });
    m_session.setReplyObserver([this](const Frame &frame, bool taken) {
        if (!taken || frame[0] != wire::kReplyHeader || frame[2] != wire::kStatus)
            return;
        const std::optional<BoardClock> board = StatusReplyTime(frame);
        m_agreement.add({uint16_t(frame[4] | (frame[5] << 8)), board ? std::optional(board->at) : std::nullopt,
                         m_session.engine().now()});
    });
}

volatile std::sig_atomic_t CliSession::interrupted = 0;

void CliSession::useBroker(MqttClient &mqtt, const QString &by)
{
    m_mqtt = &mqtt;
    m_network = std::make_unique<NetworkBoard>(m_session, mqtt, m_book, m_request.baseTopic, m_request.board, by,
                                               [this] { return m_session.engine().now(); });
    m_session.useDriver(*m_network, [this] { return m_network->unreachable(); });
}

int CliSession::run()
{
    if (m_request.command == CliCommand::Convert) // files only: no port
        return convert();
    if (m_request.command == CliCommand::Check)
        return check();
    if (m_request.command == CliCommand::Plan)
        return plan();
    if (m_request.command == CliCommand::Boards)
        return boards();
    // A schedule file is checked before the port is touched: a file Open would
    // refuse is refused here too, with the same words.
    if (m_request.command == CliCommand::Write || m_request.command == CliCommand::Verify) {
        const OpenedSchedules opened = OpenSchedules(m_request.file, true);
        if (!opened.ok)
            return fail(CliExit::Usage, OpenRefusal(opened, m_request.file));
        for (const EntryRef &e : opened.entries)
            m_book.append(e);
    }
    if (!(m_network ? openBroker() : openLink()))
        return int(CliExit::PortFailed);
    switch (m_request.command) {
    case CliCommand::Status:
        return status();
    case CliCommand::Read:
        return readBoard();
    case CliCommand::Write:
        return writeBoard();
    case CliCommand::Verify:
        return verify();
    case CliCommand::Clock:
        return clock();
    case CliCommand::Relay:
        return relay();
    case CliCommand::Scan:
        return scan();
    case CliCommand::Convert:
    case CliCommand::Check:
    case CliCommand::Plan:
    case CliCommand::Boards:
        break;
    }
    return int(CliExit::Usage);
}

// ---------------------------------------------------------------- running

bool CliSession::openLink()
{
    const OpenResult r = m_session.open(m_open);
    if (r.ok())
        return true;
    QString text = kOpenError;
    if (!r.device.isEmpty())
        text += QStringLiteral(": ") + r.device;
    if (!r.detail.isEmpty())
        text += QStringLiteral(" (") + r.detail + QLatin1Char(')');
    if (r.error == OpenError::PermissionDenied)
        text += QStringLiteral(
            "; no permission: join the device's group (e.g. sudo adduser $USER dialout) and log in again");
    fail(CliExit::PortFailed, text);
    return false;
}

bool CliSession::openBroker()
{
    m_network->start();
    // The broker answers or refuses within its connect time-out; the board's state follows at once.
    m_session.runUntil([this] { return m_network->ready() || !m_network->brokerFailure().isEmpty(); },
                       kBrokerTicks);
    if (m_network->brokerConnected())
        return true; // a board that is unknown or offline is exit 4, from the command's wait
    const QString why = m_network->brokerFailure();
    fail(CliExit::PortFailed, QStringLiteral("cannot reach the broker %1: %2")
                                  .arg(m_request.broker, why.isEmpty() ? QStringLiteral("no answer") : why));
    return false;
}

bool CliSession::waitFor(const std::function<bool()> &done, int maxTicks)
{
    if (m_session.runUntil(done, maxTicks))
        return true;
    fail(CliExit::NoAnswer, m_session.linkLost().isEmpty() ? kNoAnswer : m_session.linkLost());
    return false;
}

bool CliSession::boardAnswers()
{
    return waitFor([this] { return m_session.relayStates().has_value() && (!m_network || m_network->ready()); },
                   ticks(kAnswerTicks));
}

bool CliSession::boardAgrees()
{
    // The bridge publishes states its board agreed on, and the clock with them.
    if (m_network)
        return waitFor([this] { return m_network->ready() && m_session.boardTime().has_value(); }, kBrokerTicks);
    return waitFor([this] { return m_agreement.agreed().has_value(); }, kAgreeTicks);
}

bool CliSession::readBoardInto(int channel)
{
    return m_session.driver().startVerifyRead(channel, m_board) && runTransfer();
}

bool CliSession::runTransfer()
{
    // Ctrl+C stops the transfer as 停止 does, and its end is still reported.
    const bool succeeded = m_session.runTransfer(kTransferTicks, [] { return interrupted != 0; });
    progressLine(QString());
    return succeeded;
}

QString CliSession::transferFailure(const QString &text) const
{
    if (!m_session.linkLost().isEmpty())
        return m_session.linkLost();
    if (!m_session.refused().isEmpty())
        return m_session.refused(); // the bridge's words, where included
    const std::optional<TransferResult> &result = m_session.result();
    const QString what = result && result->stopped ? QStringLiteral("已停止") : text;
    if (result && !result->success && result->channel > 0)
        return QStringLiteral("%1 (第%2路第%3条)").arg(what).arg(result->channel).arg(result->number);
    if (result && result->stopped)
        return what;
    return text;
}

// ---------------------------------------------------------------- output

void CliSession::progressLine(const QString &text)
{
    if (!m_output.errIsTerminal || m_request.quiet)
        return;
    if (text.isEmpty()) {
        if (m_progressShown)
            m_output.err << "\r\033[K" << Qt::flush;
        m_progressShown = false;
        return;
    }
    m_output.err << "\r\033[K" << text << Qt::flush;
    m_progressShown = true;
}

QJsonValue CliSession::relaysJson(uint16_t states) const
{
    QJsonArray relays;
    for (int ch = 0; ch < 16; ++ch)
        relays.append(bool((states >> ch) & 1u));
    return relays;
}

QJsonObject CliSession::clockJson() const
{
    const std::optional<QDateTime> board = m_session.boardTime();
    const std::optional<qint64> d = m_session.drift();
    return {{QStringLiteral("board_time"), board ? QJsonValue(IsoSeconds(*board)) : QJsonValue()},
            {QStringLiteral("drift_seconds"), d ? QJsonValue(*d) : QJsonValue()}};
}

QString CliSession::clockLine() const
{
    const std::optional<QDateTime> board = m_session.boardTime();
    if (!board)
        return QStringLiteral("board time unknown");
    return QStringLiteral("board time %1, %2").arg(IsoSeconds(*board), ClockDriftText(m_session.drift()));
}

int CliSession::finish(CliExit exit, const QJsonObject &json, const QStringList &lines)
{
    progressLine(QString());
    if (m_request.json) {
        m_output.out << QJsonDocument(json).toJson(QJsonDocument::Compact) << '\n';
    } else if (!m_request.quiet || exit != CliExit::Ok) {
        for (const QString &l : lines)
            m_output.out << l << '\n';
    }
    m_output.out.flush();
    return int(exit);
}

int CliSession::fail(CliExit exit, const QString &text)
{
    progressLine(QString());
    if (m_request.json) {
        m_output.out << CliErrorJson(text, exit) << '\n';
        m_output.out.flush();
    } else {
        m_output.err << "kelmora-cli: " << text << '\n';
        m_output.err.flush();
    }
    return int(exit);
}

// ---------------------------------------------------------------- commands

int CliSession::status()
{
    if (!boardAgrees())
        return int(CliExit::NoAnswer);
    const uint16_t relays = m_network ? m_session.relayStates().value_or(0) : m_agreement.agreed()->relays;
    QJsonObject o = clockJson();
    const int address = m_network ? m_network->info().value(QStringLiteral("address")).toInt() : m_request.address;
    o[QStringLiteral("address")] = address;
    o[QStringLiteral("relays")] = relaysJson(relays);
    QStringList lines;
    QString states;
    for (int i = 0; i < 16; ++i)
        states += (relays >> i) & 1u ? QLatin1Char('1') : QLatin1Char('0');
    lines << QStringLiteral("address %1").arg(address)
          << QStringLiteral("relays 1-16: %1 (1 吸合, 0 断开)").arg(states);
    lines << clockLine();
    return finish(CliExit::Ok, o, lines);
}

int CliSession::readBoard()
{
    if (!boardAnswers())
        return int(CliExit::NoAnswer);
    if (!readBoardInto(m_request.channel))
        return fail(CliExit::TransferFailed, transferFailure(kReadFailed));
    if (ExportSchedules(m_board, m_request.file) != SaveOutcome::Saved)
        return fail(CliExit::TransferFailed, QStringLiteral("另存失败！ ") + m_request.file);
    const QJsonObject o{{QStringLiteral("file"), m_request.file}, {QStringLiteral("entries"), int(m_board.size())}};
    return finish(CliExit::Ok, o, {kReadOk + QLatin1Char(' ') + m_request.file});
}

int CliSession::writeBoard()
{
    if (!boardAnswers())
        return int(CliExit::NoAnswer);
    m_session.driver().write(m_request.channel);
    if (!runTransfer())
        return fail(CliExit::TransferFailed, transferFailure(kWriteFailed));
    // Frames sent again: a script can tell a clean write from one over a bad line.
    const QJsonObject o{{QStringLiteral("written"), true}, {QStringLiteral("retries"), m_session.result()->retries}};
    return finish(CliExit::Ok, o, {kWriteOk});
}

int CliSession::verify()
{
    if (!boardAnswers())
        return int(CliExit::NoAnswer);
    if (!readBoardInto(m_request.channel))
        return fail(CliExit::TransferFailed, transferFailure(kReadFailed));

    QList<int> channels;
    for (int ch = m_request.channel ? m_request.channel : 1; ch <= (m_request.channel ? m_request.channel : 16); ++ch)
        channels << ch;
    const QList<ChannelComparison> result = CompareBooks(m_book, m_board, channels);
    const bool same = AllSame(result);
    QJsonArray differing;
    QStringList lines;
    const auto record = [](const EntryRef &e) { return e ? QJsonValue(e->GetStr()) : QJsonValue(); };
    for (const ChannelComparison &c : result) {
        if (c.verdict != ChannelVerdict::Differs)
            continue;
        QJsonArray diffs;
        for (const EntryDifference &d : c.differences) {
            QJsonObject o{{QStringLiteral("number"), d.number},
                          {QStringLiteral("program"), record(d.program)},
                          {QStringLiteral("board"), record(d.board)}};
            QString what;
            switch (d.kind) {
            case DifferenceKind::OnlyInProgram:
                what = QStringLiteral("only in the file");
                break;
            case DifferenceKind::OnlyOnBoard:
                what = QStringLiteral("only on the board");
                break;
            case DifferenceKind::Changed:
                o[QStringLiteral("fields")] = QJsonArray::fromStringList(EntryFieldNames(d.fields));
                what = QStringLiteral("differs in ") + EntryFieldNames(d.fields).join(QLatin1Char(','));
                break;
            }
            diffs.append(o);
            lines << QStringLiteral("channel %1 entry %2: %3").arg(c.channel).arg(d.number).arg(what);
        }
        differing.append(QJsonObject{{QStringLiteral("channel"), c.channel}, {QStringLiteral("differences"), diffs}});
    }
    if (same)
        lines << QStringLiteral("the board holds the file's schedules");
    const QJsonObject o{{QStringLiteral("same"), same}, {QStringLiteral("channels"), differing}};
    return finish(same ? CliExit::Ok : CliExit::Differs, o, lines);
}

int CliSession::clock()
{
    if (!boardAgrees())
        return int(CliExit::NoAnswer);
    QJsonObject o = clockJson();
    const std::optional<qint64> d = m_session.drift();
    // A clock that makes no sense (no time, or years off) is beyond any limit.
    const bool set = m_request.setClock || (m_request.setIfDrift && (!d || std::abs(*d) > *m_request.setIfDrift));
    QStringList lines{clockLine()};
    if (set) {
        m_session.messages().clear();
        m_session.resetRefused();
        m_session.driver().setClock();
        if (!waitFor([this] { return m_session.messages().contains(kClockSet) || !m_session.refused().isEmpty(); },
                     ticks(kClockSetTicks)))
            return int(CliExit::NoAnswer);
        if (!m_session.refused().isEmpty())
            return fail(CliExit::NoAnswer, m_session.refused());
        lines << kClockSet;
    }
    o[QStringLiteral("set")] = set;
    return finish(CliExit::Ok, o, lines);
}

int CliSession::relay()
{
    if (!boardAnswers())
        return int(CliExit::NoAnswer);
    BoardDriver &board = m_session.driver();
    m_session.resetNotFollowed();
    m_session.resetRefused();
    board.switchRelay(m_request.relay, m_request.relayOn);
    // The command goes out once two agreeing status replies are in; two more
    // after it show whether the board followed (the lamps show them then).
    if (!waitFor([&board] { return !board.relayCommandPending(); }, ticks(kRelayTicks)))
        return int(CliExit::NoAnswer);
    if (m_session.notFollowed())
        return fail(CliExit::TransferFailed, NotFollowedText(*m_session.notFollowed()));
    if (!m_session.refused().isEmpty())
        return fail(CliExit::TransferFailed, m_session.refused());
    QJsonObject o{{QStringLiteral("relays"), relaysJson(m_session.relayStates().value_or(0))}};
    const QString which = m_request.relay ? QString::number(m_request.relay) : QStringLiteral("all");
    return finish(CliExit::Ok, o,
                  {QStringLiteral("relay %1 %2")
                       .arg(which, m_request.relayOn ? QStringLiteral("吸合") : QStringLiteral("断开"))});
}

int CliSession::scan()
{
    SerialLink &link = m_session.link();
    BusScan bus(link, m_request.scanFrom, m_request.scanTo, m_request.scanTries);
    QEventLoop loop;
    QTimer window;
    window.setInterval(int(kScanWindow.count()));
    QObject::connect(&window, &QTimer::timeout, &loop, [&] {
        progressLine(QStringLiteral("%1/%2").arg(bus.done()).arg(bus.total()));
        if (!m_session.linkLost().isEmpty() || !bus.step())
            loop.quit();
    });
    struct ScanListener final : LinkListener {
        BusScan &bus;
        LinkListener &session;
        ScanListener(BusScan &b, LinkListener &s) : bus(b), session(s) {}
        void onFrame(const Frame &f) override { bus.onFrame(f); }
        void onLinkFailed(const QString &why) override { session.onLinkFailed(why); }
    } listener(bus, m_session);
    link.setListener(&listener);
    bus.step();
    window.start();
    loop.exec();
    link.setListener(&m_session);
    progressLine(QString());
    if (!m_session.linkLost().isEmpty())
        return fail(CliExit::NoAnswer, m_session.linkLost());
    QJsonArray found;
    QStringList lines;
    for (int a : bus.found()) {
        found.append(a);
        lines << QString::number(a);
    }
    if (bus.found().isEmpty())
        lines << QStringLiteral("no board answered");
    return finish(CliExit::Ok, {{QStringLiteral("found"), found}}, lines);
}

int CliSession::boards()
{
    // Whatever the broker keeps retained comes right after the subscription.
    constexpr int kCollectMs = 1500;
    BoardDirectory directory(m_request.baseTopic);
    QString failure;
    bool connected = false;
    QEventLoop loop;
    m_mqtt->setHandlers({[&] {
                             connected = true;
                             for (const QString &f : directory.filters())
                                 m_mqtt->subscribe(f);
                             QTimer::singleShot(kCollectMs, &loop, &QEventLoop::quit);
                         },
                         [&](const QString &why) {
                             if (!connected) {
                                 failure = why;
                                 loop.quit();
                             }
                         },
                         [&](const QString &t, const QByteArray &p, bool) { directory.take(t, p); },
                         {},
                         [&](const QString &why) { // refused, or nobody there: no use waiting
                             failure = why;
                             loop.quit();
                         }});
    QTimer::singleShot(kBrokerTicks * int(kTickInterval.count()), &loop, &QEventLoop::quit);
    m_mqtt->start();
    loop.exec();
    if (!connected)
        return fail(CliExit::PortFailed, QStringLiteral("cannot reach the broker %1: %2")
                                             .arg(m_request.broker, failure.isEmpty() ? QStringLiteral("no answer")
                                                                                      : failure));
    QJsonArray list;
    QStringList lines;
    for (const KnownBoard &b : directory.boards()) {
        list.append(QJsonObject{{QStringLiteral("id"), b.id},
                                {QStringLiteral("name"), b.name},
                                {QStringLiteral("online"), b.online},
                                {QStringLiteral("bridge"), b.bridge}});
        lines << QStringLiteral("%1\t%2\t%3\t%4")
                     .arg(b.id, b.name, b.online ? QStringLiteral("online") : QStringLiteral("offline"), b.bridge);
    }
    if (lines.isEmpty())
        lines << QStringLiteral("no board under %1").arg(m_request.baseTopic);
    return finish(CliExit::Ok, {{QStringLiteral("boards"), list}}, lines);
}

int CliSession::convert()
{
    const ConvertResult r = ConvertBook(m_request.file, m_request.target, m_paintPdf);
    if (r.exit != CliExit::Ok)
        return fail(r.exit, r.error);
    const QJsonObject o{{QStringLiteral("file"), m_request.target}, {QStringLiteral("entries"), r.entries}};
    return finish(CliExit::Ok, o, {QStringLiteral("%1 entries written to %2").arg(r.entries).arg(m_request.target)});
}

int CliSession::check()
{
    ScheduleBook book;
    if (const QString why = ReadBookFile(m_request.file, book); !why.isEmpty())
        return fail(CliExit::Usage, why);
    QList<Finding> findings = CheckBook(book, m_session.engine().now());
    if (m_request.channel)
        findings.removeIf([this](const Finding &f) { return f.channel != m_request.channel; });
    // As 工具 › 检查 lists them: channel and entry, the entry, what is wrong; notes marked.
    QJsonArray list;
    QStringList lines;
    for (const Finding &f : findings) {
        list.append(QJsonObject{{QStringLiteral("channel"), f.channel},
                                {QStringLiteral("number"), f.number},
                                {QStringLiteral("problem"), !f.informational()},
                                {QStringLiteral("entry"), f.entryText.trimmed()},
                                {QStringLiteral("message"), f.message}});
        lines << QStringLiteral("第%1路第%2条\t%3\t%4")
                     .arg(f.channel)
                     .arg(f.number)
                     .arg(f.entryText.trimmed(), (f.informational() ? QStringLiteral("（提示）") : QString()) + f.message);
    }
    lines << CheckSummary(findings);
    const int problems = ProblemCount(findings);
    return finish(problems ? CliExit::Differs : CliExit::Ok,
                  {{QStringLiteral("problems"), problems}, {QStringLiteral("findings"), list}}, lines);
}

int CliSession::plan()
{
    ScheduleBook book;
    if (const QString why = ReadBookFile(m_request.file, book); !why.isEmpty())
        return fail(CliExit::Usage, why);
    const QDate start = m_request.planStart.isValid() ? m_request.planStart : m_session.engine().now().date();
    const WallSecs from = ToWall(start), to = from + m_request.planDays * kSecsPerDay;
    QList<int> channels;
    for (int ch = 1; ch <= kChannelCount; ++ch)
        if (m_request.channel ? ch == m_request.channel : book.countOf(ch) > 0)
            channels << ch;
    const auto time = [](WallSecs at, const char *format) { return FromWall(at).toString(QLatin1String(format)); };
    // A year of a full book is one and a half million firings: they are written as they are
    // found, a channel at a time for JSON and a day at a time for text, never all held at once.
    QTextStream &out = m_output.out;
    if (m_request.json) {
        out << "{\"channels\":[";
        for (int ch : channels) {
            const ChannelTimeline t = Timeline(book, ch, from, to);
            out << (ch == channels.first() ? "" : ",") << "{\"channel\":" << ch << ",\"firings\":[";
            for (qsizetype i = 0; i < t.points.size(); ++i)
                out << (i ? "," : "") << "{\"at\":\"" << time(t.points[i].at, "yyyy-MM-ddThh:mm:ss")
                    << "\",\"number\":" << t.points[i].number << ",\"on\":" << (t.points[i].on ? "true" : "false") << '}';
            const RelayState s = t.spans.first().state;
            out << "],\"start\":" << (s == RelayState::Unknown ? "null" : s == RelayState::On ? "true" : "false") << '}';
        }
        out << "],\"days\":" << m_request.planDays << ",\"from\":\"" << start.toString(Qt::ISODate) << "\"}\n";
    } else if (!m_request.quiet) {
        const auto words = [](bool on) { return on ? QStringLiteral("吸合") : QStringLiteral("断开"); };
        // Each channel's state as the span begins (set by an earlier firing), then every firing
        // of every channel in time order; at one second the board applies them in book order.
        for (int ch : channels) {
            const StateSpan first = StateAt(book.channel(ch), from);
            out << time(from, "yyyy-MM-dd hh:mm:ss") << "\t第" << ch << "路\t"
                << (first.state == RelayState::Unknown ? QStringLiteral("未知") : words(first.state == RelayState::On))
                << '\t' << (first.number ? QStringLiteral("第%1条（此前执行）").arg(first.number) : QString()) << '\n';
        }
        for (WallSecs day = from; day < to; day += kSecsPerDay) {
            QList<std::pair<SwitchPoint, int>> firings;
            for (int ch : channels)
                for (const SwitchPoint &p : Firings(book.channel(ch), day, day + kSecsPerDay))
                    firings.append({p, ch});
            std::stable_sort(firings.begin(), firings.end(),
                             [](const auto &a, const auto &b) { return a.first.at < b.first.at; });
            for (const auto &[p, ch] : firings)
                out << time(p.at, "yyyy-MM-dd hh:mm:ss") << "\t第" << ch << "路\t" << words(p.on) << "\t第" << p.number
                    << "条\n";
        }
    }
    out.flush();
    return int(CliExit::Ok);
}
