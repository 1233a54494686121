#include "bridge/bridge.h"

#include "bridge/discovery.h"
#include "bridge/schedulejson.h"
#include "device/framelog.h"
#include "protocol/frames.h"
#include "schedule/channelwrite.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>

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
    LinePace pace; // how long this board takes to answer

private:
    SharedLine &m_line;
    uint8_t m_address;
    friend class SharedLine;
};

// One serial line and the boards on it. The line has one owner; its boards
// tick in turn, one per 200 ms, so every board on a line of N is polled at
// least every N x 200 ms whatever another board is doing.
//
// It is a half-duplex bus: one exchange at a time, whichever board it is for.
// A request holds the line until its board answers (and has had the guard to
// turn its line round) or until its deadline: twice the board's answer time,
// or for a board not heard yet twice the slowest answer heard on the line, so
// a silent board does not hold the line for the longest deadline at each of
// its turns. A turn or a transfer's next frame that finds the line held waits,
// in the order they came, and goes as soon as it is free.
class SharedLine final : public LinkListener, public std::enable_shared_from_this<SharedLine> {
public:
    // What a board waits to do on the line.
    enum class Step { Tick, Paced };

    SharedLine(Bridge &bridge, QString port, std::unique_ptr<SerialLink> link)
        : bridge(bridge), port(std::move(port)), link(std::move(link))
    {
        this->link->setListener(this);
        // --verbose: every frame in words, re-sends and stray bytes included,
        // as kelmora-cli --trace and 通信记录 show them.
        trace.setListener([this](quint64 seq) {
            if (this->bridge.m_verbose)
                this->bridge.log(this->port + u' ' + RecordLine(trace.at(seq)));
            this->bridge.frameLogged(*this, trace.at(seq));
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
        const bool reply = frame[0] == wire::kReplyHeader;
        // A late answer too teaches its board's answer time.
        if (LinePort *from = reply ? portOf(frame[1]) : nullptr)
            from->pace.answered(bridge.m_clock());
        if (reply && owedBy && frame[1] == owedBy->m_address) {
            owedBy = nullptr;
            // The guard is scheduled before the board sees its answer, so
            // what waits for the line goes before the board's own next frame.
            holdFor(kReplyGuard);
        }
        if (LinePort *p = portOf(frame[1]); p && p->listener)
            p->listener->onFrame(frame);
    }
    void onStrayBytes(const QByteArray &bytes) override { trace.stray(bytes); }
    void onLinkFailed(const QString &why) override
    {
        bridge.log(QStringLiteral("%1: port lost (%2)").arg(port, why));
        lost = true;
        reopenIn = kReopenTicks;
        forgetExchange();
        for (LinePort *p : ports)
            if (p->listener)
                p->listener->onLinkFailed(why);
    }
    bool tryOpen();
    // Keeps the line for `time`, as after an answer (a line dropped meanwhile is let be).
    void holdFor(std::chrono::milliseconds time)
    {
        turning = true;
        bridge.m_schedule(time, [line = weak_from_this()] {
            if (const auto l = line.lock()) {
                l->turning = false;
                l->runWaiting();
            }
        });
    }

    LinePort *portOf(uint8_t address) const
    {
        for (LinePort *p : ports)
            if (p->m_address == address)
                return p;
        return nullptr;
    }
    // A request or its answer's turnaround has the line.
    bool busy() const
    {
        if (turning)
            return true;
        if (!owedBy)
            return false;
        const qint64 out = std::max<qint64>(owedSince.msecsTo(bridge.m_clock()), ticksOut * kTickInterval.count());
        return out < deadline(*owedBy).count();
    }
    std::chrono::milliseconds deadline(const LinePort &port) const
    {
        if (port.pace.answerMs())
            return port.pace.deadline();
        std::chrono::milliseconds slowest{0};
        for (const LinePort *p : ports)
            if (p->pace.answerMs())
                slowest = std::max(slowest, p->pace.deadline());
        return slowest.count() > 0 ? slowest : kLatestTimeout;
    }
    void sent(LinePort &port)
    {
        owedSince = bridge.m_clock();
        ticksOut = -1; // the clock may be set back: the ticks bound the wait too
        port.pace.sent(owedSince, false, false);
        owedBy = &port;
    }
    // Runs `step` of `board` now if the line is free and nothing waits before it,
    // else once the line is free; a step already waiting is not queued twice.
    void when(Bridge::Board *board, Step step)
    {
        const std::pair<Bridge::Board *, Step> w{board, step};
        if (std::find(waiting.begin(), waiting.end(), w) == waiting.end())
            waiting.push_back(w);
        runWaiting();
    }
    void runWaiting();
    void tick()
    {
        ++ticksOut;
        runWaiting();
    }
    void forgetExchange()
    {
        owedBy = nullptr;
        turning = false;
        waiting.clear();
        for (LinePort *p : ports)
            p->pace.forget(false);
    }

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
    LinePort *owedBy = nullptr; // the board whose answer the line waits for
    QDateTime owedSince;
    int ticksOut = 0;
    bool turning = false; // an answer came; the guard has not passed
    std::deque<std::pair<Bridge::Board *, Step>> waiting;
};

bool LinePort::isOpen() const
{
    return m_line.link->isOpen();
}

void LinePort::write(const QByteArray &bytes)
{
    m_line.trace.sent(FromBytes(bytes));
    m_line.link->write(bytes);
    if (m_line.link->isOpen())
        m_line.sent(*this);
}

struct Bridge::Running {
    BridgeRequest request;
    QDateTime since;
};

struct Bridge::Queued {
    BridgeRequest request;
    QDateTime since;
};

struct Bridge::Board {
    BoardSettings settings;
    SharedLine *line = nullptr;
    std::unique_ptr<LinePort> port;
    ScheduleBook book; // what a schedule write sends
    ScheduleBook read; // what a schedule read brings
    // What each channel (1..16) holds, as last written there or read from it, while that is
    // known: a write then sends only the differences. Unknown while offline, after a write
    // that did not end well, or when a read found other contents than these.
    std::array<std::optional<QList<EntryRef>>, kChannelCount + 1> held;
    bool transferShown = false; // B/transfer last told of one under way
    QDateTime transferAt;       // ...at this time
    QDateTime watchedUntil;     // B/frames goes out until then
    std::unique_ptr<HeadlessSession> session;
    std::deque<Queued> queue;
    std::optional<Running> running;
    bool online = false;
    std::optional<uint16_t> published; // relay states as last published
    std::optional<qint64> clockDrift;
    bool clockPublished = false;
    QDateTime clockPublishedAt;
};

void SharedLine::runWaiting()
{
    while (!lost && !waiting.empty() && !busy()) {
        const auto [board, step] = waiting.front();
        waiting.pop_front();
        if (step == Step::Tick)
            board->session->tick();
        else
            board->session->pacedStep();
    }
}

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
    forgetExchange();
    for (Bridge::Board *b : boards)
        b->session->clearLinkLost();
    return true;
}

Bridge::Bridge(BridgeConfig config, MqttClient &mqtt, LinkFactory makeLink, Opener open, Logger log,
               DeviceEngine::Clock clock)
    : m_config(std::move(config)), m_mqtt(mqtt), m_makeLink(std::move(makeLink)), m_open(std::move(open)),
      m_log(std::move(log)),
      m_clock(clock ? std::move(clock) : DeviceEngine::Clock([] { return QDateTime::currentDateTime(); })),
      m_schedule([this](std::chrono::milliseconds after, std::function<void()> step) {
          QTimer::singleShot(after, Qt::PreciseTimer, &m_timers, std::move(step));
      })
{
    for (const BoardSettings &s : m_config.boards)
        addBoard(s);
    m_mqtt.setHandlers({[this] { onConnected(); },
                        [this](const QString &why) { this->log(QStringLiteral("broker: disconnected (%1)").arg(why)); },
                        [this](const QString &t, const QByteArray &p, bool retained) { onMessage(t, p, retained); }});
    m_mqtt.setWill(bridgeAvailabilityTopic(), "offline");
}

Bridge::Board &Bridge::addBoard(const BoardSettings &s)
{
    if (std::ranges::none_of(m_lines, [&](const auto &l) { return l->port == s.port; }))
        m_lines << std::make_shared<SharedLine>(*this, s.port, m_makeLink(s.port));
    auto b = std::make_shared<Board>();
    b->settings = s;
    b->line = std::ranges::find(m_lines, s.port, &SharedLine::port)->get();
    b->port = std::make_unique<LinePort>(*b->line, uint8_t(s.address));
    b->session = std::make_unique<HeadlessSession>(*b->port, b->book, s.variant, uint8_t(s.address), m_clock);
    Board *raw = b.get();
    b->session->setOnChange([this, raw] { service(*raw); });
    // A transfer's next frame, due a guard after its answer, also waits for the line.
    b->session->setPacer([this, board = std::weak_ptr(b)](std::chrono::milliseconds after) {
        m_schedule(after, [board] {
            if (const auto live = board.lock())
                live->line->when(live.get(), SharedLine::Step::Paced);
        });
    });
    b->line->ports << b->port.get();
    b->line->boards << raw;
    m_boards.push_back(std::move(b));
    return *raw;
}

void Bridge::removeBoard(const QString &id, const QString &why)
{
    const auto it = std::ranges::find(m_boards, id, [](const auto &b) { return b->settings.id; });
    Board &b = **it;
    // Their clients hear now, not at their own time-outs.
    std::vector<BridgeRequest> unanswered;
    if (b.running)
        unanswered.push_back(b.running->request);
    for (const Queued &q : b.queue)
        unanswered.push_back(q.request);
    for (const BridgeRequest &r : unanswered)
        if (m_mqtt.isConnected())
            m_mqtt.publish(topic(b, QStringLiteral("result")),
                           ResultPayload(r.topic, r.id, false, why, ResultCommand(r), r.by), false);
    setOnline(b, false);
    b.session->setOnChange({});
    SharedLine &line = *b.line;
    // An answer it still owes would cross the next board's request: the line waits that out.
    if (line.owedBy == b.port.get()) {
        line.owedBy = nullptr;
        line.holdFor(line.deadline(*b.port));
    }
    line.ports.removeOne(b.port.get());
    line.boards.removeOne(&b);
    std::erase_if(line.waiting, [&](const auto &w) { return w.first == &b; });
    line.turn = line.boards.isEmpty() ? 0 : line.turn % int(line.boards.size());
    m_boards.erase(it);
    if (line.boards.isEmpty())
        m_lines.removeIf([&](const auto &l) { return l.get() == &line; });
}

void Bridge::reload(const ConfigResult &loaded)
{
    if (!loaded.config)
        return log(QStringLiteral("reload: %1; the running configuration is kept").arg(loaded.error));
    for (const QString &warning : loaded.warnings)
        log(QStringLiteral("reload: warning: ") + warning);
    const BridgeConfig &next = *loaded.config;
    const ReloadPlan plan = PlanReload(m_config, next);
    if (plan.mqttChanged)
        log(QStringLiteral("reload: [mqtt] changed, kept as it started until a restart (systemctl restart "
                           "kelmora-bridge)"));
    for (const QString &id : plan.removed) {
        if (m_mqtt.isConnected())
            for (const QString &f : RequestFilters(m_config.mqtt.baseTopic, {id}))
                m_mqtt.unsubscribe(f);
        removeBoard(id, QStringLiteral("board no longer configured"));
        forgetBoard(id);
    }
    for (const QString &id : plan.changed)
        removeBoard(id, QStringLiteral("board reconfigured"));
    m_config.boards = next.boards;
    const QList<std::shared_ptr<SharedLine>> lines = m_lines;
    for (const QString &id : plan.added + plan.changed) {
        const BoardSettings &s = *std::ranges::find(next.boards, id, &BoardSettings::id);
        m_names.remove(id);
        if (!s.channelNames.isEmpty())
            m_names[id] = s.channelNames;
        announce(addBoard(s));
        if (m_mqtt.isConnected())
            for (const QString &f : RequestFilters(m_config.mqtt.baseTopic, {id}))
                m_mqtt.subscribe(f);
    }
    for (auto &line : m_lines)
        if (!lines.contains(line))
            line->tryOpen();
    QStringList ids;
    for (auto &b : m_boards)
        ids << b->settings.id;
    const QJsonObject list{{QStringLiteral("boards"), QJsonArray::fromStringList(ids)},
                           {QStringLiteral("by"), m_instance}};
    if (m_mqtt.isConnected())
        m_mqtt.publish(boardsTopic(m_config.mqtt.clientId), QJsonDocument(list).toJson(QJsonDocument::Compact), true);
    log(QStringLiteral("reload: added (%1), removed (%2), restarted (%3), unchanged (%4)")
            .arg(plan.added.join(u' '), plan.removed.join(u' '), plan.changed.join(u' '), plan.kept.join(u' ')));
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

void Bridge::announce(Board &b)
{
    setOnline(b, false);
    for (const Publication &p :
         DiscoveryConfigs(m_config.mqtt, b.settings, m_names.value(b.settings.id), bridgeAvailabilityTopic()))
        publishRetained(p.first, p.second);
    publishRetained(topic(b, QStringLiteral("info")), InfoPayload(b.settings, b.settings.channelNames,
                                                                  m_config.mqtt.clientId,
                                                                  QStringLiteral(KELMORA_VERSION)));
    publishRetained(topic(b, QStringLiteral("transfer")), TransferPayload(std::nullopt));
}

void Bridge::start()
{
    for (auto &b : m_boards)
        announce(*b);
    const Publication self = BridgeDiscoveryConfig(m_config.mqtt, bridgeAvailabilityTopic());
    m_retained[self.first] = self.second;
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
            continue;
        }
        line->tick();
        if (line->boards.isEmpty())
            continue;
        line->turn = (line->turn + 1) % int(line->boards.size());
        line->when(line->boards[line->turn], SharedLine::Step::Tick);
    }
    // Requests time out on the clock, whoever's turn it is.
    for (auto &b : m_boards)
        if (b->running || !b->queue.empty())
            service(*b);
    for (auto it = m_forgetting.begin(); m_mqtt.isConnected() && it != m_forgetting.end();) {
        if (--it->ticksLeft > 0) {
            ++it;
            continue;
        }
        // Left subscribed, the filter would stay in the session the broker keeps for us.
        m_mqtt.unsubscribe(it.key());
        it = m_forgetting.erase(it);
    }
}

// ---------------------------------------------------------------- MQTT

QString Bridge::boardsTopic(const QString &clientId) const
{
    return QStringLiteral("%1/_bridge/%2/boards").arg(m_config.mqtt.baseTopic, clientId);
}

void Bridge::onConnected()
{
    log(QStringLiteral("broker: connected to %1:%2").arg(m_config.mqtt.host).arg(m_config.mqtt.port));
    QStringList ids;
    for (auto &b : m_boards)
        ids << b->settings.id;
    // The boards of the last start come back retained, under whatever client_id this bridge had
    // then: those no longer configured are forgotten.
    m_mqtt.subscribe(boardsTopic(QStringLiteral("+")));
    for (const QString &f : RequestFilters(m_config.mqtt.baseTopic, ids))
        m_mqtt.subscribe(f);
    for (auto it = m_forgetting.begin(); it != m_forgetting.end(); ++it) {
        it->ticksLeft = kForgetTicks;
        m_mqtt.subscribe(it.key());
    }
    m_mqtt.publish(bridgeAvailabilityTopic(), "online", true);
    for (auto it = m_retained.cbegin(); it != m_retained.cend(); ++it)
        m_mqtt.publish(it.key(), it.value(), true);
    const QJsonObject list{{QStringLiteral("boards"), QJsonArray::fromStringList(ids)},
                           {QStringLiteral("by"), m_instance}};
    m_mqtt.publish(boardsTopic(m_config.mqtt.clientId), QJsonDocument(list).toJson(QJsonDocument::Compact), true);
}

void Bridge::forgetBoard(const QString &id)
{
    const QString filter = QStringLiteral("%1/%2/#").arg(m_config.mqtt.baseTopic, id);
    if (m_forgetting.contains(filter))
        return;
    log(QStringLiteral("board %1: no longer configured, its retained topics cleared").arg(id));
    forget(filter, id);
    forget(DiscoveryFilter(m_config.mqtt, id), id);
}

void Bridge::forget(const QString &filter, const QString &board)
{
    m_forgetting[filter] = Forgetting{board};
    m_retained.removeIf([&](const auto &kept) { return TopicMatches(filter, kept.key()); });
    if (m_mqtt.isConnected())
        m_mqtt.subscribe(filter);
}

void Bridge::onBoardList(const QString &clientId, const QByteArray &payload, bool retained)
{
    const QJsonObject list =
        QJsonDocument::fromJson(payload.size() > kMaxRequestBytes ? QByteArray() : payload).object();
    const QString by = list.value(QStringLiteral("by")).toString();
    // Only the list this installation left at an earlier start names boards to forget. Another
    // bridge with our client_id publishes its own on the same topic: its boards are not ours.
    // Other bridges on the broker keep their lists under their own client_ids.
    const bool ours = clientId == m_config.mqtt.clientId;
    if (ours && !by.isEmpty() && by != m_instance && !std::exchange(m_foreignListWarned, true))
        log(QStringLiteral("broker: the board list on %1 is from %2, not from this bridge (%3): another client uses "
                           "client_id %4, or this bridge ran under another host name or configuration file. Its "
                           "boards keep their discovery; give each bridge its own client_id")
                .arg(boardsTopic(clientId), by, m_instance, clientId));
    if (!retained || by.isEmpty() || by != m_instance)
        return;
    for (const QJsonValue &v : list.value(QStringLiteral("boards")).toArray())
        if (!std::ranges::any_of(m_boards, [&](const auto &b) { return b->settings.id == v.toString(); }))
            forgetBoard(v.toString());
    if (ours)
        return;
    // This bridge under the client_id it had before: that bridge device goes from Home Assistant too.
    log(QStringLiteral("broker: client_id %1 was this bridge's; what it left retained is cleared").arg(clientId));
    m_mqtt.publish(BridgeDiscoveryTopic(m_config.mqtt, clientId), {}, true);
    forget(QStringLiteral("%1/_bridge/%2/#").arg(m_config.mqtt.baseTopic, clientId), {});
}

void Bridge::onMessage(const QString &t, const QByteArray &payload, bool retained)
{
    QStringList ids;
    for (auto &b : m_boards)
        ids << b->settings.id;
    if (retained && !payload.isEmpty()) {
        for (auto it = m_forgetting.cbegin(); it != m_forgetting.cend(); ++it)
            if (!ids.contains(it->board) && TopicMatches(it.key(), t))
                return m_mqtt.publish(t, {}, true);
    }
    if (TopicMatches(boardsTopic(QStringLiteral("+")), t))
        return onBoardList(t.section(QLatin1Char('/'), -2, -2), payload, retained);
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
        m_mqtt.publish(resultTopic, ResultPayload(m->topic, m->id, false, why, command, m->by), false);
        return;
    }
    if (!m->request) {
        m_mqtt.publish(resultTopic, ResultPayload(m->topic, m->id, false, m->refusal, {}, m->by), false);
        return;
    }
    // A stop and a watch act at once: they do not wait behind the transfer they are about.
    if (m->request->kind == RequestKind::TransferStop || m->request->kind == RequestKind::FramesWatch) {
        bool ok = true;
        if (m->request->kind == RequestKind::TransferStop)
            ok = stopTransfer(*board);
        else
            board->watchedUntil = m_clock().addSecs(m->request->seconds);
        m_mqtt.publish(resultTopic,
                       ResultPayload(m->topic, m->id, ok, ok ? QString() : QStringLiteral("no transfer under way"), {},
                                     m->by),
                       false);
        return;
    }
    if (int(board->queue.size()) >= kQueueLimit) {
        m_mqtt.publish(resultTopic,
                       ResultPayload(m->topic, m->id, false, QStringLiteral("busy"), command, m->by), false);
        return;
    }
    board->queue.push_back({*m->request, m_clock()});
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
    if (!online)
        b.held = {};
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
        const bool timedOut = b.running->since.msecsTo(m_clock()) > kRequestTimeout.count();
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
        case RequestKind::BookSet:
        case RequestKind::ScheduleGet:
            if (const auto &result = s.result()) {
                const bool write = r.kind != RequestKind::ScheduleGet;
                if (result->success) {
                    // Published even when unchanged: a read is the board's word now, whatever
                    // another client may have left retained on the topic meanwhile.
                    for (int ch : TransferChannels(r)) {
                        const QList<EntryRef> now = (write ? b.book : b.read).channel(ch);
                        std::optional<QList<EntryRef>> &held = b.held[ch];
                        held = write || !held || ChannelWrite(ch, now, held).isEmpty() ? std::optional(now) : std::nullopt;
                        const QString t = topic(b, QStringLiteral("schedule/%1").arg(ch));
                        m_retained.remove(t);
                        publishRetained(t, ScheduleJson(now));
                    }
                    finish(b, true, {});
                } else {
                    QString why = result->linkLost  ? QStringLiteral("port lost")
                                  : result->stopped ? QStringLiteral("已停止")
                                                    : (write ? kWriteFailed : kReadFailed);
                    if (result->channel > 0 && !result->linkLost)
                        why += QStringLiteral(" (第%1路第%2条)").arg(result->channel).arg(result->number);
                    finish(b, false, why);
                }
            }
            break;
        case RequestKind::TransferStop:
        case RequestKind::FramesWatch:
            break; // never queued
        }
    }
    startNext(b);
    publishTransfer(b);
}

void Bridge::publishTransfer(Board &b)
{
    const DeviceEngine &e = b.session->engine();
    std::optional<TransferState> now;
    if (b.running && e.transferActive()) {
        const BridgeRequest &r = b.running->request;
        const Transfer &t = e.transfer();
        TransferState state{r.kind != RequestKind::ScheduleGet, TransferChannels(r), t.done, t.total, {},
                            r.topic, r.id, r.by};
        if (!state.write) {
            // A read ends at each channel's end mark: as many as it holds when that is known, else at most 255.
            state.total = 0;
            for (int ch : state.channels)
                state.total += b.held[ch] ? std::min(int(b.held[ch]->size()) + 1, kMaxEntriesPerChannel)
                                          : kMaxEntriesPerChannel;
            state.total = std::max(state.total, state.done); // a board holding more than was known
        }
        if (state.done > 0)
            state.etaSeconds = int(std::ceil(double(t.started.msecsTo(m_clock())) * (state.total - state.done) /
                                             state.done / 1000));
        now = state;
    }
    if (!now && !b.transferShown)
        return;
    if (now && b.transferShown && b.transferAt.msecsTo(m_clock()) < 500)
        return;
    b.transferShown = now.has_value();
    b.transferAt = m_clock();
    publishRetained(topic(b, QStringLiteral("transfer")), TransferPayload(now));
}

bool Bridge::stopTransfer(Board &b)
{
    if (!b.running || !b.session->engine().transferActive())
        return false;
    b.session->engine().CmdStop();
    service(b);
    return true;
}

void Bridge::frameLogged(const SharedLine &line, const FrameRecord &record)
{
    if (!m_mqtt.isConnected())
        return;
    const QDateTime now = m_clock();
    for (Board *b : line.boards)
        if (b->watchedUntil.isValid() && now < b->watchedUntil &&
            (record.length < kFrameSize || record.bytes[1] == b->settings.address))
            m_mqtt.publish(topic(*b, QStringLiteral("frames")), FramePayload(record), false);
}

void Bridge::startNext(Board &b)
{
    if (b.running || b.queue.empty())
        return;
    HeadlessSession &s = *b.session;
    if (!b.online || s.engine().transferUnderWay()) {
        // Each request waits its own time from when it came.
        while (!b.queue.empty() && b.queue.front().since.msecsTo(m_clock()) > kWaitOnline.count()) {
            b.running = Running{b.queue.front().request, m_clock()};
            b.queue.pop_front();
            finish(b, false, QStringLiteral("board not answering"));
        }
        return;
    }
    b.running = Running{b.queue.front().request, m_clock()};
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
    case RequestKind::ScheduleSet: {
        b.book.clear(); // holds only the channel being written
        for (const Clsdata &d : r.entries)
            b.book.add(std::make_shared<Clsdata>(d));
        e.nPage = int16_t(r.channel);
        // What the channel holds is unknown from here until the write has ended well.
        std::optional<QList<EntryRef>> held = std::exchange(b.held[r.channel], std::nullopt);
        if (b.settings.fullWrites)
            held.reset();
        e.startWriteEntries(ChannelWrite(r.channel, b.book.channel(r.channel), held));
        break;
    }
    case RequestKind::BookSet: {
        b.book.clear(); // holds only the channels being written
        for (const Clsdata &d : r.entries)
            b.book.add(std::make_shared<Clsdata>(d));
        QList<EntryRef> frames;
        for (int ch : r.channels) {
            std::optional<QList<EntryRef>> held = std::exchange(b.held[ch], std::nullopt);
            if (b.settings.fullWrites)
                held.reset();
            frames << ChannelWrite(ch, b.book.channel(ch), held);
        }
        e.startWriteEntries(frames);
        break;
    }
    case RequestKind::TransferStop:
    case RequestKind::FramesWatch:
        break; // never queued
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
        m_mqtt.publish(topic(b, QStringLiteral("result")),
                       ResultPayload(r.topic, r.id, ok, error, ResultCommand(r), r.by), false);
    startNext(b);
}
