// kelmora-bridge's logic: every configured board kept polled through a
// headless session, its states published on MQTT, and requests from MQTT run
// one at a time per board. No sockets and no timers of its own: the program
// calls tick() every 200 ms, and tests call it themselves.
#pragma once

#include "bridge/bridgeconfig.h"
#include "bridge/mqttclient.h"
#include "bridge/topics.h"
#include "device/headlesssession.h"

#include <QMap>
#include <QObject>
#include <QSysInfo>

#include <deque>
#include <memory>

inline constexpr int kQueueLimit = 64;  // requests waiting per board beyond the one running
inline constexpr int kReopenTicks = 25; // a lost port is tried again every 5 s
// A relay command or clock set must be done this long after it started, and a
// request for a board that does not answer is refused this long after it came:
// on the computer's clock, however many boards share the line.
inline constexpr std::chrono::milliseconds kRequestTimeout{5000};
inline constexpr std::chrono::milliseconds kWaitOnline{10000};
inline constexpr int kRequestTicks = int(kRequestTimeout / kTickInterval);
inline constexpr int kWaitOnlineTicks = int(kWaitOnline / kTickInterval);
inline constexpr qint64 kClockRepublishMs = 10 * 60 * 1000;
inline constexpr qint64 kClockDriftStep = 2;
// How long the bridge clears what a board it forgets left retained: the broker hands every retained
// message over right after the subscription, well within this.
inline constexpr std::chrono::milliseconds kForgetFor{5000};
inline constexpr int kForgetTicks = int(kForgetFor / kTickInterval);

class SharedLine;
class LinePort;

class Bridge {
public:
    // Makes the link of one serial line (every board on `port` shares it).
    using LinkFactory = std::function<std::unique_ptr<SerialLink>(const QString &port)>;
    using Opener = std::function<OpenResult(SerialLink &link, const QString &port)>;
    using Logger = std::function<void(const QString &line)>;
    // Runs a step after a delay: the paced steps of transfers and the line's
    // turnaround guard. By default a precise single-shot timer; tests run the
    // steps themselves.
    using Scheduler = std::function<void(std::chrono::milliseconds after, std::function<void()> step)>;

    Bridge(BridgeConfig config, MqttClient &mqtt, LinkFactory makeLink, Opener open, Logger log,
           DeviceEngine::Clock clock = {});
    ~Bridge();

    // Channel names for a board's discovery (sixteen, or empty for "第N路").
    void setChannelNames(const QString &board, const QStringList &names) { m_names[board] = names; }
    // Who this bridge is in the board list it leaves retained (host and configuration file): only a
    // list of its own makes it clear boards it no longer has.
    void setInstance(const QString &instance) { m_instance = instance; }
    // Frames in and out on stderr (--verbose).
    void setVerbose(bool verbose) { m_verbose = verbose; }
    void setScheduler(Scheduler scheduler) { m_schedule = std::move(scheduler); }

    // Opens every line and connects to the broker.
    void start();
    // The 200 ms tick: each line ticks its boards in turn (a turn waits until the
    // line is free), lost ports are reopened, requests time out.
    void tick();
    // Publishes every board offline (retained) before the program ends.
    void stop();
    // Takes up a configuration read again (SIGHUP): boards added start, boards removed stop and leave
    // nothing retained, boards with a setting changed restart with it, the others run on untouched.
    // [mqtt] stays as it started: a change there is logged as taking a restart. A configuration
    // that failed to load is logged, and the running one kept.
    void reload(const ConfigResult &loaded);
    // Clears every retained topic of board `id` (its states, schedules, availability, requests
    // someone left retained, its discovery): for a board no longer configured. The broker is asked
    // for what it keeps under the board's topics, and each comes back cleared, for kForgetFor of
    // connected time.
    void forgetBoard(const QString &id);

    // For tests: a board's session (its engine and link).
    HeadlessSession &session(const QString &board);
    int waiting(const QString &board) const;

    QString bridgeAvailabilityTopic() const;

private:
    struct Running;
    struct Queued;
    struct Board;
    friend class SharedLine;
    friend class LinePort;

    Board &addBoard(const BoardSettings &s);
    // Stops a board; its waiting and running requests are refused with `why`.
    void removeBoard(const QString &id, const QString &why);
    void onConnected();
    void onMessage(const QString &topic, const QByteArray &payload, bool retained);
    void onBoardList(const QString &clientId, const QByteArray &payload, bool retained);
    QString boardsTopic(const QString &clientId) const;
    // Clears every retained topic `filter` brings, except a configured board's (`board`: whose they are).
    void forget(const QString &filter, const QString &board);
    void service(Board &b);
    void startNext(Board &b);
    void finish(Board &b, bool ok, const QString &error);
    void publishRetained(const QString &topic, const QByteArray &payload);
    void publishStates(Board &b);
    // Discovery, B/info and B/transfer (none) of a board as it starts.
    void announce(Board &b);
    // B/transfer: the transfer under way, at most every 500 ms, and its end at once.
    void publishTransfer(Board &b);
    // B/transfer/stop: ends the write or read under way; false when there is none.
    bool stopTransfer(Board &b);
    // B/frames of the boards on `line` that are watched (B/frames/watch).
    void frameLogged(const SharedLine &line, const FrameRecord &record);
    void setOnline(Board &b, bool online);
    QString topic(const Board &b, const QString &rest) const;
    void log(const QString &line) const;

    BridgeConfig m_config;
    MqttClient &m_mqtt;
    LinkFactory m_makeLink;
    Opener m_open;
    Logger m_log;
    DeviceEngine::Clock m_clock;
    bool m_verbose = false;
    QObject m_timers; // the default scheduler's timers go with the bridge
    Scheduler m_schedule;
    QMap<QString, QStringList> m_names;
    QList<std::shared_ptr<SharedLine>> m_lines;
    std::vector<std::shared_ptr<Board>> m_boards; // shared: a step scheduled for a board removed since is dropped
    QMap<QString, QByteArray> m_retained; // every retained state, republished on each connect
    QString m_instance = QSysInfo::machineHostName();
    bool m_foreignListWarned = false;
    QMap<QString, bool> m_retainedWarned; // request topics whose retained message was refused
    struct Forgetting {
        QString board; // empty for a topic that is no board's
        int ticksLeft = kForgetTicks;
    };
    QMap<QString, Forgetting> m_forgetting; // by filter
};
