#include "schedule/channelview.h"

#include <algorithm>

namespace {
QString two(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}
} // namespace

QString DataToText(const Clsdata &e)
{
    static const QString dayNames[7] = {QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三"),
                                        QStringLiteral("四"), QStringLiteral("五"), QStringLiteral("六"),
                                        QStringLiteral("日")};
    const QString act = e.bIsOpen ? QStringLiteral(",吸合 ") : QStringLiteral(",断开 ");
    const QString time =
        two(e.nStartHour) + QLatin1Char(':') + two(e.nStartMin) + QLatin1Char(':') + two(e.nStartSecond);
    const QString ch = QStringLiteral("第") + QString::number(e.nRoute) + QStringLiteral("路, ");

    switch (e.mode()) {
    case EntryMode::Daily:
        return ch + QStringLiteral("每天, ") + time + QLatin1Char(' ') + act;
    case EntryMode::Weekly: {
        QString days;
        for (int i = 0; i < 7 && i < e.strWeek.size(); ++i)
            if (e.strWeek[i] == QLatin1Char('1'))
                days += dayNames[i];
        return ch + QStringLiteral("每星期") + days + QStringLiteral("， ") + time + QLatin1Char(' ') + act;
    }
    case EntryMode::FixedDate:
        return ch + QStringLiteral("固定日期 ") + QStringLiteral("%1").arg(e.nStartYear, 4, 10, QLatin1Char('0')) +
               QLatin1Char('-') + two(e.nStartMonth) + QLatin1Char('-') + two(e.nStartDay) + QLatin1Char(' ') + time +
               QLatin1Char(' ') + act;
    }
    return {};
}

QList<ListRow> FillList(ScheduleBook &book, int channel)
{
    book.renumber(channel);
    QList<ListRow> rows;
    for (const EntryRef &e : book.channel(channel))
        rows.append(
            {EntryKey(channel, e->nNo), QStringLiteral("%1").arg(e->nNo, 3, 10, QLatin1Char('0')), DataToText(*e), e});
    return rows;
}

void DeleteRows(ScheduleBook &book, int channel, const QList<int> &rows)
{
    // Rows belong to the numbers FillList gave; make sure they still do.
    book.renumber(channel);
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    for (int row : sorted)
        book.remove(EntryKey(channel, row));
    book.renumber(channel);
}

void DeleteChannel(ScheduleBook &book, int channel)
{
    QList<QString> keys;
    for (const auto &item : book.items())
        if (item.entry->nRoute == channel)
            keys.append(item.key);
    for (const QString &key : keys)
        book.remove(key);
}
