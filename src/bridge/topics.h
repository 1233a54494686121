// kelmora-bridge's topics: what comes in turned into a request for one board
// (or its refusal), and the payloads that go out. With B = base_topic/ID:
//   in:  B/relay/N/set  B/clock/set  B/schedule/N/set  B/schedule/set  B/schedule/get
//        B/transfer/stop  B/frames/watch
//   out: B/availability  B/info  B/relay/N  B/clock  B/schedule/N  B/transfer  B/frames  B/result
#pragma once

#include "bridge/bridgeconfig.h"
#include "device/framelog.h"
#include "schedule/clsdata.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The largest request is a 255-entry schedule, about 15 kB (26 kB weekly): a payload above this is
// refused unread. B/schedule/set carries up to sixteen of them.
inline constexpr qsizetype kMaxRequestBytes = 64 * 1024;
inline constexpr qsizetype kMaxBookRequestBytes = 16 * kMaxRequestBytes;
inline constexpr int kMaxWatchSeconds = 300;

enum class RequestKind { RelaySet, ClockSet, ScheduleSet, ScheduleGet, BookSet, TransferStop, FramesWatch };

struct BridgeRequest {
    RequestKind kind = RequestKind::RelaySet;
    QString topic;       // as it came, for the result
    QJsonValue id{QJsonValue::Undefined}; // the request's "id", undefined when it had none
    int channel = 0;     // 1..16; 0 = every channel (ScheduleGet)
    bool on = false;     // RelaySet
    QList<Clsdata> entries; // ScheduleSet, BookSet
    QList<int> channels;    // BookSet: the channels written, ascending
    int seconds = 0;        // FramesWatch
    QString by;             // who asks, free text, echoed in the result and B/transfer
};

struct RoutedMessage {
    QString board;
    std::optional<BridgeRequest> request;
    QString refusal; // when there is no request: why
    QString topic;
    QJsonValue id{QJsonValue::Undefined};
    QString by;
};

// Empty for a topic that is no request to one of `boards` (our own state topics included).
std::optional<RoutedMessage> RouteMessage(const QString &base, const QStringList &boards, const QString &topic,
                                          const QByteArray &payload);

// Whether `topic` is one that MQTT's `filter` (with + and #) brings.
bool TopicMatches(const QString &filter, const QString &topic);

// The topic filters that bring every board's requests.
QStringList RequestFilters(const QString &base, const QStringList &boards);

// `command`: "ON"/"OFF" for a relay request (see ResultCommand), so that a client tells its answers apart.
QByteArray ResultPayload(const QString &topic, const QJsonValue &id, bool ok, const QString &error,
                         const QString &command = {}, const QString &by = {});
QString ResultCommand(const BridgeRequest &r);
// The channels a schedule request writes or reads, ascending; none for other requests.
QList<int> TransferChannels(const BridgeRequest &r);
// B/info: what a client needs to show the board as the window does.
QByteArray InfoPayload(const BoardSettings &board, const QStringList &names, const QString &bridge,
                       const QString &version);

// B/transfer: the write or read under way ({"kind":"none"} when there is none).
struct TransferState {
    bool write = false;
    QList<int> channels;
    int done = 0;
    int total = 0;
    std::optional<int> etaSeconds;
    QString request;
    QJsonValue id{QJsonValue::Undefined};
    QString by;
};
QByteArray TransferPayload(const std::optional<TransferState> &t);

// B/frames: one frame log record.
QByteArray FramePayload(const FrameRecord &r);
// And back, for a client's own frame log: empty for a payload that is no frame (or a given-up
// request, which names no bytes).
std::optional<FrameRecord> FrameFromPayload(const QJsonObject &o);

// {"board_time":"2026-12-07T10:00:00","drift_seconds":12}; null drift for a clock that is no time.
QByteArray ClockPayload(const QDateTime &board, std::optional<qint64> drift);
