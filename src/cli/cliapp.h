// kelmora-cli: the board from scripts, the same engine and port naming without a window.
#pragma once

#include "cli/convert.h"

// `paint`: given by kelmora-pdf only. Without it, a command that names a .pdf file is handed over
// to kelmora-pdf (beside this program, or in the installed helper folder) with the same arguments.
int RunKelmoraCli(int argc, char **argv, const PdfPainter &paint = {});
