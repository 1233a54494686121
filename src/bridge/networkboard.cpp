#include "bridge/networkboard.h"

#include "bridge/schedulejson.h"
#include "protocol/replies.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

namespace {

const QString kLinkLostWrite = QStringLiteral("写入未完成：连接已关闭");
const QString kLinkLostRead = QStringLiteral("读取未完成：连接已关闭");
const QString kBusy = QStringLiteral("　（传输中：写入、读取与编辑暂不可用）");

QJsonObject Object(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// "第3路" for one channel, "16路" for several.
QString ChannelsText(const QList<int> &channels)
{
    return channels.size() == 1 ? QStringLiteral("第%1路").arg(channels.first())
                                : QStringLiteral("%1路").arg(channels.size());
}

} // namespace

std::optional<BrokerUrl> ParseBrokerUrl(const QString &text, QString *error)
{
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (!url.isValid() || (scheme != QStringLiteral("mqtt") && scheme != QStringLiteral("mqtts")))
        return fail(QStringLiteral("--broker takes mqtt://[user@]host[:port] or mqtts://..."));
    if (url.host().isEmpty())
        return fail(QStringLiteral("--broker names no host"));
    if (!url.password().isEmpty())
        return fail(QStringLiteral("a password never goes on the command line: use --password-file"));
    if ((!url.path().isEmpty() && url.path() != QStringLiteral("/")) || url.hasQuery() || url.hasFragment())
        return fail(QStringLiteral("--broker takes no path: mqtt://[user@]host[:port]"));
    BrokerUrl b;
    b.tls = scheme == QStringLiteral("mqtts");
    b.host = url.host();
    b.port = url.port(b.tls ? 8883 : 1883);
    b.user = url.userName();
    return b;
}

std::optional<MqttSettings> ClientSettings(const QString &url, const QString &passwordFile, const QString &tlsCa,
                                           const QString &clientId, QString *error)
{
    const std::optional<BrokerUrl> b = ParseBrokerUrl(url, error);
    if (!b)
        return std::nullopt;
    MqttSettings s;
    s.host = b->host;
    s.port = b->port;
    s.username = b->user;
    s.clientId = clientId;
    s.cleanSession = true;
    s.mqtt5 = true;
    if (!passwordFile.isEmpty()) {
        QFile f(passwordFile);
        if (!f.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("password file %1: %2").arg(passwordFile, f.errorString());
            return std::nullopt;
        }
        s.password = QString::fromUtf8(f.readLine()).trimmed();
        s.passwordFile = passwordFile;
    }
    s.tlsCa = !tlsCa.isEmpty() ? tlsCa : b->tls ? kSystemCaFile : QString();
    return s;
}

QStringList BoardDirectory::filters() const
{
    return {m_base + QStringLiteral("/+/info"), m_base + QStringLiteral("/+/availability"),
            m_base + QStringLiteral("/_bridge/+/availability")};
}

void BoardDirectory::take(const QString &topic, const QByteArray &payload)
{
    if (!topic.startsWith(m_base + QLatin1Char('/')))
        return;
    const QStringList rest = topic.mid(m_base.size() + 1).split(QLatin1Char('/'));
    if (rest.size() == 3 && rest[0] == QStringLiteral("_bridge") && rest[2] == QStringLiteral("availability"))
        m_bridgeOnline[rest[1]] = payload == "online";
    else if (rest.size() == 2 && rest[1] == QStringLiteral("info") && !payload.isEmpty())
        m_info[rest[0]] = QJsonDocument::fromJson(payload).object();
    else if (rest.size() == 2 && rest[1] == QStringLiteral("info"))
        m_info.remove(rest[0]); // cleared: the board was taken out
    else if (rest.size() == 2 && rest[1] == QStringLiteral("availability"))
        m_online[rest[0]] = payload == "online";
}

QList<KnownBoard> BoardDirectory::boards() const
{
    QList<KnownBoard> list;
    for (auto it = m_info.cbegin(); it != m_info.cend(); ++it) {
        KnownBoard b{it.key(), it->value(QStringLiteral("name")).toString(),
                     it->value(QStringLiteral("bridge")).toString(), false};
        b.online = m_online.value(b.id) && m_bridgeOnline.value(b.bridge, true);
        list << b;
    }
    return list;
}

QString NetworkClientId(const QString &program)
{
    return QStringLiteral("%1-%2-%3").arg(program, QSysInfo::machineHostName()).arg(QCoreApplication::applicationPid());
}

NetworkBoard::NetworkBoard(EngineView &view, MqttClient &mqtt, ScheduleBook &book, QString base, QString board,
                           QString by, Clock clock)
    : m_view(view), m_mqtt(mqtt), m_book(book), m_base(std::move(base)), m_board(std::move(board)), m_by(std::move(by)),
      m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); })),
      m_session(QString::number(QRandomGenerator::global()->generate64(), 36))
{
}

void NetworkBoard::start()
{
    m_mqtt.setHandlers({[this] { connected(); }, [this](const QString &why) { disconnected(why); },
                        [this](const QString &t, const QByteArray &p, bool) { message(t, p); },
                        [this](const QString &t, const QString &reason) { publishRefused(t, reason); },
                        [this](const QString &why) {
                            if (!m_everConnected)
                                disconnected(why);
                        }});
    showLamps();
    m_mqtt.start();
}

void NetworkBoard::leave()
{
    if (m_transfer)
        endTransfer(false, QString());
    m_left = true;
    m_relays.clear();
    m_clockSet.reset();
    showLamps();
}

// ---------------------------------------------------------------- the broker

void NetworkBoard::connected()
{
    m_connected = m_everConnected = true;
    m_brokerFailure.clear();
    m_subscribedAt = m_clock();
    for (const char *t : {"availability", "info", "relay/+", "clock", "schedule/+", "transfer", "result"})
        m_mqtt.subscribe(topic(QLatin1String(t)));
    if (!m_bridgeTopic.isEmpty())
        m_mqtt.subscribe(m_bridgeTopic);
    if (m_watching) {
        m_mqtt.subscribe(topic(QStringLiteral("frames")));
        m_watchRenew = m_clock();
    }
    reachabilityChanged();
}

void NetworkBoard::disconnected(const QString &why)
{
    if (!m_everConnected)
        m_brokerFailure = why;
    m_connected = false;
    m_lostWhy = why;
    // Whatever the bridge answers meanwhile is lost with the connection: the outcome is not known.
    if (m_transfer)
        endTransfer(false, QString());
    if (m_clockSet)
        refuse(QStringLiteral("与代理服务器的连接中断"), true);
    m_clockSet.reset();
    m_relays.clear();
    m_other.clear();
    reachabilityChanged();
}

void NetworkBoard::message(const QString &t, const QByteArray &payload)
{
    if (m_left)
        return;
    if (t == m_bridgeTopic) {
        m_bridgeOnline = payload == "online";
        return reachabilityChanged();
    }
    const QString prefix = topic(QString());
    if (!t.startsWith(prefix))
        return;
    const QStringList rest = t.mid(prefix.size()).split(QLatin1Char('/'));
    const QString &what = rest.first();
    const auto channel = [&rest]() {
        bool ok = false;
        const int n = rest.size() == 2 ? rest[1].toInt(&ok) : 0;
        return ok && n >= 1 && n <= 16 && rest[1] == QString::number(n) ? n : 0;
    };
    if (what == QStringLiteral("availability")) {
        m_online = payload == "online";
        reachabilityChanged();
    } else if (what == QStringLiteral("info")) {
        m_info = Object(payload);
        const QString bridge = m_info.value(QStringLiteral("bridge")).toString();
        const QString bridgeTopic =
            bridge.isEmpty() ? QString() : QStringLiteral("%1/_bridge/%2/availability").arg(m_base, bridge);
        if (bridgeTopic != m_bridgeTopic) {
            if (!m_bridgeTopic.isEmpty())
                m_mqtt.unsubscribe(m_bridgeTopic);
            m_bridgeTopic = bridgeTopic;
            m_bridgeOnline.reset();
            if (!m_bridgeTopic.isEmpty())
                m_mqtt.subscribe(m_bridgeTopic);
        }
        reachabilityChanged();
    } else if (what == QStringLiteral("relay") && channel()) {
        m_relayStates[size_t(channel() - 1)] = payload == "ON";
        showLamps();
    } else if (what == QStringLiteral("clock") && rest.size() == 1) {
        const QJsonObject o = Object(payload);
        const QJsonValue d = o.value(QStringLiteral("drift_seconds"));
        m_drift = d.isDouble() ? std::optional<qint64>(qint64(d.toDouble())) : std::nullopt;
        const QDateTime at = QDateTime::fromString(o.value(QStringLiteral("board_time")).toString(), Qt::ISODate);
        m_boardTime = at.isValid() ? std::optional(QDateTime(at.date(), at.time(), Qt::UTC)) : std::nullopt;
        m_boardTimeAt = m_clock();
        if (const auto now = boardClockNow())
            m_view.boardClockSeen(*now, m_drift);
    } else if (what == QStringLiteral("schedule") && channel()) {
        m_schedules[channel()] = QByteArray(payload.constData(), payload.size()); // the payload is only lent
    } else if (what == QStringLiteral("transfer") && rest.size() == 1) {
        transferState(Object(payload));
    } else if (what == QStringLiteral("result") && rest.size() == 1) {
        result(Object(payload));
    } else if (what == QStringLiteral("frames") && rest.size() == 1 && m_watching && m_frames) {
        m_frames(Object(payload));
    }
}

QString NetworkBoard::unreachable() const
{
    if (!m_connected && !m_brokerFailure.isEmpty())
        return QStringLiteral("无法连接代理服务器：") + m_brokerFailure;
    if (!m_connected)
        return m_everConnected ? QStringLiteral("与代理服务器的连接中断：") + m_lostWhy : QString();
    if (m_info.isEmpty())
        return m_subscribedAt.msecsTo(m_clock()) >= kUnknownBoardMs
                   ? QStringLiteral("代理服务器上没有设备 %1").arg(m_board)
                   : QString();
    if (m_bridgeOnline == false)
        return QStringLiteral("桥接程序已停止（%1）").arg(m_info.value(QStringLiteral("bridge")).toString());
    if (m_online == false)
        return QStringLiteral("设备离线：桥接程序收不到它的应答");
    return {};
}

bool NetworkBoard::ready() const
{
    return m_connected && !m_info.isEmpty() && m_online == true && m_bridgeOnline != false &&
           relayStates().has_value();
}

std::optional<uint16_t> NetworkBoard::relayStates() const
{
    uint16_t states = 0;
    for (size_t i = 0; i < m_relayStates.size(); ++i) {
        if (!m_relayStates[i])
            return std::nullopt;
        states |= *m_relayStates[i] ? uint16_t(1u << i) : 0;
    }
    return states;
}

std::optional<QDateTime> NetworkBoard::boardClockNow() const
{
    // The drift holds however old the retained message is; the time it was sent does not.
    if (m_drift)
        return QDateTime(m_clock().date(), m_clock().time(), Qt::UTC).addSecs(*m_drift);
    if (m_boardTime)
        return m_boardTime->addMSecs(m_boardTimeAt.msecsTo(m_clock()));
    return std::nullopt;
}

void NetworkBoard::reachabilityChanged()
{
    const QString why = m_left ? QString() : unreachable();
    if (why != m_shownReach) {
        m_shownReach = why;
        m_view.setActivityText(why);
    }
    showLamps();
    if (m_onChange)
        m_onChange();
}

void NetworkBoard::showLamps()
{
    const bool known = !m_left && m_connected && unreachable().isEmpty() && !m_info.isEmpty();
    for (size_t i = 0; i < m_relayStates.size(); ++i)
        m_view.setLamp(int(i), !known || !m_relayStates[i] ? kLampGrey : *m_relayStates[i] ? kLampGreen : kLampRed);
}

// ---------------------------------------------------------------- the tick

void NetworkBoard::tick()
{
    if (m_left)
        return;
    const QDateTime now = m_clock();
    const auto silent = [&](const QDateTime &since) { return since.msecsTo(now) >= kNoWordMs; };
    const QString noWord = QStringLiteral("桥接程序 %1 秒没有回应（请求可能被代理服务器拒绝）").arg(kNoWordMs / 1000);
    if (m_transfer && !m_other.isEmpty())
        m_transfer->lastWord = now; // queued behind another client's transfer: the bridge is busy, not silent
    if (m_transfer && silent(m_transfer->lastWord))
        endTransfer(false, noWord);
    if (m_clockSet && silent(m_clockSet->lastWord)) {
        m_clockSet.reset();
        refuse(noWord, true);
    }
    if (!m_relays.isEmpty() && silent(m_relays.first().sent)) {
        m_relays.clear();
        refuse(noWord, false);
    }
    if (m_shownReach != unreachable())
        reachabilityChanged();
    if (m_watching && m_connected && now >= m_watchRenew) {
        m_mqtt.publish(topic(QStringLiteral("frames/watch")),
                       request({{QStringLiteral("seconds"), kFrameWatchSeconds}}), false);
        m_watchRenew = now.addSecs(kFrameWatchSeconds - 10);
    }
}

void NetworkBoard::watchFrames(bool on)
{
    if (on == m_watching)
        return;
    m_watching = on;
    m_watchRenew = m_clock();
    if (m_connected)
        on ? m_mqtt.subscribe(topic(QStringLiteral("frames"))) : m_mqtt.unsubscribe(topic(QStringLiteral("frames")));
}

// ---------------------------------------------------------------- requests

QString NetworkBoard::nextId()
{
    return QStringLiteral("%1-%2").arg(m_session).arg(++m_requests);
}

QByteArray NetworkBoard::request(QJsonObject o) const
{
    o[QStringLiteral("by")] = m_by;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool NetworkBoard::mayStartTransfer() const
{
    return !m_left && m_connected && !m_transfer && m_other.isEmpty() && !m_info.isEmpty() &&
           unreachable().isEmpty();
}

void NetworkBoard::refuse(const QString &why, bool box)
{
    m_refusal = why;
    if (box)
        m_view.showMessage(why);
    else
        m_view.setActivityText(why);
    m_view.requestRefused(why);
}

void NetworkBoard::beginTransfer(Pending p, const QString &t, const QByteArray &payload)
{
    p.topic = t;
    p.lastWord = m_clock();
    const bool write = p.kind == TransferKind::Write;
    m_transfer = std::move(p);
    m_refusal.clear();
    if (write) {
        m_view.setProgressMax(0);
        m_view.setProgressValue(0);
        m_view.setProgressVisible(true);
    }
    m_view.setWriteCommandsEnabled(false);
    m_view.setReadCommandsEnabled(false);
    m_view.setTabsEnabled(false);
    m_view.setTransferRunning(true);
    m_view.setTransferNote((write ? QStringLiteral("写入%1") : QStringLiteral("读取%1"))
                               .arg(ChannelsText(m_transfer->channels)) +
                           kBusy);
    m_mqtt.publish(t, payload, false);
}

void NetworkBoard::write(int channel)
{
    if (channel == 0) {
        QList<int> all;
        for (int c = 1; c <= kChannelCount; ++c)
            all << c;
        startWriteChannels(all);
        return;
    }
    if (!mayStartTransfer() || channel < 1 || channel > kChannelCount)
        return;
    QJsonObject o = Object(ScheduleJson(m_book.channel(channel)));
    o[QStringLiteral("id")] = nextId();
    beginTransfer({TransferKind::Write, o.value(QStringLiteral("id")).toString(), {}, {channel}, nullptr, false, {}},
                  topic(QStringLiteral("schedule/%1/set").arg(channel)), request(o));
}

bool NetworkBoard::startWriteChannels(const QList<int> &channels)
{
    if (!mayStartTransfer() || channels.isEmpty())
        return false;
    const QJsonObject all = Object(BookJson(m_book)).value(QStringLiteral("channels")).toObject();
    QJsonObject named;
    for (int c : channels) {
        if (c < 1 || c > kChannelCount)
            return false;
        named[QString::number(c)] = all.value(QString::number(c));
    }
    const QString id = nextId();
    QList<int> sorted = channels;
    std::sort(sorted.begin(), sorted.end());
    beginTransfer({TransferKind::Write, id, {}, sorted, nullptr, false, {}}, topic(QStringLiteral("schedule/set")),
                  request({{QStringLiteral("id"), id}, {QStringLiteral("channels"), named}}));
    return true;
}

void NetworkBoard::read(int channel)
{
    if (!mayStartTransfer() || channel < 0 || channel > kChannelCount)
        return;
    m_view.setProgressMax(0);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    if (!m_view.ask(channel ? kAskReadOne : kAskReadAll))
        return;
    // The book's entries stay until the board's have come: a read that fails loses nothing.
    m_view.showChannel(channel ? channel : 1);
    startVerifyRead(channel, m_book);
}

bool NetworkBoard::startVerifyRead(int channel, ScheduleBook &target)
{
    if (!mayStartTransfer() || channel < 0 || channel > kChannelCount)
        return false;
    Pending p{channel ? TransferKind::Read : TransferKind::ReadAll, nextId(), {}, {}, &target, &target != &m_book, {}};
    for (int c = channel ? channel : 1; c <= (channel ? channel : kChannelCount); ++c)
        p.channels << c;
    QJsonObject o{{QStringLiteral("id"), p.id}};
    if (channel)
        o[QStringLiteral("channel")] = channel;
    m_view.setProgressMax(0);
    m_view.setProgressValue(0);
    m_view.setProgressVisible(true);
    beginTransfer(std::move(p), topic(QStringLiteral("schedule/get")), request(o));
    return true;
}

void NetworkBoard::readClock()
{
    if (const auto t = boardClockNow(); t && unreachable().isEmpty()) {
        m_view.setActivityText(kClockPrefix + t->toString(QStringLiteral("yy-MM-dd hh:mm:ss")));
        m_view.startClockClearTimer();
    }
}

void NetworkBoard::setClock()
{
    if (m_left || !m_connected || m_clockSet)
        return;
    const QString id = nextId();
    m_clockSet = Pending{TransferKind::None, id, topic(QStringLiteral("clock/set")), {}, nullptr, false, m_clock()};
    m_mqtt.publish(m_clockSet->topic, request({{QStringLiteral("id"), id}}), false);
}

void NetworkBoard::switchRelay(int channel, bool on)
{
    if (m_left || !m_connected || channel < 0 || channel > kChannelCount)
        return;
    const QByteArray payload = on ? "ON" : "OFF";
    for (int c = channel ? channel : 1; c <= (channel ? channel : kChannelCount); ++c) {
        const QString t = topic(QStringLiteral("relay/%1/set").arg(c));
        m_relays << RelayPending{t, payload, m_clock()};
        m_mqtt.publish(t, payload, false);
    }
}

void NetworkBoard::stop()
{
    if (m_transfer && m_connected)
        m_mqtt.publish(topic(QStringLiteral("transfer/stop")), request({{QStringLiteral("id"), nextId()}}), false);
}

// ---------------------------------------------------------------- what the bridge answers

void NetworkBoard::publishRefused(const QString &t, const QString &reason)
{
    const QString why = QStringLiteral("代理服务器拒绝了请求（%1）：%2").arg(t, reason);
    if (m_transfer && t == m_transfer->topic) {
        endTransfer(false, why);
    } else if (m_clockSet && t == m_clockSet->topic) {
        m_clockSet.reset();
        refuse(why, true);
    } else if (const auto it = std::find_if(m_relays.begin(), m_relays.end(),
                                            [&](const RelayPending &r) { return r.topic == t; });
               it != m_relays.end()) {
        m_relays.erase(it);
        refuse(why, false);
    } else if (t.endsWith(QStringLiteral("/transfer/stop"))) {
        refuse(why, true);
    }
}

void NetworkBoard::transferState(const QJsonObject &o)
{
    const QString kind = o.value(QStringLiteral("kind")).toString();
    const bool write = kind == QStringLiteral("write");
    const int done = o.value(QStringLiteral("done")).toInt();
    const int total = o.value(QStringLiteral("total")).toInt();
    const QString id = o.value(QStringLiteral("id")).toVariant().toString();
    if (kind != QStringLiteral("write") && kind != QStringLiteral("read")) {
        if (!m_other.isEmpty()) {
            m_other.clear();
            if (!m_transfer) {
                m_view.setWriteCommandsEnabled(true);
                m_view.setReadCommandsEnabled(true);
                m_view.setTransferNote(QString());
            }
        }
        return;
    }
    if (m_transfer && id == m_transfer->id) {
        m_transfer->lastWord = m_clock();
        m_view.setProgressMax(total);
        m_view.setProgressValue(done);
        m_view.setActivityText(QStringLiteral("正在%1%2 %3/%4")
                                   .arg(write ? QStringLiteral("写入") : QStringLiteral("读取"),
                                        ChannelsText(m_transfer->channels))
                                   .arg(done)
                                   .arg(total));
        QString note = QStringLiteral("%1 %2/%3").arg(write ? QStringLiteral("写入") : QStringLiteral("读取")).arg(done).arg(total);
        if (const QJsonValue eta = o.value(QStringLiteral("eta_seconds")); eta.isDouble()) {
            const int s = eta.toInt();
            note += (write ? QStringLiteral("，剩余约") : QStringLiteral("，剩余至多约")) +
                    QStringLiteral("%1分%2秒").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
        }
        m_view.setTransferNote(note + kBusy);
        return;
    }
    QList<int> channels;
    for (const QJsonValue &c : o.value(QStringLiteral("channels")).toArray())
        channels << c.toInt();
    m_other = QStringLiteral("其他位置正在%1%2 %3/%4")
                  .arg(write ? QStringLiteral("写入") : QStringLiteral("读取"), ChannelsText(channels))
                  .arg(done)
                  .arg(total);
    if (!m_transfer) {
        m_view.setWriteCommandsEnabled(false);
        m_view.setReadCommandsEnabled(false);
        m_view.setTransferNote(m_other);
    }
}

void NetworkBoard::result(const QJsonObject &o)
{
    const bool ok = o.value(QStringLiteral("ok")).toBool();
    const QString error = o.value(QStringLiteral("error")).toString();
    const QString request = o.value(QStringLiteral("request")).toString();
    const QString id = o.value(QStringLiteral("id")).toVariant().toString();
    if (m_transfer && id == m_transfer->id) {
        endTransfer(ok, error);
    } else if (m_clockSet && id == m_clockSet->id) {
        m_clockSet.reset();
        if (ok) {
            m_refusal.clear();
            m_view.showMessage(kClockSet);
        } else {
            refuse(error, true);
        }
    } else if (o.value(QStringLiteral("id")).isUndefined()) {
        const QByteArray payload = o.value(QStringLiteral("payload")).toString().toUtf8();
        for (qsizetype i = 0; i < m_relays.size(); ++i) {
            if (m_relays[i].topic != request || m_relays[i].payload != payload)
                continue;
            m_relays.removeAt(i);
            if (ok)
                m_refusal.clear();
            else
                refuse(error, false);
            break;
        }
    }
}

void NetworkBoard::endTransfer(bool ok, const QString &error)
{
    const Pending p = *std::exchange(m_transfer, std::nullopt);
    const bool write = p.kind == TransferKind::Write;
    const bool linkLost = !ok && error.isEmpty();
    TransferResult r;
    r.kind = p.kind;
    r.success = ok;
    r.verify = p.verify;
    r.linkLost = linkLost;
    r.stopped = error.startsWith(QStringLiteral("已停止"));
    static const QRegularExpression where(QStringLiteral("第(\\d+)路第(\\d+)条"));
    if (const QRegularExpressionMatch m = where.match(error); m.hasMatch()) {
        r.channel = m.captured(1).toInt();
        r.number = m.captured(2).toInt();
    }
    if (ok && !write) {
        // The bridge published each channel it read before its result.
        QList<Clsdata> entries;
        for (int c : p.channels) {
            const ScheduleParse s = ParseScheduleJson(m_schedules.value(c), c);
            if (!s.error.isEmpty()) {
                r.success = false;
                break;
            }
            entries << s.entries;
        }
        if (r.success) {
            for (const auto &item : QList<ScheduleBook::Item>(p.target->items()))
                if (p.channels.contains(item.entry->nRoute))
                    p.target->remove(item.key);
            for (const Clsdata &d : entries)
                p.target->add(std::make_shared<Clsdata>(d));
        }
    }
    m_refusal = r.success ? QString() : error;
    m_view.setWriteCommandsEnabled(m_other.isEmpty());
    m_view.setReadCommandsEnabled(m_other.isEmpty());
    m_view.setProgressVisible(false);
    m_view.setActivityText(QString());
    m_view.setTabsEnabled(true);
    m_view.setTransferRunning(false);
    if (!write && !p.verify && r.success)
        m_view.showChannel(p.kind == TransferKind::ReadAll ? 1 : p.channels.first());
    if (linkLost)
        m_view.setTransferNote(write ? kLinkLostWrite : kLinkLostRead);
    else if (r.stopped && write)
        m_view.setTransferNote(
            QStringLiteral("写入停在第%1路第%2条，该路板上计划不完整").arg(r.channel).arg(r.number));
    else if (!m_other.isEmpty())
        m_view.setTransferNote(m_other);
    else
        m_view.setTransferNote(r.success ? QString() : error);
    m_lastResult = r;
    if (!r.success && !linkLost)
        m_view.requestRefused(error.isEmpty() ? (write ? kWriteFailed : kReadFailed) : error);
    if (r.stopped)
        m_view.showMessage(write ? QStringLiteral("已停止（写入停在第%1路第%2条）").arg(r.channel).arg(r.number)
                                 : QStringLiteral("已停止"));
    else if (!linkLost && !p.verify)
        m_view.showMessage(write ? (r.success ? kWriteOk : kWriteFailed) : (r.success ? kReadOk : kReadFailed));
    m_view.transferEnded(r);
}
