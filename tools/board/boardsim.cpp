// The simulated relay board's behaviour; see boardsim.h.
#include "boardsim.h"

#include <algorithm>

using namespace board;

namespace {
constexpr int kSealedBytes = 20;
constexpr int kYearBase = 2000;
constexpr int kWeekdays = 7;
// A tick that spans longer than this (a suspended host) only fires the most recent year.
constexpr int kMaxCatchUpDays = 366;
constexpr int kPercent = 100;

QDateTime Naive(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC);
}
} // namespace

void board::Seal(Bytes &f)
{
    unsigned sum = 0;
    uint8_t x = 0;
    for (int i = 0; i < kSealedBytes; ++i) {
        sum += f[i];
        x ^= f[i];
    }
    f[20] = uint8_t(sum);
    f[21] = x;
}

bool board::SealIsValid(const Bytes &f)
{
    Bytes copy = f;
    Seal(copy);
    return copy[20] == f[20] && copy[21] == f[21];
}

QByteArray board::ToByteArray(const Bytes &f)
{
    return QByteArray(reinterpret_cast<const char *>(f.data()), kFrameSize);
}

BoardSim::BoardSim(const BoardConfig &config, const QDateTime &clock, int64_t nowMs)
    : m_config(config), m_rng(config.faults.seed), m_slots(size_t(kChannels * kSlots)), m_nowMs(nowMs),
      m_clockBase(Naive(clock.date(), clock.time())), m_clockBaseMs(nowMs)
{
}

QDateTime BoardSim::clock() const
{
    return m_clockBase.addMSecs(int64_t(double(m_nowMs - m_clockBaseMs) * m_config.clockRate));
}

int BoardSim::weekdayIndex(const QDate &date) const
{
    return (date.dayOfWeek() % kWeekdays + m_weekdayShift) % kWeekdays;
}

int BoardSim::weekday() const
{
    return weekdayIndex(clock().date()) + 1;
}

bool BoardSim::relayOn(int channel) const
{
    return channel >= 1 && channel <= kChannels && (m_relays >> (channel - 1)) & 1u;
}

int BoardSim::listLength(int channel) const
{
    if (channel < 1 || channel > kChannels)
        return 0;
    int n = 0;
    while (n < kSlots && slot(channel, n + 1).mode != kModeBlank)
        ++n;
    return n;
}

void BoardSim::note(const QString &text)
{
    m_notes.push_back({clock(), text});
}

std::vector<QByteArray> BoardSim::feed(const QByteArray &bytes)
{
    std::vector<QByteArray> out;
    if (m_config.faults.silent)
        return out;
    m_input.append(bytes);
    for (;;) {
        const qsizetype header = m_input.indexOf(char(kRequestHeader));
        if (header < 0) {
            if (!m_input.isEmpty())
                note(QStringLiteral("skipped %1 stray bytes").arg(m_input.size()));
            m_input.clear();
            break;
        }
        if (header > 0) {
            note(QStringLiteral("skipped %1 stray bytes").arg(header));
            m_input.remove(0, header);
        }
        if (m_input.size() < kFrameSize)
            break;
        Bytes f{};
        std::copy_n(reinterpret_cast<const uint8_t *>(m_input.constData()), kFrameSize, f.begin());
        if (!SealIsValid(f)) {
            // Not a frame after all (or a damaged one): look for the next header inside it.
            ++m_ignoredFrames;
            note(QStringLiteral("ignored frame with bad checksum"));
            m_input.remove(0, 1);
            continue;
        }
        m_input.remove(0, kFrameSize);
        if (f[1] != m_config.address) {
            note(QStringLiteral("ignored frame for address %1").arg(f[1]));
            continue;
        }
        tamperBefore(f);
        handle(f, out);
    }
    return out;
}

Bytes BoardSim::reply(uint8_t code) const
{
    Bytes f{};
    f[0] = kReplyHeader;
    f[1] = m_config.address;
    f[2] = code;
    return f;
}

void BoardSim::putClock(Bytes &f, int at) const
{
    const QDateTime now = clock();
    f[at] = uint8_t(now.date().year() % 100);
    f[at + 1] = uint8_t(now.date().month());
    f[at + 2] = uint8_t(now.date().day());
    f[at + 3] = uint8_t(weekday());
    f[at + 4] = uint8_t(now.time().hour());
    f[at + 5] = uint8_t(now.time().minute());
    f[at + 6] = uint8_t(now.time().second());
}

void BoardSim::send(const Bytes &r, std::vector<QByteArray> &out)
{
    Bytes f = r;
    Seal(f);
    const BoardFaults &faults = m_config.faults;
    if (faults.dropPercent > 0 && int(m_rng() % kPercent) < faults.dropPercent) {
        note(QStringLiteral("fault: dropped reply %1").arg(f[2]));
        return;
    }
    if (faults.corruptPercent > 0 && int(m_rng() % kPercent) < faults.corruptPercent) {
        const int at = int(m_rng() % kFrameSize);
        const uint8_t flip = uint8_t(1 + m_rng() % 255);
        note(QStringLiteral("fault: corrupted reply %1 byte %2 (%3 -> %4)")
                 .arg(f[2])
                 .arg(at)
                 .arg(f[at])
                 .arg(uint8_t(f[at] ^ flip)));
        f[at] ^= flip;
    }
    out.push_back(ToByteArray(f));
}

void BoardSim::tamperBefore(const Bytes &q)
{
    const Tamper &t = m_config.tamper;
    if (t.channel == 0 || m_tamperState == TamperState::Done)
        return;
    const bool writesIt = q[2] == kWriteEntry && q[4] == t.channel && q[5] == t.number;
    if (m_tamperState == TamperState::Waiting) {
        if (writesIt)
            m_tamperState = TamperState::Armed;
        return;
    }
    if (writesIt)
        return; // a repeat of the same write
    m_tamperState = TamperState::Done;
    Slot &s = slot(t.channel, t.number);
    if (s.mode == kModeBlank)
        return;
    constexpr int kMinutes = 60;
    s.minute = uint8_t((s.minute + 1) % kMinutes);
    note(QStringLiteral("fault: tampered with channel %1 entry %2 (minute now %3)")
             .arg(t.channel)
             .arg(t.number)
             .arg(s.minute));
}

void BoardSim::handle(const Bytes &q, std::vector<QByteArray> &out)
{
    const uint8_t code = q[2];
    switch (code) {
    case kWriteEntry: {
        const int channel = q[4];
        const int number = q[5];
        if (channel >= 1 && channel <= kChannels && number >= 1 && number <= kSlots)
            slot(channel, number) = Slot{q[6], q[7], q[8], q[9], q[10], q[11], q[12], q[13], q[14]};
        else
            note(QStringLiteral("write entry out of range: channel %1 number %2").arg(channel).arg(number));
        if (m_config.faults.noWriteAck) {
            note(QStringLiteral("fault: write entry not acknowledged"));
            return;
        }
        send(reply(kWriteEntry), out);
        return;
    }
    case kReadEntry: {
        const int channel = q[4];
        const int number = q[5];
        Bytes r = reply(kReadEntry);
        r[4] = q[4];
        r[5] = q[5];
        if (number >= 1 && number <= listLength(channel)) {
            const Slot &s = slot(channel, number);
            const uint8_t fields[] = {s.mode, s.year, s.month, s.day, s.weekMask, s.hour, s.minute, s.second, s.action};
            std::copy(std::begin(fields), std::end(fields), r.begin() + 6);
        }
        send(r, out);
        return;
    }
    case kSetClock: {
        const QDate date(kYearBase + q[4], q[5], q[6]);
        const QTime time(q[8], q[9], q[10]);
        if (date.isValid() && time.isValid()) {
            m_clockBase = Naive(date, time);
            m_clockBaseMs = m_nowMs;
            const int told = q[7] - 1;
            m_weekdayShift =
                (told >= 0 && told < kWeekdays) ? (told - date.dayOfWeek() % kWeekdays + kWeekdays) % kWeekdays : 0;
        } else {
            note(QStringLiteral("set clock with an impossible date or time ignored"));
        }
        send(reply(kSetClock), out);
        return;
    }
    case kReadClock: {
        Bytes r = reply(kReadClock);
        putClock(r, 4);
        send(r, out);
        return;
    }
    case kStatus:
    case kStatusCompat: {
        const uint16_t mask = uint16_t(q[4] | (q[5] << 8));
        // Code 16 with both masks clear only asks; code 19 always commands.
        if (code == kStatusCompat || mask != 0)
            setRelays(mask, QStringLiteral("command"), clock());
        Bytes r = reply(code);
        r[4] = uint8_t(m_relays & 0xFF);
        r[5] = uint8_t(m_relays >> 8);
        putClock(r, 13);
        send(r, out);
        return;
    }
    default:
        note(QStringLiteral("unknown command code %1 ignored").arg(code));
    }
}

void BoardSim::setRelays(uint16_t mask, const QString &cause, const QDateTime &when)
{
    for (int ch = 1; ch <= kChannels; ++ch)
        setRelay(ch, (mask >> (ch - 1)) & 1u, cause, when);
}

void BoardSim::setRelay(int channel, bool on, const QString &cause, const QDateTime &when)
{
    if (relayOn(channel) == on)
        return;
    const uint16_t bit = uint16_t(1u << (channel - 1));
    m_relays = on ? uint16_t(m_relays | bit) : uint16_t(m_relays & ~bit);
    m_relayLog.push_back({channel, on, cause, when});
}

void BoardSim::tick(int64_t nowMs)
{
    if (nowMs <= m_nowMs)
        return;
    const QDateTime from = clock();
    m_nowMs = nowMs;
    runSchedules(from, clock());
}

// Fires every entry whose moment lies in (from, to], oldest first.
void BoardSim::runSchedules(const QDateTime &from, const QDateTime &to)
{
    QDate first = from.date();
    if (first.daysTo(to.date()) > kMaxCatchUpDays)
        first = to.date().addDays(-kMaxCatchUpDays);
    std::vector<Firing> firings;
    for (int ch = 1; ch <= kChannels; ++ch) {
        const int length = listLength(ch);
        for (int n = 1; n <= length; ++n) {
            const Slot &s = slot(ch, n);
            const QTime at(s.hour, s.minute, s.second);
            if (!at.isValid())
                continue;
            const bool on = s.action != kActionOff;
            auto consider = [&](const QDate &date) {
                const QDateTime when = Naive(date, at);
                if (when > from && when <= to)
                    firings.push_back({when, ch, n, on});
            };
            if (s.mode == kModeDaily || s.mode == kModeWeekly) {
                for (QDate d = first; d <= to.date(); d = d.addDays(1))
                    if (s.mode == kModeDaily || (s.weekMask >> weekdayIndex(d)) & 1u)
                        consider(d);
            } else {
                const QDate date(kYearBase + s.year, s.month, s.day);
                if (date.isValid())
                    consider(date);
            }
        }
    }
    std::stable_sort(firings.begin(), firings.end(), [](const Firing &a, const Firing &b) {
        if (a.when != b.when)
            return a.when < b.when;
        return a.channel != b.channel ? a.channel < b.channel : a.number < b.number;
    });
    for (const Firing &f : firings)
        setRelay(f.channel, f.on, QStringLiteral("schedule ch %1 #%2").arg(f.channel).arg(f.number), f.when);
}

int64_t SerialLine::wireUs(qsizetype bytes) const
{
    constexpr int64_t kUsPerSecond = 1000000;
    return m_timing.baud > 0 ? int64_t(bytes) * kBitsPerByte * kUsPerSecond / m_timing.baud : 0;
}

int64_t SerialLine::requestDone(int64_t nowUs, qsizetype bytes)
{
    m_inFreeUs = std::max(nowUs, m_inFreeUs) + wireUs(bytes);
    return m_inFreeUs;
}

std::vector<LinePiece> SerialLine::reply(int64_t requestDoneUs, const QByteArray &bytes)
{
    constexpr int64_t kUsPerMs = 1000;
    const int64_t start =
        std::max(requestDoneUs + int64_t(m_timing.answerMs + m_timing.delayMs) * kUsPerMs, m_outFreeUs);
    std::vector<LinePiece> pieces;
    const qsizetype piece =
        m_timing.split ? (bytes.size() + kSplitPieces - 1) / kSplitPieces : std::max<qsizetype>(bytes.size(), 1);
    int64_t gap = 0;
    for (qsizetype at = 0; at < bytes.size(); at += piece, gap += kSplitGapUs) {
        const qsizetype end = std::min(at + piece, bytes.size());
        pieces.push_back({start + wireUs(end) + gap, bytes.mid(at, end - at)});
    }
    m_outFreeUs = pieces.empty() ? start : pieces.back().dueUs;
    return pieces;
}
