// kelmora-cli: the board from scripts, without a window.
#include "cli/cliapp.h"

int main(int argc, char **argv)
{
    return RunKelmoraCli(argc, argv);
}
