#include "bridge/mqttclient.h"

bool TakeoverWatch::dropped(qint64 ms)
{
    if (m_connectedAt >= 0 && ms - m_connectedAt <= kQuickDropMs)
        m_quick << ms;
    m_connectedAt = -1;
    m_quick.removeIf([ms](qint64 at) { return ms - at > kTakeoverWindowMs; });
    const bool was = std::exchange(m_suspected, m_quick.size() >= kTakeoverDrops);
    return m_suspected && !was;
}
