// kelmora-pdf: kelmora-cli linked with Qt's GUI side, for the commands that write a PDF
// (kelmora-cli hands them over). It paints on the offscreen platform: no display needed.
#include "cli/cliapp.h"
#include "storage/bookreport.h"

#include <QDateTime>
#include <QGuiApplication>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return RunKelmoraCli(argc, argv, [](const QString &out, const ScheduleBook &book, const QString &title) {
        // Every channel, as 打印… prints 全部.
        BookReport report{title, QDateTime::currentDateTime(), {}, {}, QDate::currentDate()};
        for (int c = 1; c <= kChannelCount; ++c)
            report.channels << c;
        return WriteReportPdf(out, book, report);
    });
}
