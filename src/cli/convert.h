// kelmora-cli convert: a schedule book from one file layout into another, by the files' endings:
// .ini (Note.ini), .csv (the spreadsheet columns) and .json (the bridge's schedule JSON).
#pragma once

#include "cli/cliargs.h"

#include <QString>

struct ConvertResult {
    CliExit exit = CliExit::Ok;
    QString error;   // why nothing was written
    int entries = 0; // entries written
};

// Reads all of `in` and checks it before `out` is touched; `out` is written in one go or not at
// all. A bad input or a layout that cannot be read or written is a usage error (exit 2), an
// output that cannot be written a failed transfer (exit 5), as for `read -o`.
ConvertResult ConvertBook(const QString &in, const QString &out);
