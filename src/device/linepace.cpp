#include "device/linepace.h"

#include <algorithm>

namespace {
// Requests sent while answers are owed (a clock set, a clock read) pile up only this far.
constexpr qsizetype kMaxOwed = 16;
} // namespace

void LinePace::sent(const QDateTime &at, bool byTick, bool again)
{
    if (!again && owed(at).count() == 0)
        m_unanswered.clear();
    if (m_unanswered.size() >= kMaxOwed)
        m_unanswered.removeFirst();
    m_unanswered.append(at);
    m_ticks = byTick ? 0 : -1;
}

void LinePace::answered(const QDateTime &at)
{
    if (m_unanswered.isEmpty())
        return;
    const qint64 ms = m_unanswered.takeFirst().msecsTo(at);
    // With several requests out, the answer may be to a later one than the
    // oldest: it is measured only when nothing else is known (an answer time
    // too long is safe, one too short is not).
    if (ms < 0 || (!m_unanswered.isEmpty() && m_answerMs))
        return;
    // A slower answer counts at once, a faster one by a quarter: a board that
    // slows down is not asked again before it could answer.
    m_answerMs = !m_answerMs || ms > *m_answerMs ? ms : *m_answerMs - (*m_answerMs - ms) / 4;
}

std::chrono::milliseconds LinePace::deadline() const
{
    if (!m_answerMs)
        return kLatestTimeout;
    return std::clamp(std::chrono::milliseconds(2 * *m_answerMs), kEarliestTimeout, kLatestTimeout);
}

std::chrono::milliseconds LinePace::owed(const QDateTime &now) const
{
    if (m_unanswered.isEmpty())
        return std::chrono::milliseconds(0);
    const qint64 byTicks = m_ticks * kTickInterval.count();
    const qint64 out = std::max(m_unanswered.last().msecsTo(now), byTicks);
    return std::chrono::milliseconds(std::max<qint64>(deadline().count() - out, 0));
}

void LinePace::forget(bool board)
{
    m_unanswered.clear();
    if (board)
        m_answerMs.reset();
}
