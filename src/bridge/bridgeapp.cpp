#include "bridge/bridgeapp.h"

#include "bridge/bridge.h"
#include "bridge/mosquittoclient.h"
#include "device/qtseriallink.h"
#include "storage/notestore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_stop = 0;

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
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("The configuration file."),
                                    QStringLiteral("FILE"),
                                    installed ? QStringLiteral("/etc/kelmora/bridge.ini") : QStringLiteral("bridge.ini"));
    const QCommandLineOption check(QStringLiteral("check-config"), QStringLiteral("Check the configuration and exit."));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Log every frame."));
    args.addOptions({config, check, verbose});
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
    if (!parsed.config) {
        Log(QStringLiteral("kelmora-bridge: ") + parsed.error);
        return 2;
    }
    if (args.isSet(check)) {
        std::printf("%s: %d boards, broker %s:%d\n", qPrintable(file), int(parsed.config->boards.size()),
                    qPrintable(parsed.config->mqtt.host), parsed.config->mqtt.port);
        return 0;
    }

    // ComN names a link beside the configuration file, else the device as the window names it.
    const QDir folder = QFileInfo(file).absoluteDir();
    static const QRegularExpression comN(QStringLiteral("^com(\\d{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    MosquittoClient mqtt(parsed.config->mqtt, Log);
    Bridge bridge(
        *parsed.config, mqtt,
        [&](const QString &) { return std::make_unique<QtSerialLink>(folder.absolutePath()); },
        [](SerialLink &link, const QString &port) {
            auto &serial = static_cast<QtSerialLink &>(link);
            const auto m = comN.match(port);
            return m.hasMatch() ? serial.open(m.captured(1).toInt()) : serial.openDevice(port);
        },
        Log);
    bridge.setVerbose(args.isSet(verbose));
    bridge.setInstance(QSysInfo::machineHostName() + u':' + QFileInfo(file).absoluteFilePath());
    for (const BoardSettings &b : parsed.config->boards)
        if (!b.namesFile.isEmpty())
            bridge.setChannelNames(b.id, ReadNamesFrom(folder.absoluteFilePath(b.namesFile)));

    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    QTimer tick;
    tick.setInterval(int(kTickInterval.count()));
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        if (g_stop) {
            bridge.stop();
            mqtt.disconnectNow();
            app.quit();
            return;
        }
        bridge.tick();
    });
    const qsizetype boards = parsed.config->boards.size();
    Log(QStringLiteral("kelmora-bridge %1: %2 board%3 from %4")
            .arg(QStringLiteral(KELMORA_VERSION))
            .arg(boards)
            .arg(boards == 1 ? QString() : QStringLiteral("s"))
            .arg(file));
    bridge.start();
    tick.start();
    return app.exec();
}
