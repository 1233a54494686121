// Serial port number -> device name; see portnames.h.
#include "device/portnames.h"

#include <QDir>
#include <QFileInfo>

#include <array>

namespace {
constexpr int kPortsPerFamily = 32;

struct Family {
    int first; // first port number of the family
    const char *prefix;
};
// Linux device families in port-number order; ports past the last family exist only as links.
constexpr std::array<Family, 3> kFamilies{{{1, "/dev/ttyS"}, {33, "/dev/ttyUSB"}, {65, "/dev/ttyACM"}}};
} // namespace

QString PortDevice(int portNumber, const QString &programFolder)
{
    if (portNumber < 1 || portNumber > kPortCount)
        return {};
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return QStringLiteral("COM%1").arg(portNumber);
#else
    if (!programFolder.isEmpty()) {
        // A link named like the Windows port lets any device (or a simulated board) stand in for it.
        const QString link = QDir(programFolder).filePath(QStringLiteral("Com%1").arg(portNumber));
        if (QFileInfo::exists(link))
            return link;
    }
    for (const Family &f : kFamilies)
        if (portNumber >= f.first && portNumber < f.first + kPortsPerFamily)
            return QLatin1String(f.prefix) + QString::number(portNumber - f.first);
    return {};
#endif
}
