// The options file beside Note.ini.
#include "storage/toolsettings.h"

#include "storage_testing.h"

namespace {

TEST(ToolSettings, KeptAcrossRunsApartFromTheSchedules)
{
    using std::chrono::seconds;
    QTemporaryDir dir;
    ToolSettings first(dir.path());
    EXPECT_FALSE(first.verifyAfterWrite()) << "off by default";
    EXPECT_FALSE(first.setClockOnConnect()) << "off by default";
    EXPECT_EQ(first.driftThreshold(seconds(30)), seconds(30));
    EXPECT_TRUE(first.setSetClockOnConnect(true));

    const ToolSettings again(dir.path()); // the next run
    EXPECT_TRUE(again.setClockOnConnect());
    EXPECT_FALSE(again.verifyAfterWrite());
    EXPECT_TRUE(again.setVerifyAfterWrite(true) && again.setSetClockOnConnect(false));
    EXPECT_TRUE(first.verifyAfterWrite() && !first.setClockOnConnect());
    EXPECT_EQ(folderEntries(dir.path()), QStringList{"Setting.ini"}) << "no schedule file touched";

    const auto threshold = [&](const QByteArray &value) {
        writeBytes(first.path(), "[Options]\nDriftThresholdSeconds=" + value + "\n");
        return first.driftThreshold(seconds(30)).count();
    };
    EXPECT_EQ(threshold("120"), 120);
    EXPECT_EQ(threshold("1"), 30) << "too small to mean anything";
    EXPECT_EQ(threshold("soon"), 30);
}

TEST(ToolSettings, UnwritableFolderSaysSo)
{
    ToolSettings nowhere(QStringLiteral("/proc/no-such-folder"));
    EXPECT_FALSE(nowhere.setVerifyAfterWrite(true));
    EXPECT_FALSE(nowhere.verifyAfterWrite());
}

} // namespace
