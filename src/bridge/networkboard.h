// A board that kelmora-bridge holds, driven through the broker: the window's
// and kelmora-cli's commands become the bridge's requests (schedules as the
// bridge's JSON), and what the bridge publishes becomes the lamps, the clock,
// progress and the closing boxes, through the same EngineView as a serial
// board. No sockets and no timers here: the MQTT client is the narrow one the
// bridge uses, and the owner calls tick() every 200 ms.
#pragma once

#include "bridge/bridgeconfig.h"
#include "bridge/mqttclient.h"
#include "device/boarddriver.h"

#include <QJsonObject>
#include <QMap>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

// Where a network board is: mqtt://[user@]host[:port] or mqtts://..., and its ID.
struct BrokerUrl {
    QString host;
    int port = 1883;
    QString user;
    bool tls = false;
};
// Empty, with `error` set, for anything else.
std::optional<BrokerUrl> ParseBrokerUrl(const QString &url, QString *error);
// What a client of the bridge connects with: a session of its own (`clientId`), the password from
// the first line of `passwordFile`, TLS with `tlsCa` or else the system's CAs for mqtts://.
std::optional<MqttSettings> ClientSettings(const QString &url, const QString &passwordFile, const QString &tlsCa,
                                           const QString &clientId, QString *error);
// A board that kelmora-bridge holds, reached through the broker.
struct NetworkChoice {
    MqttSettings settings; // the broker and the login
    QString baseTopic = QStringLiteral("kelmora");
    QString board;
    QString label() const { return board + QLatin1Char('@') + settings.host; } // "plant@broker.lan"
};

// A client id of its own for each run of `program` on this computer.
QString NetworkClientId(const QString &program);
inline const QString kSystemCaFile = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");

// A request that has had no word from the bridge (its result, or for a transfer its
// progress) for this long has failed: the broker may have dropped it (its ACL).
inline constexpr qint64 kNoWordMs = 15 * 1000;
// A board whose B/info has not come this long after subscribing is unknown to the broker.
inline constexpr qint64 kUnknownBoardMs = 3 * 1000;
// The frames of a network board come while the log is open: the watch is asked
// for this long and renewed before it runs out.
inline constexpr int kFrameWatchSeconds = 60;

// The boards a broker offers under `base`, from what the bridges leave retained there.
struct KnownBoard {
    QString id, name, bridge;
    bool online = false; // the board answers, and its bridge runs
};
class BoardDirectory {
public:
    explicit BoardDirectory(QString base) : m_base(std::move(base)) {}
    // What to subscribe to.
    QStringList filters() const;
    void take(const QString &topic, const QByteArray &payload);
    // By ID; a board the broker has no B/info of is left out.
    QList<KnownBoard> boards() const;

private:
    QString m_base;
    QMap<QString, QJsonObject> m_info;
    QMap<QString, bool> m_online;       // by board
    QMap<QString, bool> m_bridgeOnline; // by bridge client_id
};

class NetworkBoard final : public BoardDriver {
public:
    using Clock = std::function<QDateTime()>;

    // `by` names this client in every request ("kelmora@office-pc"); `book` is what writes send
    // and reads fill, and outlives the board.
    NetworkBoard(EngineView &view, MqttClient &mqtt, ScheduleBook &book, QString base, QString board, QString by,
                 Clock clock = {});

    // Sets the client's handlers and starts it (it reconnects by itself).
    void start();
    // Leaves the board: lamps grey, nothing more is sent.
    void leave();

    // --- BoardDriver ---
    void tick() override;
    void write(int channel) override;
    void read(int channel) override;
    void readClock() override;
    void setClock() override;
    void switchRelay(int channel, bool on) override;
    void stop() override;
    bool startVerifyRead(int channel, ScheduleBook &target) override;
    bool startWriteChannels(const QList<int> &channels) override;
    bool transferActive() const override { return m_transfer.has_value(); }
    bool transferUnderWay() const override { return m_transfer.has_value() || m_clockSet.has_value(); }
    bool writing() const override { return m_transfer && m_transfer->kind == TransferKind::Write; }
    bool relayCommandPending() const override { return !m_relays.isEmpty(); }
    std::optional<QDateTime> boardClockNow() const override;
    std::optional<qint64> boardDrift() const override { return m_drift; }
    int boardWeekdayShift() const override { return 0; }
    QDateTime now() const override { return m_clock(); }
    const std::optional<TransferResult> &lastResult() const override { return m_lastResult; }

    // --- What the broker tells of the board ---
    // Why the board cannot be reached, in panel 1's words; empty while it can, and while
    // that is not known yet (connecting, or waiting for the bridge's first word).
    QString unreachable() const;
    // The broker could not be reached (or refused us) before ever connecting; its reason.
    const QString &brokerFailure() const { return m_brokerFailure; }
    bool brokerConnected() const { return m_connected; }
    // Connected, the board online under a running bridge, and its relay states known.
    bool ready() const;
    // B/info as the bridge published it; empty before it came.
    const QJsonObject &info() const { return m_info; }
    // Another client's transfer on this board, in panel 2's words ("其他位置正在写入第3路 12/255");
    // empty when there is none.
    const QString &otherTransfer() const { return m_other; }
    // Why the last request was refused, in the bridge's words; empty after one that went well.
    const QString &refusal() const { return m_refusal; }
    // Relay states from B/relay/N: bit N-1 = relay N on; empty while any is unknown.
    std::optional<uint16_t> relayStates() const;

    // The board's frames as the bridge logs them (B/frames): asked for while `on`, renewed by tick().
    void watchFrames(bool on);
    void setFrameObserver(std::function<void(const QJsonObject &)> f) { m_frames = std::move(f); }
    // Called when what is known of the board changed (B/info, reachability).
    void setOnChange(std::function<void()> f) { m_onChange = std::move(f); }

private:
    struct Pending {
        TransferKind kind = TransferKind::None;
        QString id;
        QString topic;
        QList<int> channels;
        ScheduleBook *target = nullptr; // reads
        bool verify = false;
        QDateTime lastWord; // sent, or the bridge's last progress on it
    };
    struct RelayPending {
        QString topic;
        QByteArray payload;
        QDateTime sent;
    };

    void connected();
    void disconnected(const QString &why);
    void message(const QString &topic, const QByteArray &payload);
    void result(const QJsonObject &o);
    void publishRefused(const QString &topic, const QString &reason);
    void transferState(const QJsonObject &o);
    void endTransfer(bool ok, const QString &error);
    void reachabilityChanged();
    void showLamps();
    QString topic(const QString &rest) const { return m_base + QLatin1Char('/') + m_board + QLatin1Char('/') + rest; }
    QString nextId();
    QByteArray request(QJsonObject o) const; // with "by" added
    bool mayStartTransfer() const;
    void beginTransfer(Pending p, const QString &topic, const QByteArray &payload);
    void refuse(const QString &why, bool box);

    EngineView &m_view;
    MqttClient &m_mqtt;
    ScheduleBook &m_book;
    QString m_base, m_board, m_by;
    Clock m_clock;
    QString m_session; // makes this client's request ids its own
    int m_requests = 0;
    bool m_left = false;

    bool m_connected = false;
    bool m_everConnected = false;
    QString m_brokerFailure;
    QString m_lostWhy;
    QDateTime m_subscribedAt;
    QJsonObject m_info;
    std::optional<bool> m_online;       // B/availability
    std::optional<bool> m_bridgeOnline; // the bridge's own availability
    QString m_bridgeTopic;
    std::array<std::optional<bool>, 16> m_relayStates;
    std::optional<qint64> m_drift;
    std::optional<QDateTime> m_boardTime; // a clock that is no time: as the bridge sent it
    QDateTime m_boardTimeAt;
    QMap<int, QByteArray> m_schedules; // B/schedule/N as last published
    QString m_shownReach;              // panel 1's reachability text last shown

    std::optional<Pending> m_transfer;
    std::optional<Pending> m_clockSet;
    QList<RelayPending> m_relays;
    QString m_other;
    QString m_refusal;
    std::optional<TransferResult> m_lastResult;

    bool m_watching = false;
    QDateTime m_watchRenew;
    std::function<void(const QJsonObject &)> m_frames;
    std::function<void()> m_onChange;
};
