// Clock drift of the board against the computer; see clockdrift.h.
#include "device/clockdrift.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {
constexpr qint64 kMinute = 60;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
constexpr int kYearsOff = 1;

// The fields as they read, to the whole second: the board shows no fractions,
// so dropping the computer's keeps the two readings alike.
QDateTime wallClock(const QDateTime &t)
{
    const QTime time = t.time();
    return QDateTime(t.date(), QTime(time.hour(), time.minute(), time.second()), Qt::UTC);
}

// "3分5秒", "2时": a larger unit and the next one, the second left out when zero.
QString twoUnits(qint64 big, const QString &bigUnit, qint64 small, const QString &smallUnit)
{
    return QString::number(big) + bigUnit + (small != 0 ? QString::number(small) + smallUnit : QString());
}
} // namespace

std::optional<qint64> ClockDriftSeconds(const QDateTime &board, const QDateTime &computer)
{
    if (!board.isValid() || !computer.isValid() || std::abs(board.date().year() - computer.date().year()) > kYearsOff)
        return std::nullopt;
    return wallClock(computer).secsTo(wallClock(board));
}

QString ClockDriftText(std::optional<qint64> drift)
{
    if (!drift)
        return QStringLiteral("时钟无效");
    const qint64 s = std::abs(*drift);
    if (s <= kDriftTolerance.count())
        return QStringLiteral("设备时钟准确");
    QString amount;
    if (s < kMinute)
        amount = QString::number(s) + QStringLiteral("秒");
    else if (s < kHour)
        amount = twoUnits(s / kMinute, QStringLiteral("分"), s % kMinute, QStringLiteral("秒"));
    else if (s < kDay)
        amount = twoUnits(s / kHour, QStringLiteral("时"), s % kHour / kMinute, QStringLiteral("分"));
    else
        amount = twoUnits(s / kDay, QStringLiteral("天"), s % kDay / kHour, QStringLiteral("时"));
    return (*drift > 0 ? QStringLiteral("设备时钟快") : QStringLiteral("设备时钟慢")) + amount;
}

bool ClockDriftAlarming(std::optional<qint64> drift, std::chrono::seconds threshold)
{
    return !drift || std::abs(*drift) > threshold.count();
}

void SteadyDrift::add(std::optional<qint64> reading, std::chrono::seconds threshold)
{
    m_readings.push_back(reading);
    if (m_readings.size() > kDriftReadings)
        m_readings.pop_front();
    std::vector<qint64> valid;
    for (const auto &r : m_readings)
        if (r)
            valid.push_back(*r);
    std::optional<qint64> median;
    if (valid.size() * 2 >= m_readings.size()) {
        std::sort(valid.begin(), valid.end());
        median = valid[(valid.size() - 1) / 2];
    }
    const bool stillRead = m_shown && std::find(m_readings.begin(), m_readings.end(), m_shown) != m_readings.end();
    if (!stillRead || !median || std::abs(*median - *m_shown) > 1)
        m_shown = median;
    const auto off = m_alarming ? std::max(threshold - kDriftAlarmHysteresis, std::chrono::seconds(0)) : threshold;
    m_alarming = ClockDriftAlarming(m_shown, off);
}

QString ClockDriftHint()
{
    return QStringLiteral("设备时钟偏差过大，请按“对时”校准");
}

bool ShouldSetClockOnConnect(std::optional<qint64> drift, std::chrono::seconds threshold, bool optionOn,
                             bool firstReportSinceOpen)
{
    return optionOn && firstReportSinceOpen && ClockDriftAlarming(drift, threshold);
}
