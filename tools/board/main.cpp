// kelmora-board: a simulated relay board behind a pseudo-terminal, for trying
// the program without hardware. Prints the port's device path on the first line.
#include "boardsim.h"
#include "pseudoterminal.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int kTickMs = 100;
constexpr int kReadChunk = 256;
constexpr long kMaxPercent = 100;
constexpr long kMaxAddress = 255;
constexpr long kMaxDelayMs = 60000;
constexpr long kMaxBaud = 4000000;
constexpr int64_t kUsPerMs = 1000;
constexpr double kMaxClockOffsetS = 100.0 * 366 * 24 * 3600;
constexpr double kMinClockRate = 1e-3;
constexpr double kMaxClockRate = 1e6;

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int)
{
    g_stop = 1;
}

constexpr const char *kUsage = R"(usage: kelmora-board [options]
A simulated 16-channel relay board on a pseudo-terminal. The first line on
stdout is the port's device path.
  --link PATH            make PATH a symbolic link to the port (e.g. build/Com99)
  --address N            board address 0..255 (default 1); give it again for more
                         boards on the same line, each with its own relays,
                         schedules and clock, answering only its own address
  --clock-offset S       the board's clock starts S seconds off the computer's
  --clock-rate R         the board's clock runs R times as fast (e.g. 1.001, 60)
  --tamper CH:NO         once entry NO of channel CH is written, alter it on
                         the board (one minute later), once
  --silent               never answer
  --drop-percent N       lose N% of the replies
  --corrupt-percent N    flip one byte in N% of the replies
  --baud N               keep the line time of N baud, 8N1 (default 9600; 0: none)
  --answer-ms N          the board needs N ms to prepare each answer
  --delay-ms N           answer N ms late (on top of the line and answer time)
  --no-write-ack         never acknowledge a written entry
  --split                send each reply in several pieces
  --seed N               seed for drops and corruption (default 1)
  --log FILE             append relay changes and injected faults to FILE
  --silent-spell A:L     hear nothing from A seconds after start, for L seconds
  --help                 this text
)";

struct Options {
    BoardConfig board;
    std::vector<uint8_t> addresses; // empty: the one board's own address
    double clockOffsetS = 0;
    LineTiming line;
    std::string link;
    std::string log;
    // A spell of deafness: from `spellAfterS` seconds after start, for `spellForS` seconds.
    long spellAfterS = -1;
    long spellForS = 0;
};

std::optional<double> Real(const char *text, double lo, double hi)
{
    if (!text)
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
        return std::nullopt;
    return v;
}

std::optional<long> Number(const char *text, long lo, long hi)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        return std::nullopt;
    return v;
}

// Returns nullopt after printing why (or the help text: then `helpOnly` is set).
std::optional<Options> Parse(int argc, char **argv, bool &helpOnly)
{
    Options o;
    helpOnly = false;
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        const std::string_view a = option;
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        auto number = [&](long lo, long hi) -> std::optional<long> {
            const char *v = value();
            if (!v)
                return std::nullopt;
            return Number(v, lo, hi);
        };
        std::optional<long> n;
        std::optional<double> r;
        if (a == "--help") {
            std::fputs(kUsage, stdout);
            helpOnly = true;
            return std::nullopt;
        } else if (a == "--silent") {
            o.board.faults.silent = true;
        } else if (a == "--no-write-ack") {
            o.board.faults.noWriteAck = true;
        } else if (a == "--split") {
            o.board.faults.split = true;
        } else if (a == "--link" || a == "--log") {
            const char *v = value();
            if (!v || !*v) {
                std::fprintf(stderr, "kelmora-board: %s needs a path\n", option);
                return std::nullopt;
            }
            (a == "--link" ? o.link : o.log) = v;
        } else if (a == "--address" && (n = number(0, kMaxAddress))) {
            if (std::find(o.addresses.begin(), o.addresses.end(), uint8_t(*n)) != o.addresses.end()) {
                std::fprintf(stderr, "kelmora-board: address %ld given twice\n", *n);
                return std::nullopt;
            }
            o.addresses.push_back(uint8_t(*n));
        } else if (a == "--clock-offset" && (r = Real(value(), -kMaxClockOffsetS, kMaxClockOffsetS))) {
            o.clockOffsetS = *r;
        } else if (a == "--clock-rate" && (r = Real(value(), kMinClockRate, kMaxClockRate))) {
            o.board.clockRate = *r;
        } else if (a == "--tamper") {
            const char *v = value();
            const char *colon = v ? std::strchr(v, ':') : nullptr;
            const auto channel = colon ? Number(std::string(v, colon).c_str(), 1, board::kChannels) : std::nullopt;
            const auto entry = colon ? Number(colon + 1, 1, board::kSlots) : std::nullopt;
            if (!channel || !entry) {
                std::fprintf(stderr, "kelmora-board: --tamper needs CHANNEL:ENTRY (1..16:1..255)\n");
                return std::nullopt;
            }
            o.board.tamper = {int(*channel), int(*entry)};
        } else if (a == "--drop-percent" && (n = number(0, kMaxPercent))) {
            o.board.faults.dropPercent = int(*n);
        } else if (a == "--corrupt-percent" && (n = number(0, kMaxPercent))) {
            o.board.faults.corruptPercent = int(*n);
        } else if (a == "--delay-ms" && (n = number(0, kMaxDelayMs))) {
            o.board.faults.delayMs = int(*n);
        } else if (a == "--answer-ms" && (n = number(0, kMaxDelayMs))) {
            o.line.answerMs = int(*n);
        } else if (a == "--baud" && (n = number(0, kMaxBaud))) {
            o.line.baud = int(*n);
        } else if (a == "--silent-spell") {
            const char *v = value();
            const char *colon = v ? std::strchr(v, ':') : nullptr;
            if (!colon) {
                std::fprintf(stderr, "kelmora-board: --silent-spell needs AFTER:LENGTH in seconds\n");
                return std::nullopt;
            }
            o.spellAfterS = std::strtol(v, nullptr, 10);
            o.spellForS = std::strtol(colon + 1, nullptr, 10);
        } else if (a == "--seed" && (n = number(0, 0xFFFFFFFFL))) {
            o.board.faults.seed = uint32_t(*n);
        } else {
            std::fprintf(stderr, "kelmora-board: bad option or value: %s\n%s", option, kUsage);
            return std::nullopt;
        }
    }
    if (o.addresses.empty())
        o.addresses.push_back(o.board.address);
    o.line.delayMs = o.board.faults.delayMs;
    o.line.split = o.board.faults.split;
    return o;
}

int64_t NowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t NowMs()
{
    return NowUs() / kUsPerMs;
}

class Board {
public:
    Board(const Options &options, PseudoTerminal &pty)
        : m_options(options), m_pty(pty), m_line(options.line), m_startMs(NowMs())
    {
        const auto offsetMs = int64_t(std::llround(options.clockOffsetS * 1000));
        for (size_t i = 0; i < options.addresses.size(); ++i) {
            BoardConfig config = options.board;
            config.address = options.addresses[i];
            config.faults.seed += uint32_t(i); // each board drops its own replies
            m_sims.emplace_back(config, QDateTime::currentDateTime().addMSecs(offsetMs), NowMs());
            m_logged.push_back({});
        }
        if (!options.log.empty())
            m_log = std::fopen(options.log.c_str(), "a");
    }
    ~Board()
    {
        if (m_log)
            std::fclose(m_log);
    }
    bool logOpen() const { return m_options.log.empty() || m_log; }

    void run()
    {
        while (!g_stop) {
            pollfd p{m_pty.masterFd(), POLLIN, 0};
            const timespec wait = timeout();
            const int r = ::ppoll(&p, 1, &wait, nullptr);
            for (BoardSim &sim : m_sims)
                sim.tick(NowMs());
            if (r > 0 && (p.revents & POLLIN))
                readLine();
            sendDue();
            writeLog();
        }
    }

private:
    timespec timeout() const
    {
        constexpr int64_t kNsPerUs = 1000, kUsPerS = 1000000;
        int64_t us = kTickMs * kUsPerMs;
        if (!m_queue.empty())
            us = std::clamp<int64_t>(m_queue.front().dueUs - NowUs(), 0, us);
        return timespec{time_t(us / kUsPerS), long(us % kUsPerS * kNsPerUs)};
    }

    void readLine()
    {
        char buf[kReadChunk];
        const ssize_t n = ::read(m_pty.masterFd(), buf, sizeof buf);
        if (n <= 0)
            return;
        if (deaf()) {
            if (!m_spellLogged)
                logLine(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                        QStringLiteral(" fault: silent spell begins"));
            m_spellLogged = true;
            return;
        }
        // The bytes reached us at once; on a real line they would still be crossing it.
        const int64_t done = m_line.requestDone(NowUs(), n);
        for (BoardSim &sim : m_sims)
            for (const QByteArray &reply : sim.feed(QByteArray(buf, int(n))))
                for (LinePiece &piece : m_line.reply(done, reply))
                    m_queue.push_back(std::move(piece));
    }

    bool deaf() const
    {
        if (m_options.spellAfterS < 0)
            return false;
        const int64_t since = NowMs() - m_startMs;
        return since >= m_options.spellAfterS * 1000 && since < (m_options.spellAfterS + m_options.spellForS) * 1000;
    }

    void sendDue()
    {
        const int64_t now = NowUs();
        while (!m_queue.empty() && m_queue.front().dueUs <= now) {
            QByteArray &bytes = m_queue.front().bytes;
            const long n = m_pty.writeMaster(std::string_view(bytes.constData(), size_t(bytes.size())));
            if (n < 0 || n == 0) {
                // Nobody is reading the port and its buffer is full: the reply is lost.
                logLine("output dropped: port buffer full");
                m_queue.pop_front();
                continue;
            }
            if (n < bytes.size()) {
                bytes.remove(0, n);
                return;
            }
            m_queue.pop_front();
        }
    }

    void logLine(const QString &text)
    {
        if (!m_log)
            return;
        std::fprintf(m_log, "%s\n", text.toUtf8().constData());
        std::fflush(m_log);
    }

    void writeLog()
    {
        const auto stamp = [](const QDateTime &t) { return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); };
        for (size_t i = 0; i < m_sims.size(); ++i) {
            const BoardSim &sim = m_sims[i];
            // With several boards on the line, each line says whose it is (at its end: readers split on spaces).
            const QString whose =
                m_sims.size() > 1 ? QStringLiteral(" (board %1)").arg(sim.config().address) : QString();
            Logged &done = m_logged[i];
            const auto &relays = sim.relayLog();
            for (; done.relays < relays.size(); ++done.relays) {
                const RelayChange &c = relays[done.relays];
                logLine(QStringLiteral("%1 relay %2 %3 %4")
                            .arg(stamp(c.time))
                            .arg(c.channel)
                            .arg(c.on ? QStringLiteral("on") : QStringLiteral("off"), c.cause) +
                        whose);
            }
            const auto &notes = sim.notes();
            for (; done.notes < notes.size(); ++done.notes) {
                // Frames for the other boards on the line are no news.
                if (m_sims.size() > 1 && notes[done.notes].text.startsWith(QStringLiteral("ignored frame for address")))
                    continue;
                logLine(stamp(notes[done.notes].time) + QLatin1Char(' ') + notes[done.notes].text + whose);
            }
        }
    }

    struct Logged {
        size_t relays = 0;
        size_t notes = 0;
    };

    const Options &m_options;
    PseudoTerminal &m_pty;
    std::vector<BoardSim> m_sims; // one per address on the line
    std::vector<Logged> m_logged;
    SerialLine m_line;
    std::deque<LinePiece> m_queue; // replies (or their pieces) waiting to go out, in order
    std::FILE *m_log = nullptr;
    int64_t m_startMs = 0;
    bool m_spellLogged = false;
};

bool MakeLink(const std::string &link, const std::string &target)
{
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "kelmora-board: %s exists and is not a link\n", link.c_str());
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "kelmora-board: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link only while it still points at our port (another board may have taken the name).
void RemoveLink(const std::string &link, const std::string &target)
{
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string_view(buf, size_t(n)) == target)
        ::unlink(link.c_str());
}
} // namespace

int main(int argc, char **argv)
{
    bool helpOnly = false;
    const std::optional<Options> options = Parse(argc, argv, helpOnly);
    if (!options)
        return helpOnly ? EXIT_SUCCESS : EXIT_FAILURE;

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    PseudoTerminal pty;
    if (!pty.open()) {
        std::fprintf(stderr, "kelmora-board: %s\n", pty.error().c_str());
        return EXIT_FAILURE;
    }
    if (!options->link.empty() && !MakeLink(options->link, pty.slavePath()))
        return EXIT_FAILURE;

    Board board(*options, pty);
    if (!board.logOpen())
        std::fprintf(stderr, "kelmora-board: cannot open log %s: %s\n", options->log.c_str(), std::strerror(errno));

    std::printf("%s\n", pty.slavePath().c_str());
    std::fflush(stdout);

    board.run();

    if (!options->link.empty())
        RemoveLink(options->link, pty.slavePath());
    return EXIT_SUCCESS;
}
