// The schedule book: every entry of every channel, in insertion order, keyed.
#pragma once

#include "schedule/clsdata.h"

#include <QHash>
#include <QList>
#include <QString>

class ScheduleBook {
public:
    struct Item {
        QString key;
        EntryRef entry;
    };

    // Appends under `key`; fails and adds nothing when the key is taken.
    bool add(const QString &key, EntryRef entry);
    // Appends under the entry key made from the entry's channel and number.
    bool add(EntryRef entry);
    // Appends without ever losing the entry: when its channel and number are
    // taken, it is numbered after the channel's last entry instead.
    void append(EntryRef entry);
    bool remove(const QString &key);
    bool contains(const QString &key) const { return m_index.contains(key); }
    EntryRef find(const QString &key) const { return m_index.value(key); }
    void clear();

    qsizetype size() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    const QList<Item> &items() const { return m_items; }

    // Entries of one channel, in book order.
    QList<EntryRef> channel(int channel) const;
    int countOf(int channel) const;

    // Numbers the channel's entries 1, 2, 3 ... in book order and re-keys the
    // book, so a key always carries its entry's current channel and number.
    void renumber(int channel);
    // Re-keys every entry from its current channel and number, order unchanged.
    void rekey();

private:
    QList<Item> m_items;
    QHash<QString, EntryRef> m_index;
};

// Entries on channel `nPage`.
int16_t GetCount(const ScheduleBook &book, int nPage);
