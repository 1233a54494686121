// Port number -> device name, with and without "ComN" links in the program folder.
#include "device/portnames.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(PortNames, LinksFirstThenDeviceFamilies)
{
    QTemporaryDir folder;
    auto in = [&](const char *name) { return folder.filePath(QLatin1String(name)); };
    for (auto [target, name] : {std::pair{".", "Com5"}, {".", "Com99"}, {"gone", "Com6"}, {"gone", "Com98"}})
        ASSERT_TRUE(QFile::link(in(target), in(name)));
    const std::tuple<const char *, int, QString> cases[] = {
        {"link wins over the device", 5, in("Com5")},
        {"link for a links-only port", 99, in("Com99")},
        {"dangling link is no fall-through to the device", 6, in("Com6")},
        {"dangling link on a links-only port", 98, in("Com98")},
        {"first serial port", 1, "/dev/ttyS0"},
        {"last serial port", 32, "/dev/ttyS31"},
        {"first USB adapter", 33, "/dev/ttyUSB0"},
        {"last USB adapter", 64, "/dev/ttyUSB31"},
        {"first modem-class adapter", 65, "/dev/ttyACM0"},
        {"last modem-class adapter", 96, "/dev/ttyACM31"},
        {"port 0", 0, ""},
        {"port 100", 100, ""},
    };
    for (const auto &[name, port, expected] : cases)
        EXPECT_EQ(PortDevice(port, folder.path()), expected) << name;
    EXPECT_EQ(MissingLinkTarget(in("Com6")), in("gone"));
    EXPECT_EQ(MissingLinkTarget(in("Com5")), "");
}

TEST(PortNames, PermissionHintSaysWhetherAGroupCanHelp)
{
    using P = QFileDevice;
    const QFileDevice::Permissions rw0600 = P::ReadOwner | P::WriteOwner | P::ReadUser | P::WriteUser;
    const QFileDevice::Permissions rw0660 = rw0600 | P::ReadGroup | P::WriteGroup;
    const QString group = "无权限：/dev/ttyS0 属于 dialout 组，请将用户加入该组后重新登录",
                  onlyUser = "无权限：/dev/ttyS0 只有 %1 用户可以打开，加入用户组也无济于事，请由管理员更改其权限";
    const std::tuple<const char *, NodeAccess, QString> cases[] = {
        {"group may read and write", {"root", "dialout", rw0660}, group},
        {"root only (0600)", {"root", "root", rw0600}, onlyUser.arg("root")},
        {"group may only read", {"uucp", "uucp", rw0600 | P::ReadGroup}, onlyUser.arg("uucp")},
        {"owner not known", {"", "", {}}, group},
    };
    for (const auto &[name, access, expected] : cases)
        EXPECT_EQ(PermissionHint("/dev/ttyS0", access), expected) << name;
}

} // namespace
