// The 22-byte request frames the board understands, built as pure values.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>

inline constexpr int kFrameSize = 22;
using Frame = std::array<uint8_t, kFrameSize>;

namespace wire {
inline constexpr uint8_t kRequestHeader = 0x66;
inline constexpr uint8_t kReplyHeader = 0x22;

inline constexpr uint8_t kWriteEntry = 1;
inline constexpr uint8_t kReadEntry = 2;
inline constexpr uint8_t kSetClock = 3;
inline constexpr uint8_t kReadClock = 4;
inline constexpr uint8_t kStatus = 16;
inline constexpr uint8_t kStatusCompat = 19;

inline constexpr uint8_t kWriteEntryCount = 11;
inline constexpr uint8_t kReadEntryCount = 2;
inline constexpr uint8_t kSetClockCount = 7;

inline constexpr uint8_t kActionPullIn = 2;
inline constexpr uint8_t kActionRelease = 1;
} // namespace wire

// The one thing the two executables differ in: the relay command's code.
enum class Variant { Standard, Compat };
constexpr uint8_t RelayCommandCode(Variant v)
{
    return v == Variant::Compat ? wire::kStatusCompat : wire::kStatus;
}

// Fills bytes 20 (sum) and 21 (XOR) from bytes 0..19.
void SealFrame(Frame &f);

// Write entry: mode 1 daily, 2 weekly, 3 fixed date; fields come from the record string.
Frame WriteEntryFrame(uint8_t address, uint8_t mode, uint8_t channel, uint8_t number, QStringView record);
// Blank entry: marks the end of a channel's list.
Frame BlankEntryFrame(uint8_t address, uint8_t channel, uint8_t number);
Frame ReadEntryFrame(uint8_t address, uint8_t channel, uint8_t number);
Frame SetClockFrame(uint8_t address, const QDateTime &now);
Frame ReadClockFrame(uint8_t address);
// Status request (both masks 0, code 16) or relay command.
Frame RelayFrame(uint8_t address, uint8_t code, uint8_t count, uint8_t mask1to8, uint8_t mask9to16);

// Monday-first 7-character mask -> wire byte with Sunday on bit 0.
uint8_t WeekMaskToWire(QStringView strWeek);

// " ,66 ,1 ,4 ,0 ..." : each byte in upper-case hex, preceded by " ,".
QString FrameDebugText(const Frame &f);
// The same grouping for any run of bytes (stray bytes that made no frame).
QString HexGroups(const uint8_t *bytes, int count);

QByteArray ToBytes(const Frame &f);
Frame FromBytes(const QByteArray &bytes); // first 22 bytes; missing bytes are 0
