// kelmora-cli: the board from scripts, the same engine and port naming without a window.
#pragma once

int RunKelmoraCli(int argc, char **argv);
