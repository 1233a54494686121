// Port number -> device name, with and without "ComN" links in the program folder.
#include "device/portnames.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(PortNames, LinksFirstThenDeviceFamilies)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    auto in = [&](const char *name) { return folder.filePath(QLatin1String(name)); };
    for (auto [target, name] : {std::pair{".", "Com5"}, {".", "Com99"}, {"gone", "Com6"}, {"gone", "Com98"}})
        ASSERT_TRUE(QFile::link(in(target), in(name)));
    struct {
        const char *name;
        int port;
        QString expected;
    } cases[] = {
        {"link wins over the device", 5, in("Com5")},
        {"link for a links-only port", 99, in("Com99")},
        {"dangling link ignored", 6, "/dev/ttyS5"},
        {"dangling link on a links-only port", 98, ""},
        {"links-only port without a link", 97, ""},
        {"first serial port", 1, "/dev/ttyS0"},
        {"last serial port", 32, "/dev/ttyS31"},
        {"first USB adapter", 33, "/dev/ttyUSB0"},
        {"last USB adapter", 64, "/dev/ttyUSB31"},
        {"first modem-class adapter", 65, "/dev/ttyACM0"},
        {"last modem-class adapter", 96, "/dev/ttyACM31"},
        {"port 0", 0, ""},
        {"port 100", 100, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PortDevice(c.port, folder.path()), c.expected);
    }
}

} // namespace
