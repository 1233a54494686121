#include "app/application.h"

#include "app/framelogwindow.h"
#include "app/frmmain.h"
#include "app/prompts.h"
#include "device/qtseriallink.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

QString ScheduleFolder(const QString &programFolder)
{
    // An installed copy never keeps files beside itself, not even when run by root.
    const bool installed = programFolder.startsWith(QStringLiteral("/usr/"));
    // A probe file says more than permission bits (read-only mounts, ACLs).
    QTemporaryFile probe(programFolder + QStringLiteral("/.kelmora-probe-XXXXXX"));
    if (!installed && probe.open())
        return programFolder;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return data;
}

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
