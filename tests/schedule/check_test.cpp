// The schedule check, one channel's entries per row.
#include "schedule/check.h"

#include "entries.h"
#include "support/printers.h"

#include <gtest/gtest.h>

namespace {
using namespace entries;

const QDateTime kNow(QDate(2026, 12, 7), QTime(12, 0)); // a Monday

QString Kinds(const QList<Finding> &findings)
{
    static const char *names[] = {"NeverFires", "DatePast",    "OppositeAtOnce", "Duplicate",
                                  "OneWay",     "ChannelFull", "IgnoredFields"};
    QStringList out;
    for (const Finding &f : findings)
        out << QStringLiteral("%1#%2").arg(names[int(f.kind)]).arg(f.number);
    return out.join(u' ');
}

// "+D@08:00:00 -W1000000@09:00:00 -F2027-01-01@18:00:00": pull-in (+) or release (-),
// daily, weekly on the days given (Monday first) or on a fixed date, at a time.
QList<EntryRef> L(const char *text)
{
    QList<EntryRef> out;
    for (const QString &t : QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts)) {
        const bool on = t[0] == u'+';
        const QString what = t.section(u'@', 0, 0).mid(2), time = t.section(u'@', 1);
        out << (t[1] == u'D' ? Daily(on, time) : t[1] == u'W' ? Weekly(on, what, time) : Fixed(on, what, time));
    }
    return out;
}

TEST(Check, FindingsPerChannel)
{
    // A sound pair the rows add to, so only the entry under test shows.
    auto with = [](const char *more) { return L("+D@08:00:00 -D@18:00:00") + L(more); };
    QList<EntryRef> full;
    for (int i = 0; i < kMaxEntriesPerChannel; ++i)
        full << Daily(i % 2 == 0, QTime(0, 0).addSecs(i * 60).toString(QStringLiteral("hh:mm:ss")));
    EntryRef dailyWithMask = Daily(true, "09:00:00");
    dailyWithMask->strWeek = QStringLiteral("1010000");
    EntryRef bothFlags = Weekly(true, "1000000", "09:00:00");
    bothFlags->bIsEveryDay = true;
    // name, the channel's entries, the findings: all of them problems but IgnoredFields, a warning
    const std::tuple<const char *, QList<EntryRef>, QString> cases[] = {
        {"weekly with no day", with("+W0000000@09:00:00"), "NeverFires#3"},
        {"fixed date a second ago", with("+F2026-12-07@11:59:59"), "DatePast#3"},
        {"fixed date a second ahead", with("+F2026-12-07@12:00:01"), ""},
        {"a date that does not exist", with("+F2026-02-30@09:00:00"), "NeverFires#3"},
        {"a blank record cuts the list", with("-F0000-00-00@00:00:00"), "NeverFires#3"},
        {"daily and weekly at midnight, opposite", L("+D@00:00:00 -D@18:00:00 -W1000000@00:00:00"), "OppositeAtOnce#3"},
        {"one second on different weekdays", L("+W1000000@12:00:00 -W0100000@12:00:00"), ""},
        {"fixed date on a weekly entry's day", L("+W1000000@12:00:00 -W0100000@13:00:00 -F2026-12-14@12:00:00"),
         "OppositeAtOnce#3"},
        {"a past fixed date fights nobody", with("-F2026-12-01@08:00:00"), "DatePast#3"},
        {"exact duplicate", with("+D@08:00:00"), "Duplicate#3"},
        {"pulled in, never released", L("+D@08:00:00 +W1000000@09:00:00"), "OneWay#1"},
        {"released, never pulled in", L("-W1000000@09:00:00"), "OneWay#1"},
        {"a release that cannot fire does not count", L("+D@08:00:00 -W0000000@18:00:00"), "OneWay#1 NeverFires#2"},
        {"a daily pull-in whose only release is a date ahead", L("+D@08:00:00 -F2027-01-01@18:00:00"), "OneWay#1"},
        {"a weekly release keeps a daily pull-in in check", L("+D@08:00:00 -W0000001@18:00:00"), ""},
        {"daily releases and a pull-in on a date ahead", L("-D@18:00:00 +F2027-01-01@08:00:00"), ""},
        {"dates only, ending released, one hour on two days", L("+F2026-12-08@12:00:00 -F2026-12-09@12:00:00"), ""},
        {"dates only, ending pulled in", L("-F2026-12-08@12:00:00 +F2026-12-09@12:00:00"), "OneWay#2"},
        {"dates only, opposite at one second: the release wins", L("+F2026-12-08@12:00:00 -F2026-12-08@12:00:00"),
         "OppositeAtOnce#2"},
        {"every release outdone by a pull-in at its second", L("-D@08:00:00 +D@08:00:00"), "OppositeAtOnce#2 OneWay#2"},
        {"the pull-ins behind a blank record never run", L("-D@18:00:00 -F0000-00-00@00:00:00 +D@18:00:00 +D@18:00:00"),
         "OneWay#1 NeverFires#2"},
        {"a full channel", full, "ChannelFull#255"},
        {"daily entry keeping a weekday mask", with("") << dailyWithMask, "IgnoredFields#3"},
        {"both flags", with("") << bothFlags, "IgnoredFields#3"},
    };
    for (const auto &[name, list, expected] : cases) {
        SCOPED_TRACE(name);
        const QList<Finding> found = CheckBook(Book(list, 4), kNow);
        EXPECT_EQ(Kinds(found), expected);
        const int problems = int(found.size() - expected.count(QStringLiteral("IgnoredFields")));
        const QString summary = problems ? QStringLiteral("检查发现%1处问题").arg(problems) : QString();
        const QString notes = problems == found.size() ? QString() : QStringLiteral("，另有1条提示");
        EXPECT_EQ(std::tuple(ProblemCount(found), FindingsPanelText(found), CheckSummary(found)),
                  std::tuple(problems, summary, (problems ? summary : QStringLiteral("未发现问题")) + notes));
        for (const Finding &f : found)
            EXPECT_TRUE(f.channel == 4 && f.entryText.startsWith(QStringLiteral("第4路")));
    }
    // What the one-way finding says: no release at all, none after the last date, or each one outdone.
    for (auto [list, says] : {std::pair{"+D@08:00:00", "本路没有会执行的断开"},
                              {"+D@08:00:00 -F2027-01-01@18:00:00", "2027-01-01 18:00:00之后本路不再断开"},
                              {"-D@08:00:00 +D@08:00:00 -F2026-12-01@08:00:00", "本路的断开都被同一秒的吸合盖过"}})
        for (const Finding &f : CheckBook(Book(L(list)), kNow)) // each list has one, by the rows above
            EXPECT_TRUE(f.kind != FindingKind::OneWay || f.message.startsWith(QString::fromUtf8(says))) << list;
}

} // namespace
