#include "app/application.h"

#include "app/framelogwindow.h"
#include "app/frmmain.h"
#include "app/networkdialog.h"
#include "app/prompts.h"
#include "bridge/mosquittoclient.h"
#include "device/qtseriallink.h"
#include "storage/notestore.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

QTranslator *LoadQtChinese(QCoreApplication &app)
{
    // Parented to the application, so it lives as long as the texts it gives.
    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return translator;
    delete translator;
    return nullptr;
}

int RunKelmora(int argc, char **argv, Variant variant)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelmora"));
    QApplication::setOrganizationName(QStringLiteral("kelmora"));
    // Qt's own dialogs and buttons speak the window's language, whatever the system's locale.
    LoadQtChinese(app);

    // kelmora --broker URL --board ID [--base-topic T] [--password-file F] [--tls-ca F]: the window
    // starts on that network board, as if 打开 had been clicked on its port.
    QCommandLineParser args;
    const QCommandLineOption broker(QStringLiteral("broker"), QStringLiteral("mqtt[s]://[user@]host[:port]"),
                                    QStringLiteral("URL"));
    const QCommandLineOption board(QStringLiteral("board"), QStringLiteral("the board's ID"), QStringLiteral("ID"));
    const QCommandLineOption base(QStringLiteral("base-topic"), QStringLiteral("the bridge's base_topic"),
                                  QStringLiteral("T"), QStringLiteral("kelmora"));
    const QCommandLineOption password(QStringLiteral("password-file"), QStringLiteral("the broker password"),
                                      QStringLiteral("FILE"));
    const QCommandLineOption ca(QStringLiteral("tls-ca"), QStringLiteral("the broker's CA"), QStringLiteral("FILE"));
    args.addOptions({broker, board, base, password, ca});
    args.addHelpOption();
    args.process(app);
    std::optional<NetworkChoice> network;
    if (args.isSet(broker)) {
        QString why;
        const auto settings = ClientSettings(args.value(broker), args.value(password), args.value(ca),
                                             NetworkClientId(QStringLiteral("kelmora")), &why);
        if (!settings || args.value(board).isEmpty()) {
            std::fprintf(stderr, "kelmora: %s\n",
                         qPrintable(settings ? QStringLiteral("--broker needs --board ID") : why));
            return 2;
        }
        network = NetworkChoice{*settings, args.value(base), args.value(board)};
    }

    const QString folder = ScheduleFolder(QCoreApplication::applicationDirPath());
    QtSerialLink link(folder);
    // Every frame from the first 打开 on, whether 通信记录 is open or not.
    FrameLog log;
    LoggedLink logged(link, log);
    QtPrompts prompts;
    const auto makeMqtt = [](const MqttSettings &s) -> std::unique_ptr<MqttClient> {
        return std::make_unique<MosquittoClient>(
            s, [](const QString &line) { std::fprintf(stderr, "kelmora: %s\n", qPrintable(line)); });
    };
    Frmmain window({folder, variant, &logged, &prompts, {}, makeMqtt});
    QtLogFileDialog logDialog;
    AddFrameLogTool(window, log, logDialog);
    AddNetworkTool(window);
    window.show();
    if (network)
        window.openNetworkBoard(*network);
    return app.exec();
}
