#include "app/reporttools.h"

#include "app/frmmain.h"
#include "storage/bookreport.h"

#include <QFileInfo>
#include <QMenu>
#include <QPrinter>
#include <QTabBar>

BookReport WindowReport(Frmmain &window, const QList<int> &channels)
{
    BookReport report;
    report.fileName = QFileInfo(window.store().notePath()).fileName();
    report.printedAt = window.engine().now();
    report.week = report.printedAt.date();
    report.channels = channels;
    for (int i = 0; i < window.SSTab2->count(); ++i) {
        const QString name = window.SSTab2->tabText(i);
        report.names << (name == kDefaultChannelName ? QString() : name);
    }
    return report;
}

void AddReportTools(Frmmain &window)
{
    QMenu *menu = window.toolsMenu();
    menu->addSeparator();
    QAction *print = menu->addAction(QStringLiteral("打印…"));
    print->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    QObject::connect(print, &QAction::triggered, &window, [&window] {
        const QList<int> channels = window.prompts().reportChannels(&window, window.nPage());
        if (channels.isEmpty())
            return;
        QPrinter printer(QPrinter::HighResolution);
        if (!window.prompts().choosePrinter(&window, printer))
            return;
        if (PaintReport(printer, window.book(), WindowReport(window, channels)) == 0)
            window.prompts().message(&window, QStringLiteral("打印失败！"));
    });
    QAction *pdf = menu->addAction(QStringLiteral("导出PDF…"));
    QObject::connect(pdf, &QAction::triggered, &window, [&window] {
        const QList<int> channels = window.prompts().reportChannels(&window, window.nPage());
        if (channels.isEmpty())
            return;
        const QString path = window.prompts().pdfFileName(&window);
        if (path.isEmpty())
            return;
        const QString error = WriteReportPdf(path, window.book(), WindowReport(window, channels));
        window.prompts().message(&window, error.isEmpty() ? QStringLiteral("已导出PDF：") + path
                                                          : QStringLiteral("导出PDF失败：") + error);
    });
}
