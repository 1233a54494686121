#include "schedule/schedulebook.h"

#include <algorithm>

bool ScheduleBook::add(const QString &key, EntryRef entry)
{
    if (!entry || m_index.contains(key))
        return false;
    m_index.insert(key, entry);
    m_items.append({key, std::move(entry)});
    return true;
}

bool ScheduleBook::add(EntryRef entry)
{
    if (!entry)
        return false;
    const QString key = EntryKey(entry->nRoute, entry->nNo);
    return add(key, std::move(entry));
}

void ScheduleBook::append(EntryRef entry)
{
    if (!entry || add(entry))
        return;
    int16_t highest = 0;
    for (const Item &item : m_items)
        if (item.entry->nRoute == entry->nRoute)
            highest = std::max(highest, item.entry->nNo);
    entry->nNo = int16_t(highest + 1);
    add(entry);
}

bool ScheduleBook::remove(const QString &key)
{
    if (!m_index.remove(key))
        return false;
    m_items.removeIf([&](const Item &item) { return item.key == key; });
    return true;
}

void ScheduleBook::clear()
{
    m_items.clear();
    m_index.clear();
}

QList<EntryRef> ScheduleBook::channel(int channel) const
{
    QList<EntryRef> out;
    for (const Item &item : m_items)
        if (item.entry->nRoute == channel)
            out.append(item.entry);
    return out;
}

int ScheduleBook::countOf(int channel) const
{
    int n = 0;
    for (const Item &item : m_items)
        n += item.entry->nRoute == channel ? 1 : 0;
    return n;
}

void ScheduleBook::renumber(int channel)
{
    int16_t n = 1;
    for (Item &item : m_items)
        if (item.entry->nRoute == channel)
            item.entry->nNo = n++;
    rekey();
}

void ScheduleBook::rekey()
{
    const auto build = [this] {
        m_index.clear();
        for (Item &item : m_items) {
            item.key = EntryKey(item.entry->nRoute, item.entry->nNo);
            if (m_index.contains(item.key))
                return false;
            m_index.insert(item.key, item.entry);
        }
        return true;
    };
    if (build())
        return;
    // Two entries claim one channel and number (a hand-edited file can do that):
    // number every channel afresh rather than let either entry go.
    QHash<int, int16_t> next;
    for (Item &item : m_items)
        item.entry->nNo = ++next[item.entry->nRoute];
    build();
}

int16_t GetCount(const ScheduleBook &book, int nPage)
{
    return int16_t(book.countOf(nPage));
}
