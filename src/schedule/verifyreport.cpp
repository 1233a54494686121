// Rows and book changes of a verify; see verifyreport.h.
#include "schedule/verifyreport.h"

#include "schedule/channelview.h"

QString VerdictText(ChannelVerdict verdict)
{
    switch (verdict) {
    case ChannelVerdict::Same:
        return QStringLiteral("相同");
    case ChannelVerdict::Differs:
        return QStringLiteral("不同");
    case ChannelVerdict::Unread:
        break;
    }
    return QStringLiteral("无法读取");
}

QList<DifferenceRow> DifferenceRows(const ChannelComparison &comparison)
{
    QList<DifferenceRow> rows;
    for (const EntryDifference &d : comparison.differences) {
        DifferenceRow row;
        row.number = QStringLiteral("%1").arg(d.number, 3, 10, QLatin1Char('0'));
        if (d.program)
            row.program = DataToText(*d.program);
        if (d.board)
            row.board = DataToText(*d.board);
        switch (d.kind) {
        case DifferenceKind::OnlyInProgram:
            row.note = QStringLiteral("仅在软件中");
            break;
        case DifferenceKind::OnlyOnBoard:
            row.note = QStringLiteral("仅在设备上");
            break;
        case DifferenceKind::Changed:
            row.note = QStringLiteral("不同：") + EntryFieldNames(d.fields).join(QStringLiteral("、"));
            break;
        }
        rows.append(row);
    }
    return rows;
}

QList<int> VerifyChannels(int channel)
{
    if (channel != 0)
        return {channel};
    QList<int> all;
    for (int c = 1; c <= kChannelCount; ++c)
        all.append(c);
    return all;
}

QList<int> UnreadChannels(const QList<int> &channels, bool success, int endedAt)
{
    QList<int> unread;
    if (success)
        return unread;
    for (int c : channels)
        if (c >= endedAt)
            unread.append(c);
    return unread;
}

QList<int> DifferingChannels(const QList<ChannelComparison> &comparisons)
{
    QList<int> out;
    for (const ChannelComparison &c : comparisons)
        if (c.verdict == ChannelVerdict::Differs)
            out.append(c.channel);
    return out;
}

void TakeBoardChannel(ScheduleBook &book, int channel, const QList<EntryRef> &board)
{
    qsizetype end = board.size();
    while (end > 0 && (!board[end - 1] || IsBlankRecord(board[end - 1]->GetStr())))
        --end;
    for (const ScheduleBook::Item &item : QList<ScheduleBook::Item>(book.items()))
        if (item.entry->nRoute == channel)
            book.remove(item.key);
    for (qsizetype i = 0; i < end; ++i) {
        auto copy = std::make_shared<Clsdata>(board[i] ? *board[i] : Clsdata());
        copy->nRoute = int16_t(channel);
        copy->nNo = int16_t(i + 1);
        book.append(copy);
    }
    book.renumber(channel);
}
