#include "device/busscan.h"

#include <algorithm>

BusScan::BusScan(SerialLink &link, int from, int to)
    : m_link(link), m_from(std::clamp(from, 0, 255)), m_to(std::clamp(to, 0, 255)), m_next(m_from)
{
}

bool BusScan::step()
{
    m_asked = -1;
    if (m_next > m_to || !m_link.isOpen()) {
        m_next = m_to + 1;
        return false;
    }
    m_asked = m_next++;
    // A late answer from the address before must not count for this one.
    m_link.discardInput();
    m_link.write(ToBytes(RelayFrame(uint8_t(m_asked), wire::kStatus, 0, 0, 0)));
    return true;
}

void BusScan::onFrame(const Frame &reply)
{
    // Byte 1 of a reply is the answering board's address; a status request is
    // answered with the status code (16, or 19 by boards of the compatible kind).
    const bool status = reply[2] == wire::kStatus || reply[2] == wire::kStatusCompat;
    if (m_asked < 0 || reply[0] != wire::kReplyHeader || !status || reply[1] != m_asked)
        return;
    if (!m_found.contains(m_asked))
        m_found.append(m_asked);
}
