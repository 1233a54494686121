// The book on paper: chosen channels on A4 portrait pages, each with its
// number and name, its entries as the list shows them, and its week as seven
// bars that still read in black and white; a header with the file's name and
// the date printed, and "第1页/共3页" at the foot. The same pages go to a
// printer or into a PDF file.
#pragma once

#include "schedule/schedulebook.h"

#include <QDate>
#include <QDateTime>
#include <QStringList>

class QPagedPaintDevice;

struct BookReport {
    QString fileName;    // the book's file, named in the header
    QDateTime printedAt; // the date printed, in the header
    QStringList names;   // the sixteen channel names (empty: "第N路" alone)
    QList<int> channels; // the channels to print, in this order
    QDate week;          // a day of the week the bars show
};

// One line of a page: where it stands (tenths of a millimetre down the
// printable area) and what it is.
struct ReportLine {
    enum Kind { Title, TableHead, Entry, Week };
    Kind kind = Entry;
    int y = 0;
    int channel = 0;
    int entry = -1; // Entry: the row of the channel's list
};
using ReportPage = QList<ReportLine>;

// Which line goes on which page (pure: the tests and the painter share it).
QList<ReportPage> LayOutReport(const ScheduleBook &book, const QList<int> &channels);

// Sets A4 portrait with 15 mm margins on `device` and paints every page;
// the number of pages.
int PaintReport(QPagedPaintDevice &device, const ScheduleBook &book, const BookReport &report);
// The report as a PDF at `path`, written completely before it takes the name;
// empty on success, else why not.
QString WriteReportPdf(const QString &path, const ScheduleBook &book, const BookReport &report);
