// Program start: the folder the schedule files live in, the real serial port
// and dialogs, and the main window.
#pragma once

#include "protocol/frames.h"

#include <QString>

// The program folder when it is writable and not under /usr (a portable copy),
// else the user's data folder (an installed program).
QString ScheduleFolder(const QString &programFolder);

int RunKelmora(int argc, char **argv, Variant variant);

// kelmora-cli: the same engine and port naming without a window.
int RunKelmoraCli(int argc, char **argv);
