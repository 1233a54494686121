// The bridge's logic against a recording MQTT client and fake boards on fake
// lines; the test runs the ticks and the paced steps itself.
#include "bridge/bridge.h"
#include "bridge/discovery.h"

#include "support/fakes.h"

#include <QJsonDocument>
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
                        overlaps += std::ranges::any_of(due + held, [&](const auto &d) { return d.first == l; });
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

TEST(Bridge, AWriteSendsOnlyWhatDiffersFromWhatTheBoardHoldsWhileThatIsKnown)
{
    Harness h("[board.b1]\nport=Com1\n[board.b2]\nport=Com2\naddress=2\nfull_writes=true\n");
    h.tick(3);
    h.send("kelmora/b1/schedule/2/set", R"({"entries":[{"mode":"daily","time":"08:00:00","action":"bad"}]})");
    // Channel 2 as entries switching on at the given hours; what each step sends (frames) on each board.
    QByteArray sent;
    const auto set = [&](const QString &board, QList<int> hours) {
        QStringList entries;
        for (int hour : hours)
            entries << QStringLiteral(R"({"action":"on","mode":"daily","time":"%1:00:00"})").arg(hour, 2, 10, QChar(u'0'));
        const int address = board == "b1" ? 1 : 2, before = h.boards[address].writes;
        h.send("kelmora/" + board + "/schedule/2/set", sent = ("{\"entries\":[" + entries.join(',') + "]}").toUtf8());
        h.tick(40);
        return h.boards[address].writes - before;
    };
    EXPECT_EQ(set("b1", {1, 2, 3}), 4) << "not known yet: whole, with its end mark";
    EXPECT_EQ(set("b1", {1, 9, 3}), 1);
    EXPECT_EQ(set("b1", {1, 9}), 1) << "only the end mark";
    EXPECT_EQ(set("b1", {1, 9, 4, 5}), 3);
    EXPECT_EQ(set("b1", {1, 9, 4, 5}), 0);
    EXPECT_EQ(set("b2", {1, 2}), 3);
    EXPECT_EQ(set("b2", {1, 2}), 3) << "full_writes";
    const QStringList results = h.mqtt.results();
    EXPECT_EQ(std::pair(results.filter(R"("ok":true)").size(), results.value(0)),
              std::pair(qsizetype(7), QString(R"(kelmora/b1/result {"error":"entry 1 has an unknown action \"bad\"","ok":false,"request":"kelmora/b1/schedule/2/set"} (not retained))")));

    h.boards[1].slots.erase(h.boards[1].slots.begin()); // changed behind the bridge's back: a read finds it
    h.send("kelmora/b1/schedule/get", R"({"channel":2,"id":"g"})");
    h.tick(12);
    EXPECT_EQ(std::pair(h.mqtt.retained["kelmora/b1/schedule/2"], h.mqtt.results()),
              std::pair(QByteArray(R"({"entries":[]})"), QStringList(R"(kelmora/b1/result {"id":"g","ok":true,"request":"kelmora/b1/schedule/get"} (not retained))")));
    EXPECT_EQ(set("b1", {1, 9, 4, 5}), 5);
    h.send("kelmora/b1/schedule/get", R"({"channel":2})"); // a read that finds what was written keeps it known
    h.tick(12);
    EXPECT_EQ(set("b1", {1, 9, 4, 6}), 1);
    h.boards[1].silent = true; // offline: forgotten
    h.tick(kLinkTicks + 2);
    h.boards[1].silent = false;
    h.tick(3);
    EXPECT_EQ(set("b1", {1, 9, 4, 6}), 5);
    h.boards[1].ackWrite = [](int) { return false; }; // a write that fails leaves it unknown
    EXPECT_EQ(set("b1", {1, 9, 4, 7}), kFrameAttempts);
    h.boards[1].ackWrite = [](int) { return true; };
    EXPECT_EQ(set("b1", {1, 9, 4, 7}), 5);
}

TEST(Bridge, TellsItsTransfersAndStopsOneAndWatchesFramesOnRequest)
{
    Harness h("[board.b1]\nport=Com1\nname=Boiler\n[board.b2]\nport=Com1\naddress=2\nvariant=compat\n");
    h.tick(3);
    // Channels 1 and 3 as one transfer: told as it goes, at most every 500 ms, and its end at once.
    h.slow << 1; // one frame a tick
    h.mqtt.take();
    const QByteArray entry = R"({"action":"on","mode":"daily","time":"08:00:00"})";
    h.send("kelmora/b1/schedule/set", R"({"id":7,"by":"op@pc","channels":{"3":[)" + QByteArrayList(20, entry).join(',') +
                                          R"(],"1":[)" + entry + "]}}");
    h.tick(60);
    const QStringList told = h.mqtt.log.filter("kelmora/b1/transfer ");
    ASSERT_GE(told.size(), 3);
    EXPECT_TRUE(told.first().startsWith(R"(kelmora/b1/transfer {"by":"op@pc","channels":[1,3],"done":0,)"
                                        R"("eta_seconds":null,"id":7,"kind":"write","request":"kelmora/b1/schedule/set","total":23})"))
        << told.first().toStdString();
    EXPECT_TRUE(told[1].contains(QRegularExpression(R"("done":[1-9]\d*,"eta_seconds":[1-9]\d*,)"))) << told[1].toStdString();
    EXPECT_EQ(told.last(), R"(kelmora/b1/transfer {"kind":"none"})");
    EXPECT_LT(told.size(), 2 + 23 / 2) << "not every frame";
    EXPECT_EQ(h.mqtt.results(), QStringList({R"(kelmora/b1/result {"by":"op@pc","id":7,"ok":true,"request":"kelmora/b1/schedule/set"} (not retained))"}));
    EXPECT_EQ(std::tuple(h.mqtt.retained["kelmora/b1/schedule/1"], h.mqtt.retained["kelmora/b1/schedule/3"].count("08:00:00")),
              std::tuple(R"({"entries":[)" + entry + "]}", 20));

    // A stop ends the write under way at once, and says where; with none under way it is refused.
    h.send("kelmora/b1/schedule/2/set", R"({"entries":[)" + QByteArrayList(40, entry).join(',') + "]}");
    h.tick(8);
    h.send("kelmora/b1/transfer/stop", R"({"by":"op@pc"})");
    h.send("kelmora/b1/clock/set", ""); // running, but no transfer
    h.send("kelmora/b1/transfer/stop", "");
    const QStringList results = h.mqtt.results();
    ASSERT_EQ(results.size(), 3);
    EXPECT_TRUE(results[0].contains(R"("error":"已停止 (第2路第)")) << results[0].toStdString();
    EXPECT_EQ(results.mid(1), QStringList({R"(kelmora/b1/result {"by":"op@pc","ok":true,"request":"kelmora/b1/transfer/stop"} (not retained))",
                                           R"(kelmora/b1/result {"error":"no transfer under way","ok":false,"request":"kelmora/b1/transfer/stop"} (not retained))"}));
    EXPECT_EQ(h.mqtt.retained["kelmora/b1/transfer"], R"({"kind":"none"})");

    // Frames of the watched board only, for as long as asked.
    h.send("kelmora/b2/frames/watch", R"({"seconds":1})");
    h.tick(4);
    const QStringList frames = h.mqtt.take().filter("/frames ");
    EXPECT_FALSE(frames.isEmpty());
    for (const QString &f : frames) { // a client's frame log takes the record back as the bridge logged it
        const QByteArray payload = f.section(' ', 1).chopped(int(strlen(" (not retained)"))).toUtf8();
        const auto record = FrameFromPayload(QJsonDocument::fromJson(payload).object());
        EXPECT_TRUE(f.startsWith("kelmora/b2/frames {") && f.contains(QRegularExpression(R"("hex":"(66|22) 02 )")) &&
                    f.endsWith("(not retained)") && record && FramePayload(*record) == payload)
            << f.toStdString();
    }
    h.tick(4);
    EXPECT_EQ(h.mqtt.take().filter("/frames ").size(), 0);
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
    EXPECT_EQ(h.mqtt.retained.count(), 2 + 1 + 1 + 18 + 16 + 1 + 2)
        << "the bridge's and the board's configs, info, transfer";
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
                             h.logLines.filter("another client uses client_id").size(),
                             h.mqtt.subscribed.filter(QRegularExpression("old|was")).size(),
                             h.mqtt.retained.value("kelmora/b1/relay/1") + h.mqtt.retained.value("kelmora/b1/relay/4/set")),
                  std::tuple(row.oldLeft, row.wasLeft, row.warned, 0, "ONON"))
            << row.behaviour << ": " << left.join(' ').toStdString();
    }
}

TEST(Bridge, ReloadStartsAddedStopsRemovedRestartsChangedAndLeavesTheOthersRunning)
{
    Harness h("[board.a]\nport=Com1\n[board.b]\nport=Com2\naddress=2\n[board.c]\nport=Com1\naddress=3\n");
    h.tick(6);
    h.boards[2].silent = true; // b's request is still running when b goes, and c's when c is left as it was;
    h.slow << 1 << 3;          // a owes an answer when it leaves the line
    h.send("kelmora/b/schedule/get", "{}");
    h.send("kelmora/c/schedule/get", R"({"id":"through"})");
    do
        h.tick();
    while (std::ranges::none_of(h.held, [](const auto &held) { return held.second[1] == 1; }));
    h.mqtt.take();
    h.overlaps = 0; // the first slow answers counted as lost
    h.bridge->reload(ParseBridgeConfig("b.ini", "[board.a]\nport=Com1\naddress=256\n", {}));
    EXPECT_EQ(std::pair(h.mqtt.take(), h.logLines.last()),
              std::pair(QStringList(), QString("reload: b.ini:3: address must be 0-255; the running configuration is kept")));
    // a is renamed and moves to a line of its own, b goes, c stays as it was, d joins c's line.
    ConfigResult next = ParseBridgeConfig("b.ini", "[mqtt]\nport=1884\n[board.a]\nport=Com3\nname=A\n[board.c]\nport=Com1\n"
                                                   "address=3\n[board.d]\nport=Com1\naddress=4\n", {});
    next.config->boards[0].channelNames = QStringList{"泵"}; // as from a names_file
    h.bridge->reload(next);
    h.links.removeAt(1); // b's line went with it
    const QStringList published = h.mqtt.take();
    EXPECT_EQ(published.filter(QRegularExpression("^kelmora/(a|b|d)/availability offline")).size(), 3);
    EXPECT_EQ(published.filter("kelmora/c/").size() + published.filter("kelmora_c/").size(), 0) << "c is untouched";
    EXPECT_TRUE(published.contains(R"(kelmora/b/result {"error":"board no longer configured","ok":false,"request":"kelmora/b/schedule/get"} (not retained))"));
    EXPECT_EQ(h.mqtt.retained["kelmora/_bridge/kelmora-bridge/boards"], R"({"boards":["c","d","a"],"by":"pi:/etc/b.ini"})");
    h.tick(60);
    for (const auto &[topic, payload] : h.mqtt.retained.asKeyValueRange()) // b's, cleared as the broker hands them over
        EXPECT_TRUE(!topic.contains(QRegularExpression("/b/|kelmora_b/")) || payload.isEmpty()) << topic.toStdString();
    EXPECT_EQ(h.mqtt.subscribed.filter("kelmora/b/"), QStringList()) << "a removed board's requests are not taken";
    for (const char *board : {"a", "c", "d"})
        EXPECT_EQ(h.mqtt.retained[QString("kelmora/%1/availability").arg(board)], "online") << board;
    const QByteArray relay1 = h.mqtt.retained["homeassistant/switch/kelmora_a/relay1/config"];
    EXPECT_TRUE(relay1.contains(R"("name":"A")") && relay1.contains(R"("name":"泵")")) << relay1.toStdString();
    EXPECT_EQ(h.mqtt.results(), QStringList(R"(kelmora/c/result {"id":"through","ok":true,"request":"kelmora/c/schedule/get"} (not retained))"));
    EXPECT_EQ(std::tuple(h.opens, h.overlaps, h.logLines.filter("[mqtt] changed").size()), std::tuple(3, 0, 1))
        << "a's new line opens, c's stays open; [mqtt] waits for a restart";
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
