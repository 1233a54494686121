// List texts, renumbering and the delete commands.
#include "schedule/channelview.h"

#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

TEST(ChannelView, DataToTextForEveryModeAndAction)
{
    const std::pair<const char *, QString> cases[] = {
        {"11000000000100000000083000", "第1路, 每天, 08:30:00 ,吸合 "},
        {"00110101001200000000180530", "第12路, 每星期一三五， 18:05:30 ,断开 "},
        {"10000000001620130428060000", "第16路, 固定日期 2013-04-28 06:00:00 ,吸合 "},
        {"10100000000500000000000000", "第5路, 每星期， 00:00:00 ,吸合 "},
        {"00100000110200000000120000", "第2路, 每星期六日， 12:00:00 ,断开 "},
        {"01110000000700000000010203", "第7路, 每天, 01:02:03 ,断开 "}, // both flags: daily
    };
    for (const auto &[record, text] : cases)
        EXPECT_EQ(DataToText(*StrToData(QString::fromLatin1(record))), text);
}

ScheduleBook bookOf(const QList<std::tuple<int, int, int>> &entries) // channel, number, hour
{
    ScheduleBook book;
    for (auto [channel, number, hour] : entries)
        book.add(std::make_shared<Clsdata>(
            Clsdata{.nRoute = int16_t(channel), .nNo = int16_t(number), .nStartHour = int16_t(hour)}));
    return book;
}

QStringList keysAndHours(const ScheduleBook &book)
{
    QStringList out;
    for (const auto &item : book.items())
        out << item.key + QLatin1Char('@') + QString::number(item.entry->nStartHour);
    return out;
}

TEST(ChannelView, FillListAndDeletesRenumberOneChannelAndKeepKeysInStep)
{
    // Interleaved channels, numbered with gaps as a board may report them.
    ScheduleBook book = bookOf({{1, 1, 8}, {2, 3, 9}, {1, 2, 10}, {2, 7, 11}});
    const QList<ListRow> rows = FillList(book, 2);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].number + u' ' + rows[1].text, QStringLiteral("002 第2路, 固定日期 0000-00-00 11:00:00 ,断开 "));
    EXPECT_EQ(keysAndHours(book), (QStringList{"key01001@8", "key02001@9", "key01002@10", "key02002@11"}));
    EXPECT_TRUE(FillList(book, 9).isEmpty());

    // Deletes renumber their channel and leave the others.
    const std::pair<QList<int>, QStringList> cases[] = {
        {{2}, {"key06001@11", "key05001@1", "key06002@12", "key05002@3", "key05003@4"}},
        {{1, 3}, {"key06001@11", "key06002@12", "key05001@2", "key05002@4"}},
        {{}, {"key06001@11", "key05001@1", "key06002@12", "key05002@2", "key05003@3", "key05004@4"}},
    };
    for (const auto &[rows, expected] : cases) {
        book = bookOf({{6, 1, 11}, {5, 1, 1}, {6, 2, 12}, {5, 2, 2}, {5, 3, 3}, {5, 4, 4}});
        DeleteRows(book, 5, rows);
        EXPECT_EQ(keysAndHours(book), expected);
    }
    book = bookOf({{6, 1, 11}, {5, 1, 1}});
    DeleteChannel(book, 4); // an empty channel
    DeleteChannel(book, 5);
    EXPECT_EQ(keysAndHours(book), QStringList{"key06001@11"});
}

} // namespace
