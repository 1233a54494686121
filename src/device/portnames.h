// Serial port number (Com1..Com99) -> device name, and what to tell the
// operator about a port that will not open.
#pragma once

#include <QFileDevice>
#include <QString>

inline constexpr int kPortCount = 99;

// Windows: "COMn". Linux: a link or device named "Comn" in `programFolder` when
// one exists, even a link whose target is gone (it must not fall through to
// another device); otherwise Com1-32 are /dev/ttyS0-31, Com33-64
// /dev/ttyUSB0-31, Com65-96 /dev/ttyACM0-31; Com97-99 exist only as links
// (empty result).
QString PortDevice(int portNumber, const QString &programFolder);

// The target of `device` when it is a link whose target does not exist, else empty.
QString MissingLinkTarget(const QString &device);

// The port list's tooltip for Com `portNumber`: the device, a link's missing
// target, or where to make a link.
QString PortToolTip(int portNumber, const QString &programFolder);

// Who may open a device node.
struct NodeAccess {
    QString owner;
    QString group;
    QFileDevice::Permissions permissions;
};
NodeAccess AccessOf(const QString &device);

// The status-bar text for a port refused for lack of permission: the group to
// join when the group may read and write the node, else that a group cannot help.
QString PermissionHint(const QString &device, const NodeAccess &access);
