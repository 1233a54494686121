// What went over the line: a bounded ring of every frame sent and received
// (at most kCapacity; when full, the oldest hundredth goes),
// stray bytes and unanswered requests, kept from the first 打开 on whether a
// window shows it or not. LoggedLink feeds it from the one place every frame
// passes; the window, its saved files and kelmora-cli's --trace read it.
#pragma once

#include "device/seriallink.h"
#include "protocol/framewords.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

enum class RecordEvent : uint8_t {
    Frame,   // a whole frame, sent or received
    Stray,   // received bytes thrown away before a request: they made no frame
    GivenUp, // a request that another replaced before any answer came (bytes: the request)
};

// One row of the log: 48 bytes, so the full ring holds 4.8 MB.
struct FrameRecord {
    qint64 atMs = 0; // the computer's clock, ms since the epoch
    Frame bytes{};
    uint8_t length = kFrameSize; // fewer for stray bytes
    FrameDirection direction = FrameDirection::Sent;
    RecordEvent event = RecordEvent::Frame;
    uint8_t sends = 1;         // a request: the how-many-th time it went out; given up: how often it did
    int32_t gapMs = -1;        // a reply: since the request before it went out; -1 none
    uint16_t relaysBefore = 0; // a request: the relay states the board last reported...
    bool relaysKnown = false;  // ...if it has
    // RecordWords' kind and fault, kept for the filter and the colours.
    FrameKind kind = FrameKind::Other;
    bool fault = false;
    bool damaged = false; // a re-send or one given up: its last answer came back damaged
};
static_assert(sizeof(FrameRecord) == 48);

// The words of a record: a frame's meaning, with a re-send or a fault in front.
FrameWords RecordWords(const FrameRecord &r);

// One line of the log, as the window shows it and as --trace and 保存 write it:
// time (hh:mm:ss.mmm), 发送/接收, bytes, meaning, gap ("48 ms"), joined by tabs.
// `csv`: comma-separated, each field quoted as needed.
QString RecordLine(const FrameRecord &r, bool csv = false);
QString RecordField(const FrameRecord &r, int column); // 0..4 as above
QString RecordHeader(bool csv = false);

// Which rows the window shows.
enum class KindFilter { All, Status, Relay, Write, Read, Clock, Faults };
struct LogFilter {
    bool sent = true;
    bool received = true;
    KindFilter kind = KindFilter::All;
    QString text; // found in the meaning or the bytes, case ignored
};
bool Passes(const FrameRecord &r, const LogFilter &filter);

class FrameLog {
public:
    static constexpr int kCapacity = 100000;
    using Clock = std::function<qint64()>; // ms since the epoch

    explicit FrameLog(Clock clock = {}, int capacity = kCapacity);

    void sent(const Frame &frame);
    void received(const Frame &frame);
    void stray(const QByteArray &bytes);
    // A record made elsewhere (the bridge's frames of a network board), as it is.
    void recorded(const FrameRecord &record) { add(record); }
    // Empties the rows; what the line is waiting for stays known.
    void clear();

    // Records are numbered from 0 in the order they came; the ring holds
    // [firstSeq, endSeq).
    quint64 firstSeq() const { return m_end - quint64(m_size); }
    quint64 endSeq() const { return m_end; }
    int size() const { return m_size; }
    const FrameRecord &at(quint64 seq) const { return m_ring[size_t(seq % quint64(m_capacity))]; }

    // Called after each record is added, with its number.
    void setListener(std::function<void(quint64)> listener) { m_listener = std::move(listener); }

private:
    void add(FrameRecord r);

    Clock m_clock;
    int m_capacity;
    std::vector<FrameRecord> m_ring;
    int m_size = 0;
    quint64 m_end = 0;
    std::function<void(quint64)> m_listener;
    // The request last sent, when, how often in a row, and whether it has its answer.
    std::optional<Frame> m_request;
    qint64 m_requestAt = 0;
    int m_sends = 0;
    bool m_answered = false;
    // Its answer came back damaged, so a re-send names that as the cause. The
    // log judges check bytes by the rule the engine takes replies by.
    bool m_damagedAnswer = false;
    ReplyTrust m_trust;
    std::optional<uint16_t> m_relays;
};

// A SerialLink that tells the log every frame it writes and receives and the
// bytes the port threw away, and otherwise passes everything through.
class LoggedLink final : public SerialLink, private LinkListener {
public:
    LoggedLink(SerialLink &inner, FrameLog &log);
    ~LoggedLink() override;

    void setListener(LinkListener *listener) override { m_listener = listener; }
    OpenResult open(int portNumber) override { return m_inner.open(portNumber); }
    void close() override { m_inner.close(); }
    bool isOpen() const override { return m_inner.isOpen(); }
    void discardInput() override { m_inner.discardInput(); }
    void write(const QByteArray &bytes) override;

private:
    void onFrame(const Frame &frame) override;
    void onLinkFailed(const QString &why) override;
    void onStrayBytes(const QByteArray &bytes) override { m_log.stray(bytes); }

    SerialLink &m_inner;
    FrameLog &m_log;
    LinkListener *m_listener = nullptr;
};

// The rows that pass `filter`, one line each after a header line, as 保存 writes them.
QString LogText(const FrameLog &log, const LogFilter &filter, bool csv);
