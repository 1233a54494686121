// Port number -> device name, with and without "ComN" links in the program folder.
#include "device/portnames.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

#ifndef Q_OS_WIN
TEST(PortNames, LinksFirstThenDeviceFamilies)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString target = folder.filePath(QStringLiteral("device"));
    QFile touch(target);
    ASSERT_TRUE(touch.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(target, folder.filePath(QStringLiteral("Com5"))));
    ASSERT_TRUE(QFile::link(target, folder.filePath(QStringLiteral("Com99"))));
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("gone")), folder.filePath(QStringLiteral("Com6"))));
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("gone")), folder.filePath(QStringLiteral("Com98"))));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("Com40")));

    struct {
        const char *name;
        int port;
        QString folder;
        QString expected;
    } cases[] = {
        {"link wins over the device", 5, folder.path(), folder.filePath(QStringLiteral("Com5"))},
        {"link for a links-only port", 99, folder.path(), folder.filePath(QStringLiteral("Com99"))},
        {"anything existing under the name counts", 40, folder.path(), folder.filePath(QStringLiteral("Com40"))},
        {"dangling link does not count", 6, folder.path(), QStringLiteral("/dev/ttyS5")},
        {"dangling link on a links-only port", 98, folder.path(), QString()},
        {"first serial port", 1, folder.path(), QStringLiteral("/dev/ttyS0")},
        {"last serial port", 32, folder.path(), QStringLiteral("/dev/ttyS31")},
        {"first USB adapter", 33, folder.path(), QStringLiteral("/dev/ttyUSB0")},
        {"last USB adapter", 64, folder.path(), QStringLiteral("/dev/ttyUSB31")},
        {"first modem-class adapter", 65, folder.path(), QStringLiteral("/dev/ttyACM0")},
        {"last modem-class adapter", 96, folder.path(), QStringLiteral("/dev/ttyACM31")},
        {"links-only port without a link", 97, folder.path(), QString()},
        {"no program folder", 5, QString(), QStringLiteral("/dev/ttyS4")},
        {"port 0", 0, folder.path(), QString()},
        {"port 100", 100, folder.path(), QString()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PortDevice(c.port, c.folder), c.expected);
    }
}
#else
TEST(PortNames, WindowsNames)
{
    EXPECT_EQ(PortDevice(1, QString()), QStringLiteral("COM1"));
    EXPECT_EQ(PortDevice(99, QString()), QStringLiteral("COM99"));
}
#endif

} // namespace
