#include "device/statusagreement.h"

#include <cstdlib>

namespace {
constexpr qint64 kClockToleranceMs = 1000;

bool Agree(const StatusAgreement::Reading &a, const StatusAgreement::Reading &b)
{
    if (a.relays != b.relays || a.board.has_value() != b.board.has_value())
        return false;
    if (!a.board)
        return true;
    const QDateTime expected = a.board->addMSecs(a.at.msecsTo(b.at));
    return std::abs(expected.msecsTo(*b.board)) <= kClockToleranceMs;
}
} // namespace

bool StatusAgreement::add(const Reading &reading)
{
    const bool agrees = m_last && Agree(*m_last, reading);
    if (agrees)
        m_agreed = reading;
    m_last = reading;
    return agrees;
}
