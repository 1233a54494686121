// A one-shot reading of the board is believed only when two status replies in
// a row agree: the same relay states, and board clocks within a second of each
// other once the time between the replies is allowed for (or neither with a
// valid clock). One reply damaged on the line then cannot decide what is reported.
#pragma once

#include <QDateTime>

#include <cstdint>
#include <optional>

class StatusAgreement {
public:
    struct Reading {
        uint16_t relays = 0;             // channel 1 in bit 0
        std::optional<QDateTime> board;  // the board's clock as the reply gave it
        QDateTime at;                    // the computer's clock when the reply came
    };
    // Takes one status reply; true when it agrees with the one before.
    bool add(const Reading &reading);
    // The last reply that agreed with the one before it.
    const std::optional<Reading> &agreed() const { return m_agreed; }

private:
    std::optional<Reading> m_last, m_agreed;
};
