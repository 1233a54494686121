#include "protocol/replies.h"

#include <algorithm>

namespace {
QString two(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}
} // namespace

int GetBit(uint8_t value, int n)
{
    int bits[8] = {};
    for (int i = 0; i <= n && i < 8; ++i) {
        bits[i] = value % 2;
        value /= 2;
    }
    return (n >= 0 && n < 8) ? bits[n] : 0;
}

QString DECtoBIN(int16_t dec)
{
    if (dec <= 0)
        return QStringLiteral("0000000");
    return QString::number(dec, 2);
}

bool RelayStates::isOn(int channel) const
{
    if (channel >= 1 && channel <= 8)
        return GetBit(mask1to8, channel - 1) == 1;
    if (channel >= 9 && channel <= 16)
        return GetBit(mask9to16, channel - 9) == 1;
    return false;
}

QString ClockReplyText(const Frame &r)
{
    return kClockPrefix + two(r[4]) + QLatin1Char('-') + two(r[5]) + QLatin1Char('-') + two(r[6]) + QLatin1Char(' ') +
           two(r[8]) + QLatin1Char(':') + two(r[9]) + QLatin1Char(':') + two(r[10]);
}

QString StatusReplyText(const Frame &r)
{
    return kClockPrefix + QStringLiteral("20") + two(r[13]) + QLatin1Char('-') + two(r[14]) + QLatin1Char('-') +
           two(r[15]) + QLatin1Char(' ') + two(r[17]) + QLatin1Char(':') + two(r[18]) + QLatin1Char(':') + two(r[19]) +
           QStringLiteral(" 星期") + QString::number(int(r[16]) - 1);
}

namespace {
constexpr int kWeekdays = 7;

// Year, month, day, weekday (wire: Sunday 1 .. Saturday 7), hour, minute, second from `at`.
std::optional<BoardClock> boardClock(const Frame &r, int at)
{
    const QDate date(2000 + r[at], r[at + 1], r[at + 2]);
    const QTime time(r[at + 4], r[at + 5], r[at + 6]);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    const int wire = r[at + 3];
    return BoardClock{QDateTime(date, time, Qt::UTC), wire >= 1 && wire <= kWeekdays ? (wire + 5) % kWeekdays + 1 : 0};
}
} // namespace

int BoardClock::weekdayShift() const
{
    if (weekday == 0 || !at.isValid())
        return 0;
    return (weekday - at.date().dayOfWeek() + kWeekdays) % kWeekdays;
}

std::optional<BoardClock> ClockReplyTime(const Frame &r)
{
    return boardClock(r, 4);
}

std::optional<BoardClock> StatusReplyTime(const Frame &r)
{
    return boardClock(r, 13);
}

RelayStates StatusRelayStates(const Frame &r)
{
    return {r[4], r[5]};
}

ReceivedEntry EntryOf(const Frame &r)
{
    ReceivedEntry e;
    e.channel = r[4];
    e.number = r[5];
    e.mode = r[6];
    e.year = r[7];
    e.month = r[8];
    e.day = r[9];
    e.weekMask = r[10];
    e.hour = r[11];
    e.minute = r[12];
    e.second = r[13];
    e.action = r[14];
    return e;
}

void ReplyFramer::feed(const QByteArray &bytes)
{
    m_buffer.append(bytes);
}

std::optional<Frame> ReplyFramer::next()
{
    if (m_buffer.size() < kFrameSize)
        return std::nullopt;
    Frame f = FromBytes(m_buffer.left(kFrameSize));
    m_buffer.remove(0, kFrameSize);
    return f;
}

QString WeekMaskFromReply(uint8_t mask)
{
    QString t = DECtoBIN(int16_t(mask)).rightJustified(7, QLatin1Char('0'));
    t = t.right(1) + t.left(6);
    std::reverse(t.begin(), t.end());
    return t;
}
