// 工具 › 打印… and 导出PDF…: the chosen channels of the book on A4 pages,
// to the system's printer or into a PDF file.
#pragma once

#include <QList>

class Frmmain;
struct BookReport;

// Adds the two items to the window's 工具 menu.
void AddReportTools(Frmmain &window);
// What the report of `channels` says of the window's book: file, date, names, week.
BookReport WindowReport(Frmmain &window, const QList<int> &channels);
