// List texts, renumbering and the delete commands.
#include "schedule/channelview.h"

#include <gtest/gtest.h>

namespace {

EntryRef fromRecord(const char *record, int no)
{
    auto e = std::make_shared<Clsdata>(*StrToData(QString::fromLatin1(record)));
    e->nNo = int16_t(no);
    return e;
}

TEST(ChannelView, DataToTextForEveryModeAndAction)
{
    struct {
        const char *name;
        const char *record;
        QString text;
    } cases[] = {
        {"daily pull in", "11000000000100000000083000", QStringLiteral("第1路, 每天, 08:30:00 ,吸合 ")},
        {"weekly Mon Wed Fri release", "00110101001200000000180530", QStringLiteral("第12路, 每星期一三五， 18:05:30 ,断开 ")},
        {"fixed date pull in", "10000000001620130428060000", QStringLiteral("第16路, 固定日期 2013-04-28 06:00:00 ,吸合 ")},
        {"fixed date release", "00000000000320990101235959", QStringLiteral("第3路, 固定日期 2099-01-01 23:59:59 ,断开 ")},
        {"weekly with no day", "10100000000500000000000000", QStringLiteral("第5路, 每星期， 00:00:00 ,吸合 ")},
        {"weekly Saturday and Sunday", "00100000110200000000120000", QStringLiteral("第2路, 每星期六日， 12:00:00 ,断开 ")},
        {"both mode flags show daily", "01110000000700000000010203", QStringLiteral("第7路, 每天, 01:02:03 ,断开 ")},
        {"daily release", "01000000000900000000235959", QStringLiteral("第9路, 每天, 23:59:59 ,断开 ")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DataToText(*StrToData(QString::fromLatin1(c.record))), c.text);
    }
}

TEST(ChannelView, FillListRenumbersOneChannelAndKeepsKeysInStep)
{
    ScheduleBook book;
    // Interleaved channels, numbers with gaps as a board may report them.
    book.add(fromRecord("11000000000100000000083000", 1));
    book.add(fromRecord("11000000000200000000083000", 3));
    book.add(fromRecord("11000000000100000000090000", 2));
    book.add(fromRecord("11000000000200000000100000", 7));

    const QList<ListRow> rows = FillList(book, 2);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].number, QStringLiteral("001"));
    EXPECT_EQ(rows[1].key, QStringLiteral("key02002"));
    EXPECT_EQ(rows[1].text, QStringLiteral("第2路, 每天, 10:00:00 ,吸合 "));
    EXPECT_TRUE(book.contains(QStringLiteral("key02002")));
    EXPECT_FALSE(book.contains(QStringLiteral("key02007")));
    // Channel 1 is untouched.
    EXPECT_EQ(book.channel(1)[1]->nNo, 2);
    EXPECT_TRUE(FillList(book, 9).isEmpty());

    // Adding after the renumbering finds a free key.
    auto added = fromRecord("11000000000200000000110000", GetCount(book, 2) + 1);
    EXPECT_TRUE(book.add(added));
}

QList<int> hoursOf(const ScheduleBook &book, int channel)
{
    QList<int> out;
    for (const auto &e : book.channel(channel))
        out << e->nStartHour;
    return out;
}

TEST(ChannelView, DeletesRenumberAndLeaveOtherChannels)
{
    struct {
        const char *name;
        QList<int> rows;
        QList<int> hoursLeft;
    } cases[] = {
        {"row 2 of 4", {2}, {1, 3, 4}},
        {"rows 1 and 3 together", {1, 3}, {2, 4}},
        {"no row selected", {}, {1, 2, 3, 4}},
        {"every row", {4, 1, 2, 3}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ScheduleBook book;
        for (int i = 1; i <= 4; ++i) {
            auto other = std::make_shared<Clsdata>();
            other->nRoute = 6;
            other->nNo = int16_t(i);
            other->nStartHour = int16_t(10 + i);
            book.add(other);
            auto e = std::make_shared<Clsdata>();
            e->nRoute = 5;
            e->nNo = int16_t(i);
            e->nStartHour = int16_t(i);
            book.add(e);
        }
        DeleteRows(book, 5, c.rows);
        EXPECT_EQ(hoursOf(book, 5), c.hoursLeft);
        for (int i = 0; i < c.hoursLeft.size(); ++i) {
            EXPECT_EQ(book.channel(5)[i]->nNo, i + 1);
            EXPECT_TRUE(book.contains(EntryKey(5, i + 1)));
        }
        EXPECT_EQ(hoursOf(book, 6), (QList<int>{11, 12, 13, 14}));
        EXPECT_TRUE(book.contains(QStringLiteral("key06004")));
    }

    ScheduleBook book;
    book.add(fromRecord("11000000000100000000083000", 1));
    DeleteChannel(book, 4);  // an empty channel
    EXPECT_EQ(book.size(), 1);
    DeleteChannel(book, 1);
    EXPECT_TRUE(book.isEmpty());
}

} // namespace
