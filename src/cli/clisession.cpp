#include "cli/clisession.h"

#include "device/busscan.h"
#include "device/clockdrift.h"
#include "protocol/replies.h"
#include "schedule/bookcompare.h"
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

QString Iso(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

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
    : m_request(request), m_link(link), m_open(std::move(open)), m_output(output),
      m_engine(*this, link, m_book, request.compat ? Variant::Compat : Variant::Standard, std::move(clock))
{
    m_lamps.fill(kLampGrey);
    m_engine.DeviceAddress = uint8_t(request.address);
    m_link.setListener(this);
    m_pace.setSingleShot(true);
    m_pace.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_pace, &QTimer::timeout, [this] { m_engine.pacedStep(); });
}

bool CliSession::schedulePacedStep(std::chrono::milliseconds after)
{
    m_pace.start(after);
    return true;
}

CliSession::~CliSession()
{
    m_link.setListener(nullptr);
    m_link.close();
}

int CliSession::run()
{
    // A schedule file is checked before the port is touched: a file Open would
    // refuse is refused here too, with the same words.
    if (m_request.command == CliCommand::Write || m_request.command == CliCommand::Verify) {
        const OpenedSchedules opened = OpenSchedules(m_request.file, true);
        if (!opened.ok)
            return fail(CliExit::Usage, OpenRefusal(opened, m_request.file));
        for (const EntryRef &e : opened.entries)
            m_book.append(e);
    }
    if (!openLink())
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
    }
    return int(CliExit::Usage);
}

// ---------------------------------------------------------------- running

bool CliSession::openLink()
{
    const OpenResult r = m_open();
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

bool CliSession::runUntil(const std::function<bool()> &done, int maxTicks)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer tick;
    tick.setInterval(int(kTickInterval.count()));
    int ticks = 0;
    bool ok = false;
    const auto check = [&] {
        if (!m_linkLost.isEmpty()) {
            loop.quit();
        } else if (done()) {
            ok = true;
            loop.quit();
        }
    };
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        m_engine.Timer2_Timer();
        if (++ticks >= maxTicks && !done())
            loop.quit();
        check();
    });
    m_frameHook = [&](const Frame &) { check(); };
    tick.start();
    loop.exec();
    m_frameHook = nullptr;
    return ok;
}

void CliSession::onFrame(const Frame &frame)
{
    const int rejected = m_engine.counters().repliesRejected;
    m_engine.MSCommDown_OnComm(frame);
    if (frame[0] == wire::kReplyHeader && frame[2] == wire::kStatus &&
        m_engine.counters().repliesRejected == rejected) {
        const std::optional<BoardClock> board = StatusReplyTime(frame);
        m_agreement.add({uint16_t(frame[4] | (frame[5] << 8)), board ? std::optional(board->at) : std::nullopt,
                         m_engine.now()});
    }
    if (m_frameHook)
        m_frameHook(frame);
}

void CliSession::onLinkFailed(const QString &why)
{
    m_linkLost = why.isEmpty() ? QStringLiteral("串口通信错误，连接已关闭") : why;
    m_engine.linkClosed();
}

bool CliSession::boardAnswers()
{
    const bool known = runUntil(
        [this] { return std::none_of(m_lamps.begin(), m_lamps.end(), [](uint32_t c) { return c == kLampGrey; }); },
        kAnswerTicks);
    if (!known)
        fail(CliExit::NoAnswer, m_linkLost.isEmpty() ? kNoAnswer : m_linkLost);
    return known;
}

bool CliSession::boardAgrees()
{
    const bool agreed = runUntil([this] { return m_agreement.agreed().has_value(); }, kAgreeTicks);
    if (!agreed)
        fail(CliExit::NoAnswer, m_linkLost.isEmpty() ? kNoAnswer : m_linkLost);
    return agreed;
}

bool CliSession::readBoardInto(int channel)
{
    return m_engine.startVerifyRead(channel, m_board) && runTransfer();
}

bool CliSession::runTransfer()
{
    m_result.reset();
    const bool ended = runUntil([this] { return m_result.has_value(); }, kTransferTicks);
    progressLine(QString());
    return ended && m_result->success;
}

QString CliSession::transferFailure(const QString &text) const
{
    if (!m_linkLost.isEmpty())
        return m_linkLost;
    if (m_result && !m_result->success && m_result->channel > 0)
        return QStringLiteral("%1 (第%2路第%3条)").arg(text).arg(m_result->channel).arg(m_result->number);
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

void CliSession::setActivityText(const QString &text)
{
    if (text.startsWith(QStringLiteral("正在")))
        progressLine(text);
}

void CliSession::setProgressVisible(bool visible)
{
    if (!visible)
        progressLine(QString());
}

void CliSession::setProgressValue(int value)
{
    if (m_progressMax > 0)
        progressLine(QStringLiteral("%1/%2").arg(value).arg(m_progressMax));
}

QJsonValue CliSession::relaysJson(uint16_t states) const
{
    QJsonArray relays;
    for (int ch = 0; ch < 16; ++ch)
        relays.append(bool((states >> ch) & 1u));
    return relays;
}

std::optional<QDateTime> CliSession::boardClockNow() const
{
    const std::optional<StatusAgreement::Reading> &r = m_agreement.agreed();
    if (!r || !r->board)
        return std::nullopt;
    return r->board->addMSecs(r->at.msecsTo(m_engine.now()));
}

std::optional<qint64> CliSession::drift() const
{
    const std::optional<QDateTime> board = boardClockNow();
    return board ? ClockDriftSeconds(*board, m_engine.now()) : std::nullopt;
}

QJsonObject CliSession::clockJson() const
{
    const std::optional<QDateTime> board = boardClockNow();
    const std::optional<qint64> d = drift();
    return {{QStringLiteral("board_time"), board ? QJsonValue(Iso(*board)) : QJsonValue()},
            {QStringLiteral("drift_seconds"), d ? QJsonValue(*d) : QJsonValue()}};
}

QString CliSession::clockLine() const
{
    const std::optional<QDateTime> board = boardClockNow();
    if (!board)
        return QStringLiteral("board time unknown");
    return QStringLiteral("board time %1, %2").arg(Iso(*board), ClockDriftText(drift()));
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
    const uint16_t relays = m_agreement.agreed()->relays;
    QJsonObject o = clockJson();
    o[QStringLiteral("address")] = m_request.address;
    o[QStringLiteral("relays")] = relaysJson(relays);
    QStringList lines;
    QString states;
    for (int i = 0; i < 16; ++i)
        states += (relays >> i) & 1u ? QLatin1Char('1') : QLatin1Char('0');
    lines << QStringLiteral("address %1").arg(m_request.address)
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
    if (m_request.channel == 0) {
        m_engine.CmdDownAll();
    } else {
        m_engine.nPage = int16_t(m_request.channel);
        m_engine.CmdDown();
    }
    if (!runTransfer())
        return fail(CliExit::TransferFailed, transferFailure(kWriteFailed));
    // Frames sent again: a script can tell a clean write from one over a bad line.
    const QJsonObject o{{QStringLiteral("written"), true}, {QStringLiteral("retries"), m_result->retries}};
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
    const std::optional<qint64> d = drift();
    // A clock that makes no sense (no time, or years off) is beyond any limit.
    const bool set = m_request.setClock || (m_request.setIfDrift && (!d || std::abs(*d) > *m_request.setIfDrift));
    QStringList lines{clockLine()};
    if (set) {
        m_messages.clear();
        m_engine.CmdSetTime();
        if (!runUntil([this] { return m_messages.contains(kClockSet); }, kClockSetTicks))
            return fail(CliExit::NoAnswer, m_linkLost.isEmpty() ? kNoAnswer : m_linkLost);
        lines << kClockSet;
    }
    o[QStringLiteral("set")] = set;
    return finish(CliExit::Ok, o, lines);
}

int CliSession::relay()
{
    if (!boardAnswers())
        return int(CliExit::NoAnswer);
    if (m_request.relay == 0) {
        m_request.relayOn ? m_engine.CmdOpenAll() : m_engine.CmdCloseAll();
    } else {
        m_engine.nPage = int16_t(m_request.relay);
        m_request.relayOn ? m_engine.CmdIn() : m_engine.CmdOut();
    }
    // The command goes out once two agreeing status replies are in; two more
    // after it show whether the board followed (the lamps show them then).
    m_notFollowed.reset();
    const bool done =
        runUntil([this] { return !m_engine.bManualPending && !m_engine.relayCheckPending(); }, kRelayTicks);
    if (!done)
        return fail(CliExit::NoAnswer, m_linkLost.isEmpty() ? kNoAnswer : m_linkLost);
    if (m_notFollowed)
        return fail(CliExit::TransferFailed, NotFollowedText(*m_notFollowed));
    uint16_t states = 0;
    for (int ch = 0; ch < 16; ++ch)
        states |= uint16_t(m_lamps[size_t(ch)] == kLampGreen ? 1u << ch : 0u);
    QJsonObject o{{QStringLiteral("relays"), relaysJson(states)}};
    const QString which = m_request.relay ? QString::number(m_request.relay) : QStringLiteral("all");
    return finish(CliExit::Ok, o,
                  {QStringLiteral("relay %1 %2")
                       .arg(which, m_request.relayOn ? QStringLiteral("吸合") : QStringLiteral("断开"))});
}

int CliSession::scan()
{
    BusScan bus(m_link, m_request.scanFrom, m_request.scanTo, m_request.scanTries);
    QEventLoop loop;
    QTimer window;
    window.setInterval(int(kScanWindow.count()));
    QObject::connect(&window, &QTimer::timeout, &loop, [&] {
        progressLine(QStringLiteral("%1/%2").arg(bus.done()).arg(bus.total()));
        if (!m_linkLost.isEmpty() || !bus.step())
            loop.quit();
    });
    m_frameHook = nullptr;
    LinkListener *self = this;
    struct ScanListener final : LinkListener {
        BusScan &bus;
        LinkListener &session;
        ScanListener(BusScan &b, LinkListener &s) : bus(b), session(s) {}
        void onFrame(const Frame &f) override { bus.onFrame(f); }
        void onLinkFailed(const QString &why) override { session.onLinkFailed(why); }
    } listener(bus, *self);
    m_link.setListener(&listener);
    bus.step();
    window.start();
    loop.exec();
    m_link.setListener(this);
    progressLine(QString());
    if (!m_linkLost.isEmpty())
        return fail(CliExit::NoAnswer, m_linkLost);
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
