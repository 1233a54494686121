// The narrow MQTT client the bridge talks through: libmosquitto behind it in
// the program, a recorder in tests.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

struct MqttHandlers {
    std::function<void()> connected;
    std::function<void(const QString &why)> disconnected;
    std::function<void(const QString &topic, const QByteArray &payload)> message;
};

class MqttClient {
public:
    virtual ~MqttClient() = default;
    virtual void setHandlers(MqttHandlers handlers) = 0;
    // The broker publishes this (retained) when the bridge goes without a word.
    virtual void setWill(const QString &topic, const QByteArray &payload) = 0;
    // Connects, and keeps reconnecting with back-off while the broker is gone.
    virtual void start() = 0;
    virtual bool isConnected() const = 0;
    virtual void publish(const QString &topic, const QByteArray &payload, bool retain) = 0;
    virtual void subscribe(const QString &filter) = 0;
};

// Seconds to wait before reconnect attempt `attempt` (1, 2, ...): 1, 2, 4, then
// doubling up to 60.
int ReconnectDelaySeconds(int attempt);
