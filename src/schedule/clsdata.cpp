#include "schedule/clsdata.h"

#include <algorithm>

namespace {

QString padded(int value, int width)
{
    int max = 1;
    for (int i = 0; i < width; ++i)
        max *= 10;
    const int clamped = std::clamp(value, 0, max - 1);
    return QString::number(clamped).rightJustified(width, QLatin1Char('0'));
}

QChar flag(bool b)
{
    return b ? QLatin1Char('1') : QLatin1Char('0');
}

bool allDigits(QStringView s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

} // namespace

QString Clsdata::GetStr() const
{
    QString week = strWeek.left(7);
    week = week.leftJustified(7, QLatin1Char('0'));
    QString s;
    s.reserve(kRecordLength);
    s += flag(bIsOpen);
    s += flag(bIsEveryDay);
    s += flag(bIsWeek);
    s += week;
    s += padded(nRoute, 2);
    s += padded(nStartYear, 4);
    s += padded(nStartMonth, 2);
    s += padded(nStartDay, 2);
    s += padded(nStartHour, 2);
    s += padded(nStartMin, 2);
    s += padded(nStartSecond, 2);
    return s;
}

void Clsdata::ClearData()
{
    nStartHour = 0;
    nStartMin = 0;
    nStartSecond = 0;
}

EntryMode Clsdata::mode() const
{
    if (bIsEveryDay)
        return EntryMode::Daily;
    if (bIsWeek)
        return EntryMode::Weekly;
    return EntryMode::FixedDate;
}

bool Clsdata::isWithinRanges() const
{
    // 0 stands for "no date" in each date field.
    const bool dateOk = (nStartYear == 0 || (nStartYear >= 2000 && nStartYear <= 2099)) && nStartMonth >= 0 &&
                        nStartMonth <= 12 && nStartDay >= 0 && nStartDay <= 31;
    const bool weekOk = strWeek.size() == 7 && std::all_of(strWeek.begin(), strWeek.end(), [](QChar c) {
                            return c == QLatin1Char('0') || c == QLatin1Char('1');
                        });
    return nRoute >= 1 && nRoute <= kChannelCount && nNo >= 1 && nNo <= kMaxEntriesPerChannel && dateOk && weekOk &&
           nStartHour >= 0 && nStartHour <= 23 && nStartMin >= 0 && nStartMin <= 59 && nStartSecond >= 0 &&
           nStartSecond <= 59;
}

std::optional<Clsdata> StrToData(QStringView record, ConvertError *error)
{
    Clsdata d;
    if (record.size() != kRecordLength)
        return d;

    struct Slice {
        int from; // 1-based
        int width;
    };
    // Flags (1-3) and numbers (11-26) must be digits; the weekday slice is taken as it is.
    for (const Slice s : {Slice{1, 3}, Slice{11, 16}}) {
        const QStringView part = record.mid(s.from - 1, s.width);
        if (!allDigits(part)) {
            const auto bad = std::find_if(part.begin(), part.end(),
                                          [](QChar c) { return c < QLatin1Char('0') || c > QLatin1Char('9'); });
            if (error) {
                error->position = s.from + int(bad - part.begin());
                error->message = QStringLiteral("non-digit at position %1").arg(error->position);
            }
            return std::nullopt;
        }
    }

    const auto num = [&](int from, int width) { return int16_t(record.mid(from - 1, width).toInt()); };
    d.bIsOpen = record[0] != QLatin1Char('0');
    d.bIsEveryDay = record[1] != QLatin1Char('0');
    d.bIsWeek = record[2] != QLatin1Char('0');
    d.strWeek = record.mid(3, 7).toString();
    d.nRoute = num(11, 2);
    d.nStartYear = num(13, 4);
    d.nStartMonth = num(17, 2);
    d.nStartDay = num(19, 2);
    d.nStartHour = num(21, 2);
    d.nStartMin = num(23, 2);
    d.nStartSecond = num(25, 2);
    return d;
}

bool IsBlankRecord(QStringView record)
{
    return record.size() == kRecordLength && record.startsWith(u"000") && record.endsWith(u"00000000000000");
}

QString RecordKey(int channel, int number)
{
    return QStringLiteral("%1%2").arg(channel, 2, 10, QLatin1Char('0')).arg(number, 3, 10, QLatin1Char('0'));
}

QString EntryKey(int channel, int number)
{
    return QStringLiteral("key") + RecordKey(channel, number);
}
