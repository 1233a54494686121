#include "app/application.h"

#include "app/framelogwindow.h"
#include "app/frmmain.h"
#include "app/prompts.h"
#include "device/qtseriallink.h"
#include "storage/notestore.h"

#include <QApplication>

int RunKelmora(int argc, char **argv, Variant variant)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kelmora"));
    QApplication::setOrganizationName(QStringLiteral("kelmora"));

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
