// Transfers against kelmora-board keeping line time, through the real window,
// link, tick and paced steps; prints each transfer's time beside the wire limit
// of its exchanges (a 22-byte request and a 22-byte reply, 10 bits a byte).
//
//   transfer_bench [--baud N] [--drop-percent P] [--runs N] [--skip-full]
//
// Full board: every channel holds 255 entries; it is written, then read back.
// Then `--runs` writes of one 255-entry channel, at the same loss, each timed
// against the loss-free time of that write measured first.
#include "app/frmmain.h"
#include "device/qtseriallink.h"

#include "boardprocess.h"
#include "support/scriptedprompts.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

constexpr int kPort = 96;

struct Timed {
    bool ok = false;
    double seconds = 0;
    int frames = 0;
    int retries = 0;
};

class Bench {
public:
    Bench(int baud, const QStringList &faults) : m_baud(baud)
    {
        m_board = std::make_unique<BoardProcess>(m_dir.path(), kPort,
                                                 QStringList{QStringLiteral("--baud"), QString::number(baud)} + faults);
        m_link = std::make_unique<QtSerialLink>(m_dir.path());
        m_window =
            std::make_unique<Frmmain>(FrmmainSetup{m_dir.path(), Variant::Standard, m_link.get(), &m_prompts, {}});
    }
    ~Bench() { m_window.reset(); }

    bool open()
    {
        if (!m_board->started)
            return false;
        m_window->CmbCom->setCurrentIndex(kPort - 1);
        m_window->CmdOpen->click();
        return WaitFor([&] { return m_window->lampColour(0) != kLampGrey; }, 20000);
    }

    void fill(int channels)
    {
        ScheduleBook &book = m_window->book();
        book.clear();
        for (int c = 1; c <= channels; ++c)
            for (int n = 1; n <= kMaxEntriesPerChannel; ++n) {
                auto e = std::make_shared<Clsdata>();
                e->nRoute = int16_t(c);
                e->nNo = int16_t(n);
                e->bIsEveryDay = true;
                e->nStartHour = int16_t(n % 24);
                e->nStartMin = int16_t(n % 60);
                e->nStartSecond = int16_t(c);
                book.add(e);
            }
        m_window->showChannel(1);
    }

    Timed run(QPushButton *button, const QString &ok)
    {
        m_prompts.messages.clear();
        // A relay command or poll in flight settles first.
        WaitFor([] { return false; }, 500);
        const EngineCounters before = m_window->engine().counters();
        QElapsedTimer t;
        t.start();
        button->click();
        const bool ended = WaitFor([&] { return !m_prompts.messages.isEmpty(); }, 3600000);
        Timed r;
        r.seconds = t.elapsed() / 1000.0;
        r.ok = ended && m_prompts.messages.first() == ok;
        r.frames = m_window->engine().counters().framesSent - before.framesSent;
        r.retries = m_window->engine().counters().retries - before.retries;
        return r;
    }

    // The line's own time for `exchanges` request-reply pairs.
    double wireSeconds(int exchanges) const { return m_baud > 0 ? exchanges * 2 * 22 * 10.0 / m_baud : 0.0; }

    void print(const char *what, const Timed &r, int exchanges) const
    {
        const double wire = wireSeconds(exchanges);
        std::printf("%-30s %-10s %8.1f s  wire limit %7.1f s  ratio %5.2f  frames %5d (ideal %d), retries %d\n", what,
                    r.ok ? "success" : "FAILED", r.seconds, wire, wire > 0 ? r.seconds / wire : 0.0, r.frames,
                    exchanges, r.retries);
        std::fflush(stdout);
    }

    Frmmain &window() { return *m_window; }
    ScriptedPrompts &prompts() { return m_prompts; }

private:
    int m_baud;
    QTemporaryDir m_dir;
    ScriptedPrompts m_prompts;
    std::unique_ptr<BoardProcess> m_board;
    std::unique_ptr<QtSerialLink> m_link;
    std::unique_ptr<Frmmain> m_window;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int baud = 9600, drop = 0, runs = 3;
    bool full = true;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (args[i] == QStringLiteral("--baud"))
            baud = next.toInt(), ++i;
        else if (args[i] == QStringLiteral("--drop-percent"))
            drop = next.toInt(), ++i;
        else if (args[i] == QStringLiteral("--runs"))
            runs = next.toInt(), ++i;
        else if (args[i] == QStringLiteral("--skip-full"))
            full = false;
    }
    const QStringList faults =
        drop > 0 ? QStringList{QStringLiteral("--drop-percent"), QString::number(drop)} : QStringList{};
    std::printf("kelmora-board at %d baud, %d%% of replies lost\n", baud, drop);
    bool allOk = true;

    if (full) {
        Bench b(baud, faults);
        if (!b.open()) {
            std::fprintf(stderr, "transfer_bench: the board did not answer\n");
            return 2;
        }
        b.fill(kChannelCount);
        const int exchanges = kChannelCount * kMaxEntriesPerChannel; // full channels need no end marker
        const Timed w = b.run(b.window().CmdDownAll, QStringLiteral("写入成功！"));
        b.print("full-board write", w, exchanges);
        const Timed r = b.run(b.window().CmdUpLoadAll, QStringLiteral("读取成功！"));
        b.print("full-board read", r, exchanges);
        const int back = int(b.window().book().size());
        std::printf("entries read back: %d of %d\n", back, exchanges);
        allOk = allOk && w.ok && r.ok && back == exchanges;
    }

    if (runs > 0) {
        // The loss-free time of one channel's write, then `runs` writes at the loss asked for.
        double lossFree = 0;
        {
            Bench clean(baud, {});
            if (!clean.open())
                return 2;
            clean.fill(1);
            const Timed t = clean.run(clean.window().CmdDown, QStringLiteral("写入成功！"));
            clean.print("255-entry write, no loss", t, kMaxEntriesPerChannel);
            lossFree = t.seconds;
        }
        Bench b(baud, faults);
        if (!b.open())
            return 2;
        b.fill(1);
        int successes = 0;
        double worst = 0, sum = 0;
        for (int i = 0; i < runs; ++i) {
            const Timed t = b.run(b.window().CmdDown, QStringLiteral("写入成功！"));
            successes += t.ok;
            sum += t.seconds;
            worst = std::max(worst, t.seconds);
        }
        std::printf("255-entry write at %d%% loss: %d of %d succeeded, mean %.1f s (%.2fx loss-free), worst %.1f s "
                    "(%.2fx)\n",
                    drop, successes, runs, sum / runs, sum / runs / lossFree, worst, worst / lossFree);
        allOk = allOk && successes == runs;
    }
    return allOk ? 0 : 1;
}
