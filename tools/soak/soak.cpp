// Fault soak: the real window, link and tick against a misbehaving kelmora-board
// (drops, corruption, delays, split replies, a silent spell), doing writes,
// reads, clock sets and manual relay commands in a loop, and checking that
// nothing crashes or hangs, every transfer ends with its closing message, every
// entry in the book is real, the saved file reloads, and no relay changes that
// was not commanded.
//
//   kelmora_soak [--seconds N] [--seed N] [--port N]
#include "app/frmmain.h"
#include "device/qtseriallink.h"
#include "schedule/channelview.h"

#include "boardprocess.h"
#include "support/scriptedprompts.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

namespace {

struct Figures {
    int actions = 0;
    int transfersEnded = 0;
    int transfersSucceeded = 0;
    int relayChangesChecked = 0;
    int saves = 0;
    QStringList violations;
};

class Soak {
public:
    Soak(int seconds, quint32 seed, int port) : m_seconds(seconds), m_rng(seed), m_port(port) {}

    int run()
    {
        const QStringList faults = {QStringLiteral("--drop-percent"),
                                    QStringLiteral("8"),
                                    QStringLiteral("--corrupt-percent"),
                                    QStringLiteral("8"),
                                    QStringLiteral("--delay-ms"),
                                    QStringLiteral("20"),
                                    QStringLiteral("--split"),
                                    QStringLiteral("--seed"),
                                    QString::number(m_rng.generate() % 100000),
                                    QStringLiteral("--silent-spell"),
                                    QStringLiteral("%1:4").arg(std::max(5, m_seconds / 3))};
        BoardProcess board(m_dir.path(), m_port, faults);
        if (!board.started) {
            std::fprintf(stderr, "soak: kelmora-board did not start\n");
            return 2;
        }
        QtSerialLink link(m_dir.path());
        m_window = std::make_unique<Frmmain>(FrmmainSetup{m_dir.path(), Variant::Standard, &link, &m_prompts, {}});
        Frmmain &w = *m_window;
        w.CmbCom->setCurrentIndex(m_port - 1);

        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < m_seconds * 1000LL && m_figures.violations.size() < 20) {
            editAndSave();
            if (!open())
                continue;
            for (int i = 0; i < 6; ++i)
                deviceStep();
            close();
        }
        close();
        checkRelayLog();
        report(w);
        m_window.reset(); // before the link it talks through
        return m_figures.violations.isEmpty() ? 0 : 1;
    }

private:
    int pick(int n) { return int(m_rng.bounded(n)); }

    void violation(const QString &what)
    {
        m_figures.violations << what;
        std::fprintf(stderr, "soak: VIOLATION %s\n", qPrintable(what));
    }

    bool open()
    {
        m_window->CmdOpen->click();
        if (m_window->CmdOpen->text() != QStringLiteral("关闭")) {
            violation(QStringLiteral("link would not open: ") + m_prompts.messages.join(u'|'));
            m_prompts.messages.clear();
            return false;
        }
        return true;
    }

    void close()
    {
        if (m_window->CmdOpen->text() == QStringLiteral("关闭"))
            m_window->CmdOpen->click();
    }

    // The operator edits a channel (only possible with the link closed), then saves.
    void editAndSave()
    {
        Frmmain &w = *m_window;
        const int channel = 1 + pick(kChannelCount);
        w.showChannel(channel);
        const int adds = pick(4);
        for (int i = 0; i < adds && w.book().countOf(channel) < 40; ++i) {
            m_prompts.editor = [this](Dialog &d) {
                // Fixed dates in the past: the board's own schedules never fire during the soak.
                d.selectMode(kModeFixedDate);
                d.DT->setDate(QDate(2001, 1 + pick(12), 1 + pick(28)));
                d.Combo1->setCurrentIndex(pick(24));
                d.Combo2->setCurrentIndex(pick(60));
                d.CmbStatus->setCurrentIndex(pick(2));
                d.confirm();
            };
            w.CmdAdd->click();
        }
        if (w.rowCount() > 2 && pick(3) == 0) {
            m_prompts.confirmAnswer = true;
            w.List->topLevelItem(pick(w.rowCount()))->setSelected(true);
            w.CmdDel->click();
        }
        for (const EntryRef &e : w.book().channel(channel))
            m_made.insert(key(*e));

        w.CmdSave->click();
        ++m_figures.saves;
        expectMessage(QStringLiteral("保存成功！"), 2000);
        const OpenedSchedules reloaded = OpenSchedules(w.store().notePath());
        QStringList a, b;
        for (int c = 1; c <= kChannelCount; ++c)
            for (const EntryRef &e : w.book().channel(c))
                a << e->GetStr();
        for (const EntryRef &e : reloaded.entries)
            b << e->GetStr();
        if (!reloaded.ok || (a != b && !w.book().isEmpty()))
            violation(QStringLiteral("saved file does not reload as the book"));
    }

    void deviceStep()
    {
        Frmmain &w = *m_window;
        ++m_figures.actions;
        switch (pick(7)) {
        case 0:
            w.showChannel(1 + pick(kChannelCount));
            noteWritten(w.book().channel(w.nPage()));
            w.CmdDown->click();
            awaitEnd({QStringLiteral("写入成功！"), QStringLiteral("写入失败！")}, 300);
            break;
        case 1:
            for (int c = 1; c <= kChannelCount; ++c)
                noteWritten(w.book().channel(c));
            w.CmdDownAll->click();
            awaitEnd({QStringLiteral("写入成功！"), QStringLiteral("写入失败！")}, 800);
            break;
        case 2:
        case 3: {
            const bool all = pick(2) == 0;
            w.showChannel(1 + pick(kChannelCount));
            m_prompts.confirmAnswer = true;
            (all ? w.CmdUpLoadAll : w.CmdUpload)->click();
            awaitEnd({QStringLiteral("读取成功！"), QStringLiteral("读取失败！")}, all ? 1200 : 400);
            checkBookIsReal();
            break;
        }
        case 4:
            w.CmdSetTime->click();
            // Acknowledged, or still pending when the board is deaf: either way no hang.
            WaitFor([&] { return m_prompts.messages.contains(QStringLiteral("设置成功！")); }, 3000);
            m_prompts.messages.removeAll(QStringLiteral("设置成功！"));
            w.CmdReadTime->click();
            break;
        default:
            manualCommand();
            break;
        }
        unexpectedMessages();
    }

    void manualCommand()
    {
        Frmmain &w = *m_window;
        const int kind = pick(10);
        if (kind == 0 || kind == 1) {
            const bool on = kind == 0;
            (on ? w.CmdOpenAll : w.CmdCloseAll)->click();
            for (int c = 1; c <= kChannelCount; ++c)
                m_allowed[c].insert(on);
        } else {
            const int channel = 1 + pick(kChannelCount);
            const bool on = pick(2) == 0;
            w.showChannel(channel);
            (on ? w.CmdIn : w.CmdOut)->click();
            m_allowed[channel].insert(on);
        }
        WaitFor([&] { return !w.engine().bManualPending; }, 3000);
        WaitFor([] { return false; }, 400);
    }

    void awaitEnd(const QStringList &endings, int maxTicks)
    {
        const bool ended = WaitFor(
            [&] {
                for (const QString &e : endings)
                    if (m_prompts.messages.contains(e))
                        return true;
                return false;
            },
            maxTicks * 200 + 10000);
        if (!ended) {
            violation(QStringLiteral("transfer did not end with its message (%1)").arg(endings.join(u'/')));
            return;
        }
        ++m_figures.transfersEnded;
        if (m_prompts.messages.contains(endings.first()))
            ++m_figures.transfersSucceeded;
        for (const QString &e : endings)
            m_prompts.messages.removeAll(e);
    }

    void expectMessage(const QString &text, int ms)
    {
        if (!WaitFor([&] { return m_prompts.messages.contains(text); }, ms))
            violation(QStringLiteral("no message ") + text);
        m_prompts.messages.removeAll(text);
    }

    void unexpectedMessages()
    {
        m_prompts.messages.removeAll(QStringLiteral("设置成功！"));
        for (const QString &m : std::as_const(m_prompts.messages))
            violation(QStringLiteral("unexpected message: ") + m);
        m_prompts.messages.clear();
    }

    static QString key(const Clsdata &e) { return QString::number(e.nRoute) + QLatin1Char(':') + e.GetStr(); }

    void noteWritten(const QList<EntryRef> &entries)
    {
        for (const EntryRef &e : entries)
            m_written.insert(key(*e));
    }

    // Every entry in the book is one the board was sent or the operator made.
    void checkBookIsReal()
    {
        for (const auto &item : m_window->book().items()) {
            const QString k = key(*item.entry);
            if (!m_written.contains(k) && !m_made.contains(k))
                violation(QStringLiteral("entry from nowhere in the book: ") + k);
        }
    }

    // Every relay change the board made on a command matches a command the operator gave.
    void checkRelayLog()
    {
        QFile log(m_dir.filePath(QStringLiteral("board.log")));
        if (!log.open(QIODevice::ReadOnly)) {
            violation(QStringLiteral("no board log"));
            return;
        }
        for (const QByteArray &raw : log.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (line.contains(QStringLiteral(" fault: ")))
                ++m_faults;
            const QStringList f = line.split(u' ');
            if (f.size() < 6 || f[2] != QStringLiteral("relay"))
                continue;
            ++m_figures.relayChangesChecked;
            const int channel = f[3].toInt();
            const bool on = f[4] == QStringLiteral("on");
            if (f[5] != QStringLiteral("command"))
                violation(QStringLiteral("relay changed by its schedule: ") + line);
            else if (!m_allowed.value(channel).contains(on))
                violation(QStringLiteral("relay changed without a command: ") + line);
        }
    }

    void report(Frmmain &w)
    {
        const EngineCounters &c = w.engine().counters();
        std::printf("soak: %d s, %d device actions, %d saves\n", m_seconds, m_figures.actions, m_figures.saves);
        std::printf("soak: frames sent %d, replies decoded %d, replies rejected %d, entries dropped %d\n", c.framesSent,
                    c.repliesDecoded, c.repliesRejected, c.entriesDropped);
        std::printf("soak: faults injected %d, transfers ended %d (writes %d, reads %d), relay changes checked %d\n",
                    m_faults, m_figures.transfersEnded, c.writesEnded, c.readsEnded, m_figures.relayChangesChecked);
        std::printf("soak: transfers succeeded %d of %d (%.1f%%)\n", m_figures.transfersSucceeded,
                    m_figures.transfersEnded,
                    m_figures.transfersEnded ? 100.0 * m_figures.transfersSucceeded / m_figures.transfersEnded : 0.0);
        const bool passed = m_figures.violations.isEmpty();
        std::printf("soak: %d passed, %d failed\n", passed ? 1 : 0, passed ? 0 : 1);
        std::fflush(stdout);
    }

    int m_seconds;
    QRandomGenerator m_rng;
    int m_port;
    QTemporaryDir m_dir;
    ScriptedPrompts m_prompts;
    std::unique_ptr<Frmmain> m_window;
    Figures m_figures;
    QSet<QString> m_written, m_made;
    QHash<int, QSet<bool>> m_allowed;
    int m_faults = 0;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    int seconds = 60;
    quint32 seed = 1;
    int port = 98;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QStringLiteral("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QStringLiteral("--seed"))
            seed = args[i + 1].toUInt();
        else if (args[i] == QStringLiteral("--port"))
            port = args[i + 1].toInt();
    }
    return Soak(seconds, seed, port).run();
}
