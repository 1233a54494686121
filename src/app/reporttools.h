// 工具 › 打印… and 导出PDF…: the chosen channels of the book on A4 pages,
// to the system's printer or into a PDF file; 导出CSV… and 导入CSV…: the
// book to and from a spreadsheet.
#pragma once

#include <QList>

class Frmmain;
class ScheduleBook;
struct BookReport;
struct CsvImport;

// Adds the two items to the window's 工具 menu.
void AddReportTools(Frmmain &window);
// What the report of `channels` says of the window's book: file, date, names, week.
BookReport WindowReport(Frmmain &window, const QList<int> &channels);
// What an import will change, for the question before it: each channel it
// names with the entries added and removed ("第1路：新增3条，删除2条").
QString CsvImportPreview(const ScheduleBook &book, const CsvImport &import);
