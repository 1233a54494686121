// Serial port number (Com1..Com99) -> device name.
#pragma once

#include <QString>

inline constexpr int kPortCount = 99;

// Windows: "COMn". Linux: a link or device named "Comn" in `programFolder` when
// one exists; otherwise Com1-32 are /dev/ttyS0-31, Com33-64 /dev/ttyUSB0-31,
// Com65-96 /dev/ttyACM0-31; Com97-99 exist only as links (empty result).
QString PortDevice(int portNumber, const QString &programFolder);
