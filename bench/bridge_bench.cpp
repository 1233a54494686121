// kelmora-bridge's figures against kelmora-board keeping line time:
//   0. a set request handed to the bridge -> the board's answer to the relay
//      command, in process, one board, requests 0.4-0.6 s apart;
//   1. MQTT set -> the board's answer on B/result, over N commands (median, p99),
//      one board, poll-paced, through a real mosquitto and the bridge program;
//   2. 8 boards on one line, in process: the longest gap between two status
//      replies of one board while board 1 is written a full channel;
//   3. the bridge program with 8 boards, idle: RSS and CPU share.
//
//   bridge_bench [--commands N] [--idle-seconds S]
// A wait that runs out ends the run with a message and exit 1: its figure would be
// the time-out, not a measurement.
#include "bridge/bridge.h"
#include "device/qtseriallink.h"

#include "boardprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

struct TimedOut : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown rather than exited, so that the board, broker and bridge processes are stopped.
void Need(bool held, const char *what)
{
    if (!held)
        throw TimedOut(what);
}

QString Ini(int port, const QString &line, int boards)
{
    QString ini = QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nbase_topic=k\n").arg(port);
    for (int a = 1; a <= boards; ++a)
        ini += QStringLiteral("[board.b%1]\nport=%2\naddress=%1\n").arg(a).arg(line);
    return ini;
}

struct Received {
    QByteArray last;
    int count = 0;
};

void Latency(int commands)
{
    QTemporaryDir dir;
    const int port = FreePort();
    WriteText(dir.filePath("m.conf"), QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port));
    QProcess broker;
    broker.start("/usr/sbin/mosquitto", {"-c", dir.filePath("m.conf")});
    Need(broker.waitForStarted(10000), "mosquitto to start");
    BoardProcess board(dir.path(), 95);
    Need(board.started, "kelmora-board to start");
    WriteText(dir.filePath("b.ini"), Ini(port, dir.filePath("Com95"), 1));
    WaitFor([] { return false; }, 300);
    QProcess bridge;
    bridge.start(KELMORA_BRIDGE, {"--config", dir.filePath("b.ini")});
    Need(bridge.waitForStarted(10000), "kelmora-bridge to start");

    mosquitto_lib_init();
    Received got;
    mosquitto *m = mosquitto_new(nullptr, true, &got);
    mosquitto_message_callback_set(m, [](mosquitto *, void *obj, const mosquitto_message *msg) {
        auto *r = static_cast<Received *>(obj);
        r->last = QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen);
        ++r->count;
    });
    mosquitto_connect(m, "127.0.0.1", port, 30);
    mosquitto_subscribe(m, nullptr, "k/b1/availability", 1);
    QElapsedTimer wait;
    wait.start();
    while (got.last != "online" && wait.elapsed() < 20000)
        mosquitto_loop(m, 50, 1);
    Need(got.last == "online", "the bridge to report board 1 online");
    mosquitto_unsubscribe(m, nullptr, "k/b1/availability");
    mosquitto_subscribe(m, nullptr, "k/b1/result", 1);
    // Relay 2 stays on: a standard-variant command for every relay off has the bytes of a status request.
    const int subscribed = got.count;
    mosquitto_publish(m, nullptr, "k/b1/relay/2/set", 2, "ON", 1, false);
    while (got.count == subscribed && wait.elapsed() < 30000)
        mosquitto_loop(m, 50, 1);
    Need(got.count > subscribed && got.last.contains("\"ok\":true"), "relay 2 switched on, on B/result");
    std::vector<double> ms;
    for (int i = 0; i < commands; ++i) {
        const int before = got.count;
        const char *payload = i % 2 ? "OFF" : "ON";
        QElapsedTimer t;
        t.start();
        mosquitto_publish(m, nullptr, "k/b1/relay/1/set", int(strlen(payload)), payload, 1, false);
        while (got.count == before && t.elapsed() < 10000)
            mosquitto_loop(m, 5, 1);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        Need(got.count > before && got.last.contains("\"ok\":true"), "a relay command's success on B/result");
        if (qEnvironmentVariableIsSet("BENCH_TRACE"))
            std::printf("%d %.0f %s\n", i, ms.back(), got.last.constData());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("| MQTT set -> result, one board (%d commands) | median %.0f ms | p99 %.0f ms | max %.0f ms |\n",
                commands, ms[ms.size() / 2], ms[std::min(ms.size() - 1, size_t(ms.size() * 0.99))], ms.back());
    mosquitto_destroy(m);
    mosquitto_lib_cleanup();
    bridge.terminate();
    bridge.waitForFinished();
    broker.kill();
    broker.waitForFinished();
}

struct NullMqtt final : MqttClient {
    void setHandlers(MqttHandlers h) override { handlers = std::move(h); }
    void setWill(const QString &, const QByteArray &) override {}
    void start() override {}
    bool isConnected() const override { return false; }
    void publish(const QString &, const QByteArray &, bool) override {}
    void subscribe(const QString &) override {}
    void unsubscribe(const QString &) override {}
    MqttHandlers handlers;
};

void PollGaps()
{
    QTemporaryDir dir;
    QStringList options;
    for (int a = 1; a <= 8; ++a)
        options << "--address" << QString::number(a);
    BoardProcess board(dir.path(), 94, options);
    Need(board.started, "kelmora-board to start");
    const QString line = dir.filePath("Com94");
    NullMqtt mqtt;
    Bridge bridge(*ParseBridgeConfig("b.ini", Ini(1, line, 8).toUtf8(), {}).config, mqtt,
                  [&](const QString &) { return std::make_unique<QtSerialLink>(dir.path()); },
                  [](SerialLink &l, const QString &port) { return static_cast<QtSerialLink &>(l).openDevice(port); },
                  {});
    QElapsedTimer clock;
    clock.start();
    std::array<qint64, 9> last{};
    std::array<qint64, 9> worst{};
    bool writing = false;
    for (int a = 1; a <= 8; ++a)
        bridge.session(QStringLiteral("b%1").arg(a)).setFrameObserver([&, a](const Frame &f) {
            if (f[2] != wire::kStatus)
                return;
            if (writing && last[size_t(a)])
                worst[size_t(a)] = std::max(worst[size_t(a)], clock.elapsed() - last[size_t(a)]);
            last[size_t(a)] = clock.elapsed();
        });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { bridge.tick(); });
    bridge.start();
    tick.start(int(kTickInterval.count()));
    Need(WaitFor([&] { return bridge.session("b8").relayStates().has_value(); }, 20000), "board 8's relay states");
    QByteArray entries;
    for (int i = 0; i < 255; ++i)
        entries += QByteArray(i ? "," : "") + R"({"mode":"daily","time":"01:00:00","action":"on"})";
    writing = true;
    const qint64 started = clock.elapsed();
    mqtt.handlers.message("k/b1/schedule/1/set", R"({"entries":[)" + entries + "]}", false);
    Need(WaitFor([&] { return bridge.session("b1").result().has_value(); }, 120000), "board 1's write to end");
    Need(bridge.session("b1").result()->success, "board 1's write to succeed");
    const qint64 took = clock.elapsed() - started;
    writing = false;
    const qint64 gap = *std::max_element(worst.begin() + 2, worst.end());
    std::printf("| 8 boards on one line, board 1 written (255 entries, %.1f s) | longest poll gap of boards 2-8: %lld ms |\n",
                double(took) / 1000, static_cast<long long>(gap));
}

// One board alone on its line: a 255-entry channel written whole, then again with one entry
// changed, which sends that entry only: each from the request to the write's result.
void OneEntryChanged()
{
    QTemporaryDir dir;
    BoardProcess board(dir.path(), 93, {});
    Need(board.started, "kelmora-board to start");
    NullMqtt mqtt;
    Bridge bridge(*ParseBridgeConfig("b.ini", Ini(1, dir.filePath("Com93"), 1).toUtf8(), {}).config, mqtt,
                  [&](const QString &) { return std::make_unique<QtSerialLink>(dir.path()); },
                  [](SerialLink &l, const QString &port) { return static_cast<QtSerialLink &>(l).openDevice(port); },
                  {});
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { bridge.tick(); });
    bridge.start();
    tick.start(int(kTickInterval.count()));
    HeadlessSession &s = bridge.session("b1");
    Need(WaitFor([&] { return s.relayStates().has_value(); }, 20000), "the board's relay states");
    const auto write = [&](int changed) {
        QByteArray entries;
        for (int i = 0; i < 255; ++i)
            entries += QByteArray(i ? "," : "") + R"({"mode":"daily","time":")" +
                       (i == changed ? "02:00:00" : "01:00:00") + R"(","action":"on"})";
        s.resetResult();
        QElapsedTimer clock;
        clock.start();
        mqtt.handlers.message("k/b1/schedule/1/set", R"({"entries":[)" + entries + "]}", false);
        Need(WaitFor([&] { return s.result().has_value(); }, 120000), "the write to end");
        Need(s.result()->success, "the write to succeed");
        return clock.elapsed();
    };
    const qint64 whole = write(-1), one = write(100);
    std::printf("| 255-entry channel: written whole | %lld ms |\n| the same with entry 101 changed (one frame) | %lld ms |\n",
                static_cast<long long>(whole), static_cast<long long>(one));
}

// In process, through the real link: a set request handed to the bridge -> the board's
// answer to the relay command, the first reply that shows relay 1 switched, taken by
// the session's frame observer.
void WireLatency(int commands)
{
    QTemporaryDir dir;
    BoardProcess board(dir.path(), 92);
    Need(board.started, "kelmora-board to start");
    NullMqtt mqtt;
    BridgeConfig config = *ParseBridgeConfig("b.ini", Ini(1, dir.filePath("Com92"), 1).toUtf8(), {}).config;
    Bridge bridge(
        config, mqtt, [&](const QString &) { return std::make_unique<QtSerialLink>(dir.path()); },
        [](SerialLink &l, const QString &port) { return static_cast<QtSerialLink &>(l).openDevice(port); }, {});
    QElapsedTimer clock;
    qint64 answered = -1;
    bool on = false;
    bridge.session("b1").setFrameObserver([&](const Frame &f) {
        if (answered < 0 && f[0] == wire::kReplyHeader && f[2] == wire::kStatus && bool(f[4] & 1) == on)
            answered = clock.nsecsElapsed();
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { bridge.tick(); });
    bridge.start();
    tick.start(int(kTickInterval.count()));
    Need(WaitFor([&] { return bridge.session("b1").relayStates().has_value(); }, 20000), "board 1's relay states");
    mqtt.handlers.message("k/b1/relay/2/set", "ON", false); // relay 2 stays on: never every relay off
    Need(WaitFor([&] { return bridge.waiting("b1") == 0 && bridge.session("b1").relayStates().value_or(0) & 2; }, 5000),
         "relay 2 switched on");
    std::vector<double> ms;
    for (int i = 0; i < commands; ++i) {
        on = i % 2 == 0;
        answered = -1;
        clock.start();
        mqtt.handlers.message("k/b1/relay/1/set", on ? "ON" : "OFF", false);
        Need(WaitFor([&] { return answered >= 0; }, 5000), "the board's answer showing relay 1 switched");
        ms.push_back(double(answered) / 1e6);
        Need(WaitFor([&] { return bool(bridge.session("b1").relayStates().value_or(0) & 1) == on; }, 5000),
             "relay 1's lamp to follow");
        // The next request comes 0.4-0.6 s later, at a random point of the tick: after a
        // command the engine wants two agreeing status replies (two ticks) before the next.
        WaitFor([] { return false; }, 400 + QRandomGenerator::global()->bounded(200));
    }
    std::sort(ms.begin(), ms.end());
    std::printf("| set -> the board's answer to the relay command, one board (%d commands) | median %.0f ms | p99 %.0f "
                "ms | max %.0f ms |\n",
                commands, ms[ms.size() / 2], ms[std::min(ms.size() - 1, size_t(ms.size() * 0.99))], ms.back());
}

void Idle(int seconds)
{
    QTemporaryDir dir;
    const int port = FreePort();
    WriteText(dir.filePath("m.conf"), QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n").arg(port));
    QProcess broker;
    broker.start("/usr/sbin/mosquitto", {"-c", dir.filePath("m.conf")});
    QStringList options;
    for (int a = 1; a <= 8; ++a)
        options << "--address" << QString::number(a);
    BoardProcess board(dir.path(), 93, options);
    WriteText(dir.filePath("b.ini"), Ini(port, dir.filePath("Com93"), 8));
    QProcess bridge;
    bridge.start(KELMORA_BRIDGE, {"--config", dir.filePath("b.ini")});
    Need(bridge.waitForStarted(10000), "kelmora-bridge to start");
    WaitFor([] { return false; }, 5000);
    const auto cpuTicks = [&] {
        QFile f(QStringLiteral("/proc/%1/stat").arg(bridge.processId()));
        f.open(QIODevice::ReadOnly);
        const QList<QByteArray> fields = f.readAll().split(')').last().split(' ');
        return fields[12].toLongLong() + fields[13].toLongLong(); // utime, stime
    };
    const qint64 before = cpuTicks();
    WaitFor([] { return false; }, seconds * 1000);
    const double share = double(cpuTicks() - before) / double(sysconf(_SC_CLK_TCK)) / seconds * 100;
    Need(bridge.state() == QProcess::Running, "kelmora-bridge to keep running while idle");
    QFile status(QStringLiteral("/proc/%1/status").arg(bridge.processId()));
    status.open(QIODevice::ReadOnly);
    QByteArray rss;
    for (const QByteArray &l : status.readAll().split('\n'))
        if (l.startsWith("VmRSS"))
            rss = l;
    std::printf("| bridge idle, 8 boards, %d s | %s | CPU %.2f %% of one core |\n", seconds, rss.simplified().constData(),
                share);
    bridge.terminate();
    bridge.waitForFinished();
    broker.kill();
    broker.waitForFinished();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const QStringList args = app.arguments();
    const auto value = [&](const char *name, int fallback) {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i > 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
    };
    try {
        WireLatency(value("--commands", 200));
        Latency(value("--commands", 200));
        PollGaps();
        OneEntryChanged();
        Idle(value("--idle-seconds", 30));
    } catch (const TimedOut &e) {
        std::fprintf(stderr, "bridge_bench: timed out waiting for %s\n", e.what());
        return 1;
    }
    return 0;
}
