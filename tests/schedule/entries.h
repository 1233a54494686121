// Entries for schedule tests, written the way an operator reads them.
#pragma once

#include "schedule/schedulebook.h"

#include <QDate>
#include <QTime>

namespace entries {
inline EntryRef Make(bool on, const QString &time)
{
    auto e = std::make_shared<Clsdata>();
    const QStringList t = time.split(u':');
    e->nStartHour = int16_t(t.value(0).toInt()), e->nStartMin = int16_t(t.value(1).toInt());
    e->nStartSecond = int16_t(t.value(2).toInt());
    e->bIsOpen = on, e->nRoute = 1;
    return e;
}
inline EntryRef Daily(bool on, const QString &time)
{
    EntryRef e = Make(on, time);
    e->bIsEveryDay = true;
    return e;
}
// `days` Monday first, as strWeek.
inline EntryRef Weekly(bool on, const QString &days, const QString &time)
{
    EntryRef e = Make(on, time);
    e->bIsWeek = true;
    e->strWeek = days;
    return e;
}
inline EntryRef Fixed(bool on, const QString &date, const QString &time)
{
    EntryRef e = Make(on, time);
    e->nStartYear = int16_t(date.left(4).toInt()), e->nStartMonth = int16_t(date.mid(5, 2).toInt());
    e->nStartDay = int16_t(date.mid(8, 2).toInt()); // as written, even a day that does not exist
    return e;
}
// Puts the entries into a book on `channel`, numbered in order.
inline ScheduleBook Book(const QList<EntryRef> &list, int channel = 1)
{
    ScheduleBook book;
    int16_t n = 0;
    for (const EntryRef &e : list) {
        e->nRoute = int16_t(channel);
        e->nNo = ++n;
        book.add(e);
    }
    return book;
}
} // namespace entries
