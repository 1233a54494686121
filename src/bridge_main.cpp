// kelmora-bridge: every configured board on MQTT.
#include "bridge/bridgeapp.h"

int main(int argc, char **argv)
{
    return RunKelmoraBridge(argc, argv);
}
