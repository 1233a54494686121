#include "device/busscan.h"

#include "protocol/framewords.h"

#include <algorithm>

BusScan::BusScan(SerialLink &link, int from, int to, int tries)
    : m_link(link), m_from(std::clamp(from, 0, 255)), m_to(std::clamp(to, 0, 255)), m_tries(std::max(tries, 1)),
      m_next(m_from)
{
}

bool BusScan::step()
{
    if (finished())
        return false;
    if (m_asked >= 0 && !m_found.contains(m_asked) && m_try < m_tries) {
        ++m_try;
    } else if (m_next <= m_to) {
        m_asked = m_next++;
        m_try = 1;
    } else {
        m_asked = -1;
        return false;
    }
    if (!m_link.isOpen()) {
        stop();
        return false;
    }
    // A late answer from the address before must not count for this one.
    m_link.discardInput();
    m_link.write(ToBytes(RelayFrame(uint8_t(m_asked), wire::kStatus, 0, 0, 0)));
    return true;
}

void BusScan::stop()
{
    if (!finished())
        m_stoppedAt = m_from + done();
    m_asked = -1;
}

void BusScan::onFrame(const Frame &reply)
{
    // Byte 1 of a reply is the answering board's address; a status request is
    // answered with the status code (16, or 19 by boards of the compatible kind).
    // A damaged reply names no one for sure.
    const bool status = reply[2] == wire::kStatus || reply[2] == wire::kStatusCompat;
    if (m_asked < 0 || reply[0] != wire::kReplyHeader || !status || reply[1] != m_asked ||
        CheckBytesOf(reply) == CheckBytes::Wrong)
        return;
    if (!m_found.contains(m_asked))
        m_found.append(m_asked);
}
