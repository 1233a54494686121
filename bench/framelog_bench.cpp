// The frame log's cost during a full-board write: the 8 160 frames of 4 080
// exchanges go into the log, with 通信记录 open. The window takes new rows and
// repaints once per refresh (FrameLogModel::kRefresh, 500 ms); here a refresh
// and the repaint it causes run after every 9 exchanges, the number a write
// makes in 500 ms (a little fewer: the estimate errs high). The time per
// exchange is set against an exchange of the measured full-board write
// (README: 218.6 s for 4 080, 53.6 ms each): the log's work lands on that
// path, since the next request waits for the reply's handling.
//
//   framelog_bench        (QT_QPA_PLATFORM=offscreen for no display)
#include "app/framelogwindow.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>

namespace {

int kExchanges = 4080;
constexpr double kExchangeMs = 218.6 * 1000 / 4080; // the measured write
constexpr int kExchangesPerRefresh = int(FrameLogModel::kRefresh.count() / kExchangeMs);

struct NoDialog final : LogFileDialog {
    QString saveFileName(QWidget *) override { return {}; }
};

Frame Ack()
{
    Frame f{};
    f[0] = wire::kReplyHeader;
    f[1] = 1;
    f[2] = wire::kWriteEntry;
    SealFrame(f);
    return f;
}

// Runs the write's frames through `log` (none: the frames are only built);
// `window`: 通信记录 is shown and repaints after each exchange. Seconds.
double Run(FrameLog *log, bool window, int prefill)
{
    NoDialog dialog;
    std::unique_ptr<FrameLogWindow> w;
    if (log) {
        for (int i = 0; i < prefill; ++i)
            log->received(Ack());
        if (window) {
            w = std::make_unique<FrameLogWindow>(*log, dialog);
            w->show();
            QApplication::processEvents();
        }
    }
    const Frame ack = Ack();
    QElapsedTimer t;
    t.start();
    for (int e = 0; e < kExchanges; ++e) {
        const int channel = e / 255 + 1, number = e % 255 + 1;
        const Frame request = WriteEntryFrame(1, 2, uint8_t(channel), uint8_t(number), u"10110101000000000000180530");
        if (log) {
            log->sent(request);
            log->received(ack);
        }
        if (window && (e + 1) % kExchangesPerRefresh == 0) {
            w->model().refresh();
            QApplication::processEvents();
        }
    }
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc > 1)
        kExchanges = std::max(1, atoi(argv[1])); // fewer, for a quick look
    const double base = Run(nullptr, false, 0);
    std::printf("Frame log during a full-board write (%d exchanges, %.1f ms each on the line)\n\n", kExchanges,
                kExchangeMs);
    std::printf("| Case | Time | Per exchange | Share of the write |\n| --- | --- | --- | --- |\n");
    struct Case {
        const char *name;
        bool log, window;
        int prefill;
    } cases[] = {
        {"log only (kelmora-cli without --trace, window closed)", true, false, 0},
        {"log with 通信记录 open", true, true, 0},
        {"log full (100 000 rows: the oldest go as new ones come), window open", true, true, FrameLog::kCapacity},
    };
    for (const Case &c : cases) {
        FrameLog log;
        const double s = Run(&log, c.window, c.prefill) - (c.window ? 0 : base);
        const double perMs = s * 1000 / kExchanges;
        std::printf("| %s | %.3f s | %.3f ms | %.2f %% |\n", c.name, s, perMs, 100 * perMs / kExchangeMs);
    }
    std::printf("\nA record is %zu bytes: the full ring holds %.1f MB, and the window's row list %.1f MB more.\n",
                sizeof(FrameRecord), double(sizeof(FrameRecord)) * FrameLog::kCapacity / 1e6,
                8.0 * FrameLog::kCapacity / 1e6);
    return 0;
}
