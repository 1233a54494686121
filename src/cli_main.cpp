// kelmora-cli: the board from scripts, without a window.
#include "app/application.h"

int main(int argc, char **argv)
{
    return RunKelmoraCli(argc, argv);
}
