// Which addresses on the line answer a status request. Driven by whoever owns
// the link: `step()` once per answer window (the caller's timer), `onFrame()`
// for every reply. The window's 搜索设备 and `kelmora-cli scan` share it.
#pragma once

#include "device/seriallink.h"
#include "protocol/frames.h"

#include <QList>

#include <chrono>
#include <optional>

// A status reply takes 2 × 22.9 ms on the wire at 9600 baud, plus the board's
// turnaround: 150 ms leaves room for a slow board without dragging a full scan
// (256 addresses) beyond 40 s a try.
inline constexpr std::chrono::milliseconds kScanWindow{150};
// An address that stays silent is asked once more: one lost reply on a noisy
// line must not hide a board.
inline constexpr int kScanTries = 2;

class BusScan {
public:
    BusScan(SerialLink &link, int from, int to, int tries = kScanTries);

    // Ends the window of the address asked last and asks it again (silent, with
    // tries left) or the next one. Returns false once every address has had its
    // windows, or after stop() or the link closed.
    bool step();
    void onFrame(const Frame &reply);
    // Cuts the scan short; stoppedAt() then names the first address not scanned to the end.
    void stop();

    bool finished() const { return m_stoppedAt || (m_next > m_to && m_asked < 0); }
    // Addresses scanned to the end.
    int done() const { return (m_stoppedAt ? *m_stoppedAt : m_asked >= 0 ? m_asked : m_next) - m_from; }
    int total() const { return m_to - m_from + 1; }
    int from() const { return m_from; }
    int to() const { return m_to; }
    int current() const { return m_asked; } // -1: none waiting
    std::optional<int> stoppedAt() const { return m_stoppedAt; }
    const QList<int> &found() const { return m_found; }

private:
    SerialLink &m_link;
    int m_from;
    int m_to;
    int m_tries;
    int m_next;
    int m_asked = -1;
    int m_try = 0; // of the address asked
    std::optional<int> m_stoppedAt;
    QList<int> m_found;
};
