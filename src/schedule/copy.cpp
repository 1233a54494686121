// Copying entries between channels; see copy.h.
#include "schedule/copy.h"

#include "schedule/channelview.h"

#include <QStringList>

#include <algorithm>

CopyPlan PlanCopy(const ScheduleBook &book, int source, const QList<int> &targets, CopyMode mode)
{
    CopyPlan plan;
    plan.source = source;
    plan.mode = mode;
    for (int t : targets)
        if (t >= 1 && t <= kChannelCount && t != source && !plan.targets.contains(t))
            plan.targets.append(t);
    std::sort(plan.targets.begin(), plan.targets.end());
    const int count = book.countOf(source);
    for (int t : plan.targets) {
        const int existing = book.countOf(t);
        if (mode == CopyMode::Replace && existing > 0)
            plan.replaced.append(t);
        if ((mode == CopyMode::Replace ? 0 : existing) + count > kMaxEntriesPerChannel)
            plan.tooFull.append(t);
    }
    return plan;
}

int CopyEntries(ScheduleBook &book, const CopyPlan &plan)
{
    if (plan.refused())
        return 0;
    // Copies are taken before any target changes, so the source is copied as it was.
    const QList<EntryRef> source = book.channel(plan.source);
    int added = 0;
    for (int t : plan.targets) {
        if (plan.mode == CopyMode::Replace)
            DeleteChannel(book, t);
        book.renumber(t);
        int number = book.countOf(t);
        for (const EntryRef &e : source) {
            auto copy = std::make_shared<Clsdata>(*e);
            copy->nRoute = int16_t(t);
            copy->nNo = int16_t(++number);
            book.append(copy);
            ++added;
        }
    }
    return added;
}

QString ChannelList(const QList<int> &channels)
{
    QStringList parts;
    for (int c : channels)
        parts << QStringLiteral("第%1路").arg(c);
    return parts.join(QStringLiteral("、"));
}
