// Slot-by-slot comparison of the program's schedules with a board's; see bookcompare.h.
#include "schedule/bookcompare.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kWeekdays = 7;
constexpr int kTwoDigits = 100;

// A number as the record (and so the frame) carries it in two digits.
int twoDigits(int value, int maxInRecord = kTwoDigits - 1)
{
    return std::clamp(value, 0, maxInRecord) % kTwoDigits;
}

// Ticked weekdays, Monday first; anything but "1" is not ticked, a short mask is padded.
QString ticked(const QString &week)
{
    QString out(kWeekdays, QLatin1Char('0'));
    for (int i = 0; i < std::min<int>(kWeekdays, int(week.size())); ++i)
        if (week[i] == QLatin1Char('1'))
            out[i] = QLatin1Char('1');
    return out;
}

bool isBlank(const EntryRef &e)
{
    return !e || IsBlankRecord(e->GetStr());
}

} // namespace

unsigned EntryDifferences(const Clsdata &p, const Clsdata &b)
{
    constexpr int kMaxYearInRecord = 9999;
    unsigned fields = 0;
    const auto differ = [&fields](bool different, EntryField field) {
        if (different)
            fields |= field;
    };
    differ(p.mode() != b.mode(), kFieldMode);
    const bool weekly = p.mode() == EntryMode::Weekly || b.mode() == EntryMode::Weekly;
    const bool dated = p.mode() == EntryMode::FixedDate || b.mode() == EntryMode::FixedDate;
    if (dated) {
        differ(twoDigits(p.nStartYear, kMaxYearInRecord) != twoDigits(b.nStartYear, kMaxYearInRecord), kFieldYear);
        differ(twoDigits(p.nStartMonth) != twoDigits(b.nStartMonth), kFieldMonth);
        differ(twoDigits(p.nStartDay) != twoDigits(b.nStartDay), kFieldDay);
    }
    if (weekly)
        differ(ticked(p.strWeek) != ticked(b.strWeek), kFieldWeekdays);
    differ(twoDigits(p.nStartHour) != twoDigits(b.nStartHour), kFieldHour);
    differ(twoDigits(p.nStartMin) != twoDigits(b.nStartMin), kFieldMinute);
    differ(twoDigits(p.nStartSecond) != twoDigits(b.nStartSecond), kFieldSecond);
    differ(p.bIsOpen != b.bIsOpen, kFieldAction);
    return fields;
}

QStringList EntryFieldNames(unsigned fields)
{
    static const std::array<QString, 9> kNames = {
        QStringLiteral("方式"), QStringLiteral("年"),   QStringLiteral("月"),
        QStringLiteral("日"),   QStringLiteral("星期"), QStringLiteral("时"),
        QStringLiteral("分"),   QStringLiteral("秒"),   QStringLiteral("动作"),
    };
    QStringList names;
    for (size_t i = 0; i < kNames.size(); ++i)
        if (fields & (1u << i))
            names << kNames[i];
    return names;
}

ChannelComparison CompareChannel(int channel, const QList<EntryRef> &program, const QList<EntryRef> &board)
{
    ChannelComparison result{channel, ChannelVerdict::Same, {}};
    qsizetype boardEnd = board.size();
    while (boardEnd > 0 && isBlank(board[boardEnd - 1]))
        --boardEnd;
    const qsizetype slots = std::max(program.size(), boardEnd);
    for (qsizetype i = 0; i < slots; ++i) {
        const EntryRef p = i < program.size() ? program[i] : nullptr;
        const EntryRef b = i < boardEnd ? board[i] : nullptr;
        EntryDifference d{int(i + 1), DifferenceKind::Changed, p, b, 0};
        if (!b) {
            d.kind = DifferenceKind::OnlyInProgram;
        } else if (!p) {
            d.kind = DifferenceKind::OnlyOnBoard;
        } else {
            d.fields = EntryDifferences(*p, *b);
            if (d.fields == 0)
                continue;
        }
        result.differences << d;
    }
    if (!result.differences.isEmpty())
        result.verdict = ChannelVerdict::Differs;
    return result;
}

ChannelComparison UnreadChannel(int channel)
{
    return {channel, ChannelVerdict::Unread, {}};
}

QList<ChannelComparison> CompareBooks(const ScheduleBook &program, const ScheduleBook &board,
                                      const QList<int> &channels, const QList<int> &unread)
{
    QList<ChannelComparison> out;
    for (int channel : channels)
        out << (unread.contains(channel) ? UnreadChannel(channel)
                                         : CompareChannel(channel, program.channel(channel), board.channel(channel)));
    return out;
}

bool AllSame(const QList<ChannelComparison> &comparisons)
{
    return std::all_of(comparisons.begin(), comparisons.end(),
                       [](const ChannelComparison &c) { return c.verdict == ChannelVerdict::Same; });
}
