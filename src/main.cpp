// kelmora: the operator's side of a 16-channel time-switch relay board.
#include "app/application.h"

#ifndef KELMORA_VARIANT
#define KELMORA_VARIANT Standard
#endif

int main(int argc, char **argv)
{
    return RunKelmora(argc, argv, Variant::KELMORA_VARIANT);
}
