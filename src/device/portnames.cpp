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

constexpr QFileDevice::Permissions kGroupReadWrite = QFileDevice::ReadGroup | QFileDevice::WriteGroup;
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
        const QFileInfo info(link);
        if (info.exists() || info.isSymLink())
            return link;
    }
    for (const Family &f : kFamilies)
        if (portNumber >= f.first && portNumber < f.first + kPortsPerFamily)
            return QLatin1String(f.prefix) + QString::number(portNumber - f.first);
    return {};
#endif
}

QString MissingLinkTarget(const QString &device)
{
    const QFileInfo info(device);
    return info.isSymLink() && !info.exists() ? info.symLinkTarget() : QString();
}

QString PortToolTip(int portNumber, const QString &programFolder)
{
    const QString device = PortDevice(portNumber, programFolder);
    if (device.isEmpty())
        return QStringLiteral("（未连接：需在 %1 建立 Com%2 链接）")
            .arg(QDir::toNativeSeparators(programFolder))
            .arg(portNumber);
    if (const QString gone = MissingLinkTarget(device); !gone.isEmpty())
        return QStringLiteral("%1 → %2（目标不存在）").arg(device, gone);
    return device;
}

NodeAccess AccessOf(const QString &device)
{
    const QFileInfo info(device);
    return {info.owner(), info.group(), info.permissions()};
}

QString PermissionHint(const QString &device, const NodeAccess &access)
{
    if (access.group.isEmpty()) // not known: the usual group of serial devices
        return QStringLiteral("无权限：%1 属于 dialout 组，请将用户加入该组后重新登录").arg(device);
    if ((access.permissions & kGroupReadWrite) == kGroupReadWrite)
        return QStringLiteral("无权限：%1 属于 %2 组，请将用户加入该组后重新登录").arg(device, access.group);
    // Only the owner may read and write it: no group membership opens it.
    return QStringLiteral("无权限：%1 只有 %2 用户可以打开，加入用户组也无济于事，请由管理员更改其权限")
        .arg(device, access.owner.isEmpty() ? QStringLiteral("root") : access.owner);
}
