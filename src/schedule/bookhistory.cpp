#include "schedule/bookhistory.h"

#include "schedule/copy.h"

#include <QStringList>

#include <array>

BookSnapshot Snapshot(const ScheduleBook &book)
{
    BookSnapshot s;
    s.items.reserve(book.size());
    for (const ScheduleBook::Item &item : book.items())
        s.items.append({item.key, *item.entry});
    return s;
}

void Restore(ScheduleBook &book, const BookSnapshot &snapshot)
{
    book.clear();
    for (const auto &[key, entry] : snapshot.items)
        book.add(key, std::make_shared<Clsdata>(entry));
}

namespace {

using Channels = std::array<QList<Clsdata>, kChannelCount + 1>; // 0: entries of no channel

Channels byChannel(const BookSnapshot &s)
{
    Channels c{};
    for (const auto &item : s.items)
        c[item.second.nRoute >= 1 && item.second.nRoute <= kChannelCount ? item.second.nRoute : 0].append(item.second);
    return c;
}

QString channelChange(int channel, const QList<Clsdata> &before, const QList<Clsdata> &after)
{
    const qsizetype nb = before.size(), na = after.size();
    qsizetype first = 0;
    while (first < std::min(nb, na) && before[first] == after[first])
        ++first;
    const QString where = QStringLiteral("第%1路").arg(channel);
    if (na == 0)
        return QStringLiteral("删除") + where + QStringLiteral("全部");
    if (na == nb + 1)
        return QStringLiteral("添加%1第%2条").arg(where).arg(first + 1);
    if (na == nb - 1)
        return QStringLiteral("删除%1第%2条").arg(where).arg(first + 1);
    if (na > nb)
        return QStringLiteral("添加%1%2条").arg(where).arg(na - nb);
    if (na < nb)
        return QStringLiteral("删除%1%2条").arg(where).arg(nb - na);
    qsizetype differing = 0;
    for (qsizetype i = first; i < na; ++i)
        differing += before[i] == after[i] ? 0 : 1;
    return differing == 1 ? QStringLiteral("修改%1第%2条").arg(where).arg(first + 1) : QStringLiteral("修改") + where;
}

} // namespace

QString ChangeName(const BookSnapshot &before, const BookSnapshot &after)
{
    const Channels b = byChannel(before), a = byChannel(after);
    QList<int> changed;
    for (int ch = 1; ch <= kChannelCount; ++ch)
        if (b[ch] != a[ch])
            changed << ch;
    if (changed.size() == 1)
        return channelChange(changed[0], b[changed[0]], a[changed[0]]);
    return QStringLiteral("修改") + ChannelList(changed);
}

void BookHistory::reset(const ScheduleBook &book)
{
    m_current = Snapshot(book);
    m_undo.clear();
    m_redo.clear();
}

bool BookHistory::look(const ScheduleBook &book, const QString &name)
{
    BookSnapshot now = Snapshot(book);
    if (now == m_current)
        return false;
    m_undo.push_back({name.isEmpty() ? ChangeName(m_current, now) : name, std::move(m_current)});
    if (m_undo.size() > size_t(kDepth))
        m_undo.pop_front();
    m_redo.clear();
    m_current = std::move(now);
    return true;
}

bool BookHistory::move(std::deque<Step> &from, std::deque<Step> &to, ScheduleBook &book, BookSnapshot &current)
{
    if (from.empty())
        return false;
    Step step = std::move(from.back());
    from.pop_back();
    Restore(book, step.book);
    to.push_back({step.name, std::exchange(current, std::move(step.book))});
    return true;
}

bool BookHistory::undo(ScheduleBook &book)
{
    return move(m_undo, m_redo, book, m_current);
}

bool BookHistory::redo(ScheduleBook &book)
{
    return move(m_redo, m_undo, book, m_current);
}
