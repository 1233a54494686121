// How far the board's clock is off the computer's, in words for the status bar,
// and whether to set it on its own when the link opens.
#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <deque>
#include <optional>

// Within this the clock counts as right: a status reply is up to a tick old, and
// both clocks show whole seconds.
inline constexpr std::chrono::seconds kDriftTolerance{2};
inline constexpr std::chrono::seconds kDefaultDriftThreshold{30};

// Board time minus computer time in seconds: the board's plain reading (it knows
// no time zone or summer time) against the fields the computer's clock shows in
// its own zone, nothing converted. Nothing when the board's clock is not a time
// at all: invalid, or its year more than a year off the computer's (two-digit
// years: better "invalid" than a drift of decades).
std::optional<qint64> ClockDriftSeconds(const QDateTime &board, const QDateTime &computer);

// "设备时钟快12秒", "设备时钟慢3分5秒", "设备时钟快2时5分", "设备时钟慢3天4时": the two
// largest units (seconds dropped from an hour on, a zero second unit left out);
// "设备时钟准确" within the tolerance; "时钟无效" for no drift at all.
QString ClockDriftText(std::optional<qint64> drift);

// Beyond the threshold (an invalid clock always is): shown in red, with a hint to press 对时.
bool ClockDriftAlarming(std::optional<qint64> drift, std::chrono::seconds threshold = kDefaultDriftThreshold);

// The panel's drift, steady although readings come five times a second and each
// may be a second off either way (both clocks show whole seconds): the median of
// the last few readings (an invalid clock only when most of them say so), a figure
// kept while it stays within a second of that median and one of them still reads
// it, and an alarm that, once on, goes off only kDriftAlarmHysteresis inside the
// threshold.
inline constexpr int kDriftReadings = 5;
inline constexpr std::chrono::seconds kDriftAlarmHysteresis{2};
class SteadyDrift {
public:
    void add(std::optional<qint64> reading, std::chrono::seconds threshold = kDefaultDriftThreshold);
    std::optional<qint64> drift() const { return m_shown; }
    bool alarming() const { return m_alarming; }
    void clear() { *this = SteadyDrift(); }

private:
    std::deque<std::optional<qint64>> m_readings; // the latest last
    std::optional<qint64> m_shown;
    bool m_alarming = false;
};

// The tooltip of an alarming drift.
QString ClockDriftHint();

// Whether to set the board's clock now on its own: only with the option on, only on
// the first clock report since the link opened, and only when the drift is alarming.
bool ShouldSetClockOnConnect(std::optional<qint64> drift, std::chrono::seconds threshold, bool optionOn,
                             bool firstReportSinceOpen);
