// What each reply of the board does to lamps, status texts, flags and the book.
#include "device/clockdrift.h"
#include "device/engine.h"

#include "support/fakes.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

struct Decoder {
    explicit Decoder(Variant v = Variant::Standard, DeviceEngine::Clock clock = {})
        : engine(view, link, book, v, std::move(clock))
    {
    }
    void feed(const std::vector<std::pair<int, int>> &bytes, uint8_t code, bool seal = true)
    {
        Frame r = SealedReply(code);
        for (auto [i, v] : bytes)
            r[i] = uint8_t(v);
        if (seal)
            SealFrame(r);
        else
            r[20] = r[21] = 0; // as a board that leaves them unfilled
        engine.MSCommDown_OnComm(r);
    }
    FakeLink link;
    RecordingView view;
    ScheduleBook book;
    DeviceEngine engine;
};

TEST(Decoder, StatusAndClockReplies)
{
    Decoder d;
    d.feed({{0, 0x21}, {4, 0xFF}}, 16); // wrong header: nothing
    EXPECT_EQ(std::pair(d.view.lamps[0], d.engine.RecvBuf[0]), std::pair(0u, 0x21));

    d.feed({{4, 0x05}, {5, 0x80}}, 16, false); // unfilled check bytes are taken
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(d.view.lamps[k], k == 0 || k == 2 || k == 15 ? kLampGreen : kLampRed) << k;
    EXPECT_EQ(std::pair(d.engine.nLinkCount, d.engine.PendingCommand[16]), std::pair(5, kRelayOn));
    // The second reply repaints but does not load.
    d.feed({{13, 13}, {14, 4}, {15, 28}, {16, 1}, {17, 10}, {18, 23}, {19, 38}}, 16);
    EXPECT_EQ(std::tuple(d.view.lamps[0], d.engine.PendingCommand[1], d.view.activity),
              std::tuple(kLampRed, kRelayOn, QStringLiteral("模块当前时间:2013-04-28 10:23:38 星期0")));

    d.feed({{4, 13}, {5, 4}, {6, 28}, {7, 1}, {8, 10}, {9, 23}, {10, 38}}, 4);
    EXPECT_EQ(d.view.activity, QStringLiteral("模块当前时间:13-04-28 10:23:38"));

    for (Variant v : {Variant::Standard, Variant::Compat}) {
        Decoder c(v);
        c.feed({{4, 1}}, 19);
        EXPECT_EQ(std::pair(c.view.lamps[0], c.view.activity),
                  std::pair(v == Variant::Compat ? kLampGreen : 0u, QString()));
    }
}

// The board's reading has no zone, runs on in seconds, is compared with the computer's fields; its weekday is its own.
TEST(Decoder, BoardClockIsAPlainWallClockAcrossTheSummerTimeChanges)
{
    struct Berlin { // the computer's zone for this test
        QByteArray old = qgetenv("TZ");
        Berlin() { qputenv("TZ", "Europe/Berlin"), tzset(); }
        ~Berlin() { old.isNull() ? qunsetenv("TZ") : qputenv("TZ", old), tzset(); }
    } berlin;
    struct {
        const char *name, *computer; // the computer's clock as an instant when the reply comes, read in Berlin
        uint8_t code, at[7];         // a status (16) or clock (4) reply: year, month, day, weekday (1 Sunday), h, m, s
        std::optional<qint64> drift;
        int weekdayShift;
    } rows[] = {
        {"into the hour the computer skips", "2026-03-29T00:59:00Z", 16, {26, 3, 29, 1, 1, 59, 0}, -3600, 0},
        {"a 读时 reading inside that hour", "2026-03-29T01:30:00Z", 4, {26, 3, 29, 1, 2, 30, 0}, -3600, 0},
        {"the repeated hour, second time, no weekday", "2026-10-25T01:59:00Z", 16, {26, 10, 25, 0, 2, 59, 12}, 12, 0},
        {"year 00 with 2100's Friday", "2100-01-01T00:00:00Z", 16, {0, 1, 1, 6, 1, 0, 0}, std::nullopt, 6},
        {"a day that does not exist", "2026-02-28T11:00:00Z", 16, {26, 2, 30, 2, 12, 0, 0}, std::nullopt, 0},
    };
    for (const auto &r : rows) {
        QDateTime now = QDateTime::fromString(QString::fromLatin1(r.computer), Qt::ISODate).toLocalTime();
        Decoder d(Variant::Standard, [&] { return now; });
        Frame reply{wire::kReplyHeader, 1, r.code};
        std::copy(std::begin(r.at), std::end(r.at), reply.begin() + (r.code == wire::kStatus ? 13 : 4));
        SealFrame(reply);
        d.engine.MSCommDown_OnComm(reply);
        now = now.addSecs(120);
        const QDateTime read(QDate(2000 + r.at[0], r.at[1], r.at[2]), QTime(r.at[4], r.at[5], r.at[6]), Qt::UTC);
        const auto board = d.engine.boardClockNow();
        EXPECT_EQ(std::tuple(board ? board->toString(Qt::ISODate) : QString(),
                             board ? ClockDriftSeconds(*board, now) : std::nullopt, d.engine.boardWeekdayShift()),
                  std::tuple(read.addSecs(120).toString(Qt::ISODate), r.drift, r.weekdayShift))
            << r.name;
    }
}

TEST(Decoder, EntryRepliesBecomeEntriesOrAreDropped)
{
    // name, the reply's bytes, the entry added ("": none)
    const std::tuple<const char *, std::vector<std::pair<int, int>>, const char *> cases[] = {
        {"daily pull in", {{11, 8}, {12, 30}}, "11000000000100000000083000"},
        {"mode 3 fixed date", {{6, 3}, {7, 13}, {8, 4}, {9, 28}}, "10000000000120130428000000"},
        {"mode 5 and 255 are fixed date", {{6, 255}, {8, 1}, {9, 1}}, "10000000000120000101000000"},
        {"fixed date 2000-00-00 keeps its year", {{6, 3}, {14, 1}}, "00000000000120000000000000"},
        {"daily without a date has year 0", {{7, 13}}, "11000000000100000000000000"},
        {"weekly mask 0x2A releases", {{6, 2}, {10, 0x2A}, {14, 1}}, "00110101000100000000000000"},
        {"weekly mask 1 is Sunday", {{6, 2}, {10, 1}}, "10100000010100000000000000"},
        {"action 0 pulls in", {{14, 0}}, "11000000000100000000000000"},
        {"channel 0", {{4, 0}}, ""},
        {"hour 99", {{11, 99}}, ""},
    };
    for (const auto &[name, changed, record] : cases) {
        Decoder d;
        std::vector<std::pair<int, int>> bytes = {{4, 1}, {5, 1}, {6, 1}, {14, 2}};
        bytes.insert(bytes.end(), changed.begin(), changed.end());
        d.feed(bytes, 2, false);
        EXPECT_TRUE(d.engine.bReadReply) << name; // every reply counts as an answer
        QStringList got;
        for (const auto &item : d.book.items())
            got << item.entry->GetStr();
        EXPECT_EQ(got, *record ? QStringList{QString::fromLatin1(record)} : QStringList{}) << name;
    }

    Decoder d;
    d.feed({{4, 1}, {5, 1}, {6, 1}, {11, 1}}, 2);
    d.feed({{4, 1}, {5, 1}, {6, 1}, {11, 2}}, 2); // the same number again keeps the first
    EXPECT_EQ(ChannelRecords(d.book), QStringList{"key01001=11000000000100000000010000"});
}

} // namespace
