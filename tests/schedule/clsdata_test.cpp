// Record strings, conversions and the book's keys and order.
#include "schedule/clsdata.h"
#include "schedule/schedulebook.h"

#include "support/printers.h"

#include <gtest/gtest.h>

namespace {

EntryRef entry(int route, int no, int hour = 0)
{
    return std::make_shared<Clsdata>(
        Clsdata{.nRoute = int16_t(route), .nNo = int16_t(no), .nStartHour = int16_t(hour)});
}

TEST(RecordString, OddRecords)
{
    // A flag digit other than 0 is true and written back as 1; the weekday slice is kept as it stands.
    EXPECT_EQ(StrToData(u"5011x100001200000000180530")->GetStr(), QStringLiteral("1011x100001200000000180530"));
    // Other lengths give the default entry, which belongs to no channel and is the empty record.
    for (const QString &r : {kEmptyRecord.left(25), kEmptyRecord + QStringLiteral("1")})
        EXPECT_EQ(StrToData(r), Clsdata{});
    EXPECT_EQ(Clsdata{}.GetStr(), kEmptyRecord);
    // A non-digit in a flag or number slice is an error for the caller.
    for (int pos : {1, 3, 11, 13, 26}) {
        QString r = QStringLiteral("11000000000100000000083000");
        r[pos - 1] = QLatin1Char('x');
        ConvertError err;
        EXPECT_FALSE(StrToData(r, &err));
        EXPECT_EQ(err.position, pos);
    }
    // Out-of-range fields are clamped into their slice: always 26 characters.
    Clsdata c;
    c.nRoute = 200, c.nStartYear = -5, c.nStartHour = 123, c.strWeek = QStringLiteral("11");
    EXPECT_EQ(c.GetStr(), QStringLiteral("00011000009900000000990000"));
    EXPECT_TRUE(IsBlankRecord(u"00011111110300000000000000"));
    EXPECT_FALSE(IsBlankRecord(u"00011111110300000000000001"));
}

TEST(ScheduleBook, OrderKeysDuplicatesAndRemoval)
{
    ScheduleBook book;
    EXPECT_TRUE(book.add(entry(2, 1)) && book.add(entry(1, 1)) && book.add(entry(2, 2)));
    EXPECT_FALSE(book.add(entry(1, 1, 9))); // the key is taken: nothing added
    QStringList keys;
    for (const auto &item : book.items())
        keys << item.key;
    EXPECT_EQ(keys, (QStringList{"key02001", "key01001", "key02002"}));
    EXPECT_EQ(book.find(QStringLiteral("key01001"))->nStartHour, 0);
    EXPECT_EQ(std::pair(int(GetCount(book, 2)), int(GetCount(book, 5))), std::pair(2, 0));
    EXPECT_TRUE(book.remove(QStringLiteral("key02001")) && !book.remove(QStringLiteral("key02001")));

    book.append(entry(1, 1)); // append never loses an entry whose number is taken
    EXPECT_EQ(book.channel(1).last()->nNo, 2);

    ScheduleBook clash; // two entries claiming one number are renumbered, not dropped
    clash.add(QStringLiteral("key03001"), entry(5, 1));
    clash.add(QStringLiteral("key05001"), entry(5, 1));
    clash.rekey();
    EXPECT_EQ(clash.items()[1].key, QStringLiteral("key05002"));
}

} // namespace
