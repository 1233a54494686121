#include "protocol/framewords.h"

#include "protocol/replies.h"

#include <QStringList>

namespace {
QString two(int v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

QString slot(int channel, int number)
{
    return QStringLiteral("第%1路第%2条").arg(channel).arg(number);
}

// "第3路", "第1、3、16路"; empty for no channel.
QString channels(uint16_t mask)
{
    QStringList list;
    for (int ch = 1; ch <= 16; ++ch)
        if (mask & (1u << (ch - 1)))
            list << QString::number(ch);
    return list.isEmpty() ? QString() : QStringLiteral("第") + list.join(QStringLiteral("、")) + QStringLiteral("路");
}

// An entry as write frames and entry replies carry it (the same bytes 4..14).
QString entryWords(const ReceivedEntry &e)
{
    static const QString days = QStringLiteral("一二三四五六日");
    const QString time = two(e.hour) + QLatin1Char(':') + two(e.minute) + QLatin1Char(':') + two(e.second);
    QString when;
    if (e.mode == 1) {
        when = QStringLiteral("每天");
    } else if (e.mode == 2) {
        const QString week = WeekMaskFromReply(e.weekMask);
        when = QStringLiteral("每星期");
        for (int i = 0; i < 7 && i < week.size(); ++i)
            if (week[i] == QLatin1Char('1'))
                when += days[i];
    } else {
        when = QStringLiteral("20") + two(e.year) + QLatin1Char('-') + two(e.month) + QLatin1Char('-') + two(e.day);
    }
    return when + QLatin1Char(' ') + time +
           (e.action == wire::kActionRelease ? QStringLiteral(" 断开") : QStringLiteral(" 吸合"));
}

QString relayStates(uint16_t on)
{
    if (on == 0)
        return QStringLiteral("全部断开");
    if (on == 0xFFFF)
        return QStringLiteral("全部吸合");
    return QStringLiteral("吸合 ") + channels(on);
}

QString relayCommand(uint16_t mask, std::optional<uint16_t> before)
{
    if (!before)
        return QStringLiteral("继电器命令：") + relayStates(mask) +
               (mask == 0 || mask == 0xFFFF ? QString() : QStringLiteral("，其余断开"));
    const uint16_t pullIn = mask & ~*before, release = *before & ~mask;
    QStringList parts;
    if (pullIn)
        parts << QStringLiteral("吸合 ") + channels(pullIn);
    if (release)
        parts << QStringLiteral("断开 ") + channels(release);
    if (parts.isEmpty())
        return QStringLiteral("继电器命令：不变 (全部保持)");
    return parts.join(QStringLiteral("，")) + QStringLiteral(" (其余保持)");
}

uint16_t masks(const Frame &f)
{
    return uint16_t(f[4] | (f[5] << 8));
}

FrameWords request(const Frame &f, std::optional<uint16_t> before)
{
    switch (f[2]) {
    case wire::kStatus:
        if (masks(f) == 0)
            return {FrameKind::Status, QStringLiteral("状态查询 地址%1").arg(f[1])};
        return {FrameKind::Relay, relayCommand(masks(f), before)};
    case wire::kStatusCompat:
        return {FrameKind::Relay, relayCommand(masks(f), before)};
    case wire::kWriteEntry:
        return {FrameKind::Write, QStringLiteral("写入 ") + slot(f[4], f[5]) + QStringLiteral("：") +
                                      (f[6] == 0 ? QStringLiteral("空（结束标记）") : entryWords(EntryOf(f)))};
    case wire::kReadEntry:
        return {FrameKind::Read, QStringLiteral("读取 ") + slot(f[4], f[5])};
    case wire::kSetClock:
        return {FrameKind::Clock, QStringLiteral("对时 20%1-%2-%3 %4:%5:%6 星期%7")
                                      .arg(two(f[4]), two(f[5]), two(f[6]), two(f[8]), two(f[9]), two(f[10]))
                                      .arg(int(f[7]) - 1)};
    case wire::kReadClock:
        return {FrameKind::Clock, QStringLiteral("读时")};
    default:
        return {FrameKind::Other, QStringLiteral("未知命令 代码%1").arg(f[2]), true};
    }
}

FrameWords reply(const Frame &f)
{
    const QString answer = QStringLiteral("应答：");
    switch (f[2]) {
    case wire::kWriteEntry:
        return {FrameKind::Write, answer + QStringLiteral("写入已确认")};
    case wire::kReadEntry:
        return {FrameKind::Read, answer + slot(f[4], f[5]) + QLatin1Char(' ') +
                                     (f[6] == 0 ? QStringLiteral("空（该路结束）") : entryWords(EntryOf(f)))};
    case wire::kSetClock:
        return {FrameKind::Clock, answer + QStringLiteral("对时完成")};
    case wire::kReadClock:
        return {FrameKind::Clock, answer + ClockReplyText(f)};
    case wire::kStatus:
        return {FrameKind::Status, answer + relayStates(masks(f)) + QLatin1Char(' ') + StatusReplyText(f)};
    case wire::kStatusCompat:
        return {FrameKind::Relay, answer + relayStates(masks(f))};
    default:
        return {FrameKind::Other, QStringLiteral("未知应答 代码%1").arg(f[2]), true};
    }
}
} // namespace

bool ChecksAreRight(const Frame &f)
{
    Frame sealed = f;
    SealFrame(sealed);
    return sealed == f;
}

CheckBytes CheckBytesOf(const Frame &f)
{
    if (ChecksAreRight(f))
        return CheckBytes::Right;
    return f[20] == 0 && f[21] == 0 ? CheckBytes::Unfilled : CheckBytes::Wrong;
}

bool ReplyTrust::take(const Frame &reply)
{
    const size_t kind = size_t(reply[1]) * 256 + reply[2];
    switch (CheckBytesOf(reply)) {
    case CheckBytes::Right:
        m_filled.set(kind);
        return true;
    case CheckBytes::Unfilled:
        return !m_filled.test(kind);
    case CheckBytes::Wrong:
        break;
    }
    return false;
}

FrameWords DescribeFrame(const Frame &f, FrameDirection direction, std::optional<uint16_t> relaysBefore)
{
    const bool sent = direction == FrameDirection::Sent;
    if (f[0] != (sent ? wire::kRequestHeader : wire::kReplyHeader))
        return {FrameKind::Other, QStringLiteral("帧头错误（%1）").arg(f[0], 2, 16, QLatin1Char('0')).toUpper(), true};
    FrameWords w = sent ? request(f, relaysBefore) : reply(f);
    if (!ChecksAreRight(f)) {
        w.text = QStringLiteral("校验字节错误：") + w.text;
        w.fault = true;
    }
    return w;
}

bool Answers(const Frame &request, const Frame &reply, bool checks)
{
    if (reply[0] != wire::kReplyHeader || (checks && !ChecksAreRight(reply)))
        return false;
    if (reply[2] != request[2])
        return false;
    return request[2] != wire::kReadEntry || (reply[4] == request[4] && reply[5] == request[5]);
}

bool SameRequest(const Frame &a, const Frame &b)
{
    if (a[0] != b[0] || a[1] != b[1] || a[2] != b[2])
        return false;
    switch (a[2]) {
    case wire::kSetClock:
    case wire::kReadClock:
        return true;
    case wire::kWriteEntry:
    case wire::kReadEntry:
    case wire::kStatus:
    case wire::kStatusCompat:
        return a[4] == b[4] && a[5] == b[5];
    default:
        return a == b;
    }
}

QString StrayWords(int count)
{
    return QStringLiteral("多余字节 %1 个，不成帧").arg(count);
}

QString ResendWords(int resend, bool damaged)
{
    return (damaged ? QStringLiteral("校验错误，重发（第%1次）") : QStringLiteral("无应答（第%1次重发）")).arg(resend);
}

QString GivenUpWords(int attempts, bool damaged)
{
    return (damaged ? QStringLiteral("校验错误（共发%1次）") : QStringLiteral("无应答（共发%1次）")).arg(attempts);
}
