#include "bridge/bridge.h"

#include "bridge/discovery.h"
#include "bridge/schedulejson.h"
#include "device/framelog.h"
#include "protocol/frames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

int ReconnectDelaySeconds(int attempt)
{
    return attempt <= 1 ? 1 : std::min(60, 1 << std::min(attempt - 1, 6));
}

// One board's end of a shared line: writes go out on the line, replies that
// carry the board's address come back to its session.
class LinePort final : public SerialLink {
public:
    LinePort(SharedLine &line, uint8_t address) : m_line(line), m_address(address) {}
    void setListener(LinkListener *l) override { listener = l; }
    OpenResult open(int) override { return {}; }
    void close() override {}
    bool isOpen() const override;
    void discardInput() override {}
    void write(const QByteArray &bytes) override;

    LinkListener *listener = nullptr;

private:
    SharedLine &m_line;
    uint8_t m_address;
    friend class SharedLine;
};

// One serial line and the boards on it. The line has one owner; its boards
// tick in turn, one per 200 ms, so every board on a line of N is polled at
// least every N x 200 ms whatever another board is doing.
class SharedLine final : public LinkListener {
public:
    SharedLine(Bridge &bridge, QString port, std::unique_ptr<SerialLink> link)
        : bridge(bridge), port(std::move(port)), link(std::move(link))
    {
        this->link->setListener(this);
        // --verbose: every frame in words, re-sends and stray bytes included,
        // as kelmora-cli --trace and 通信记录 show them.
        trace.setListener([this](quint64 seq) {
            if (this->bridge.m_verbose)
                this->bridge.log(this->port + u' ' + RecordLine(trace.at(seq)));
        });
    }
    ~SharedLine() override
    {
        link->setListener(nullptr);
        link->close();
    }
    void onFrame(const Frame &frame) override
    {
        trace.received(frame);
        for (LinePort *p : ports)
            if (p->m_address == frame[1] && p->listener)
                p->listener->onFrame(frame);
    }
    void onStrayBytes(const QByteArray &bytes) override { trace.stray(bytes); }
    void onLinkFailed(const QString &why) override
    {
        bridge.log(QStringLiteral("%1: port lost (%2)").arg(port, why));
        lost = true;
        reopenIn = kReopenTicks;
        for (LinePort *p : ports)
            if (p->listener)
                p->listener->onLinkFailed(why);
    }
    bool tryOpen();

    Bridge &bridge;
    QString port;
    std::unique_ptr<SerialLink> link;
    QList<LinePort *> ports;
    QList<Bridge::Board *> boards;
    int turn = 0;
    bool lost = false;
    int reopenIn = 0;
    QString openError; // what the last failed open said
    FrameLog trace{{}, 64};
};

bool LinePort::isOpen() const
{
    return m_line.link->isOpen();
}

void LinePort::write(const QByteArray &bytes)
{
    m_line.trace.sent(FromBytes(bytes));
    m_line.link->write(bytes);
}

struct Bridge::Running {
    BridgeRequest request;
    int ticks = 0;
};

struct Bridge::Board {
    BoardSettings settings;
    SharedLine *line = nullptr;
    std::unique_ptr<LinePort> port;
    ScheduleBook book; // what a schedule write sends
    ScheduleBook read; // what a schedule read brings
    std::unique_ptr<HeadlessSession> session;
    std::deque<BridgeRequest> queue;
    std::optional<Running> running;
    int waitedTicks = 0;
    bool online = false;
    std::optional<uint16_t> published; // relay states as last published
    std::optional<qint64> clockDrift;
    bool clockPublished = false;
    QDateTime clockPublishedAt;
};

bool SharedLine::tryOpen()
{
    const OpenResult r = bridge.m_open(*link, port);
    if (!r.ok()) {
        // One line per reason: a port that stays gone is not logged every 5 s.
        if (std::exchange(openError, r.detail + r.device) != r.detail + r.device)
            bridge.log(QStringLiteral("%1: %2 %3 %4").arg(port, kOpenError, r.device, r.detail).trimmed());
        lost = true;
        reopenIn = kReopenTicks;
        return false;
    }
    bridge.log(QStringLiteral("%1: open (%2)").arg(port, r.device.isEmpty() ? port : r.device));
    lost = false;
    openError.clear();
    for (Bridge::Board *b : boards)
        b->session->clearLinkLost();
    return true;
}

Bridge::Bridge(BridgeConfig config, MqttClient &mqtt, LinkFactory makeLink, Opener open, Logger log,
               DeviceEngine::Clock clock)
    : m_config(std::move(config)), m_mqtt(mqtt), m_open(std::move(open)), m_log(std::move(log)),
      m_clock(clock ? std::move(clock) : DeviceEngine::Clock([] { return QDateTime::currentDateTime(); }))
{
    QMap<QString, SharedLine *> lines;
    for (const BoardSettings &s : m_config.boards) {
        if (!lines.contains(s.port)) {
            m_lines << std::make_shared<SharedLine>(*this, s.port, makeLink(s.port));
            lines[s.port] = m_lines.last().get();
        }
        auto b = std::make_unique<Board>();
        b->settings = s;
        b->line = lines[s.port];
        b->port = std::make_unique<LinePort>(*b->line, uint8_t(s.address));
        b->session = std::make_unique<HeadlessSession>(*b->port, b->book, s.variant, uint8_t(s.address), m_clock);
        Board *raw = b.get();
        b->session->setOnChange([this, raw] { service(*raw); });
        b->line->ports << b->port.get();
        b->line->boards << raw;
        m_boards.push_back(std::move(b));
    }
    m_mqtt.setHandlers({[this] { onConnected(); },
                        [this](const QString &why) { this->log(QStringLiteral("broker: disconnected (%1)").arg(why)); },
                        [this](const QString &t, const QByteArray &p, bool retained) { onMessage(t, p, retained); }});
    m_mqtt.setWill(bridgeAvailabilityTopic(), "offline");
}

Bridge::~Bridge()
{
    for (auto &b : m_boards)
        b->session->setOnChange({});
}

QString Bridge::bridgeAvailabilityTopic() const
{
    return QStringLiteral("%1/_bridge/%2/availability").arg(m_config.mqtt.baseTopic, m_config.mqtt.clientId);
}

QString Bridge::topic(const Board &b, const QString &rest) const
{
    return QStringLiteral("%1/%2/%3").arg(m_config.mqtt.baseTopic, b.settings.id, rest);
}

void Bridge::log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

HeadlessSession &Bridge::session(const QString &board)
{
    for (auto &b : m_boards)
        if (b->settings.id == board)
            return *b->session;
    Q_ASSERT(false);
    return *m_boards.front()->session;
}

int Bridge::waiting(const QString &board) const
{
    for (const auto &b : m_boards)
        if (b->settings.id == board)
            return int(b->queue.size());
    return 0;
}

void Bridge::start()
{
    for (auto &b : m_boards) {
        setOnline(*b, false);
        QList<Publication> configs = DiscoveryConfigs(m_config.mqtt, b->settings, m_names.value(b->settings.id),
                                                      bridgeAvailabilityTopic());
        for (const Publication &p : configs)
            m_retained[p.first] = p.second;
    }
    for (auto &line : m_lines)
        line->tryOpen();
    m_mqtt.start();
}

void Bridge::stop()
{
    for (auto &b : m_boards)
        setOnline(*b, false);
    if (m_mqtt.isConnected())
        m_mqtt.publish(bridgeAvailabilityTopic(), "offline", true);
}

void Bridge::tick()
{
    for (auto &line : m_lines) {
        if (line->lost) {
            if (--line->reopenIn <= 0)
                line->tryOpen();
            // Requests for its boards still time out.
            for (Board *b : line->boards) {
                if (!b->running && !b->queue.empty())
                    ++b->waitedTicks;
                service(*b);
            }
            continue;
        }
        if (line->boards.isEmpty())
            continue;
        line->turn = (line->turn + 1) % int(line->boards.size());
        Board &b = *line->boards[line->turn];
        if (b.running)
            ++b.running->ticks;
        else if (!b.queue.empty())
            ++b.waitedTicks;
        b.session->tick();
    }
}

// ---------------------------------------------------------------- MQTT

QString Bridge::boardsTopic() const
{
    return QStringLiteral("%1/_bridge/%2/boards").arg(m_config.mqtt.baseTopic, m_config.mqtt.clientId);
}

void Bridge::onConnected()
{
    log(QStringLiteral("broker: connected to %1:%2").arg(m_config.mqtt.host).arg(m_config.mqtt.port));
    QStringList ids;
    for (auto &b : m_boards)
        ids << b->settings.id;
    // The boards of the last start come back retained: those no longer configured lose their discovery.
    m_mqtt.subscribe(boardsTopic());
    for (const QString &f : RequestFilters(m_config.mqtt.baseTopic, ids))
        m_mqtt.subscribe(f);
    m_mqtt.publish(bridgeAvailabilityTopic(), "online", true);
    for (auto it = m_retained.cbegin(); it != m_retained.cend(); ++it)
        m_mqtt.publish(it.key(), it.value(), true);
    const QJsonObject list{{QStringLiteral("boards"), QJsonArray::fromStringList(ids)},
                           {QStringLiteral("by"), m_instance}};
    m_mqtt.publish(boardsTopic(), QJsonDocument(list).toJson(QJsonDocument::Compact), true);
}

void Bridge::onBoardList(const QByteArray &payload, bool retained)
{
    const QJsonObject list =
        QJsonDocument::fromJson(payload.size() > kMaxRequestBytes ? QByteArray() : payload).object();
    const QString by = list.value(QStringLiteral("by")).toString();
    // Only the list this installation left at an earlier start names boards to forget. Another
    // bridge with our client_id publishes its own on the same topic: its boards are not ours.
    if (!by.isEmpty() && by != m_instance && !std::exchange(m_foreignListWarned, true))
        log(QStringLiteral("broker: the board list on %1 is from %2, not from this bridge (%3): another client uses "
                           "client_id %4, or this bridge ran under another host name or configuration file. Its "
                           "boards keep their discovery; give each bridge its own client_id")
                .arg(boardsTopic(), by, m_instance, m_config.mqtt.clientId));
    if (!retained || by.isEmpty() || by != m_instance)
        return;
    for (const QJsonValue &v : list.value(QStringLiteral("boards")).toArray()) {
        if (std::ranges::any_of(m_boards, [&](const auto &b) { return b->settings.id == v.toString(); }))
            continue;
        log(QStringLiteral("board %1: no longer configured, discovery cleared").arg(v.toString()));
        for (const Publication &p : DiscoveryClears(m_config.mqtt, v.toString()))
            m_mqtt.publish(p.first, p.second, true);
        m_mqtt.publish(QStringLiteral("%1/%2/availability").arg(m_config.mqtt.baseTopic, v.toString()), {}, true);
    }
}

void Bridge::onMessage(const QString &t, const QByteArray &payload, bool retained)
{
    if (t == boardsTopic())
        return onBoardList(payload, retained);
    QStringList ids;
    for (auto &b : m_boards)
        ids << b->settings.id;
    const std::optional<RoutedMessage> m = RouteMessage(m_config.mqtt.baseTopic, ids, t, payload);
    if (!m)
        return;
    const QString resultTopic = QStringLiteral("%1/%2/result").arg(m_config.mqtt.baseTopic, m->board);
    const QString command = m->request ? ResultCommand(*m->request) : QString();
    Board *board = nullptr;
    for (auto &b : m_boards)
        if (b->settings.id == m->board)
            board = b.get();
    if (retained) {
        // Kept by the broker, it would run again at every connect: never run, said once per topic.
        const QString why = QStringLiteral("retained request not run; clear it with an empty retained message");
        if (!std::exchange(m_retainedWarned[t], true))
            log(QStringLiteral("board %1: %2: %3").arg(m->board, t, why));
        m_mqtt.publish(resultTopic, ResultPayload(m->topic, m->id, false, why, command), false);
        return;
    }
    if (!m->request) {
        m_mqtt.publish(resultTopic, ResultPayload(m->topic, m->id, false, m->refusal), false);
        return;
    }
    if (int(board->queue.size()) >= kQueueLimit) {
        m_mqtt.publish(resultTopic, ResultPayload(m->topic, m->id, false, QStringLiteral("busy"), command), false);
        return;
    }
    board->queue.push_back(*m->request);
    service(*board);
}

void Bridge::publishRetained(const QString &t, const QByteArray &payload)
{
    if (m_retained.value(t) == payload && m_retained.contains(t))
        return;
    m_retained[t] = payload;
    if (m_mqtt.isConnected())
        m_mqtt.publish(t, payload, true);
}

// ---------------------------------------------------------------- boards

void Bridge::setOnline(Board &b, bool online)
{
    if (online != b.online)
        log(QStringLiteral("board %1: %2").arg(b.settings.id, online ? QStringLiteral("online") : QStringLiteral("offline")));
    b.online = online;
    publishRetained(topic(b, QStringLiteral("availability")), online ? "online" : "offline");
}

void Bridge::publishStates(Board &b)
{
    const HeadlessSession &s = *b.session;
    const std::optional<uint16_t> states = s.relayStates();
    setOnline(b, states.has_value() && !b.line->lost);
    if (states && states != b.published) {
        for (int n = 1; n <= 16; ++n)
            publishRetained(topic(b, QStringLiteral("relay/%1").arg(n)), ((*states >> (n - 1)) & 1u) ? "ON" : "OFF");
        b.published = states;
    }
    const std::optional<QDateTime> boardTime = s.boardTime();
    if (!boardTime)
        return;
    const std::optional<qint64> drift = s.drift();
    const QDateTime now = m_clock();
    const bool moved = !b.clockPublished || drift.has_value() != b.clockDrift.has_value() ||
                       (drift && std::abs(*drift - *b.clockDrift) >= kClockDriftStep) ||
                       b.clockPublishedAt.msecsTo(now) >= kClockRepublishMs;
    if (!moved)
        return;
    b.clockPublished = true;
    b.clockDrift = drift;
    b.clockPublishedAt = now;
    m_retained.remove(topic(b, QStringLiteral("clock"))); // a republish at 10 min goes out even when equal
    publishRetained(topic(b, QStringLiteral("clock")), ClockPayload(*boardTime, drift));
}

void Bridge::service(Board &b)
{
    publishStates(b);
    HeadlessSession &s = *b.session;
    if (b.running) {
        const BridgeRequest &r = b.running->request;
        const bool timedOut = b.running->ticks > kRequestTicks;
        switch (r.kind) {
        case RequestKind::RelaySet: {
            const auto states = s.relayStates();
            if (!s.engine().bManualPending && states && bool((*states >> (r.channel - 1)) & 1u) == r.on)
                finish(b, true, {});
            else if (const auto &fault = s.notFollowed())
                // The engine's verdict once the relays settled, in the words the window
                // and kelmora-cli use ("…未按命令断开：全部断开的命令与状态查询相同").
                finish(b, false, RelayFollowText(*fault));
            else if (timedOut || !s.linkLost().isEmpty())
                finish(b, false, QStringLiteral("board did not answer"));
            break;
        }
        case RequestKind::ClockSet:
            if (s.messages().contains(kClockSet))
                finish(b, true, {});
            else if (timedOut || !s.linkLost().isEmpty())
                finish(b, false, QStringLiteral("board did not answer"));
            break;
        case RequestKind::ScheduleSet:
        case RequestKind::ScheduleGet:
            if (const auto &result = s.result()) {
                const bool write = r.kind == RequestKind::ScheduleSet;
                if (result->success) {
                    // Published even when unchanged: a read is the board's word now, whatever
                    // another client may have left retained on the topic meanwhile.
                    for (int ch = r.channel ? r.channel : 1; ch <= (r.channel ? r.channel : 16); ++ch) {
                        const QString t = topic(b, QStringLiteral("schedule/%1").arg(ch));
                        m_retained.remove(t);
                        publishRetained(t, ScheduleJson((write ? b.book : b.read).channel(ch)));
                    }
                    finish(b, true, {});
                } else {
                    QString why = result->linkLost ? QStringLiteral("port lost")
                                                   : (write ? kWriteFailed : kReadFailed);
                    if (result->channel > 0 && !result->linkLost)
                        why += QStringLiteral(" (第%1路第%2条)").arg(result->channel).arg(result->number);
                    finish(b, false, why);
                }
            }
            break;
        }
    }
    startNext(b);
}

void Bridge::startNext(Board &b)
{
    if (b.running || b.queue.empty())
        return;
    HeadlessSession &s = *b.session;
    if (!b.online || s.engine().transferUnderWay()) {
        if (b.waitedTicks > kWaitOnlineTicks) {
            b.running = Running{b.queue.front(), 0};
            b.queue.pop_front();
            finish(b, false, QStringLiteral("board not answering"));
        }
        return;
    }
    b.waitedTicks = 0;
    b.running = Running{b.queue.front(), 0};
    b.queue.pop_front();
    const BridgeRequest &r = b.running->request;
    DeviceEngine &e = s.engine();
    s.resetResult();
    s.resetNotFollowed();
    s.messages().clear();
    switch (r.kind) {
    case RequestKind::RelaySet:
        e.nPage = int16_t(r.channel);
        r.on ? e.CmdIn() : e.CmdOut();
        break;
    case RequestKind::ClockSet:
        e.CmdSetTime();
        break;
    case RequestKind::ScheduleSet:
        b.book.clear(); // holds only the channel being written
        for (const Clsdata &d : r.entries)
            b.book.add(std::make_shared<Clsdata>(d));
        e.nPage = int16_t(r.channel);
        e.CmdDown();
        break;
    case RequestKind::ScheduleGet:
        if (!e.startVerifyRead(r.channel, b.read)) {
            finish(b, false, QStringLiteral("port not open"));
            return;
        }
        break;
    }
}

void Bridge::finish(Board &b, bool ok, const QString &error)
{
    const BridgeRequest r = b.running->request;
    b.running.reset();
    if (!ok)
        log(QStringLiteral("board %1: %2 failed: %3").arg(b.settings.id, r.topic, error));
    if (m_mqtt.isConnected())
        m_mqtt.publish(topic(b, QStringLiteral("result")), ResultPayload(r.topic, r.id, ok, error, ResultCommand(r)),
                       false);
    startNext(b);
}
