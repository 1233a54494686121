// Comparing the program's schedules with a board's, slot by slot.
#include "schedule/bookcompare.h"

#include <gtest/gtest.h>

namespace {

// A record of channel 1, "flags weekdays yyyyMMdd hhmmss": flags open, daily, weekly; weekdays Monday first.
EntryRef R(const QString &fields)
{
    const QStringList f = fields.split(u' ');
    return std::make_shared<Clsdata>(*StrToData(f[0] + f[1] + QStringLiteral("01") + f[2] + f[3]));
}

// "slot kind fields", e.g. "2 changed 分" or "3 only on board".
QStringList Summary(const ChannelComparison &c)
{
    QStringList out;
    for (const EntryDifference &d : c.differences) {
        const QString kind = d.kind == DifferenceKind::OnlyInProgram ? QStringLiteral("only in program")
                             : d.kind == DifferenceKind::OnlyOnBoard
                                 ? QStringLiteral("only on board")
                                 : QStringLiteral("changed ") + EntryFieldNames(d.fields).join(u',');
        out << QString::number(d.number) + u' ' + kind;
    }
    return out;
}

TEST(BookCompare, ChannelsSlotBySlotAndWholeBooks)
{
    const EntryRef daily = R("110 0000000 00000000 083000");
    const EntryRef weekly = R("001 1010100 00000000 180000");
    const EntryRef fixed = R("100 0000000 20130428 060000");
    const EntryRef blank = R("000 0000000 00000000 000000");
    struct {
        const char *name;
        QList<EntryRef> program, board;
        QString expected; // the differences, "; " between them
    } cases[] = {
        {"same", {daily, weekly, fixed}, {daily, weekly, fixed}, ""},
        {"both empty", {}, {}, ""},
        {"reordered", {daily, weekly}, {weekly, daily}, "1 changed 方式,星期,时,分,动作; 2 changed 方式,星期,时,分,动作"},
        {"missing on the board", {daily, weekly, fixed}, {daily}, "2 only in program; 3 only in program"},
        {"extra on the board", {daily}, {daily, fixed}, "2 only on board"},
        {"empty slots past the board's end", {daily}, {daily, blank, blank}, ""},
        {"one minute", {daily}, {R("110 0000000 00000000 083100")}, "1 changed 分"},
        {"action", {daily}, {R("010 0000000 00000000 083000")}, "1 changed 动作"},
        {"weekdays of a weekly entry", {weekly}, {R("001 1010101 00000000 180000")}, "1 changed 星期"},
        {"date of a fixed entry", {fixed}, {R("100 0000000 20140529 060000")}, "1 changed 年,月,日"},
        {"two-digit year: 1999 is 2099", {R("100 0000000 19990101 060000")}, {R("100 0000000 20990101 060000")}, ""},
        {"both flags is the daily entry read back", {R("111 1111100 20130428 083000")}, {daily}, ""},
        {"a daily entry's weekdays and date are not compared", {daily}, {R("110 0101010 20200101 083000")}, ""},
        {"both flags against weekly", {R("111 1111100 00000000 083000")}, {R("101 1111101 00000000 083000")},
         "1 changed 方式,星期"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const ChannelComparison result = CompareChannel(1, c.program, c.board);
        EXPECT_EQ(Summary(result).join(QStringLiteral("; ")), c.expected);
        EXPECT_EQ(result.verdict, c.expected.isEmpty() ? ChannelVerdict::Same : ChannelVerdict::Differs);
    }

    ScheduleBook program, board;
    // Channel 1 the same, 2 a second apart, 3 not read from the board, 4 empty on both sides.
    for (auto [book, channel, time] : {std::tuple{&program, 1, "080000"}, {&board, 1, "080000"},
                                       {&program, 2, "090000"}, {&board, 2, "090001"}, {&program, 3, "100000"}}) {
        const EntryRef e = R(QStringLiteral("110 0000000 00000000 ") + time);
        e->nRoute = int16_t(channel), e->nNo = 1;
        book->add(e);
    }
    const QList<ChannelComparison> all = CompareBooks(program, board, {1, 2, 3, 4}, {3});
    ASSERT_EQ(all.size(), 4);
    EXPECT_EQ(std::pair(Summary(all[1]).join(u';'), all[1].differences[0].program->nStartHour),
              std::pair(QStringLiteral("1 changed 秒"), int16_t(9))); // the program's side is the program's
    const auto S = ChannelVerdict::Same;
    EXPECT_EQ(std::tuple(all[0].verdict, all[2].verdict, all[3].verdict), std::tuple(S, ChannelVerdict::Unread, S));
    EXPECT_EQ(std::pair(AllSame(all), AllSame(CompareBooks(program, board, {1, 4}))), std::pair(false, true));
}

} // namespace
