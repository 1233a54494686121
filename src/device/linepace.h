// The pace of the line: how long the board takes to answer, learnt from every
// exchange (status polls included), and whether an answer is still owed. The
// engine sends a request only when none is owed, so an answer can be paired
// with its request and a slow board is never asked faster than it answers.
#pragma once

#include <QDateTime>
#include <QList>

#include <chrono>
#include <optional>

inline constexpr std::chrono::milliseconds kTickInterval{200};
// A request is owed its answer for twice the board's answer time, at least
// this long (a lost reply then costs about one tick) ...
inline constexpr std::chrono::milliseconds kEarliestTimeout{100};
// ... and at most this long; also while the board's answer time is not known yet.
inline constexpr std::chrono::milliseconds kLatestTimeout{2000};

class LinePace {
public:
    // A request went out. `again`: it repeats the one whose answer is overdue,
    // whose answer may still come; any other request gives up on earlier
    // requests whose answers are overdue.
    void sent(const QDateTime &at, bool byTick, bool again);
    // The poll tick; with the clock it measures how long a request has been out
    // (a clock set back does not hold the line).
    void tick() { ++m_ticks; }
    // A reply came: the answer to the oldest request still owed one.
    void answered(const QDateTime &at);
    // How long the last request is still owed its answer; 0 when it is not.
    std::chrono::milliseconds owed(const QDateTime &now) const;
    std::chrono::milliseconds deadline() const;
    std::optional<qint64> answerMs() const { return m_answerMs; }
    // Nothing is owed any more (the line was closed, or someone else had it);
    // `board` also forgets the board's answer time (another board may answer next).
    void forget(bool board);

private:
    QList<QDateTime> m_unanswered; // when the requests still owed an answer went out, oldest first
    int m_ticks = 0;               // ticks since the last request went out; from -1 between two ticks
    std::optional<qint64> m_answerMs;
};
