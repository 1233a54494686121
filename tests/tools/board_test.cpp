// The simulated board, driven in-process: the requests are built with the
// program's own frame builders, the board checks them with its own code.
#include "boardsim.h"
#include "protocol/frames.h"

#include <gtest/gtest.h>

#include <bit>
#include <optional>

namespace {

const QDateTime kSunday(QDate(2013, 4, 28), QTime(10, 23, 38));

QByteArray Bytes(const Frame &f)
{
    return ToBytes(f);
}

Frame EntryRequest(uint8_t channel, uint8_t number, uint8_t mode, QDate date, uint8_t mask, QTime time, uint8_t action)
{
    Frame f{};
    f[0] = wire::kRequestHeader;
    f[1] = 1;
    f[2] = wire::kWriteEntry;
    f[3] = wire::kWriteEntryCount;
    f[4] = channel;
    f[5] = number;
    f[6] = mode;
    if (date.isValid()) {
        f[7] = uint8_t(date.year() - 2000);
        f[8] = uint8_t(date.month());
        f[9] = uint8_t(date.day());
    }
    f[10] = mask;
    f[11] = uint8_t(time.hour());
    f[12] = uint8_t(time.minute());
    f[13] = uint8_t(time.second());
    f[14] = action;
    SealFrame(f);
    return f;
}

Frame Daily(uint8_t channel, uint8_t number, QTime time, uint8_t action = wire::kActionPullIn)
{
    return EntryRequest(channel, number, 1, {}, 0, time, action);
}

// The one reply a request must get.
std::optional<Frame> Ask(BoardSim &board, const Frame &request)
{
    const std::vector<QByteArray> replies = board.feed(Bytes(request));
    if (replies.size() != 1)
        return std::nullopt;
    return FromBytes(replies.front());
}

BoardSim Board(const QDateTime &clock = kSunday, BoardFaults faults = {})
{
    BoardConfig config;
    config.faults = faults;
    return BoardSim(config, clock, 0);
}

void ExpectSealedReply(const Frame &reply, uint8_t code)
{
    EXPECT_EQ(reply[0], wire::kReplyHeader);
    EXPECT_EQ(reply[1], 1);
    EXPECT_EQ(reply[2], code);
    Frame resealed = reply;
    SealFrame(resealed);
    EXPECT_EQ(resealed, reply) << "checksums";
}

TEST(Board, StatusRequestAndRelayCommands)
{
    struct {
        const char *name;
        uint16_t before;
        uint8_t code;
        uint8_t mask1to8, mask9to16;
        uint16_t after;
    } cases[] = {
        {"status request changes nothing", 0x0105, 16, 0, 0, 0x0105},
        {"one bit sets all sixteen", 0xFFFF, 16, 0x01, 0, 0x0001},
        {"upper mask is channels 9..16", 0x0000, 16, 0, 0x80, 0x8000},
        {"compat command all clear switches all off", 0x0F0F, 19, 0, 0, 0x0000},
        {"compat command sets the masks", 0x0000, 19, 0x02, 0x01, 0x0102},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BoardSim board = Board();
        if (c.before) {
            ASSERT_TRUE(Ask(board, RelayFrame(1, 16, 0, uint8_t(c.before), uint8_t(c.before >> 8))));
        }
        const size_t logged = board.relayLog().size();
        const std::optional<Frame> reply = Ask(board, RelayFrame(1, c.code, 0, c.mask1to8, c.mask9to16));
        ASSERT_TRUE(reply);
        ExpectSealedReply(*reply, c.code);
        EXPECT_EQ(board.relayMask(), c.after);
        EXPECT_EQ(reply->at(4), uint8_t(c.after));
        EXPECT_EQ(reply->at(5), uint8_t(c.after >> 8));
        const Frame clockFields = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 13, 4, 28, 1, 10, 23, 38};
        EXPECT_TRUE(std::equal(reply->begin() + 13, reply->begin() + 20, clockFields.begin() + 13));
        EXPECT_EQ(board.relayLog().size() - logged, size_t(std::popcount(unsigned(c.before ^ c.after))));
        for (size_t i = logged; i < board.relayLog().size(); ++i) {
            EXPECT_EQ(board.relayLog()[i].cause, QStringLiteral("command"));
            EXPECT_EQ(board.relayLog()[i].time, QDateTime(kSunday.date(), kSunday.time(), Qt::UTC));
        }
    }
}

TEST(Board, EntriesWriteReadAndListEnd)
{
    BoardSim board = Board();
    const QDate date(2013, 5, 6);
    for (uint8_t n = 1; n <= 3; ++n) {
        const std::optional<Frame> ack =
            Ask(board, EntryRequest(5, n, n, date, uint8_t(0x40 + n), QTime(n, 2 * n, 3 * n), n == 2 ? 1 : 2));
        ASSERT_TRUE(ack);
        ExpectSealedReply(*ack, wire::kWriteEntry);
    }
    ASSERT_TRUE(Ask(board, BlankEntryFrame(1, 5, 4)));
    for (int n = 1; n <= 255; ++n)
        ASSERT_TRUE(Ask(board, Daily(16, uint8_t(n), QTime(0, 0, n % 60))));

    struct {
        const char *name;
        uint8_t channel, number;
        Frame expectedFromByte4; // bytes 4..14 of the reply, rest 0
    } cases[] = {
        {"first entry", 5, 1, {5, 1, 1, 13, 5, 6, 0x41, 1, 2, 3, 2}},
        {"weekly entry, release action", 5, 2, {5, 2, 2, 13, 5, 6, 0x42, 2, 4, 6, 1}},
        {"fixed date entry", 5, 3, {5, 3, 3, 13, 5, 6, 0x43, 3, 6, 9, 2}},
        {"blank end marker", 5, 4, {5, 4}},
        {"past the end", 5, 5, {5, 5}},
        {"never written channel", 6, 1, {6, 1}},
        {"255 entries without a blank", 16, 255, {16, 255, 1, 0, 0, 0, 0, 0, 0, 15, 2}},
        {"channel out of range", 17, 1, {17, 1}},
        {"number 0", 5, 0, {5, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Frame> reply = Ask(board, ReadEntryFrame(1, c.channel, c.number));
        ASSERT_TRUE(reply);
        ExpectSealedReply(*reply, wire::kReadEntry);
        EXPECT_TRUE(std::equal(reply->begin() + 4, reply->begin() + 20, c.expectedFromByte4.begin()));
    }
    EXPECT_EQ(board.listLength(16), 255);

    // A later blank cuts the list even though the old entries are still stored.
    ASSERT_TRUE(Ask(board, BlankEntryFrame(1, 5, 2)));
    EXPECT_EQ(board.listLength(5), 1);
    EXPECT_EQ(Ask(board, ReadEntryFrame(1, 5, 3))->at(6), 0);
    // Writing the gap back revives them.
    ASSERT_TRUE(Ask(board, EntryRequest(5, 2, 1, date, 0, QTime(1, 1, 1), 2)));
    EXPECT_EQ(board.listLength(5), 3);
}

TEST(Board, ClockSetReadAndRunning)
{
    struct {
        const char *name;
        QDateTime set;
        int toldWeekday; // 0: the date's own
        int64_t advanceMs;
        Frame expectedFromByte4; // clock reply bytes 4..10
    } cases[] = {
        {"set and read back", kSunday, 0, 0, {13, 4, 28, 1, 10, 23, 38}},
        {"runs", kSunday, 0, 1500, {13, 4, 28, 1, 10, 23, 39}},
        {"runs into the next day and year",
         QDateTime(QDate(2013, 12, 31), QTime(23, 59, 59)),
         0,
         1000,
         {14, 1, 1, 4, 0, 0, 0}},
        {"keeps the weekday it was told", kSunday, 5, 0, {13, 4, 28, 5, 10, 23, 38}},
        {"told weekday moves on with the days", kSunday, 7, 24 * 3600 * 1000, {13, 4, 29, 1, 10, 23, 38}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BoardSim board = Board(QDateTime(QDate(2020, 1, 1), QTime(0, 0)));
        Frame set = SetClockFrame(1, c.set);
        if (c.toldWeekday) {
            set[7] = uint8_t(c.toldWeekday);
            SealFrame(set);
        }
        const std::optional<Frame> ack = Ask(board, set);
        ASSERT_TRUE(ack);
        ExpectSealedReply(*ack, wire::kSetClock);
        board.advance(c.advanceMs);
        const std::optional<Frame> reply = Ask(board, ReadClockFrame(1));
        ASSERT_TRUE(reply);
        ExpectSealedReply(*reply, wire::kReadClock);
        EXPECT_TRUE(std::equal(reply->begin() + 4, reply->begin() + 11, c.expectedFromByte4.begin()));
    }
}

TEST(Board, ScheduleEntriesFireOnTheirDay)
{
    const QTime nine(9, 0, 0);
    const QDateTime saturday(QDate(2013, 4, 27), QTime(8, 0));
    const QDateTime sunday(QDate(2013, 4, 28), QTime(8, 0));
    constexpr int64_t kHour = 3600 * 1000;
    struct {
        const char *name;
        uint8_t mode;
        uint8_t mask;
        QDate fixed;
        QDateTime start;
        int toldWeekday; // 0: the date's own
        int64_t advanceMs;
        std::optional<QDateTime> firedAt;
    } cases[] = {
        {"daily at its second",
         1,
         0,
         {},
         QDateTime(sunday.date(), QTime(8, 59, 59)),
         0,
         1000,
         QDateTime(sunday.date(), nine)},
        {"daily not before", 1, 0, {}, QDateTime(sunday.date(), QTime(8, 59, 59)), 0, 999, std::nullopt},
        {"weekly Sunday is bit 0", 2, 0x01, {}, saturday, 0, 26 * kHour, QDateTime(sunday.date(), nine)},
        {"weekly Sunday skips Saturday", 2, 0x01, {}, saturday, 0, 2 * kHour, std::nullopt},
        {"weekly Monday is bit 1", 2, 0x02, {}, saturday, 0, 72 * kHour, QDateTime(QDate(2013, 4, 29), nine)},
        {"weekly Saturday is bit 6",
         2,
         0x40,
         {},
         saturday.addDays(-1),
         0,
         72 * kHour,
         QDateTime(saturday.date(), nine)},
        {"weekly follows the weekday the board was told",
         2,
         0x01,
         {},
         saturday,
         1,
         2 * kHour,
         QDateTime(saturday.date(), nine)},
        {"fixed date on its day", 3, 0, QDate(2013, 4, 29), sunday, 0, 72 * kHour, QDateTime(QDate(2013, 4, 29), nine)},
        {"fixed date of another year", 3, 0, QDate(2014, 4, 29), sunday, 0, 72 * kHour, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BoardSim board = Board();
        Frame set = SetClockFrame(1, c.start);
        if (c.toldWeekday) {
            set[7] = uint8_t(c.toldWeekday);
            SealFrame(set);
        }
        ASSERT_TRUE(Ask(board, set));
        ASSERT_TRUE(Ask(board, EntryRequest(7, 1, c.mode, c.fixed, c.mask, nine, wire::kActionPullIn)));
        board.advance(c.advanceMs);
        EXPECT_EQ(board.relayOn(7), c.firedAt.has_value());
        if (c.firedAt) {
            ASSERT_EQ(board.relayLog().size(), 1u);
            EXPECT_EQ(board.relayLog()[0].cause, QStringLiteral("schedule ch 7 #1"));
            EXPECT_EQ(board.relayLog()[0].time, QDateTime(c.firedAt->date(), c.firedAt->time(), Qt::UTC));
        }
    }
}

TEST(Board, ScheduleOrderListEndAndClockJumps)
{
    BoardSim board = Board(QDateTime(kSunday.date(), QTime(7, 59, 59)));
    ASSERT_TRUE(Ask(board, Daily(3, 1, QTime(8, 0, 0))));
    ASSERT_TRUE(Ask(board, Daily(3, 2, QTime(8, 0, 5), wire::kActionRelease)));
    ASSERT_TRUE(Ask(board, Daily(4, 7, QTime(8, 0, 2))));
    // Channel 5: entry 2 lies past the blank at 1 and must never fire.
    ASSERT_TRUE(Ask(board, Daily(5, 2, QTime(8, 0, 3))));
    ASSERT_TRUE(Ask(board, BlankEntryFrame(1, 5, 1)));
    // Channel 4, entries 1..6 are empty: entry 7 is past the end too.
    ASSERT_TRUE(Ask(board, Daily(4, 1, QTime(8, 0, 1))));

    board.advance(10 * 1000);
    struct Expected {
        int channel;
        bool on;
        const char *cause;
        QTime at;
    } expected[] = {
        {3, true, "schedule ch 3 #1", QTime(8, 0, 0)},
        {4, true, "schedule ch 4 #1", QTime(8, 0, 1)},
        {3, false, "schedule ch 3 #2", QTime(8, 0, 5)},
    };
    ASSERT_EQ(board.relayLog().size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].cause);
        const RelayChange &got = board.relayLog()[i];
        EXPECT_EQ(got.channel, expected[i].channel);
        EXPECT_EQ(got.on, expected[i].on);
        EXPECT_EQ(got.cause, QString::fromLatin1(expected[i].cause));
        EXPECT_EQ(got.time.time(), expected[i].at);
    }

    // Setting the clock past an entry's time does not fire it; running past it does.
    ASSERT_TRUE(Ask(board, RelayFrame(1, 16, 0, 0x08, 0))); // channel 4 on, everything else off
    ASSERT_TRUE(Ask(board, SetClockFrame(1, QDateTime(QDate(2013, 4, 29), QTime(8, 0, 4)))));
    board.advance(500);
    EXPECT_EQ(board.relayMask(), 0x0008);
    board.advance(1000);
    EXPECT_EQ(board.relayMask(), 0x0008) << "08:00:05 release of a relay already off";
    board.advance(24 * 3600 * 1000);
    EXPECT_EQ(board.relayMask(), 0x0008) << "ch 3 on at 08:00:00 then off at 08:00:05 the next day";
    EXPECT_EQ(board.relayLog().back().cause, QStringLiteral("schedule ch 3 #2"));
}

TEST(Board, FaultInjection)
{
    constexpr int kRequests = 200;
    const Frame status = RelayFrame(1, 16, 0, 0, 0);
    auto answered = [&](BoardFaults faults) {
        BoardSim board = Board(kSunday, faults);
        std::vector<int> which;
        for (int i = 0; i < kRequests; ++i)
            if (!board.feed(Bytes(status)).empty())
                which.push_back(i);
        return which;
    };
    BoardFaults drop;
    drop.dropPercent = 50;
    drop.seed = 7;
    const std::vector<int> first = answered(drop);
    EXPECT_EQ(answered(drop), first) << "same seed, same drops";
    EXPECT_GT(first.size(), size_t(kRequests / 4));
    EXPECT_LT(first.size(), size_t(kRequests * 3 / 4));
    drop.seed = 8;
    EXPECT_NE(answered(drop), first) << "another seed, other drops";

    BoardFaults corrupt;
    corrupt.corruptPercent = 100;
    BoardSim clean = Board();
    BoardSim damaged = Board(kSunday, corrupt);
    for (int i = 0; i < 50; ++i) {
        const std::optional<Frame> good = Ask(clean, status);
        const std::optional<Frame> bad = Ask(damaged, status);
        ASSERT_TRUE(good && bad);
        int differing = 0;
        for (int b = 0; b < kFrameSize; ++b)
            differing += good->at(b) != bad->at(b);
        EXPECT_EQ(differing, 1);
    }

    BoardFaults silent;
    silent.silent = true;
    BoardSim mute = Board(kSunday, silent);
    EXPECT_TRUE(mute.feed(Bytes(RelayFrame(1, 16, 0, 0xFF, 0xFF))).empty());
    EXPECT_EQ(mute.relayMask(), 0);

    BoardFaults noAck;
    noAck.noWriteAck = true;
    BoardSim forgetful = Board(kSunday, noAck);
    EXPECT_TRUE(forgetful.feed(Bytes(Daily(2, 1, QTime(6, 0)))).empty());
    const std::optional<Frame> stored = Ask(forgetful, ReadEntryFrame(1, 2, 1));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->at(6), 1) << "stored even though not acknowledged";
    EXPECT_FALSE(forgetful.notes().empty());
}

TEST(Board, CutsTheStreamAndIgnoresBadFrames)
{
    const QByteArray status = Bytes(RelayFrame(1, 16, 0, 0, 0));
    auto damaged = [&](int at) {
        QByteArray b = status;
        b[at] = char(b[at] + 1);
        return b;
    };
    struct {
        const char *name;
        uint8_t address;
        std::vector<QByteArray> pieces;
        size_t replies;
        int ignored;
    } cases[] = {
        {"one frame", 1, {status}, 1, 0},
        {"bad sum", 1, {damaged(20)}, 0, 1},
        {"bad XOR", 1, {damaged(21)}, 0, 1},
        {"damaged payload", 1, {damaged(7)}, 0, 1},
        {"another board's address", 1, {Bytes(RelayFrame(2, 16, 0, 0, 0))}, 0, 0},
        {"board at address 0", 0, {Bytes(RelayFrame(0, 16, 0, 0, 0))}, 1, 0},
        {"reply header is not a request", 1, {QByteArray(status).replace(0, 1, "\x22")}, 0, 0},
        {"garbage before a frame", 1, {QByteArray("\x01\x02\x03") + status}, 1, 0},
        {"bad frame then good frame", 1, {damaged(9) + status}, 1, 1},
        {"half a frame, then a whole one", 1, {status.left(11), status}, 1, 1},
        {"frame in three pieces", 1, {status.left(5), status.mid(5, 10), status.mid(15)}, 1, 0},
        {"two frames at once", 1, {status + status}, 2, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BoardConfig config;
        config.address = c.address;
        BoardSim board(config, kSunday);
        size_t replies = 0;
        for (const QByteArray &piece : c.pieces)
            replies += board.feed(piece).size();
        EXPECT_EQ(replies, c.replies);
        EXPECT_EQ(board.ignoredFrames(), c.ignored);
    }
}

} // namespace
