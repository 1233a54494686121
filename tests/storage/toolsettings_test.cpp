// The options file beside Note.ini.
#include "storage/toolsettings.h"

#include "storage_testing.h"

namespace {

TEST(ToolSettings, KeptAcrossRunsApartFromTheSchedules)
{
    using std::chrono::seconds;
    QTemporaryDir dir;
    ToolSettings first(dir.path());
    EXPECT_FALSE(first.verifyAfterWrite() || first.setClockOnConnect()) << "off by default";
    EXPECT_EQ(first.driftThreshold(seconds(30)), seconds(30));
    EXPECT_TRUE(first.setSetClockOnConnect(true));

    const ToolSettings again(dir.path()); // the next run
    EXPECT_TRUE(again.setClockOnConnect() && !again.verifyAfterWrite());
    EXPECT_TRUE(again.setVerifyAfterWrite(true) && again.setSetClockOnConnect(false));
    EXPECT_TRUE(first.verifyAfterWrite() && !first.setClockOnConnect());
    EXPECT_EQ(folderEntries(dir.path()), QStringList{"Setting.ini"}) << "no schedule file touched";

    const auto threshold = [&](const QByteArray &value) {
        writeBytes(first.path(), "[Options]\nDriftThresholdSeconds=" + value + "\n");
        return first.driftThreshold(seconds(30)).count();
    };
    // "1" is too small to mean anything.
    EXPECT_EQ(QList<qint64>({threshold("120"), threshold("1"), threshold("soon")}), QList<qint64>({120, 30, 30}));

    ToolSettings nowhere(QStringLiteral("/proc/no-such-folder")); // an unwritable folder says so
    EXPECT_FALSE(nowhere.setVerifyAfterWrite(true) || nowhere.verifyAfterWrite());
}

} // namespace
