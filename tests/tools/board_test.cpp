// The simulated board, driven in-process. Replies are compared whole, checksums
// included; requests come from the program's builders where they fit.
#include "boardsim.h"
#include "protocol/frames.h"
#include "support/frames.h"

#include <gtest/gtest.h>

namespace {

const QDateTime kSunday(QDate(2013, 4, 28), QTime(10, 23, 38));
constexpr int64_t kHour = 3600 * 1000;

// A sealed request to board 1: code, then `from3` from byte 3 on.
Frame Request(uint8_t code, std::initializer_list<uint8_t> from3)
{
    Frame f{wire::kRequestHeader, 1, code};
    std::copy(from3.begin(), from3.end(), f.begin() + 3);
    SealFrame(f);
    return f;
}
Frame Daily(uint8_t ch, uint8_t n, uint8_t h, uint8_t m, uint8_t s, uint8_t action = wire::kActionPullIn)
{
    return Request(wire::kWriteEntry, {11, ch, n, 1, 0, 0, 0, 0, h, m, s, action});
}
// Feeds the requests; the reply to the last one, all zeros unless there is exactly one.
Frame Ask(BoardSim &board, const std::vector<Frame> &requests)
{
    std::vector<QByteArray> replies;
    for (const Frame &f : requests)
        replies = board.feed(ToBytes(f));
    return replies.size() == 1 ? FromBytes(replies[0]) : Frame{};
}

TEST(Board, Scenarios)
{
    std::vector<Frame> entries = {
        Request(1, {11, 5, 1, 1, 13, 5, 6, 0x41, 1, 2, 3, 2}), Request(1, {11, 5, 2, 2, 13, 5, 6, 0x42, 2, 4, 6, 1}),
        Request(1, {11, 5, 3, 3, 13, 5, 6, 0x43, 3, 6, 9, 2}), BlankEntryFrame(1, 5, 4), Daily(5, 5, 8, 0, 0)};
    for (int n = 1; n <= 255; ++n)
        entries.push_back(Daily(16, uint8_t(n), 0, 0, uint8_t(n % 60)));
    auto read = [](uint8_t ch, uint8_t n) { return ReadEntryFrame(1, ch, n); };
    auto relays = [](uint8_t code, uint8_t lo, uint8_t hi) { return RelayFrame(1, code, 0, lo, hi); };
    // Relays in bytes 4-5, the initial clock in 13-19 (weekday 1 = Sunday).
    auto status = [](uint8_t code, uint8_t lo, uint8_t hi) {
        return SealedReply(code, {lo, hi, 0, 0, 0, 0, 0, 0, 0, 13, 4, 28, 1, 10, 23, 38});
    };
    auto set = [](int day, int h, int m = 0, int s = 0) {
        return SetClockFrame(1, QDateTime(QDate(2013, 4, day), QTime(h, m, s)));
    };
    // Saturday 2013-04-27 08:00, with the weekday given.
    auto told = [](uint8_t weekday) { return Request(3, {7, 13, 4, 27, weekday, 8, 0, 0}); };
    // Channel 7, entry 1 at 09:00:00.
    auto at9 = [](uint8_t mode, uint8_t mask, uint8_t yy = 0, uint8_t mm = 0, uint8_t dd = 0) {
        return Request(1, {11, 7, 1, mode, yy, mm, dd, mask, 9, 0, 0, 2});
    };
    // Channel 4's entry 7 and channel 5's entry 2 lie past the end of their lists; 3 #2 and 6 #1 release
    // (6 #1 a relay already off).
    auto lists = [](const Frame &setClock) {
        return std::vector<Frame>{
            Daily(3, 1, 8, 0, 0),     Daily(3, 2, 8, 0, 5, 1), Daily(4, 7, 8, 0, 2),    Daily(5, 2, 8, 0, 3),
            BlankEntryFrame(1, 5, 1), Daily(4, 1, 8, 0, 1),    Daily(6, 1, 8, 0, 6, 1), setClock};
    };
    const Frame some = relays(16, 5, 1), clock = ReadClockFrame(1);
    const Frame eve = SetClockFrame(1, QDateTime(QDate(2013, 12, 31), QTime(23, 59, 59)));
    const BoardConfig noAck{.faults = {.noWriteAck = true}};
    // Channel 2 entry 1 at 06:30:00, as written and as the tampering board keeps it.
    const Frame write = Daily(2, 1, 6, 30, 0), readIt = ReadEntryFrame(1, 2, 1);
    const Frame stored = SealedReply(2, {2, 1, 1, 0, 0, 0, 0, 6, 30, 0, 2}),
                altered = SealedReply(2, {2, 1, 1, 0, 0, 0, 0, 6, 31, 0, 2});
    const Frame blank2 = BlankEntryFrame(1, 2, 2), sundayClock = SealedReply(4, {13, 4, 28, 1, 10, 23, 38});
    const BoardConfig tamper{.tamper = Tamper{2, 1}}, fast{.clockRate = 60};
    Frame badSum = clock, badXor = clock;
    badSum[20]++, badXor[21]++;
    struct {
        const char *name;
        std::vector<Frame> before;
        int64_t advanceMs;
        QString fired;               // relay changes the schedules made meanwhile, "; " between them
        Frame request{}, expected{}; // an all-zero request gets no answer
        BoardConfig config{};
    } cases[] = {
        {"16 with both masks 0 only asks", {some}, 0, "", relays(16, 0, 0), status(16, 5, 1)},
        {"16, one bit sets all sixteen", {some}, 0, "", relays(16, 0, 2), status(16, 0, 2)},
        {"19 with all off switches all off", {some}, 0, "", relays(19, 0, 0), status(19, 0, 0)},
        {"19 sets the masks", {}, 0, "", relays(19, 2, 0x80), status(19, 2, 0x80)},
        {"write entry acknowledged", {}, 0, "", Daily(1, 1, 0, 0, 0), SealedReply(1)},
        {"entry stored as written", entries, 0, "", read(5, 1), SealedReply(2, {5, 1, 1, 13, 5, 6, 0x41, 1, 2, 3, 2})},
        {"blank entry", entries, 0, "", read(5, 4), SealedReply(2, {5, 4})},
        {"stored entry past the blank", entries, 0, "", read(5, 5), SealedReply(2, {5, 5})},
        {"slot 255", entries, 0, "", read(16, 255), SealedReply(2, {16, 255, 1, 0, 0, 0, 0, 0, 0, 15, 2})},
        {"channel out of range", entries, 0, "", read(17, 1), SealedReply(2, {17, 1})},
        {"set clock acknowledged", {}, 0, "", eve, SealedReply(3)},
        {"clock runs", {eve}, 1000, "", clock, SealedReply(4, {14, 1, 1, 4, 0, 0, 0})},
        {"told weekday runs on", {told(6)}, 48 * kHour, "", clock, SealedReply(4, {13, 4, 29, 1, 8, 0, 0})},
        {"bad sum ignored", {}, 0, "", badSum, Frame{}},
        {"bad XOR ignored", {}, 0, "", badXor, Frame{}},
        {"another board's address ignored", {}, 0, "", RelayFrame(2, 16, 0, 0, 0), Frame{}},
        {"silent", {}, 0, "", some, Frame{}, {.faults = {.silent = true}}},
        {"no write ack", {}, 0, "", Daily(2, 1, 6, 0, 0), Frame{}, noAck},
        {"stored all the same", entries, 0, "", read(5, 1), SealedReply(2, {5, 1, 1, 13, 5, 6, 0x41, 1, 2, 3, 2}),
         noAck},
        {"daily at its second", {set(28, 8, 59, 59), at9(1, 0)}, 1000, "on 04-28 09:00:00 schedule ch 7 #1"},
        {"daily not before", {set(28, 8, 59, 59), at9(1, 0)}, 999, {}},
        {"weekly Sunday is bit 0", {set(27, 8), at9(2, 0x01)}, 26 * kHour, "on 04-28 09:00:00 schedule ch 7 #1"},
        {"weekly Saturday is bit 6", {set(26, 8), at9(2, 0x40)}, 72 * kHour, "on 04-27 09:00:00 schedule ch 7 #1"},
        {"weekly by the told weekday", {told(1), at9(2, 0x01)}, 2 * kHour, "on 04-27 09:00:00 schedule ch 7 #1"},
        {"fixed date", {set(28, 8), at9(3, 0, 13, 4, 29)}, 72 * kHour, "on 04-29 09:00:00 schedule ch 7 #1"},
        {"fixed date of another year", {set(28, 8), at9(3, 0, 14, 4, 29)}, 72 * kHour, {}},
        {"in time order up to each list's end", lists(set(28, 7, 59, 59)), 10 * 1000,
         "on 04-28 08:00:00 schedule ch 3 #1; on 04-28 08:00:01 schedule ch 4 #1; off 04-28 08:00:05 schedule ch 3 #2"},
        {"setting the clock past an entry does not fire it", lists(set(29, 8, 0, 4)), 24 * kHour,
         "on 04-30 08:00:00 schedule ch 3 #1; on 04-30 08:00:01 schedule ch 4 #1"},
        {"clock runs 60 times as fast", {}, 1000, "", clock, SealedReply(4, {13, 4, 28, 1, 10, 24, 38}), fast},
        {"and keeps its rate once set", {set(28, 10, 22, 38)}, 1000, "", clock, sundayClock, fast},
        {"tampered entry is a minute later", {write}, 0, "", readIt, altered, tamper},
        {"a repeated write does not undo it", {write, write, blank2, write}, 0, "", readIt, stored, tamper},
        {"repeats before the next request", {write, write, write}, 0, "", readIt, altered, tamper},
        {"another entry is left alone", {write, Daily(2, 2, 7, 0, 0)}, 0, "", readIt, stored, {.tamper = Tamper{2, 2}}},
        {"a blank slot stays blank", {BlankEntryFrame(1, 2, 1)}, 0, "", readIt, SealedReply(2, {2, 1}), tamper},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BoardSim board(c.config, kSunday);
        Ask(board, c.before);
        board.advance(c.advanceMs);
        QStringList fired;
        for (const RelayChange &r : board.relayLog())
            if (r.cause != QLatin1String("command"))
                fired << (r.on ? "on " : "off ") + r.time.toString(QStringLiteral("MM-dd hh:mm:ss ")) + r.cause;
        EXPECT_EQ(fired.join(QStringLiteral("; ")), c.fired);
        EXPECT_EQ(Ask(board, {c.request}), c.expected);
    }
}

TEST(Board, LineTime)
{
    const QByteArray frame(22, 'x');
    constexpr int64_t w = 22916; // one frame at 9600 baud, in microseconds
    // name, line timing, requests as (microsecond, bytes) reaching the board, each answered, every reply piece due
    const std::tuple<const char *, LineTiming, std::vector<std::pair<int64_t, int>>, std::vector<int64_t>> cases[] = {
        {"9600 baud: request and reply each 22.9 ms", {}, {{0, 22}}, {2 * w}},
        {"no line time", {.baud = 0}, {{5, 22}}, {5}},
        {"answer and delay add to it", {.answerMs = 10, .delayMs = 20}, {{0, 22}}, {2 * w + 30000}},
        {"115200 baud", {.baud = 115200}, {{0, 22}}, {3818}},
        {"two requests at once cross the line one after the other", {}, {{0, 22}, {0, 22}}, {2 * w, 3 * w}},
        {"a short request's reply waits for the reply before it", {}, {{0, 22}, {0, 4}}, {2 * w, 3 * w}},
        {"a request after a pause", {.answerMs = 50}, {{0, 22}, {200000, 22}}, {2 * w + 50000, 200000 + 2 * w + 50000}},
        {"split pieces arrive as their bytes cross, 30 ms apart",
         {.split = true},
         {{0, 22}},
         {w + 8333, w + 16666 + 30000, 2 * w + 60000}},
        {"split without line time", {.baud = 0, .split = true}, {{0, 22}}, {0, 30000, 60000}},
    };
    for (const auto &[name, timing, requests, expected] : cases) {
        SCOPED_TRACE(name);
        SerialLine line(timing);
        std::vector<int64_t> due;
        for (const auto &[atUs, bytes] : requests)
            for (const LinePiece &p : line.reply(line.requestDone(atUs, bytes), frame))
                due.push_back(p.dueUs);
        EXPECT_EQ(due, expected);
    }
}

} // namespace
