// The simulated relay board: cuts the request stream into frames, keeps the
// schedules, the clock and the sixteen relays, and answers like the hardware.
// Plain logic with an injected time source, so tests drive it in-process.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace board {
inline constexpr int kFrameSize = 22;
inline constexpr int kChannels = 16;
inline constexpr int kSlots = 255;
inline constexpr uint8_t kRequestHeader = 0x66;
inline constexpr uint8_t kReplyHeader = 0x22;

inline constexpr uint8_t kWriteEntry = 1;
inline constexpr uint8_t kReadEntry = 2;
inline constexpr uint8_t kSetClock = 3;
inline constexpr uint8_t kReadClock = 4;
inline constexpr uint8_t kStatus = 16;
inline constexpr uint8_t kStatusCompat = 19;

inline constexpr uint8_t kModeBlank = 0;
inline constexpr uint8_t kModeDaily = 1;
inline constexpr uint8_t kModeWeekly = 2;
inline constexpr uint8_t kActionOff = 1;

using Bytes = std::array<uint8_t, kFrameSize>;

// Sum (byte 20) and XOR (byte 21) of bytes 0..19.
void Seal(Bytes &f);
bool SealIsValid(const Bytes &f);
QByteArray ToByteArray(const Bytes &f);
} // namespace board

// Faults the board can be told to commit. Drops and corruption are decided
// here (seeded, so a run can be repeated); delay and split are carried out by
// whoever writes the replies to the line.
struct BoardFaults {
    bool silent = false;    // hears nothing, answers nothing
    int dropPercent = 0;    // reply lost on the line (the command still took effect)
    int corruptPercent = 0; // one byte of the reply flipped
    int delayMs = 0;
    bool noWriteAck = false; // stores entries but never acknowledges them
    bool split = false;      // each reply goes out in several pieces
    uint32_t seed = 1;
};

// Stored entry altered behind the program's back, for tests of a verify.
struct Tamper {
    int channel = 0; // 0: none
    int number = 0;
};

struct BoardConfig {
    uint8_t address = 1;
    BoardFaults faults{};
    double clockRate = 1.0; // the board's clock runs this many times as fast as the time source
    // Once entry `number` of `channel` has been stored, the board adds a minute to
    // it when the next request other than a repeat of that write comes in (so a
    // repeated frame does not undo it). Once only: a later write stores faithfully.
    Tamper tamper{};
};

struct RelayChange {
    int channel = 0; // 1..16
    bool on = false;
    QString cause;  // "command" or "schedule ch N #M"
    QDateTime time; // board clock
};

// Faults committed and frames thrown away, for the board's log.
struct BoardNote {
    QDateTime time;
    QString text;
};

// The serial line between the program and the board. A pseudo-terminal moves
// bytes at once; a real line moves 10 bits a byte (8N1) at its baud rate. The
// line keeps each direction busy while a frame crosses it, so a request is
// answered after its own wire time, the board's answer time, and the reply's
// wire time (2 x 22.9 ms at 9600 baud). Times are in microseconds.
struct LineTiming {
    int baud = 9600;  // 0: no line time at all
    int answerMs = 0; // the board's time to prepare an answer
    int delayMs = 0;  // a fault: the answer comes this much later still
    bool split = false;
};

struct LinePiece {
    int64_t dueUs = 0;
    QByteArray bytes;
};

class SerialLine {
public:
    static constexpr int kBitsPerByte = 10;
    static constexpr int kSplitPieces = 3;
    static constexpr int64_t kSplitGapUs = 30000;

    explicit SerialLine(const LineTiming &timing) : m_timing(timing) {}
    int64_t wireUs(qsizetype bytes) const;
    // `bytes` request bytes reached the board's side at `nowUs`: when the last has crossed the line.
    int64_t requestDone(int64_t nowUs, qsizetype bytes);
    // The pieces of a reply to a request done at `requestDoneUs`, each due when it has crossed the line.
    std::vector<LinePiece> reply(int64_t requestDoneUs, const QByteArray &bytes);

private:
    LineTiming m_timing;
    int64_t m_inFreeUs = 0;  // the request direction is busy until then
    int64_t m_outFreeUs = 0; // the reply direction is busy until then
};

class BoardSim {
public:
    // `clock` is the board's initial clock reading (its fields are taken as
    // they are, no time zone); `nowMs` the time source's current reading.
    BoardSim(const BoardConfig &config, const QDateTime &clock, int64_t nowMs = 0);

    // Bytes from the line -> replies to send back, in order.
    std::vector<QByteArray> feed(const QByteArray &bytes);

    // Moves the time source on to `nowMs` (never backwards) and switches the
    // relays for every schedule entry whose time the clock passed.
    void tick(int64_t nowMs);
    void advance(int64_t ms) { tick(m_nowMs + ms); }

    QDateTime clock() const;
    int weekday() const; // 1 Sunday .. 7 Saturday, as the board keeps it
    bool relayOn(int channel) const;
    uint16_t relayMask() const { return m_relays; } // bit 0 = channel 1
    int listLength(int channel) const;

    const std::vector<RelayChange> &relayLog() const { return m_relayLog; }
    const std::vector<BoardNote> &notes() const { return m_notes; }
    int ignoredFrames() const { return m_ignoredFrames; }
    const BoardConfig &config() const { return m_config; }

private:
    // Bytes 6..14 of a write-entry request: mode, year, month, day, weekday
    // mask, hour, minute, second, action.
    struct Slot {
        uint8_t mode = board::kModeBlank;
        uint8_t year = 0, month = 0, day = 0, weekMask = 0;
        uint8_t hour = 0, minute = 0, second = 0, action = 0;
    };
    struct Firing {
        QDateTime when;
        int channel;
        int number;
        bool on;
    };

    void handle(const board::Bytes &request, std::vector<QByteArray> &out);
    board::Bytes reply(uint8_t code) const;
    void putClock(board::Bytes &f, int at) const;
    void send(const board::Bytes &reply, std::vector<QByteArray> &out);
    void setRelays(uint16_t mask, const QString &cause, const QDateTime &when);
    void setRelay(int channel, bool on, const QString &cause, const QDateTime &when);
    void runSchedules(const QDateTime &from, const QDateTime &to);
    int weekdayIndex(const QDate &date) const; // 0 Sunday .. 6 Saturday
    void note(const QString &text);
    void tamperBefore(const board::Bytes &request);
    Slot &slot(int channel, int number) { return m_slots[size_t((channel - 1) * board::kSlots + number - 1)]; }
    const Slot &slot(int channel, int number) const
    {
        return m_slots[size_t((channel - 1) * board::kSlots + number - 1)];
    }

    BoardConfig m_config;
    std::mt19937 m_rng;
    QByteArray m_input;
    std::vector<Slot> m_slots;
    uint16_t m_relays = 0;
    int64_t m_nowMs = 0;
    QDateTime m_clockBase; // clock reading at m_clockBaseMs
    int64_t m_clockBaseMs = 0;
    int m_weekdayShift = 0; // the weekday the board was told minus the date's own
    std::vector<RelayChange> m_relayLog;
    std::vector<BoardNote> m_notes;
    int m_ignoredFrames = 0;
    enum class TamperState { Waiting, Armed, Done } m_tamperState = TamperState::Waiting;
};
