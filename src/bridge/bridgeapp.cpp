#include "bridge/bridgeapp.h"

#include "bridge/bridge.h"
#include "bridge/mosquittoclient.h"
#include "device/qtseriallink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <utility>

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_reload = 0;
// --start-condition for ExecCondition=, which skips the unit on 1-254. A broken configuration is
// left to the start itself: its exit 2 fails the unit without the restarts a failed condition gets.
constexpr int kNoBoard = 1;

void Log(const QString &line)
{
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

int RunKelmoraBridge(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelmora-bridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELMORA_VERSION));

    const bool installed = QCoreApplication::applicationDirPath().startsWith(QStringLiteral("/usr/"));
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral("Serves kelmora relay boards on MQTT."));
    args.addHelpOption();
    args.addVersionOption();
    const QString defaultConfig = installed ? QString::fromLatin1(kServiceConfig) : QStringLiteral("bridge.ini");
    const QCommandLineOption config(
        QStringLiteral("config"),
        QStringLiteral("The configuration file (default %1%2).")
            .arg(defaultConfig, installed ? QString() : QStringLiteral("; installed: %1").arg(kServiceConfig)),
        QStringLiteral("FILE"), defaultConfig);
    const QCommandLineOption check(QStringLiteral("check-config"), QStringLiteral("Check the configuration and exit."));
    const QCommandLineOption startCondition(
        QStringLiteral("start-condition"),
        QStringLiteral("Exit %1 when the configuration has no board yet, else 0 (the service's ExecCondition=).")
            .arg(kNoBoard));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Log every frame."));
    args.addOptions({config, check, startCondition, verbose});
    if (!args.parse(QCoreApplication::arguments())) {
        Log(QStringLiteral("kelmora-bridge: ") + args.errorText());
        return 2;
    }
    if (args.isSet(QStringLiteral("help"))) {
        std::fputs(args.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (args.isSet(QStringLiteral("version"))) {
        std::printf("kelmora-bridge %s\n", KELMORA_VERSION);
        return 0;
    }
    const QString file = args.value(config);
    const ConfigResult parsed = LoadBridgeConfig(file);
    if (args.isSet(startCondition)) {
        if (parsed.noBoard)
            Log(QStringLiteral("kelmora-bridge: %1 has no board yet: the service is not started").arg(file));
        return parsed.noBoard ? kNoBoard : 0;
    }
    if (!parsed.config) {
        Log(QStringLiteral("kelmora-bridge: ") + parsed.error);
        return 2;
    }
    for (const QString &warning : parsed.warnings + ServiceCredentialWarnings(file, parsed.config->mqtt))
        Log(QStringLiteral("kelmora-bridge: warning: ") + warning);
    const qsizetype boards = parsed.config->boards.size();
    const QString boardCount = QStringLiteral("%1 board%2").arg(boards).arg(boards == 1 ? "" : "s");
    if (args.isSet(check)) {
        std::printf("%s: %s, broker %s:%d\n", qPrintable(file), qPrintable(boardCount),
                    qPrintable(parsed.config->mqtt.host), parsed.config->mqtt.port);
        return 0;
    }

    const QString folder = QFileInfo(file).absolutePath();
    MosquittoClient mqtt(parsed.config->mqtt, Log);
    if (!mqtt.setupError().isEmpty()) {
        Log(QStringLiteral("kelmora-bridge: ") + mqtt.setupError());
        return 2;
    }
    Bridge bridge(
        *parsed.config, mqtt, [&](const QString &) { return std::make_unique<QtSerialLink>(folder); },
        [&](SerialLink &link, const QString &port) {
            return static_cast<QtSerialLink &>(link).openDevice(BoardPortDevice(port, folder));
        },
        Log);
    bridge.setVerbose(args.isSet(verbose));
    bridge.setInstance(QSysInfo::machineHostName() + u':' + QFileInfo(file).absoluteFilePath());
    for (const BoardSettings &b : parsed.config->boards)
        if (!b.channelNames.isEmpty())
            bridge.setChannelNames(b.id, b.channelNames);

    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    std::signal(SIGHUP, [](int) { g_reload = 1; });
    QTimer tick;
    tick.setInterval(int(kTickInterval.count()));
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        if (g_stop) {
            bridge.stop();
            mqtt.disconnectNow();
            app.quit();
            return;
        }
        if (std::exchange(g_reload, 0))
            bridge.reload(LoadBridgeConfig(file));
        bridge.tick();
    });
    Log(QStringLiteral("kelmora-bridge %1: %2 from %3").arg(QStringLiteral(KELMORA_VERSION), boardCount, file));
    bridge.start();
    tick.start();
    return app.exec();
}
