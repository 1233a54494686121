// The narrow MQTT client the bridge talks through: libmosquitto behind it in
// the program, a recorder in tests.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <algorithm>
#include <functional>

struct MqttHandlers {
    std::function<void()> connected;
    std::function<void(const QString &why)> disconnected;
    // `retained`: the broker kept it and hands it over on subscribing, not as it is published.
    // `payload` lives only during the call.
    std::function<void(const QString &topic, const QByteArray &payload, bool retained)> message;
    // MQTT 5: the broker refused a message published on `topic` (its ACL), in its words ("Not authorized").
    std::function<void(const QString &topic, const QString &reason)> refused;
    // An attempt to connect failed (refused, or no broker there); it is tried again.
    std::function<void(const QString &why)> attemptFailed;
};

class MqttClient {
public:
    virtual ~MqttClient() = default;
    virtual void setHandlers(MqttHandlers handlers) = 0;
    // The broker publishes this (retained) when the bridge goes without a word.
    virtual void setWill(const QString &topic, const QByteArray &payload) = 0;
    // Connects with a session the broker keeps while the bridge is away (QoS 1
    // requests sent meanwhile come on return), and keeps reconnecting with back-off.
    virtual void start() = 0;
    virtual bool isConnected() const = 0;
    virtual void publish(const QString &topic, const QByteArray &payload, bool retain) = 0;
    virtual void subscribe(const QString &filter) = 0;
    virtual void unsubscribe(const QString &filter) = 0;
};

// Seconds to wait before reconnect attempt `attempt` (1, 2, ...): 1, 2, 4, then
// doubling up to 60.
int ReconnectDelaySeconds(int attempt);

// MQTT lets one connection use a client_id: a second client with ours takes the
// session over, and the broker closes our connection (MQTT 3.1.1 gives no
// reason). A run of connections closed soon after they were accepted tells that
// apart from a broker or network that is merely gone.
inline constexpr qint64 kQuickDropMs = 10 * 1000; // closed this soon after being accepted
inline constexpr qint64 kTakeoverWindowMs = 10 * 60 * 1000;
inline constexpr int kTakeoverDrops = 3;         // quick drops within the window
inline constexpr int kTakeoverDelaySeconds = 60; // between attempts while that lasts

class TakeoverWatch {
public:
    void connected(qint64 ms) { m_connectedAt = ms; }
    // The connection was closed at `ms`; true when this begins a run of takeovers (log it once).
    bool dropped(qint64 ms);
    bool suspected() const { return m_suspected; }
    int delaySeconds(int attempt) const
    {
        return m_suspected ? std::max(kTakeoverDelaySeconds, ReconnectDelaySeconds(attempt))
                           : ReconnectDelaySeconds(attempt);
    }

private:
    qint64 m_connectedAt = -1;
    QList<qint64> m_quick; // when the quick drops of the window were
    bool m_suspected = false;
};
