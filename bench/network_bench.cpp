// The window on a network board against the same window on a line, with kelmora-board
// keeping line time, a real mosquitto and the kelmora-bridge program:
//   1. a full-board write (16 channels of N entries) over the line, then through the broker;
//   2. a relay click in one window to the lamp in another window, both on the network
//      board (median, p99, max over the clicks).
//
//   network_bench [--entries N] [--clicks N]
#include "app/frmmain.h"
#include "bridge/mosquittoclient.h"
#include "device/qtseriallink.h"

#include "boardprocess.h"
#include "support/scriptedprompts.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

struct Window {
    Window(const QString &folder, QtSerialLink &link)
        : w(std::make_unique<Frmmain>(FrmmainSetup{folder, Variant::Standard, &link, &prompts, {},
                                                   [](const MqttSettings &s) -> std::unique_ptr<MqttClient> {
                                                       return std::make_unique<MosquittoClient>(s, [](const QString &) {});
                                                   }}))
    {
    }
    bool lampsKnown() const { return w->lampColour(0) != kLampGrey; }
    void fill(int entries)
    {
        for (int c = 1; c <= 16; ++c)
            for (int n = 1; n <= entries; ++n) {
                auto e = std::make_shared<Clsdata>();
                e->nRoute = int16_t(c), e->nNo = int16_t(n), e->bIsEveryDay = true;
                e->nStartHour = int16_t(n % 24), e->nStartMin = int16_t((n * 7) % 60);
                w->book().append(e);
            }
    }
    // 写入所有, timed to its box.
    double writeAll()
    {
        QElapsedTimer t;
        t.start();
        w->CmdDownAll->click();
        const bool ok = WaitFor([&] { return prompts.messages.contains(QStringLiteral("写入成功！")); }, 600000);
        return ok ? t.elapsed() / 1000.0 : -1;
    }
    ScriptedPrompts prompts;
    std::unique_ptr<Frmmain> w;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList args = app.arguments();
    const auto value = [&](const char *name, int fallback) {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i > 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
    };
    const int entries = value("--entries", 20), clicks = value("--clicks", 100);
    QTemporaryDir dir;
    for (const char *sub : {"line", "a", "b"})
        QDir(dir.path()).mkpath(QLatin1String(sub));
    QtSerialLink link(dir.path());

    // Over the line.
    BoardProcess own(dir.path(), 91);
    double lineSeconds = -1;
    {
        Window line(dir.filePath("line"), link);
        line.w->CmbCom->setCurrentIndex(91 - 1);
        line.w->CmdOpen->click();
        if (WaitFor([&] { return line.lampsKnown(); }, 10000)) {
            line.fill(entries);
            lineSeconds = line.writeAll();
        }
    }

    // Through the broker, the bridge holding another board.
    const int port = FreePort();
    WriteText(dir.filePath("m.conf"), QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port));
    QProcess broker;
    broker.start("/usr/sbin/mosquitto", {"-c", dir.filePath("m.conf")});
    BoardProcess held(dir.path(), 92);
    WriteText(dir.filePath("b.ini"), QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nbase_topic=k\n[board.b1]\nport=%2\n")
                                     .arg(port)
                                     .arg(dir.filePath("Com92")));
    QProcess bridge;
    bridge.start(KELMORA_BRIDGE, {"--config", dir.filePath("b.ini")});
    Window a(dir.filePath("a"), link), b(dir.filePath("b"), link);
    QString why;
    for (Window *w : {&a, &b})
        w->w->openNetworkBoard({*ClientSettings(QStringLiteral("mqtt://127.0.0.1:%1").arg(port), {}, {},
                                                QStringLiteral("bench-%1").arg(w == &a ? 'a' : 'b'), &why),
                                "k", "b1"});
    double netSeconds = -1;
    std::vector<double> ms;
    if (WaitFor([&] { return a.lampsKnown() && b.lampsKnown(); }, 20000)) {
        a.fill(entries);
        netSeconds = a.writeAll();
        // Relay 2 stays on: a standard board takes a command that leaves every relay off for a status request.
        a.w->SSTab2_Click(1);
        a.w->CmdIn->click();
        WaitFor([&] { return b.w->lampColour(1) == kLampGreen && !a.w->driver().relayCommandPending(); }, 10000);
        a.w->SSTab2_Click(0);
        for (int i = 0; i < clicks; ++i) {
            const bool on = i % 2 == 0;
            QElapsedTimer t;
            t.start();
            (on ? a.w->CmdIn : a.w->CmdOut)->click();
            if (!WaitFor([&] { return b.w->lampColour(0) == (on ? kLampGreen : kLampRed); }, 10000))
                break;
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
            WaitFor([&] { return !a.w->driver().relayCommandPending(); }, 10000);
        }
    }
    std::printf("| full-board write, 16 x %d entries | line %.1f s | broker %.1f s | ratio %.3f |\n", entries,
                lineSeconds, netSeconds, lineSeconds > 0 ? netSeconds / lineSeconds : 0.0);
    std::sort(ms.begin(), ms.end());
    if (!ms.empty())
        std::printf("| relay click -> lamp in the other window (%zu clicks) | median %.0f ms | p99 %.0f ms | max %.0f ms |\n",
                    ms.size(), ms[ms.size() / 2], ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99))],
                    ms.back());
    a.w.reset();
    b.w.reset();
    bridge.terminate();
    bridge.waitForFinished();
    broker.kill();
    broker.waitForFinished();
    return lineSeconds > 0 && netSeconds > 0 && !ms.empty() ? 0 : 1;
}
