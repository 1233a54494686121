// The schedule book as a spreadsheet's CSV: one row per entry, written so that a spreadsheet
// opens it as it is, read back from what a spreadsheet saves.
#pragma once

#include "schedule/schedulebook.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Columns, in the order they are written. Reading finds them by their header, in any order;
// other columns are ignored.
inline const QStringList kCsvColumns{QStringLiteral("路"),   QStringLiteral("序号"), QStringLiteral("方式"),
                                     QStringLiteral("星期"), QStringLiteral("日期"), QStringLiteral("时间"),
                                     QStringLiteral("动作")};

// UTF-8 with a byte-order mark, comma-separated, CRLF line ends: the header, then the entries of
// channels 1..16, each channel numbered 1..n in book order (at most 255, as Note.ini holds them).
// A column the entry's mode does not use stays empty.
QByteArray BookToCsv(const ScheduleBook &book);

struct CsvImport {
    QString error;          // "第3行：时间25:05:30不存在"; empty when the file was taken
    QList<int> channels;    // the channels the file names, ascending
    QList<Clsdata> entries; // in file order, numbered 1..n per channel as the file numbers them
    bool ok() const { return error.isEmpty(); }
};

// Every row is checked; the first bad one refuses the whole file. UTF-8 (with or without a
// byte-order mark) or, when the bytes are not UTF-8, GBK; separators comma, semicolon or tab, as
// the header row uses them; fields quoted as RFC 4180 quotes them. Rows with every field empty
// are skipped. A channel's 序号 must run 1, 2, 3 ... in file order: the list order is the order
// the board runs them in, so a gap or a number out of turn is refused rather than guessed at.
CsvImport ParseBookCsv(const QByteArray &bytes);

// The channels the import names get its entries in place of theirs; the others are left alone.
void ApplyCsv(ScheduleBook &book, const CsvImport &import);
