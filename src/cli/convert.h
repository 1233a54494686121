// kelmora-cli convert: a schedule book from one file layout into another, by the files' endings:
// .ini (Note.ini), .csv (the spreadsheet columns) and .json (the bridge's schedule JSON).
#pragma once

#include "cli/cliargs.h"
#include "schedule/schedulebook.h"

#include <QString>

#include <functional>

struct ConvertResult {
    CliExit exit = CliExit::Ok;
    QString error;   // why nothing was written
    int entries = 0; // entries written
};

// Reads all of `in` and checks it before `out` is touched; `out` is written in one go or not at
// all. A bad input or a layout that cannot be read or written is a usage error (exit 2), an
// output that cannot be written a failed transfer (exit 5), as for `read -o`.
// Paints `book` into a PDF at `out` with `title` at its head; returns why it could not. Painting needs
// Qt's GUI side, which kelmora-cli does without: kelmora-pdf, the same program linked with it, has one.
using PdfPainter = std::function<QString(const QString &out, const ScheduleBook &book, const QString &title)>;

// Reads the book in `path` by its ending (.ini, .csv, .json); returns why it cannot, in 打开's
// words for Note.ini's layout, and leaves `book` as it was then.
QString ReadBookFile(const QString &path, ScheduleBook &book);

// A .pdf `out` needs `paint`.
ConvertResult ConvertBook(const QString &in, const QString &out, const PdfPainter &paint = {});
