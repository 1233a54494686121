// The schedule check; see check.h.
#include "schedule/check.h"

#include "schedule/channelview.h"
#include "schedule/timeline.h"

#include <QHash>

#include <algorithm>

namespace {
const QString kNoWeek = QStringLiteral("0000000");

std::optional<WallSecs> FixedMoment(const BoardEntry &w)
{
    if (w.mode != EntryMode::FixedDate || w.timeOfDay < 0 || !w.date.isValid())
        return std::nullopt;
    return ToWall(w.date) + w.timeOfDay;
}

// Whether two entries that can still fire may fire at one and the same second.
bool MayCoincide(const BoardEntry &a, const BoardEntry &b)
{
    if (a.timeOfDay < 0 || a.timeOfDay != b.timeOfDay)
        return false;
    auto daysOf = [](const BoardEntry &w) -> uint8_t {
        switch (w.mode) {
        case EntryMode::Daily:
            return 0x7F;
        case EntryMode::Weekly:
            return w.days;
        case EntryMode::FixedDate:
            break;
        }
        return uint8_t(1u << (w.date.dayOfWeek() - 1));
    };
    if (a.mode == EntryMode::FixedDate && b.mode == EntryMode::FixedDate)
        return a.date == b.date;
    return (daysOf(a) & daysOf(b)) != 0;
}

QString IgnoredFields(const Clsdata &e)
{
    const bool dated = e.nStartYear != 0 || e.nStartMonth != 0 || e.nStartDay != 0;
    const bool weekMask = e.strWeek != kNoWeek;
    QStringList parts;
    switch (e.mode()) {
    case EntryMode::Daily:
        if (e.bIsWeek)
            parts << QStringLiteral("同时设了每天和每星期，按每天执行");
        else if (weekMask)
            parts << QStringLiteral("每天执行，保存的星期不起作用");
        if (dated)
            parts << QStringLiteral("每天执行，保存的日期不起作用");
        break;
    case EntryMode::Weekly:
        if (dated)
            parts << QStringLiteral("每星期执行，保存的日期不起作用");
        break;
    case EntryMode::FixedDate:
        if (weekMask)
            parts << QStringLiteral("固定日期执行，保存的星期不起作用");
        break;
    }
    return parts.join(QStringLiteral("；"));
}

// The one-way rule for pull-ins: whether, from some moment on, a pull-in is
// never followed by a release. After the channel's last fixed date only its
// daily and weekly entries fire, one week like the next, so that week tells.
// Returns the finding's entry (0-based) and message.
std::optional<std::pair<int, QString>> NeverReleased(const QList<EntryRef> &entries, WallSecs now)
{
    std::optional<WallSecs> lastFixed;
    for (const EntryRef &e : BoardList(entries)) {
        const auto t = FixedMoment(AsBoardEntry(*e));
        if (t && *t >= now && (!lastFixed || *t > *lastFixed))
            lastFixed = t;
    }
    const WallSecs settled = lastFixed ? *lastFixed + 1 : now;
    const QList<SwitchPoint> week = Firings(entries, settled, settled + kSecsPerWeek);
    int firstOn = 0; // the first entry whose pull-in holds at its second (the last one there wins)
    bool released = false;
    for (qsizetype k = 0; k < week.size(); ++k) {
        if (k + 1 < week.size() && week[k + 1].at == week[k].at)
            continue;
        if (!week[k].on)
            released = true;
        else if (firstOn == 0 || week[k].number < firstOn)
            firstOn = week[k].number;
    }
    if (week.isEmpty() && lastFixed) { // only fixed dates: the last of them holds for ever
        const StateSpan last = StateAt(entries, *lastFixed);
        if (last.state == RelayState::On)
            firstOn = last.number;
    } else if (released) {
        firstOn = 0;
    }
    if (firstOn == 0)
        return std::nullopt;
    if (!lastFixed)
        return std::pair(firstOn - 1, QStringLiteral("本路的断开都被同一秒的吸合盖过：一旦吸合便不再断开"));
    return std::pair(firstOn - 1, QStringLiteral("%1之后本路不再断开：一旦吸合便不再断开")
                                      .arg(FromWall(*lastFixed).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
}

void CheckChannel(const QList<EntryRef> &entries, int channel, WallSecs now, QList<Finding> &out)
{
    auto add = [&](FindingKind kind, int index, const QString &message) {
        out.append({kind, channel, index + 1, DataToText(*entries[index]), message});
    };
    const int onBoard = int(BoardList(entries).size());
    QList<BoardEntry> wire;
    QStringList records;
    QList<bool> fires; // can still fire from now on
    for (const EntryRef &e : entries) {
        wire.append(AsBoardEntry(*e));
        records.append(e->GetStr());
        fires.append(FiresFrom(*e, now));
    }
    QHash<QString, int> firstWith; // record -> first entry that has it
    int firstOn = -1, firstOff = -1;
    bool anyLeft = false;
    for (int i = 0; i < entries.size(); ++i) {
        const BoardEntry &w = wire[i];
        const bool live = i < onBoard && fires[i];
        if (IsBlankRecord(records[i]))
            add(FindingKind::NeverFires, i, QStringLiteral("写入设备后是本路的结束标记，此条及其后各条都不执行"));
        else if (w.timeOfDay < 0)
            add(FindingKind::NeverFires, i, QStringLiteral("时间不存在，永不执行"));
        else if (w.mode == EntryMode::Weekly && w.days == 0)
            add(FindingKind::NeverFires, i, QStringLiteral("每星期未选任何一天，永不执行"));
        else if (w.mode == EntryMode::FixedDate && !w.date.isValid())
            add(FindingKind::NeverFires, i, QStringLiteral("日期不存在，永不执行"));
        else if (w.mode == EntryMode::FixedDate && *FixedMoment(w) < now)
            add(FindingKind::DatePast, i, QStringLiteral("固定日期已过，不会再执行"));

        if (i < onBoard && !IsBlankRecord(records[i])) {
            const int first = int(firstWith.value(records[i], i));
            if (first < i)
                add(FindingKind::Duplicate, i, QStringLiteral("与第%1条完全相同").arg(first + 1));
            else
                firstWith.insert(records[i], i);
            if (live) {
                for (int j = 0; j < i; ++j) {
                    if (wire[j].on != w.on && fires[j] && MayCoincide(wire[j], w)) {
                        add(FindingKind::OppositeAtOnce, i,
                            QStringLiteral("与第%1条同一秒动作相反，按顺序第%2条生效").arg(j + 1).arg(i + 1));
                        break;
                    }
                }
            }
        }
        if (live) {
            anyLeft = true;
            int &first = w.on ? firstOn : firstOff;
            if (first < 0)
                first = i;
        }
        const QString ignored = IgnoredFields(*entries[i]);
        if (!ignored.isEmpty())
            add(FindingKind::IgnoredFields, i, ignored);
    }
    // A channel that only releases is as odd as one that never lets go; one that
    // ends released after a last one-off pull-in is a plain one-off event.
    if (anyLeft && firstOff < 0)
        add(FindingKind::OneWay, firstOn, QStringLiteral("本路没有会执行的断开：一旦吸合便不再断开"));
    else if (anyLeft && firstOn < 0)
        add(FindingKind::OneWay, firstOff, QStringLiteral("本路没有会执行的吸合：一旦断开便不再吸合"));
    else if (anyLeft)
        if (const auto stuck = NeverReleased(entries, now))
            add(FindingKind::OneWay, stuck->first, stuck->second);
    if (entries.size() >= kMaxEntriesPerChannel)
        add(FindingKind::ChannelFull, int(entries.size()) - 1, QStringLiteral("本路已有255条，不能再添加"));
}
} // namespace

QList<Finding> CheckBook(const ScheduleBook &book, const QDateTime &now)
{
    QList<Finding> out;
    for (int c = 1; c <= kChannelCount; ++c) {
        const QList<EntryRef> entries = book.channel(c);
        if (!entries.isEmpty())
            CheckChannel(entries, c, ToWall(now), out);
    }
    std::stable_sort(out.begin(), out.end(), [](const Finding &a, const Finding &b) {
        return a.channel != b.channel ? a.channel < b.channel : a.number < b.number;
    });
    return out;
}

int ProblemCount(const QList<Finding> &findings)
{
    return int(std::count_if(findings.begin(), findings.end(), [](const Finding &f) { return !f.informational(); }));
}

QString FindingsSummary(int problems)
{
    return QStringLiteral("检查发现%1处问题").arg(problems);
}

QString CheckSummary(const QList<Finding> &findings)
{
    const int problems = ProblemCount(findings);
    const int notes = int(findings.size()) - problems;
    QString text = problems > 0 ? FindingsSummary(problems) : QStringLiteral("未发现问题");
    if (notes > 0)
        text += QStringLiteral("，另有%1条提示").arg(notes);
    return text;
}

QString FindingsPanelText(const QList<Finding> &findings)
{
    const int problems = ProblemCount(findings);
    return problems > 0 ? FindingsSummary(problems) : QString();
}
