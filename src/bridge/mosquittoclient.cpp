#include "bridge/mosquittoclient.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>

namespace {

// libmosquitto's error lines since a failure, as the reason for it: the two verify failures
// people meet are said in plain words (OpenSSL's own words do not tell them apart).
QString TlsReason(const QStringList &errors, const QString &host)
{
    if (errors.contains(QStringLiteral("host name verification failed")))
        return QStringLiteral("TLS: host name verification failed (the broker's certificate is not for %1)").arg(host);
    if (errors.contains(QStringLiteral("certificate verify failed")))
        return QStringLiteral("TLS: certificate verify failed (the broker's certificate is not signed by tls_ca, "
                              "or is out of date)");
    return QStringLiteral("TLS: ") + errors.join(QStringLiteral("; "));
}

} // namespace

MosquittoClient::MosquittoClient(const MqttSettings &settings, std::function<void(const QString &)> log)
    : m_settings(settings), m_log(std::move(log))
{
    mosquitto_lib_init();
    // Clean session off: the broker keeps the subscriptions and queues QoS 1 requests while the bridge is away.
    m_mosq = mosquitto_new(settings.clientId.toUtf8().constData(), settings.cleanSession, this);
    if (!m_mosq) {
        // The configuration refuses every client_id libmosquitto is known to refuse;
        // should another slip through (or memory run out), the bridge stops with exit 2.
        m_setupError = QStringLiteral("client_id %1: libmosquitto cannot make a client with it").arg(settings.clientId);
        return;
    }
    mosquitto_connect_callback_set(m_mosq, &MosquittoClient::OnConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MosquittoClient::OnDisconnect);
    mosquitto_message_callback_set(m_mosq, &MosquittoClient::OnMessage);
    if (settings.mqtt5) {
        m_v5 = mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5) == MOSQ_ERR_SUCCESS;
        mosquitto_publish_v5_callback_set(m_mosq, &MosquittoClient::OnPublish);
    }
    if (!settings.username.isEmpty())
        mosquitto_username_pw_set(m_mosq, settings.username.toUtf8().constData(),
                                  settings.password.isEmpty() ? nullptr : settings.password.toUtf8().constData());
    if (!settings.tlsCa.isEmpty()) {
        // A broker's certificate is checked against the CA and the host name (libmosquitto's default).
        const int rc =
            mosquitto_tls_set(m_mosq, settings.tlsCa.toUtf8().constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            m_setupError = QStringLiteral("tls_ca %1: %2")
                               .arg(settings.tlsCa, rc == MOSQ_ERR_INVAL ? QStringLiteral("cannot be read")
                                                                         : QString::fromUtf8(mosquitto_strerror(rc)));
        mosquitto_log_callback_set(m_mosq, &MosquittoClient::OnLog);
    }
    m_misc.setInterval(1000);
    connect(&m_misc, &QTimer::timeout, this, [this] {
        if (!m_mosq || !m_read)
            return;
        const int rc = mosquitto_loop_misc(m_mosq);
        if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)
            lost(QString::fromUtf8(mosquitto_strerror(rc)));
        updateWrite();
    });
    m_uptime.start();
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, [this] { attempt(); });
}

MosquittoClient::~MosquittoClient()
{
    m_read.reset();
    m_write.reset();
    mosquitto_destroy(m_mosq);
    mosquitto_lib_cleanup();
}

void MosquittoClient::setWill(const QString &topic, const QByteArray &payload)
{
    mosquitto_will_set(m_mosq, topic.toUtf8().constData(), int(payload.size()), payload.constData(), 1, true);
}

void MosquittoClient::start()
{
    if (!m_setupError.isEmpty())
        return; // TLS was asked for and cannot be had: no connection at all rather than a plain one
    attempt();
}

void MosquittoClient::attempt()
{
    ++m_attempts;
    // The first call keeps host and port even when it fails; later ones reuse them.
    const int rc = m_everConnected || m_attempts > 1
                       ? mosquitto_reconnect_async(m_mosq)
                       : mosquitto_connect_async(m_mosq, m_settings.host.toUtf8().constData(), m_settings.port, 30);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno)) : QString::fromUtf8(mosquitto_strerror(rc)));
        return;
    }
    watchSocket();
}

void MosquittoClient::watchSocket()
{
    const int fd = mosquitto_socket(m_mosq);
    if (fd < 0) {
        lost(QStringLiteral("no socket"));
        return;
    }
    m_read = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Read);
    m_write = std::make_unique<QSocketNotifier>(qintptr(fd), QSocketNotifier::Write);
    connect(m_read.get(), &QSocketNotifier::activated, this, [this] {
        const int rc = mosquitto_loop_read(m_mosq, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            lost(QString::fromUtf8(mosquitto_strerror(rc)));
        else
            updateWrite();
    });
    connect(m_write.get(), &QSocketNotifier::activated, this, [this] {
        const int rc = mosquitto_loop_write(m_mosq, 1);
        if (rc != MOSQ_ERR_SUCCESS)
            lost(QString::fromUtf8(mosquitto_strerror(rc)));
        else
            updateWrite();
    });
    m_misc.start();
    updateWrite();
}

void MosquittoClient::updateWrite()
{
    if (m_write && m_mosq)
        m_write->setEnabled(mosquitto_want_write(m_mosq));
}

void MosquittoClient::lost(QString why)
{
    if (!m_tlsReasons.isEmpty())
        why = TlsReason(std::exchange(m_tlsReasons, {}), m_settings.host);
    if (!m_read && m_retry.isActive())
        return;
    // Called from within a notifier's own signal: the notifiers go once it has returned.
    for (auto *n : {&m_read, &m_write})
        if (*n) {
            (*n)->setEnabled(false);
            n->release()->deleteLater();
        }
    m_misc.stop();
    const bool was = std::exchange(m_connected, false);
    if (was && m_takeover.dropped(m_uptime.elapsed()) && m_log)
        m_log(QStringLiteral("broker: another client uses client_id %1: the broker closed %2 connections within %3 s "
                             "of accepting them; MQTT allows one connection per client_id, so give each bridge its "
                             "own. Trying again every %4 s")
                  .arg(m_settings.clientId)
                  .arg(kTakeoverDrops)
                  .arg(kQuickDropMs / 1000)
                  .arg(kTakeoverDelaySeconds));
    if (was && m_handlers.disconnected)
        m_handlers.disconnected(m_takeover.suspected()
                                    ? why + QStringLiteral(", taken over by another client with client_id ") +
                                          m_settings.clientId
                                    : why);
    if (!was && m_handlers.attemptFailed)
        m_handlers.attemptFailed(why);
    if (!was && why != m_lastError && m_log)
        m_log(QStringLiteral("broker: cannot connect to %1:%2: %3").arg(m_settings.host).arg(m_settings.port).arg(why));
    m_lastError = why;
    retryLater();
}

void MosquittoClient::retryLater()
{
    if (!m_retry.isActive())
        m_retry.start(m_takeover.delaySeconds(m_attempts) * 1000);
}

void MosquittoClient::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    if (!m_connected)
        return;
    int mid = 0;
    if (mosquitto_publish(m_mosq, &mid, topic.toUtf8().constData(), int(payload.size()), payload.constData(), 1,
                          retain) == MOSQ_ERR_SUCCESS &&
        m_v5)
        m_inFlight.insert(mid, topic);
    updateWrite();
}

void MosquittoClient::subscribe(const QString &filter)
{
    mosquitto_subscribe(m_mosq, nullptr, filter.toUtf8().constData(), 1);
    updateWrite();
}

void MosquittoClient::unsubscribe(const QString &filter)
{
    mosquitto_unsubscribe(m_mosq, nullptr, filter.toUtf8().constData());
    updateWrite();
}

void MosquittoClient::disconnectNow()
{
    if (!m_connected)
        return;
    mosquitto_disconnect(m_mosq);
    for (int i = 0; i < 10 && mosquitto_want_write(m_mosq); ++i)
        mosquitto_loop_write(m_mosq, 1);
    m_connected = false;
}

void MosquittoClient::OnConnect(mosquitto *, void *obj, int rc)
{
    auto *self = static_cast<MosquittoClient *>(obj);
    // A broker that speaks only MQTT 3.1.1 refuses a version-5 connect: 3.1.1 then, at once.
    if (self->m_v5 && (rc == 1 || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION)) {
        self->m_v5 = false;
        mosquitto_int_option(self->m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        if (self->m_log)
            self->m_log(QStringLiteral("broker: MQTT 5 refused, speaking MQTT 3.1.1 (refusals come back unexplained)"));
        self->lost(QStringLiteral("MQTT 5 not spoken"));
        self->m_retry.start(0);
        return;
    }
    if (rc != 0) {
        // Refused by the broker (e.g. a wrong password): said once, then tried again with back-off.
        self->lost(QStringLiteral("refused by the broker: %1")
                       .arg(QString::fromUtf8(self->m_v5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc))));
        return;
    }
    self->m_inFlight.clear();
    self->m_connected = true;
    self->m_everConnected = true;
    self->m_attempts = 0;
    self->m_lastError.clear();
    self->m_takeover.connected(self->m_uptime.elapsed());
    if (self->m_handlers.connected)
        self->m_handlers.connected();
    self->updateWrite();
}

void MosquittoClient::OnDisconnect(mosquitto *, void *obj, int rc)
{
    auto *self = static_cast<MosquittoClient *>(obj);
    if (rc != 0)
        self->lost(QStringLiteral("connection lost"));
}

void MosquittoClient::OnPublish(mosquitto *, void *obj, int mid, int reason, const mqtt5__property *)
{
    auto *self = static_cast<MosquittoClient *>(obj);
    const QString topic = self->m_inFlight.take(mid);
    if (reason >= 0x80 && !topic.isEmpty() && self->m_handlers.refused)
        self->m_handlers.refused(topic, QString::fromUtf8(mosquitto_reason_string(reason)));
}

void MosquittoClient::OnLog(mosquitto *, void *obj, int level, const char *text)
{
    // libmosquitto empties OpenSSL's error queue into its log ("OpenSSL Error[0]: error:0A000086:SSL
    // routines::certificate verify failed") and logs a host name mismatch there too; nowhere else
    // is a TLS failure's reason to be had.
    if (level != MOSQ_LOG_ERR)
        return;
    QString reason = QString::fromUtf8(text);
    if (reason.startsWith(QStringLiteral("OpenSSL Error")))
        reason = reason.section(QLatin1Char(':'), -1);
    reason = reason.remove(QStringLiteral("Error: ")).trimmed();
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    auto *self = static_cast<MosquittoClient *>(obj);
    if (!reason.isEmpty() && !self->m_tlsReasons.contains(reason))
        self->m_tlsReasons << reason;
}

void MosquittoClient::OnMessage(mosquitto *, void *obj, const mosquitto_message *m)
{
    auto *self = static_cast<MosquittoClient *>(obj);
    // Not copied: a payload far too big for a request is refused unread, and libmosquitto frees it on return.
    if (self->m_handlers.message)
        self->m_handlers.message(QString::fromUtf8(m->topic),
                                 QByteArray::fromRawData(static_cast<const char *>(m->payload), m->payloadlen),
                                 m->retain);
}
