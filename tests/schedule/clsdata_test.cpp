// Record strings, conversions and the book's keys and order.
#include "schedule/clsdata.h"
#include "schedule/schedulebook.h"

#include <gtest/gtest.h>

namespace {

EntryRef entry(int route, int no)
{
    auto e = std::make_shared<Clsdata>();
    e->nRoute = int16_t(route);
    e->nNo = int16_t(no);
    e->bIsEveryDay = true;
    return e;
}

struct RecordCase {
    const char *name;
    QString record;
    Clsdata fields;
};

Clsdata make(bool open, bool daily, bool weekly, const char *week, int route, int y, int mo, int d, int h, int mi, int s)
{
    Clsdata c;
    c.bIsOpen = open;
    c.bIsEveryDay = daily;
    c.bIsWeek = weekly;
    c.strWeek = QString::fromLatin1(week);
    c.nRoute = int16_t(route);
    c.nStartYear = int16_t(y);
    c.nStartMonth = int16_t(mo);
    c.nStartDay = int16_t(d);
    c.nStartHour = int16_t(h);
    c.nStartMin = int16_t(mi);
    c.nStartSecond = int16_t(s);
    return c;
}

TEST(RecordString, WorkedExamplesConvertBothWays)
{
    const RecordCase cases[] = {
        {"daily channel 1 pull in at 08:30", QStringLiteral("11000000000100000000083000"),
         make(true, true, false, "0000000", 1, 0, 0, 0, 8, 30, 0)},
        {"weekly Mon Wed Fri channel 12 release", QStringLiteral("00110101001200000000180530"),
         make(false, false, true, "1010100", 12, 0, 0, 0, 18, 5, 30)},
        {"fixed date 2013-04-28 channel 16", QStringLiteral("10000000001620130428060000"),
         make(true, false, false, "0000000", 16, 2013, 4, 28, 6, 0, 0)},
        {"new entry is the empty record", kEmptyRecord, Clsdata{}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.fields.GetStr(), c.record);
        const auto back = StrToData(c.record);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, c.fields);
        EXPECT_EQ(back->nNo, 0);
    }
}

TEST(RecordString, OddRecordsAndFlags)
{
    // A flag digit other than 0 reads as true and is written back as 1.
    auto five = StrToData(u"51000000000100000000083000");
    ASSERT_TRUE(five);
    EXPECT_TRUE(five->bIsOpen);
    EXPECT_EQ(five->GetStr(), QStringLiteral("11000000000100000000083000"));

    // The weekday slice is taken as it stands.
    auto odd = StrToData(QStringLiteral("001") + QStringLiteral("1x10000") + QStringLiteral("12000000001805") + QStringLiteral("30"));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->strWeek, QStringLiteral("1x10000"));
    EXPECT_EQ(odd->GetStr().mid(3, 7), QStringLiteral("1x10000"));

    // Wrong lengths give the default entry, which belongs to no channel.
    for (const QString &r : {kEmptyRecord.left(25), kEmptyRecord + QStringLiteral("1"), QString()}) {
        auto d = StrToData(r);
        ASSERT_TRUE(d);
        EXPECT_EQ(*d, Clsdata{});
    }

    // A non-digit in a flag or number slice is an error for the caller.
    for (int pos : {1, 3, 11, 13, 26}) {
        QString r = QStringLiteral("11000000000100000000083000");
        r[pos - 1] = QLatin1Char('x');
        ConvertError err;
        EXPECT_FALSE(StrToData(r, &err)) << pos;
        EXPECT_EQ(err.position, pos);
    }
}

TEST(RecordString, AlwaysTwentySixCharactersEvenOutOfRange)
{
    Clsdata c;
    c.nRoute = 200;
    c.nStartYear = -5;
    c.nStartHour = 123;
    c.strWeek = QStringLiteral("11");
    const QString r = c.GetStr();
    EXPECT_EQ(r.size(), kRecordLength);
    EXPECT_EQ(r, QStringLiteral("00011000009900000000990000"));
    c.strWeek = QStringLiteral("1111111111");
    EXPECT_EQ(c.GetStr().size(), kRecordLength);
}

TEST(RecordString, BlankEntriesAndKeys)
{
    Clsdata blank;
    blank.nRoute = 3;
    blank.nNo = 7;
    blank.strWeek = QStringLiteral("1111111");
    EXPECT_TRUE(IsBlankRecord(blank.GetStr()));
    blank.nStartSecond = 1;
    EXPECT_FALSE(IsBlankRecord(blank.GetStr()));
    EXPECT_EQ(EntryKey(3, 1), QStringLiteral("key03001"));
    EXPECT_EQ(RecordKey(16, 255), QStringLiteral("16255"));
}

TEST(ScheduleBook, OrderKeysDuplicatesAndRemoval)
{
    ScheduleBook book;
    EXPECT_TRUE(book.add(entry(2, 1)));
    EXPECT_TRUE(book.add(entry(1, 1)));
    EXPECT_TRUE(book.add(entry(2, 2)));
    auto dup = entry(1, 1);
    dup->nStartHour = 9;
    EXPECT_FALSE(book.add(dup));
    EXPECT_EQ(book.size(), 3);
    EXPECT_EQ(book.find(QStringLiteral("key01001"))->nStartHour, 0);

    QStringList keys;
    for (const auto &item : book.items())
        keys << item.key;
    EXPECT_EQ(keys, (QStringList{"key02001", "key01001", "key02002"}));
    EXPECT_EQ(GetCount(book, 2), 2);
    EXPECT_EQ(GetCount(book, 5), 0);

    EXPECT_TRUE(book.remove(QStringLiteral("key02001")));
    EXPECT_FALSE(book.remove(QStringLiteral("key02001")));
    EXPECT_EQ(book.size(), 2);

    // append never loses an entry whose number is taken.
    book.append(entry(1, 1));
    EXPECT_EQ(book.size(), 3);
    EXPECT_EQ(book.channel(1).last()->nNo, 2);
}

TEST(ScheduleBook, RekeyResolvesClashingNumbersWithoutLoss)
{
    ScheduleBook book;
    book.add(QStringLiteral("key03001"), entry(5, 1));
    book.add(QStringLiteral("key05001"), entry(5, 1));
    book.rekey();
    ASSERT_EQ(book.size(), 2);
    EXPECT_EQ(book.items()[0].key, QStringLiteral("key05001"));
    EXPECT_EQ(book.items()[1].key, QStringLiteral("key05002"));
}

} // namespace
