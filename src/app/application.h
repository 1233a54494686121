// Program start: the real serial port and dialogs, and the main window.
#pragma once

#include "protocol/frames.h"

#include <QString>

int RunKelmora(int argc, char **argv, Variant variant);
