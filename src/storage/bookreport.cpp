#include "storage/bookreport.h"

#include "schedule/channelview.h"
#include "schedule/picture.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

namespace {

// Tenths of a millimetre on the printable area of A4 portrait with 15 mm margins.
constexpr int kWidth = 1800;
constexpr int kHeight = 2670;
constexpr int kTop = 120;            // below the page header
constexpr int kBottom = kHeight - 90; // above the page number
constexpr int kTitle = 80;
constexpr int kHead = 55;
constexpr int kRow = 50;
constexpr int kDay = 55;
constexpr int kWeek = 7 * kDay + 70; // seven bars and the hour scale
constexpr int kGap = 60;             // between channels
constexpr int kLabel = 320; // the bars' day labels

int height(ReportLine::Kind kind)
{
    switch (kind) {
    case ReportLine::Title:
        return kTitle;
    case ReportLine::TableHead:
        return kHead;
    case ReportLine::Entry:
        return kRow;
    case ReportLine::Week:
        return kWeek;
    }
    return 0;
}

QString two(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

} // namespace

QList<ReportPage> LayOutReport(const ScheduleBook &book, const QList<int> &channels)
{
    QList<ReportPage> pages(1);
    int y = kTop;
    const auto place = [&](ReportLine line, int keepWith) {
        // A title goes with what follows it; an entry row carries its table head to a new page.
        if (y + height(line.kind) + keepWith > kBottom && y > kTop) {
            pages.append(ReportPage());
            y = kTop;
            if (line.kind == ReportLine::Entry) {
                pages.last().append(ReportLine{ReportLine::TableHead, y, line.channel});
                y += kHead;
            }
        }
        line.y = y;
        pages.last().append(line);
        y += height(line.kind);
    };
    for (int channel : channels) {
        if (y > kTop)
            y += kGap;
        const int count = book.countOf(channel);
        place({ReportLine::Title, 0, channel}, count > 0 ? kHead + kRow : kWeek);
        if (count > 0)
            place({ReportLine::TableHead, 0, channel}, kRow);
        for (int row = 0; row < count; ++row)
            place({ReportLine::Entry, 0, channel, row}, 0);
        place({ReportLine::Week, 0, channel}, 0);
    }
    return pages;
}

namespace {

void paintWeek(QPainter &p, const ScheduleBook &book, int channel, const QDate &week, int top)
{
    const QRect plot(kLabel, top, kWidth - kLabel - 20, 7 * kDay);
    static const char *const kDays[] = {"一", "二", "三", "四", "五", "六", "日"};
    const QList<DayRow> rows = WeekRows(book, channel, week);
    const qint64 daySecs = 24 * 3600;
    for (int d = 0; d < rows.size(); ++d) {
        const QRect bar(plot.left(), plot.top() + d * kDay + 8, plot.width(), kDay - 16);
        p.setPen(Qt::black);
        p.drawText(QRect(0, bar.top() - 8, kLabel - 20, kDay), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("星期%1 %2").arg(QString::fromUtf8(kDays[d]), rows[d].day.toString(QStringLiteral("MM-dd"))));
        const WallSecs dayStart = rows[d].line.spans.isEmpty() ? 0 : rows[d].line.spans.first().from;
        for (const StateSpan &s : rows[d].line.spans) {
            const int x0 = bar.left() + int((s.from - dayStart) * bar.width() / daySecs);
            const int x1 = bar.left() + int((s.to - dayStart) * bar.width() / daySecs);
            const QRect r(x0, bar.top(), std::max(x1 - x0, 1), bar.height());
            // On: solid black; off: white; not known: hatched. All three read in black and white.
            if (s.state == RelayState::On)
                p.fillRect(r, Qt::black);
            else if (s.state == RelayState::Unknown)
                p.fillRect(r, QBrush(Qt::black, Qt::BDiagPattern));
        }
        p.setBrush(Qt::NoBrush);
        p.drawRect(bar);
    }
    p.setPen(QPen(Qt::black, 2));
    for (int h = 0; h <= 24; h += 6) {
        const int x = plot.left() + h * plot.width() / 24;
        p.drawLine(x, plot.bottom() + 4, x, plot.bottom() + 16);
        p.drawText(QRect(x - 60, plot.bottom() + 16, 120, 50), Qt::AlignHCenter | Qt::AlignTop,
                   QStringLiteral("%1:00").arg(two(h)));
    }
}

} // namespace

int PaintReport(QPagedPaintDevice &device, const ScheduleBook &book, const BookReport &report)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                                     QPageLayout::Millimeter));
    const QList<ReportPage> pages = LayOutReport(book, report.channels);
    QPainter p(&device);
    if (!p.isActive())
        return 0;
    p.setWindow(0, 0, kWidth, kHeight);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(32);
    p.setFont(font);
    const QString printed = QStringLiteral("打印日期：") + report.printedAt.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    for (qsizetype n = 0; n < pages.size(); ++n) {
        if (n > 0)
            device.newPage();
        p.setPen(Qt::black);
        p.drawText(QRect(0, 0, kWidth, 70), Qt::AlignLeft | Qt::AlignVCenter, report.fileName);
        p.drawText(QRect(0, 0, kWidth, 70), Qt::AlignRight | Qt::AlignVCenter, printed);
        p.drawLine(0, 80, kWidth, 80);
        p.drawText(QRect(0, kHeight - 60, kWidth, 60), Qt::AlignCenter,
                   QStringLiteral("第%1页/共%2页").arg(n + 1).arg(pages.size()));
        for (const ReportLine &line : pages[n]) {
            switch (line.kind) {
            case ReportLine::Title: {
                QFont bold = font;
                bold.setBold(true);
                bold.setPixelSize(42);
                p.setFont(bold);
                const QString name = report.names.value(line.channel - 1);
                p.drawText(QRect(0, line.y, kWidth, kTitle), Qt::AlignLeft | Qt::AlignVCenter,
                           QStringLiteral("第%1路  %2").arg(line.channel).arg(name).trimmed());
                p.setFont(font);
                break;
            }
            case ReportLine::TableHead:
                p.fillRect(QRect(0, line.y + 4, kWidth, kHead - 8), QColor(230, 230, 230));
                p.drawText(QRect(10, line.y, 150, kHead), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("序号"));
                p.drawText(QRect(170, line.y, kWidth - 170, kHead), Qt::AlignLeft | Qt::AlignVCenter,
                           QStringLiteral("内容"));
                break;
            case ReportLine::Entry: {
                const EntryRef e = book.channel(line.channel).value(line.entry);
                if (!e)
                    break;
                // Numbered as the list numbers its rows.
                p.drawText(QRect(10, line.y, 150, kRow), Qt::AlignLeft | Qt::AlignVCenter,
                           QStringLiteral("%1").arg(line.entry + 1, 3, 10, QLatin1Char('0')));
                p.drawText(QRect(170, line.y, kWidth - 170, kRow), Qt::AlignLeft | Qt::AlignVCenter, DataToText(*e));
                p.drawLine(0, line.y + kRow, kWidth, line.y + kRow);
                break;
            }
            case ReportLine::Week:
                paintWeek(p, book, line.channel, report.week, line.y + 10);
                break;
            }
        }
    }
    return int(pages.size());
}

QString WriteReportPdf(const QString &path, const ScheduleBook &book, const BookReport &report)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    {
        QPdfWriter pdf(&file);
        pdf.setResolution(300);
        pdf.setTitle(report.fileName);
        pdf.setCreator(QStringLiteral("kelmora"));
        if (PaintReport(pdf, book, report) == 0)
            return QStringLiteral("无法生成PDF");
    }
    if (!file.commit())
        return file.errorString();
    return {};
}
