// The book on paper: a PDF of all sixteen full channels (16 x 255 entries).
#include "storage/bookreport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ScheduleBook book;
    for (int c = 1; c <= kChannelCount; ++c)
        for (int n = 1; n <= kMaxEntriesPerChannel; ++n) {
            auto e = std::make_shared<Clsdata>();
            e->nRoute = int16_t(c), e->nNo = int16_t(n), e->bIsOpen = n % 2 == 0, e->bIsWeek = true;
            e->strWeek = QStringLiteral("1010100");
            e->nStartHour = int16_t(n % 24), e->nStartMin = int16_t(n % 60);
            book.add(e);
        }
    BookReport report{QStringLiteral("Note.ini"), QDateTime::currentDateTime(), {}, {}, QDate::currentDate()};
    for (int c = 1; c <= kChannelCount; ++c)
        report.channels << c;
    QTemporaryDir dir;
    std::vector<double> ms;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        const QString error = WriteReportPdf(dir.filePath(QStringLiteral("book.pdf")), book, report);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "report_bench: %s\n", qPrintable(error));
            return 1;
        }
    }
    if (argc > 1) // a copy to look at
        QFile::copy(dir.filePath(QStringLiteral("book.pdf")), QString::fromLocal8Bit(argv[1]));
    std::sort(ms.begin(), ms.end());
    std::printf("PDF of 16 full channels (%zu pages, %lld KB): median %.0f ms, min %.0f, max %.0f (goal <= 2000 ms)\n",
                size_t(LayOutReport(book, report.channels).size()),
                QFileInfo(dir.filePath(QStringLiteral("book.pdf"))).size() / 1024, ms[2], ms[0], ms[4]);
    return 0;
}
