// Reading the board's 22-byte replies, and cutting a byte stream into them.
#pragma once

#include "protocol/frames.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// One bit of a byte (n = 0..7), as 1 or 0.
int GetBit(uint8_t value, int n);
// Binary digits, most significant first, no leading zeros; "0000000" for 0 or less.
QString DECtoBIN(int16_t dec);

struct RelayStates {
    uint8_t mask1to8 = 0;
    uint8_t mask9to16 = 0;
    bool isOn(int channel) const; // 1..16
};

// Entry reported by a read-entry reply, before any range check.
struct ReceivedEntry {
    uint8_t channel = 0;
    uint8_t number = 0;
    uint8_t mode = 0; // 0 empty slot, 1 daily, 2 weekly, other fixed date
    uint8_t year = 0, month = 0, day = 0;
    uint8_t weekMask = 0;
    uint8_t hour = 0, minute = 0, second = 0;
    uint8_t action = 0; // 1 release, anything else pull in
};

inline const QString kClockPrefix = QStringLiteral("模块当前时间:");
// "模块当前时间:13-04-28 10:23:38" for a clock reply.
QString ClockReplyText(const Frame &reply);
// "模块当前时间:2013-04-28 10:23:38 星期0" for a status reply.
QString StatusReplyText(const Frame &reply);
RelayStates StatusRelayStates(const Frame &reply);
// The board's clock as a reply reports it. The board knows no time zone and no
// summer time, so its reading stays a plain wall-clock reading: the fields as
// they are, in Qt::UTC, which does no zone arithmetic (a reading inside the
// computer's spring-forward gap is as good as any). The two-digit year is taken
// on 2000. The board keeps its own weekday, which 对时 sets and which fires its
// weekly entries; it need not be the date's.
struct BoardClock {
    QDateTime at;
    int weekday = 0; // 1 Monday .. 7 Sunday, as QDate::dayOfWeek; 0 when the reply's byte is none
    // Days to add to the date's weekday to get the board's (0..6; 0 without a weekday).
    int weekdayShift() const;
};
// Empty when the fields make no date and time.
std::optional<BoardClock> ClockReplyTime(const Frame &reply);
std::optional<BoardClock> StatusReplyTime(const Frame &reply);
ReceivedEntry EntryOf(const Frame &reply);

// Cuts an incoming byte stream into 22-byte groups in arrival order. It does
// not hunt for headers: the stream falls back into step because every request
// discards what is waiting before it goes out.
class ReplyFramer {
public:
    void feed(const QByteArray &bytes);
    std::optional<Frame> next();
    qsizetype pending() const { return m_buffer.size(); }
    void clear() { m_buffer.clear(); }
    QByteArray takePending() { return std::exchange(m_buffer, {}); }

private:
    QByteArray m_buffer;
};

// Weekday mask of an entry reply as the decoder reads it (Monday-first text):
// the binary digits of the byte, padded to 7, last digit moved to the front,
// then reversed. For the masks the board sends (bit 7 clear) this is the
// inverse of WeekMaskToWire.
QString WeekMaskFromReply(uint8_t mask);
