#include "app/application.h"

#include "app/framelogwindow.h"
#include "app/frmmain.h"
#include "app/prompts.h"
#include "device/qtseriallink.h"
#include "storage/notestore.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

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

    const QString folder = ScheduleFolder(QCoreApplication::applicationDirPath());
    QtSerialLink link(folder);
    // Every frame from the first 打开 on, whether 通信记录 is open or not.
    FrameLog log;
    LoggedLink logged(link, log);
    QtPrompts prompts;
    Frmmain window({folder, variant, &logged, &prompts, {}});
    QtLogFileDialog logDialog;
    AddFrameLogTool(window, log, logDialog);
    window.show();
    return app.exec();
}
