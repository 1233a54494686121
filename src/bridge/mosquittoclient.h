// MqttClient on libmosquitto, driven from the Qt event loop through its socket:
// single-threaded like the rest of the program.
#pragma once

#include "bridge/bridgeconfig.h"
#include "bridge/mqttclient.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

class MosquittoClient final : public QObject, public MqttClient {
public:
    MosquittoClient(const MqttSettings &settings, std::function<void(const QString &)> log);
    ~MosquittoClient() override;

    void setHandlers(MqttHandlers handlers) override { m_handlers = std::move(handlers); }
    void setWill(const QString &topic, const QByteArray &payload) override;
    void start() override;
    bool isConnected() const override { return m_connected; }
    void publish(const QString &topic, const QByteArray &payload, bool retain) override;
    void subscribe(const QString &filter) override;
    void unsubscribe(const QString &filter) override;
    // Sends what is queued and disconnects cleanly (the will is not published).
    void disconnectNow();
    // Why the settings cannot be used (TLS asked for and not set up); start() then never connects.
    const QString &setupError() const { return m_setupError; }

private:
    static void OnConnect(mosquitto *, void *self, int rc);
    static void OnDisconnect(mosquitto *, void *self, int rc);
    static void OnMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void OnLog(mosquitto *, void *self, int level, const char *text);
    static void OnPublish(mosquitto *, void *self, int mid, int reason, const struct mqtt5__property *);

    void attempt();
    void watchSocket();
    void lost(QString why);
    void retryLater();
    void updateWrite();

    MqttSettings m_settings;
    std::function<void(const QString &)> m_log;
    MqttHandlers m_handlers;
    mosquitto *m_mosq = nullptr;
    std::unique_ptr<QSocketNotifier> m_read, m_write;
    QTimer m_misc;
    QTimer m_retry;
    int m_attempts = 0;
    bool m_connected = false;
    bool m_everConnected = false;
    QString m_lastError;
    QString m_setupError;
    QStringList m_tlsReasons; // libmosquitto's errors since the last failure: TLS reasons
    TakeoverWatch m_takeover;
    QElapsedTimer m_uptime;
    bool m_v5 = false;           // speaking MQTT 5 now
    QMap<int, QString> m_inFlight; // MQTT 5: topics of QoS 1 messages not acknowledged yet, by message id
};
