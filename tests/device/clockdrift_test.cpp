// The board's clock against the computer's: drift in words, and when to set it.
#include "device/clockdrift.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kNow(QDate(2026, 12, 7), QTime(10, 0, 0));

TEST(ClockDrift, Words)
{
    const std::tuple<const char *, QDateTime, const char *, bool> cases[] = {
        {"two seconds ahead is right", kNow.addSecs(2), "设备时钟准确", false},
        {"seconds ahead", kNow.addSecs(12), "设备时钟快12秒", false},
        {"at the threshold", kNow.addSecs(-30), "设备时钟慢30秒", false},
        {"past the threshold", kNow.addSecs(31), "设备时钟快31秒", true},
        {"minutes and seconds", kNow.addSecs(-185), "设备时钟慢3分5秒", true},
        {"whole minutes", kNow.addSecs(120), "设备时钟快2分", true},
        {"hours drop the seconds", kNow.addSecs(2 * 3600 + 5 * 60 + 59), "设备时钟快2时5分", true},
        {"days and hours", kNow.addSecs(-(3 * 86400 + 4 * 3600 + 59 * 60)), "设备时钟慢3天4时", true},
        {"a year behind is a drift", kNow.addDays(-364), "设备时钟慢364天", true},
        {"two-digit year of another century", QDateTime(QDate(2096, 12, 7), QTime(10, 0, 0)), "时钟无效", true},
        {"board year two off", kNow.addYears(2), "时钟无效", true},
        {"no time at all", QDateTime(), "时钟无效", true},
    };
    for (const auto &[name, board, text, alarming] : cases) {
        const std::optional<qint64> drift = ClockDriftSeconds(board, kNow);
        EXPECT_EQ(std::tuple(ClockDriftText(drift), ClockDriftAlarming(drift),
                             ShouldSetClockOnConnect(drift, kDefaultDriftThreshold, true, true)), // option on, first
                  std::tuple(QString::fromUtf8(text), alarming, alarming))
            << name;
    }
    EXPECT_EQ(ClockDriftSeconds(kNow.addSecs(12), kNow.addMSecs(999)), 12) << "whole seconds on both sides";
}

// Readings as they come ("x": an invalid clock) against what the panel shows after each ("!": red).
TEST(ClockDrift, PanelShowsASteadyFigureAndTheAlarmHoldsNearTheThreshold)
{
    const std::tuple<const char *, const char *, const char *> rows[] = {
        {"12.5 s: alternating readings, one figure", "12 13 12 13 12 13 12 13", "12 12 12 12 12 12 12 12"},
        {"a second's change shows once no reading has the old", "12 12 13 13 13 13 13", "12 12 12 12 12 12 13"},
        {"a clock set shows with the third reading", "90 90 90 0 0 0", "90! 90! 90! 90! 90! 0"},
        {"the alarm goes off two seconds inside the threshold", "31 29 29 29 28 28 28 28 28",
         "31! 29! 29! 29! 29! 29! 29! 29! 28"},
        {"an invalid clock only when most readings say so", "x 12 12 x x", "x! 12 12 12 x!"},
    };
    for (const auto &[name, readings, want] : rows) {
        SteadyDrift panel;
        QStringList shown;
        for (const QString &reading : QString::fromLatin1(readings).split(u' ')) {
            panel.add(reading == u'x' ? std::nullopt : std::optional<qint64>(reading.toLongLong()));
            shown << (panel.drift() ? QString::number(*panel.drift()) : QStringLiteral("x")) +
                         (panel.alarming() ? QStringLiteral("!") : QString());
        }
        EXPECT_EQ(shown.join(u' '), QString::fromLatin1(want)) << name;
    }
}

} // namespace
