// What a verify shows and what taking the board's version does to the book.
#include "schedule/verifyreport.h"

#include "entries.h"

#include <gtest/gtest.h>

namespace {

using namespace entries;

TEST(VerifyReport, DifferenceRowsShowBothSidesAndAnEarlyEndLeavesTheRestUnread)
{
    const QList<EntryRef> program{Daily(true, "08:00:00"), Daily(false, "09:00:00"), Daily(true, "10:00:00")};
    const QList<EntryRef> board{Daily(true, "08:00:00"), Daily(true, "09:00:30")};
    const QList<EntryRef> longer = program + QList<EntryRef>{Weekly(false, "1000000", "11:00:00")};
    // name, board, rows "number|program|board|note"
    const std::tuple<const char *, QList<EntryRef>, QStringList> cases[] = {
        {"changed and missing on the board",
         board,
         {"002|第1路, 每天, 09:00:00 ,断开 |第1路, 每天, 09:00:30 ,吸合 |不同：秒、动作",
          "003|第1路, 每天, 10:00:00 ,吸合 ||仅在软件中"}},
        {"an extra entry on the board", longer, {"004||第1路, 每星期一， 11:00:00 ,断开 |仅在设备上"}},
        {"the same lists give no rows", program, {}},
    };
    for (const auto &[name, onBoard, expected] : cases) {
        QStringList rows;
        for (const DifferenceRow &r : DifferenceRows(CompareChannel(1, program, onBoard)))
            rows << QStringList{r.number, r.program, r.board, r.note}.join(u'|');
        EXPECT_EQ(rows, expected) << name;
    }
    // A run that ended early leaves its channel and the rest unread: name, channel, success, ended at, unread.
    const std::tuple<const char *, int, bool, int, QList<int>> runs[] = {
        {"one channel read in full", 3, true, 3, {}},
        {"one channel that failed", 3, false, 3, {3}},
        {"all, stopped in channel 15", 0, false, 15, {15, 16}},
        {"all, failed at once", 0, false, 1, VerifyChannels(0)},
    };
    for (const auto &[name, channel, success, endedAt, unread] : runs)
        EXPECT_EQ(UnreadChannels(VerifyChannels(channel), success, endedAt), unread) << name;
    EXPECT_EQ(VerifyChannels(0).size(), kChannelCount);
}

TEST(VerifyReport, TakingTheBoardsChannelReplacesThatChannelOnly)
{
    ScheduleBook book = Book({Daily(true, "08:00:00"), Daily(false, "18:00:00")}, 1);
    const ScheduleBook other = Book({Daily(true, "07:00:00")}, 2);
    book.add(other.items().first().entry);
    const EntryRef blank = std::make_shared<Clsdata>();
    const QList<EntryRef> board{Weekly(true, "0000011", "09:00:00"), Daily(true, "12:00:00"), blank, blank};
    TakeBoardChannel(book, 1, board);
    QStringList keys;
    for (const auto &item : book.items())
        keys << item.key + u'=' + item.entry->GetStr();
    EXPECT_EQ(keys, (QStringList{"key02001=11000000000200000000070000", "key01001=10100000110100000000090000",
                                 "key01002=11000000000100000000120000"}));
    board[0]->nStartHour = 23; // the book holds copies
    EXPECT_EQ(book.channel(1).first()->nStartHour, 9);

    TakeBoardChannel(book, 2, {blank});
    EXPECT_EQ(book.countOf(2), 0);
    EXPECT_EQ(book.size(), 2);
}

} // namespace
