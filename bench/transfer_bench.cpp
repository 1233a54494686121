// Writes one full channel (255 entries) into kelmora-board and reads it back
// through the real window, link and 200 ms tick; prints ticks and wall time.
//   transfer_bench [--entries N]
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

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int entries = kMaxEntriesPerChannel;
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 2 && args[1] == QStringLiteral("--entries"))
        entries = std::clamp(args[2].toInt(), 1, kMaxEntriesPerChannel);

    QTemporaryDir dir;
    BoardProcess board(dir.path(), 96);
    if (!board.started)
        return 2;
    ScriptedPrompts prompts;
    QtSerialLink link(dir.path());
    Frmmain w(FrmmainSetup{dir.path(), Variant::Standard, &link, &prompts, {}});
    for (int n = 1; n <= entries; ++n) {
        auto e = std::make_shared<Clsdata>();
        e->nRoute = 1;
        e->nNo = int16_t(n);
        e->bIsEveryDay = true;
        e->nStartHour = int16_t(n % 24);
        e->nStartMin = int16_t(n % 60);
        w.book().add(e);
    }
    int ticks = 0;
    QObject::connect(&w.Timer2, &QTimer::timeout, &w, [&] { ++ticks; });
    w.CmbCom->setCurrentIndex(95);
    w.CmdOpen->click();
    WaitFor([&] { return w.lampColour(0) != kLampGrey; }, 10000);

    const auto timed = [&](QPushButton *button, const QString &ok, const char *what) {
        prompts.messages.clear();
        const int before = ticks;
        QElapsedTimer t;
        t.start();
        button->click();
        const bool ended = WaitFor([&] { return !prompts.messages.isEmpty(); }, 600000);
        std::printf("%-28s %4d ticks  %7.1f s  %s\n", what, ticks - before, t.elapsed() / 1000.0,
                    ended ? qPrintable(prompts.messages.first()) : "no ending");
        return ended && prompts.messages.first() == ok;
    };
    w.showChannel(1);
    const bool wrote = timed(w.CmdDown, QStringLiteral("写入成功！"), "write one channel");
    const bool read = timed(w.CmdUpload, QStringLiteral("读取成功！"), "read it back");
    std::printf("entries back: %d of %d\n", int(w.book().countOf(1)), entries);
    return wrote && read ? 0 : 1;
}
