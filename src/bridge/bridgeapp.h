// kelmora-bridge's start: arguments, configuration, the lines, the broker.
#pragma once

int RunKelmoraBridge(int argc, char **argv);
