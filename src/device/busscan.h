// Which addresses on the line answer a status request. Driven by whoever owns
// the link: `step()` once per answer window (the caller's timer), `onFrame()`
// for every reply. The window's 搜索设备 and `kelmora-cli scan` share it.
#pragma once

#include "device/seriallink.h"
#include "protocol/frames.h"

#include <QList>

#include <chrono>

// A status reply takes 2 × 22.9 ms on the wire at 9600 baud, plus the board's
// turnaround: 150 ms leaves room for a slow board without dragging a full scan
// (256 addresses) beyond 40 s.
inline constexpr std::chrono::milliseconds kScanWindow{150};

class BusScan {
public:
    BusScan(SerialLink &link, int from, int to);

    // Ends the window of the address asked last and asks the next one.
    // Returns false once every address has had its window (or after stop()).
    bool step();
    void onFrame(const Frame &reply);
    void stop()
    {
        m_next = m_to + 1;
        m_asked = -1;
    }

    bool finished() const { return m_next > m_to && m_asked < 0; }
    int done() const { return m_next - m_from; } // addresses asked so far
    int total() const { return m_to - m_from + 1; }
    int current() const { return m_asked; } // -1: none waiting
    const QList<int> &found() const { return m_found; }

private:
    SerialLink &m_link;
    int m_from;
    int m_to;
    int m_next;
    int m_asked = -1;
    QList<int> m_found;
};
