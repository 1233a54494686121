// The bridge's logic against a recording MQTT client and fake boards on fake
// lines; the test runs the ticks and the paced steps itself.
#include "bridge/bridge.h"
#include "bridge/discovery.h"

#include "support/fakes.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

struct FakeMqtt final : MqttClient {
    void setHandlers(MqttHandlers h) override { handlers = std::move(h); }
    void setWill(const QString &t, const QByteArray &p) override { will = {t, p}; }
    void start() override { connect(); }
    bool isConnected() const override { return connected; }
    void publish(const QString &t, const QByteArray &p, bool retain) override
    {
        log << QStringLiteral("%1 %2%3").arg(t, QString::fromUtf8(p), retain ? "" : " (not retained)");
        if (retain && p.isEmpty())
            retained.remove(t);
        else if (retain)
            retained[t] = p;
    }
    // As a broker: what it keeps under the filter comes retained, once the test lets it.
    void subscribe(const QString &f) override
    {
        subscribed << f;
        for (auto it = retained.cbegin(); it != retained.cend(); ++it)
            if (TopicMatches(f, it.key()))
                due << Publication{it.key(), it.value()};
    }
    void unsubscribe(const QString &f) override { subscribed.removeAll(f); }
    void deliver()
    {
        for (const auto &[t, p] : std::exchange(due, {}))
            handlers.message(t, p, true);
    }
    void connect() { connected = true, handlers.connected(); }
    QStringList take() { return std::exchange(log, {}); }
    QStringList results() { return take().filter("/result "); }
    MqttHandlers handlers;
    QPair<QString, QByteArray> will;
    bool connected = false;
    QStringList log;
    QMap<QString, QByteArray> retained;
    QStringList subscribed;
    QList<Publication> due; // retained messages a subscription brings
};

struct Harness {
    // `kept`: what the broker has retained before the bridge starts.
    explicit Harness(const char *ini = "[board.b1]\nport=Com1\n", QMap<QString, QByteArray> kept = {})
        : config(*ParseBridgeConfig("b.ini", ini, {}).config)
    {
        mqtt.retained = std::move(kept);
        bridge = std::make_unique<Bridge>(
            config, mqtt,
            [this](const QString &) { return std::unique_ptr<SerialLink>(links.emplace_back(new FakeLink)); },
            [this](SerialLink &l, const QString &) { return ++opens, l.open(1); },
            [this](const QString &line) { logLines << line; }, [this] { return now; });
        bridge->setScheduler([this](std::chrono::milliseconds, std::function<void()> step) { steps << step; });
        boards[1].relays1 = 0x01;
        bridge->setInstance("pi:/etc/b.ini");
        bridge->start();
    }
    // Ticks, each followed by the boards' answers and the steps they allow. A
    // slow board's answers come only after the next tick's turn.
    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            now = now.addMSecs(200);
            mqtt.deliver();
            bridge->tick();
            QList<std::pair<FakeLink *, Frame>> due = std::exchange(held, {});
            for (;;) {
                for (FakeLink *l : links)
                    while (sent[l] < l->written.size()) {
                        const Frame q = l->written[sent[l]++];
                        overlaps += !due.isEmpty() || !held.isEmpty();
                        if (auto r = l->opened ? boards[q[1]].answer(q) : std::nullopt) {
                            (*r)[1] = q[1];
                            SealFrame(*r);
                            if (slow.contains(q[1]))
                                held << std::pair(l, *r);
                            else
                                l->listener->onFrame(*r);
                        }
                    }
                if (!due.isEmpty()) {
                    for (const auto &[l, r] : std::exchange(due, {}))
                        l->listener->onFrame(r);
                    continue;
                }
                if (steps.isEmpty())
                    break;
                for (const auto &step : std::exchange(steps, {}))
                    step();
            }
        }
    }
    void send(const QString &topic, const QByteArray &payload, bool retained = false)
    {
        mqtt.handlers.message(topic, payload, retained);
    }

    BridgeConfig config;
    FakeMqtt mqtt;
    QList<FakeLink *> links;
    QMap<FakeLink *, qsizetype> sent;
    QMap<int, FakeBoard> boards;
    QList<std::function<void()>> steps; // paced steps and line guards, run in the order they were asked for
    QSet<int> slow;                      // addresses of slow boards
    QList<std::pair<FakeLink *, Frame>> held;
    int overlaps = 0; // requests that went out while an answer was still owed on their line
    int opens = 0;
    QStringList logLines;
    QDateTime now{QDate(2026, 12, 6), QTime(21, 0)};
    std::unique_ptr<Bridge> bridge;
};

TEST(Bridge, RelayCommandWaitsForKnownStatesAndChangesOnlyItsRelay)
{
    Harness h;
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/availability"], "offline");
    h.send("kelmora/b1/relay/3/set", "on");
    h.tick();
    EXPECT_EQ(h.links[0]->written, QList<Frame>({RelayFrame(1, 16, 0, 0, 0)})) << "one reply is not enough to command";
    EXPECT_EQ(std::tuple(h.mqtt.retained["kelmora/b1/relay/1"], h.mqtt.retained["kelmora/b1/relay/3"]),
              std::tuple("ON", "OFF"));
    h.tick(3);
    QList<Frame> commands = h.links[0]->written;
    commands.removeAll(RelayFrame(1, 16, 0, 0, 0));
    EXPECT_EQ(commands, QList<Frame>({RelayFrame(1, 16, 0, 0x05, 0)})) << "relay 1 stays on, relay 3 goes on";
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/relay/3"], "ON");
    EXPECT_EQ(h.mqtt.results(), QStringList({R"(kelmora/b1/result {"ok":true,"payload":"ON","request":"kelmora/b1/relay/3/set"} (not retained))"}));
    // Every relay off has the bytes of a status request: the fake board, like the simulator, keeps its relays.
    h.send("kelmora/b1/relay/1/set", "OFF");
    h.send("kelmora/b1/relay/3/set", "OFF");
    h.tick(2 * kRequestTicks);
    EXPECT_TRUE(h.mqtt.results().last().contains(R"("error":"第3路未按命令断开：全部断开的命令与状态查询相同")"))
        << h.mqtt.results().last().toStdString();
    h.boards[1].silent = true; // a board that stops answering: the command is refused in time
    h.send("kelmora/b1/relay/2/set", "ON");
    h.tick(2 * kRequestTicks);
    EXPECT_TRUE(h.mqtt.results().last().contains(R"("error":"board did not answer")"));
}

TEST(Bridge, SilentBoardGoesOfflineAndItsRequestsAreRefused)
{
    Harness h;
    h.tick(3);
    h.boards[1].silent = true;
    for (int i = 0; i < kQueueLimit + 2; ++i)
        h.send("kelmora/b1/clock/set", QByteArray(R"({"id":)") + QByteArray::number(i) + "}");
    EXPECT_EQ(h.mqtt.results(),
              QStringList({R"(kelmora/b1/result {"error":"busy","id":65,"ok":false,"request":"kelmora/b1/clock/set"} (not retained))"}))
        << "the first runs, 64 wait, the 66th is refused";
    h.tick(kLinkTicks + 1);
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/availability"], "offline");
    h.tick(kRequestTicks);
    EXPECT_TRUE(h.mqtt.results().first().contains(R"("error":"board did not answer","id":0)"));
    h.tick(kWaitOnlineTicks);
    EXPECT_EQ(h.mqtt.results().size(), kQueueLimit) << "every waiting request is answered";
}

TEST(Bridge, LostPortIsReopenedEveryFiveSeconds)
{
    Harness h;
    h.tick(3);
    h.links[0]->openError = OpenError::NotFound;
    h.links[0]->opened = false;
    h.links[0]->listener->onLinkFailed("unplugged");
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/availability"], "offline");
    h.send("kelmora/b1/clock/set", "");
    h.tick(kReopenTicks - 1);
    EXPECT_EQ(h.opens, 1);
    h.tick();
    EXPECT_EQ(h.opens, 2);
    h.tick(kWaitOnlineTicks - kReopenTicks + 1);
    EXPECT_EQ(h.mqtt.results().filter("board not answering").size(), 1) << "a request does not wait for the port forever";
    h.links[0]->openError = OpenError::None;
    h.tick(kReopenTicks);
    EXPECT_EQ(h.opens, 4);
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/availability"], "online");
    EXPECT_EQ(std::tuple(h.logLines.filter("port lost").size(), h.logLines.filter(kOpenError).size()), std::tuple(1, 1))
        << "one line for a port that stays gone";
}

TEST(Bridge, ScheduleSetWritesAndPublishesAndGetReadsBack)
{
    Harness h;
    h.tick(3);
    h.send("kelmora/b1/schedule/2/set", R"({"entries":[{"mode":"daily","time":"08:00:00","action":"bad"}]})");
    const QByteArray schedule = R"({"entries":[{"action":"on","mode":"daily","time":"08:00:00"}]})";
    h.send("kelmora/b1/schedule/2/set", schedule);
    h.tick(3);
    EXPECT_EQ(std::tuple(h.boards[1].slots.size(), h.boards[1].ends[2]), std::tuple(1, 2));
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/schedule/2"], schedule);
    h.boards[1].slots.clear();
    h.send("kelmora/b1/schedule/get", R"({"channel":2,"id":"g"})");
    h.tick(3);
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/schedule/2"], R"({"entries":[]})");
    h.send("kelmora/b1/schedule/get", R"({})");
    h.tick(20);
    EXPECT_EQ(h.mqtt.results(),
              QStringList({R"(kelmora/b1/result {"error":"entry 1 has an unknown action \"bad\"","ok":false,"request":"kelmora/b1/schedule/2/set"} (not retained))",
                           R"(kelmora/b1/result {"ok":true,"request":"kelmora/b1/schedule/2/set"} (not retained))",
                           R"(kelmora/b1/result {"id":"g","ok":true,"request":"kelmora/b1/schedule/get"} (not retained))",
                           R"(kelmora/b1/result {"ok":true,"request":"kelmora/b1/schedule/get"} (not retained))"}));
    EXPECT_TRUE(h.mqtt.retained.contains("kelmora/b1/schedule/16"));
}

TEST(Bridge, ClockIsPublishedOnDriftChangeAndEveryTenMinutes)
{
    Harness h;
    // The fake board always reports 21:00:00: the computer's clock sets the drift.
    const QDateTime boardTime = h.now;
    const auto clockPublished = [&] { return h.mqtt.take().filter("kelmora/b1/clock ").size(); };
    h.tick(2);
    EXPECT_EQ(clockPublished(), 1);
    const struct {
        const char *behaviour;
        int behindSeconds;
        bool silent; // the board's clock then runs on with the computer's: the drift holds
        int published;
    } rows[] = {
        {"1 s", 1, false, 0}, {"2 s", 2, false, 1}, {"3 s, 1 from the last", 3, false, 0}, {"1 s, 1 back", 1, false, 0},
        {"4 s", 4, false, 1}, {"9 minutes on", 4 + 540, true, 0}, {"10 minutes on", 4 + 600, true, 1},
    };
    for (const auto &row : rows) {
        h.boards[1].silent = row.silent;
        h.now = boardTime.addMSecs(row.behindSeconds * 1000 - 200);
        h.tick();
        EXPECT_EQ(clockPublished(), row.published) << row.behaviour;
    }
}

TEST(Bridge, ReconnectRepublishesEveryRetainedStateAndNeverRunsARetainedRequest)
{
    Harness h;
    h.tick(3);
    h.mqtt.take();
    h.mqtt.connected = false;
    h.send("kelmora/b1/relay/2/set", "ON");
    h.tick(4);
    EXPECT_EQ(h.mqtt.take(), QStringList()) << "nothing goes out while the broker is gone";
    h.mqtt.retained.clear();
    h.mqtt.connect();
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/relay/2"], "ON");
    EXPECT_EQ(h.mqtt.retained.count(), 2 + 1 + 1 + 18 + 16 + 1) << "the bridge's and the board's configs";
    EXPECT_EQ(h.mqtt.will, qMakePair(QString("kelmora/_bridge/kelmora-bridge/availability"), QByteArray("offline")));
    EXPECT_EQ(h.mqtt.retained["kelmora/_bridge/kelmora-bridge/boards"], R"({"boards":["b1"],"by":"pi:/etc/b.ini"})");
    // A retained request comes back at every connect: it is never run, and said once.
    h.send("kelmora/b1/relay/4/set", "ON", true);
    h.send("kelmora/b1/relay/4/set", "ON", true);
    h.tick(4);
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/relay/4"], "OFF");
    EXPECT_EQ(h.mqtt.results(), QStringList(2, R"(kelmora/b1/result {"error":"retained request not run; clear it with an empty retained message","ok":false,"payload":"ON","request":"kelmora/b1/relay/4/set"} (not retained))"));
    EXPECT_EQ(h.logLines.filter("retained request not run").size(), 1);
}

// A board taken out of the configuration leaves nothing retained, also when the client_id changed
// in the same restart; lists not this bridge's own clear nothing.
TEST(Bridge, RemovedBoardLeavesNothingRetained)
{
    const QByteArray ours = R"({"boards":["old","b1"],"by":"pi:/etc/b.ini"})",
                     nas = R"({"boards":["old"],"by":"nas:/b.ini"})";
    const char *now = "kelmora/_bridge/kelmora-bridge/boards";
    const struct {
        const char *behaviour, *listTopic;
        QByteArray list;
        bool retained;                // else published while the bridge runs
        int oldLeft, wasLeft, warned; // board "old"'s topics, client_id "was"'s, the other-bridge warning
    } rows[] = {
        {"this bridge's list, left at its last start", now, ours, true, 0, 2, 0},
        {"this bridge's, under the client_id it had before", "kelmora/_bridge/was/boards", ours, true, 0, 0, 0},
        {"another bridge's with our client_id", now, nas, true, 7, 2, 1},
        {"another bridge's under its own client_id", "kelmora/_bridge/nas/boards", nas, true, 7, 2, 0},
        {"this bridge's, published as it runs", now, ours, false, 7, 2, 0},
        {"unstamped", now, R"(["old"])", true, 7, 2, 0},
    };
    for (const auto &row : rows) {
        QMap<QString, QByteArray> kept{{"kelmora/old/relay/16", "ON"},
                                       {"kelmora/old/clock", "{}"},
                                       {"kelmora/old/schedule/3", "{}"},
                                       {"kelmora/old/availability", "offline"},
                                       {"kelmora/old/relay/4/set", "ON"},
                                       {"homeassistant/switch/kelmora_old/relay1/config", "{}"},
                                       {"homeassistant/button/kelmora_old/clock_set/config", "{}"},
                                       {"kelmora/_bridge/was/availability", "offline"},
                                       {"homeassistant/binary_sensor/kelmora-bridge_was/connectivity/config", "{}"},
                                       {"kelmora/b1/relay/4/set", "ON"}}; // configured: only refused
        if (row.retained)
            kept[row.listTopic] = row.list;
        Harness h("[board.b1]\nport=Com1\n", kept);
        if (!row.retained)
            h.send(row.listTopic, row.list);
        h.tick();           // the list comes, and what "old" left is asked for
        h.mqtt.due.clear(); // when the broker goes: it all comes again after the reconnect
        h.mqtt.connect();
        h.tick(kForgetTicks + 1);
        h.send(row.listTopic, row.list); // once more, as its bridge publishes it again: told once
        QStringList left;
        for (auto it = kept.cbegin(); it != kept.cend(); ++it)
            if (h.mqtt.retained.value(it.key()) == it.value())
                left << it.key();
        EXPECT_EQ(std::tuple(left.filter("old").size(), left.filter("was").size(),
                             h.logLines.filter("another client uses client_id").size()),
                  std::tuple(row.oldLeft, row.wasLeft, row.warned))
            << row.behaviour << ": " << left.join(' ').toStdString();
        EXPECT_EQ(h.mqtt.subscribed.filter(QRegularExpression("old|was")), QStringList()) << row.behaviour;
        EXPECT_EQ(
            std::pair(h.mqtt.retained.value("kelmora/b1/relay/1"), h.mqtt.retained.value("kelmora/b1/relay/4/set")),
            std::pair(QByteArray("ON"), QByteArray("ON")))
            << row.behaviour;
    }
}

TEST(Bridge, BoardsOnOneLineArePolledInTurnWhileOneIsWrittenOneExchangeAtATime)
{
    Harness h("[board.a]\nport=Com1\naddress=1\n[board.b]\nport=Com1\naddress=2\n");
    ASSERT_EQ(h.links.size(), 1);
    h.slow << 1;
    const auto polls = [&] {
        return std::ranges::count_if(h.links[0]->written, [](const Frame &f) { return f[1] == 2; });
    };
    h.tick(6);
    EXPECT_EQ(h.mqtt.retained["kelmora/b/availability"], "online");
    h.overlaps = 0; // a's first answer came after b's deadline, the only one known then: it counted as lost
    const QByteArray entry = R"({"mode":"daily","time":"01:00:00","action":"on"})";
    h.send("kelmora/a/schedule/1/set", R"({"entries":[)" + QByteArrayList(40, entry).join(',') + "]}");
    const auto before = polls();
    h.tick(20);
    EXPECT_EQ(polls() - before, 10) << "board b keeps its poll every second tick";
    h.tick(80);
    EXPECT_EQ(std::tuple(h.boards[1].slots.size(), h.overlaps, h.mqtt.retained["kelmora/b/availability"]),
              std::tuple(40, 0, "online"));
}

TEST(Bridge, RequestForASilentBoardIsRefusedTenSecondsAfterItCameHoweverManyShareItsLine)
{
    Harness h("[board.a]\nport=Com1\n[board.b]\nport=Com1\naddress=2\n[board.c]\nport=Com1\naddress=3\n");
    h.boards[3].silent = true;
    h.send("kelmora/c/clock/set", "");
    h.tick(kWaitOnlineTicks);
    EXPECT_EQ(h.mqtt.results(), QStringList());
    h.tick();
    EXPECT_EQ(h.mqtt.results().filter("board not answering").size(), 1);
}

TEST(Bridge, ReconnectBacksOffAndLongerWhenAnotherClientTakesOurClientId)
{
    const int rows[][2] = {{1, 1}, {2, 2}, {3, 4}, {4, 8}, {7, 60}, {100, 60}};
    for (const auto &row : rows)
        EXPECT_EQ(ReconnectDelaySeconds(row[0]), row[1]) << "attempt " << row[0];
    const struct {
        const char *behaviour;
        QList<QPair<int, int>> connections; // accepted and closed, in seconds
        int told;                           // times a takeover is logged
        int delay;                          // seconds before the next attempt
    } takeovers[] = {
        {"three closed 1 s after", {{0, 1}, {2, 3}, {4, 5}}, 1, 60},
        {"four, told once", {{0, 1}, {2, 3}, {4, 5}, {6, 7}}, 1, 60},
        {"three closed 10 s after", {{0, 10}, {11, 21}, {22, 32}}, 1, 60},
        {"two", {{0, 1}, {2, 3}}, 0, 1},
        {"one of three lasted 11 s", {{0, 1}, {2, 13}, {14, 15}}, 0, 1},
        {"three in 10 min", {{0, 1}, {300, 301}, {600, 601}}, 1, 60},
        {"three in just over 10 min", {{0, 1}, {300, 301}, {601, 602}}, 0, 1},
        {"a takeover, then 10 min of peace", {{0, 1}, {2, 3}, {4, 5}, {6, 606}}, 1, 1},
    };
    for (const auto &row : takeovers) {
        TakeoverWatch w;
        int told = 0;
        for (const auto &[accepted, closed] : row.connections) {
            w.connected(accepted * 1000);
            told += w.dropped(closed * 1000);
        }
        EXPECT_EQ(std::pair(told, w.delaySeconds(1)), std::pair(row.told, row.delay)) << row.behaviour;
    }
}

} // namespace
