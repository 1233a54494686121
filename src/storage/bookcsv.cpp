// The book as CSV: writing for spreadsheets, and reading what they save (UTF-8 or GBK,
// comma, semicolon or tab, quoted fields), every row checked before anything is taken.
#include "storage/bookcsv.h"

#include <QDate>
#include <QStringDecoder>
#include <QTime>

#include <algorithm>
#include <array>
#include <optional>

namespace {

enum Column { Channel, Number, Mode, Days, Date, Time, Action, ColumnCount };

const QString kDaily = QStringLiteral("每天"), kWeekly = QStringLiteral("每星期"), kFixed = QStringLiteral("固定日期");
const QString kOn = QStringLiteral("吸合"), kOff = QStringLiteral("断开");
const QString kDayNames = QStringLiteral("一二三四五六日");
constexpr char16_t kSunday = u'天'; // 星期天, as many write it
constexpr int kFirstYear = 2000, kLastYear = 2099;

QString two(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

// ------------------------------------------------------------------ reading text

// UTF-8 when the bytes are UTF-8 (a byte-order mark is dropped), else GBK, as a Chinese
// spreadsheet saves CSV; nothing when they are neither.
std::optional<QString> decode(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return std::nullopt;
    QStringDecoder gbk("GBK");
    if (!gbk.isValid())
        return std::nullopt;
    text = gbk.decode(bytes);
    if (gbk.hasError())
        return std::nullopt;
    return text;
}

// The separator the header row (the first line that is not blank) uses most: tab, semicolon or
// comma (comma when it uses none).
QChar separatorOf(QStringView text)
{
    QStringView header = text.trimmed();
    header = header.left(header.indexOf(QLatin1Char('\n')));
    QChar best = QLatin1Char(',');
    qsizetype most = header.count(best);
    for (const QChar c : {QLatin1Char(';'), QLatin1Char('\t')}) {
        if (header.count(c) > most) {
            most = header.count(c);
            best = c;
        }
    }
    return best;
}

struct Record {
    int line = 0; // where the record starts, 1-based
    QStringList fields;
};

// RFC 4180 records: a quoted field may hold separators, line breaks and doubled quotes. Line
// ends are CRLF, LF or CR. Fields are trimmed. Fails (with the line) on a quote left open.
bool splitRecords(QStringView text, QChar sep, QList<Record> &records, int &badLine)
{
    int line = 1;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto atLineEnd = [&](qsizetype at) { return text[at] == QLatin1Char('\n') || text[at] == QLatin1Char('\r'); };
    const auto skipLineEnd = [&] {
        if (text[i] == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
            ++i;
        ++i;
        ++line;
    };
    while (i < n) {
        Record r{line, {}};
        for (;;) {
            QString field;
            if (i < n && text[i] == QLatin1Char('"')) {
                const int opened = line;
                ++i;
                for (;;) {
                    if (i >= n) {
                        badLine = opened;
                        return false;
                    }
                    if (text[i] == QLatin1Char('"')) {
                        if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                            field += QLatin1Char('"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (text[i] == QLatin1Char('\n') ||
                        (text[i] == QLatin1Char('\r') && i + 1 < n && text[i + 1] != QLatin1Char('\n')))
                        ++line;
                    field += text[i++];
                }
            }
            // Unquoted text, or what follows a closing quote, up to the separator or line end.
            const qsizetype from = i;
            while (i < n && text[i] != sep && !atLineEnd(i))
                ++i;
            field += text.sliced(from, i - from);
            r.fields << field.trimmed();
            if (i < n && text[i] == sep) {
                ++i;
                continue;
            }
            break;
        }
        if (i < n)
            skipLineEnd();
        records << r;
    }
    return true;
}

// ------------------------------------------------------------------ reading fields

// A number of `minDigits`..`maxDigits` digits and nothing else.
std::optional<int> digits(QStringView s, int minDigits, int maxDigits)
{
    if (s.size() < minDigits || s.size() > maxDigits)
        return std::nullopt;
    int v = 0;
    for (const QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        v = v * 10 + (c.unicode() - u'0');
    }
    return v;
}

// "8:05:30" or "08:05:30" (a spreadsheet drops the hour's leading zero).
std::optional<QTime> timeOf(const QString &s)
{
    const QStringList parts = s.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return std::nullopt;
    const auto h = digits(parts[0], 1, 2), m = digits(parts[1], 2, 2), sec = digits(parts[2], 2, 2);
    if (!h || !m || !sec || !QTime::isValid(*h, *m, *sec))
        return std::nullopt;
    return QTime(*h, *m, *sec);
}

// "2026-12-10", or "2026/12/10" and "2026/1/5" as a spreadsheet rewrites dates.
std::optional<QDate> dateOf(const QString &s)
{
    const QStringList parts = s.split(s.contains(QLatin1Char('/')) ? QLatin1Char('/') : QLatin1Char('-'));
    if (parts.size() != 3)
        return std::nullopt;
    const auto y = digits(parts[0], 4, 4), m = digits(parts[1], 1, 2), d = digits(parts[2], 1, 2);
    if (!y || !m || !d || !QDate::isValid(*y, *m, *d))
        return std::nullopt;
    return QDate(*y, *m, *d);
}

// Reads one row into `e`; the reason it is refused, or nothing.
QString readRow(const std::array<QString, ColumnCount> &f, std::array<int, kChannelCount + 1> &counts, Clsdata &e)
{
    for (const Column c : {Channel, Number, Mode, Time, Action})
        if (f[c].isEmpty())
            return kCsvColumns[c] + QStringLiteral("为空");
    const auto channel = digits(f[Channel], 1, 2);
    if (!channel || *channel < 1 || *channel > kChannelCount)
        return QStringLiteral("路%1不存在（1-16）").arg(f[Channel]);
    int &count = counts[*channel];
    if (count == kMaxEntriesPerChannel)
        return QStringLiteral("第%1路超过%2条").arg(*channel).arg(kMaxEntriesPerChannel);
    const auto number = digits(f[Number], 1, 3);
    if (number != count + 1)
        return QStringLiteral("第%1路序号%2应为%3").arg(*channel).arg(f[Number]).arg(count + 1);
    ++count;
    e.nRoute = int16_t(*channel);
    e.nNo = int16_t(*number);

    const QString &mode = f[Mode];
    if (mode != kDaily && mode != kWeekly && mode != kFixed)
        return QStringLiteral("方式%1不存在（每天、每星期、固定日期）").arg(mode);
    e.bIsEveryDay = mode == kDaily;
    e.bIsWeek = mode == kWeekly;
    // A column the mode does not use must be empty: a day or date left there is a mistake in the
    // mode or in the column, and either way the row does not say what the operator meant.
    if (mode != kWeekly && !f[Days].isEmpty())
        return QStringLiteral("方式%1不填星期").arg(mode);
    if (mode != kFixed && !f[Date].isEmpty())
        return QStringLiteral("方式%1不填日期").arg(mode);
    if (mode == kWeekly) {
        if (f[Days].isEmpty())
            return QStringLiteral("星期为空");
        QString mask(7, QLatin1Char('0'));
        for (const QChar c : f[Days]) {
            const qsizetype day = c == QChar(kSunday) ? 6 : kDayNames.indexOf(c);
            if (day < 0)
                return QStringLiteral("星期%1中的“%2”不是星期几").arg(f[Days], c);
            if (mask[day] == QLatin1Char('1'))
                return QStringLiteral("星期%1中“%2”重复").arg(f[Days], c);
            mask[day] = QLatin1Char('1');
        }
        e.strWeek = mask;
    }
    if (mode == kFixed) {
        if (f[Date].isEmpty())
            return QStringLiteral("日期为空");
        const auto date = dateOf(f[Date]);
        if (!date)
            return QStringLiteral("日期%1不存在").arg(f[Date]);
        if (date->year() < kFirstYear || date->year() > kLastYear)
            return QStringLiteral("日期%1超出%2-%3年").arg(f[Date]).arg(kFirstYear).arg(kLastYear);
        e.nStartYear = int16_t(date->year());
        e.nStartMonth = int16_t(date->month());
        e.nStartDay = int16_t(date->day());
    }
    const auto time = timeOf(f[Time]);
    if (!time)
        return QStringLiteral("时间%1不存在").arg(f[Time]);
    e.nStartHour = int16_t(time->hour());
    e.nStartMin = int16_t(time->minute());
    e.nStartSecond = int16_t(time->second());
    if (f[Action] != kOn && f[Action] != kOff)
        return QStringLiteral("动作%1不存在（吸合、断开）").arg(f[Action]);
    e.bIsOpen = f[Action] == kOn;
    return {};
}

} // namespace

QByteArray BookToCsv(const ScheduleBook &book)
{
    const QString end = QStringLiteral("\r\n");
    QString text = kCsvColumns.join(QLatin1Char(',')) + end;
    for (int channel = 1; channel <= kChannelCount; ++channel) {
        int number = 0;
        for (const EntryRef &e : book.channel(channel)) {
            if (++number > kMaxEntriesPerChannel)
                break;
            QString days, date, mode = kDaily;
            if (e->mode() == EntryMode::Weekly) {
                mode = kWeekly;
                for (int i = 0; i < 7 && i < e->strWeek.size(); ++i)
                    if (e->strWeek[i] == QLatin1Char('1'))
                        days += kDayNames[i];
            } else if (e->mode() == EntryMode::FixedDate) {
                mode = kFixed;
                date = QStringLiteral("%1-%2-%3")
                           .arg(e->nStartYear, 4, 10, QLatin1Char('0'))
                           .arg(two(e->nStartMonth), two(e->nStartDay));
            }
            text += QStringList{QString::number(channel),
                                QString::number(number),
                                mode,
                                days,
                                date,
                                two(e->nStartHour) + QLatin1Char(':') + two(e->nStartMin) + QLatin1Char(':') +
                                    two(e->nStartSecond),
                                e->bIsOpen ? kOn : kOff}
                        .join(QLatin1Char(',')) +
                    end;
        }
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

CsvImport ParseBookCsv(const QByteArray &bytes)
{
    CsvImport out;
    const auto refuse = [&out](int line, const QString &why) {
        out.error = QStringLiteral("第%1行：").arg(line) + why;
        return out;
    };
    const std::optional<QString> text = decode(bytes);
    if (!text) {
        out.error = QStringLiteral("文件既不是UTF-8也不是GBK编码");
        return out;
    }
    QList<Record> records;
    int badLine = 0;
    if (!splitRecords(*text, separatorOf(*text), records, badLine))
        return refuse(badLine, QStringLiteral("引号没有闭合"));
    const auto blank = [](const Record &r) {
        return std::all_of(r.fields.begin(), r.fields.end(), [](const QString &f) { return f.isEmpty(); });
    };
    records.removeIf(blank);
    if (records.isEmpty())
        return refuse(1, QStringLiteral("缺少列“%1”").arg(kCsvColumns[Channel]));

    const Record &header = records.first();
    std::array<qsizetype, ColumnCount> at{};
    for (int c = 0; c < ColumnCount; ++c) {
        at[c] = header.fields.indexOf(kCsvColumns[c]);
        if (at[c] < 0)
            return refuse(header.line, QStringLiteral("缺少列“%1”").arg(kCsvColumns[c]));
    }
    std::array<int, kChannelCount + 1> counts{};
    out.entries.reserve(records.size() - 1);
    for (qsizetype i = 1; i < records.size(); ++i) {
        const Record &r = records[i];
        if (r.fields.size() != header.fields.size())
            return refuse(r.line, QStringLiteral("应有%1列，实有%2列").arg(header.fields.size()).arg(r.fields.size()));
        std::array<QString, ColumnCount> f;
        for (int c = 0; c < ColumnCount; ++c)
            f[c] = r.fields[at[c]];
        Clsdata e;
        if (const QString why = readRow(f, counts, e); !why.isEmpty()) {
            out.entries.clear();
            return refuse(r.line, why);
        }
        out.entries << e;
    }
    for (int channel = 1; channel <= kChannelCount; ++channel)
        if (counts[channel] > 0)
            out.channels << channel;
    return out;
}

void ApplyCsv(ScheduleBook &book, const CsvImport &import)
{
    if (!import.ok())
        return;
    // One pass over the book, not a removal per entry: a full book is replaced in milliseconds.
    const QList<ScheduleBook::Item> items = book.items();
    book.clear();
    for (const ScheduleBook::Item &item : items)
        if (!import.channels.contains(item.entry->nRoute))
            book.add(item.key, item.entry);
    for (const Clsdata &e : import.entries)
        book.append(std::make_shared<Clsdata>(e));
}
