#include "app/reporttools.h"

#include "app/frmmain.h"
#include "app/edittools.h"
#include "storage/bookcsv.h"
#include "storage/bookreport.h"
#include "storage/inifile.h"

#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPrinter>
#include <QTabBar>

BookReport WindowReport(Frmmain &window, const QList<int> &channels)
{
    BookReport report;
    report.fileName = QFileInfo(window.store().notePath()).fileName();
    report.printedAt = window.driver().now();
    report.week = report.printedAt.date();
    report.channels = channels;
    for (int i = 0; i < window.SSTab2->count(); ++i) {
        const QString name = window.SSTab2->tabText(i);
        report.names << (name == kDefaultChannelName ? QString() : name);
    }
    return report;
}

QString CsvImportPreview(const ScheduleBook &book, const CsvImport &import)
{
    QStringList lines;
    for (int channel : import.channels) {
        // Entries compared as the board would hold them, whatever their place.
        QStringList now, then;
        for (const EntryRef &e : book.channel(channel))
            now << e->GetStr();
        for (const Clsdata &e : import.entries)
            if (e.nRoute == channel)
                then << e.GetStr();
        int added = 0;
        for (const QString &r : then)
            if (!now.removeOne(r))
                ++added;
        lines << QStringLiteral("第%1路：新增%2条，删除%3条").arg(channel).arg(added).arg(now.size());
    }
    return QStringLiteral("导入将替换以下各路的日程：\n") + lines.join(u'\n') + QStringLiteral("\n继续否？");
}

namespace {

void exportCsv(Frmmain &window)
{
    const QString path = window.prompts().csvFileName(&window, true);
    if (path.isEmpty())
        return;
    const WriteResult r = WriteFileAtomically(path, BookToCsv(window.book()));
    window.prompts().message(&window, r.ok ? QStringLiteral("已导出CSV：") + path
                                           : QStringLiteral("导出CSV失败：") + r.reason);
}

void importCsv(Frmmain &window)
{
    const QString path = window.prompts().csvFileName(&window, false);
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        window.prompts().message(&window, QStringLiteral("文件无法读取：") + path);
        return;
    }
    const CsvImport import = ParseBookCsv(file.read(kMaxReadBytes));
    if (!import.ok()) {
        window.prompts().message(&window, import.error);
        return;
    }
    if (!window.prompts().confirm(&window, CsvImportPreview(window.book(), import)))
        return;
    window.editTools()->nameNextChange(QStringLiteral("导入CSV ") + QFileInfo(path).fileName());
    ApplyCsv(window.book(), import);
    window.showChannel(import.channels.value(0, window.nPage()));
}

} // namespace

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
    QObject::connect(menu->addAction(QStringLiteral("导出CSV…")), &QAction::triggered, &window,
                     [&window] { exportCsv(window); });
    QObject::connect(menu->addAction(QStringLiteral("导入CSV…")), &QAction::triggered, &window, [&window] {
        // The book is not changed while a write or read has it.
        if (!window.driver().transferActive())
            importCsv(window);
    });
}
