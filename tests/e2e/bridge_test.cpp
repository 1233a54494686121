// End to end: kelmora-bridge between a broker of the test's own (mosquitto on a
// free loopback port) and kelmora-board on a pseudo-terminal; the test speaks
// MQTT through mosquitto_pub and mosquitto_sub.
#include "boardprocess.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kBroker = QStringLiteral("/usr/sbin/mosquitto");

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), len);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

struct Site {
    // `password`: the broker takes only user "k" with password "right", and the bridge logs in with this one.
    explicit Site(const QString &password = {})
    {
        // As root, mosquitto would drop to its own user, which may not read the test's folder.
        write("mosquitto.conf", QStringLiteral("listener %1 127.0.0.1\nuser root\nallow_anonymous %2\n%3")
                                    .arg(port)
                                    .arg(password.isEmpty() ? "true" : "false")
                                    .arg(password.isEmpty() ? "" : "password_file " + dir.filePath("passwd") + "\n"));
        QProcess::execute("mosquitto_passwd", {"-c", "-b", dir.filePath("passwd"), "k", "right"});
        write("pw", password);
        write("bridge.ini", QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nbase_topic=k\n%2"
                                           "[board.e2e]\nport=%3\nname=E2E\n[board.two]\nport=%3\naddress=7\n")
                                .arg(port)
                                .arg(password.isEmpty() ? "" : "username=k\npassword_file=pw\n")
                                .arg(dir.filePath("Com78")));
        startBroker();
        bridge.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        QObject::connect(&bridge, &QProcess::readyReadStandardError,
                         [this] { log += QString::fromUtf8(bridge.readAllStandardError()); });
        startBridge();
        watch.start("mosquitto_sub", client({"-v", "-t", "k/#", "-t", "homeassistant/#"}));
        QObject::connect(&watch, &QProcess::readyReadStandardOutput,
                         [this] { seen += QString::fromUtf8(watch.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts); });
    }
    ~Site()
    {
        for (QProcess *p : {&watch, &bridge, &broker})
            p->terminate(), p->waitForFinished(5000);
    }
    void write(const QString &name, const QString &text)
    {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(text.toUtf8());
    }
    void startBridge() { bridge.start(QStringLiteral(KELMORA_BRIDGE), {"--config", dir.filePath("bridge.ini")}); }
    void startBroker()
    {
        broker.start(kBroker, {"-c", dir.filePath("mosquitto.conf")});
        broker.waitForStarted();
        WaitFor([] { return false; }, 300);
    }
    bool saw(const QString &line, int ms = 10000) { return WaitFor([&] { return seen.contains(line); }, ms); }
    // A client's arguments: this broker, logged in as "k".
    QStringList client(QStringList a) const { return QStringLiteral("-p %1 -u k -P right").arg(port).split(' ') + a; }
    void pub(const QString &t, const QByteArray &m, bool retain = false)
    {
        QProcess::execute("mosquitto_pub",
                          client(QStringList{"-q", "1", "-t", t, "-m", m} + (retain ? QStringList{"-r"} : QStringList())));
    }
    // The retained payload of one topic, as a new client gets it.
    QString retained(const QString &topic)
    {
        QProcess p;
        p.start("mosquitto_sub", client({"-t", topic, "-C", "1", "-W", "2"}));
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString result(const QString &request, const QString &board = QStringLiteral("e2e"))
    {
        QString r;
        const QString topic = "k/" + board + "/result {";
        WaitFor([&] { return !(r = seen.filter(topic).filter(request).value(0)).isEmpty(); }, 30000);
        seen.removeAll(r);
        return r.section(' ', 1);
    }

    QTemporaryDir dir;
    int port = FreePort();
    // Two boards on one line (addresses 1 and 7), as a plant room has them.
    BoardProcess board{dir.path(), 78, {"--address", "1", "--address", "7"}};
    QProcess broker, bridge, watch;
    QStringList seen;
    QString log; // the bridge's standard error
};

TEST(BridgeE2E, ServesTheBoardOnMqtt)
{
    ASSERT_TRUE(QFileInfo(kBroker).isExecutable()) << "mosquitto is needed: apt-get install mosquitto mosquitto-clients";
    Site site;
    ASSERT_TRUE(site.board.started);
    ASSERT_TRUE(site.saw("k/e2e/availability online"));

    ASSERT_TRUE(site.saw("k/e2e/relay/16 OFF") && site.saw("k/two/relay/16 OFF"));
    EXPECT_EQ(site.seen.filter("homeassistant/").size(), 2 * 18 + 1) << "two boards and the bridge";
    for (const QString &c : site.seen.filter("homeassistant/"))
        EXPECT_TRUE(QJsonDocument::fromJson(c.section(' ', 1).toUtf8()).isObject()) << c.toStdString();

    site.pub("k/e2e/relay/3/set", "ON");
    EXPECT_EQ(site.result("relay/3/set"), R"({"ok":true,"payload":"ON","request":"k/e2e/relay/3/set"})");
    site.pub("k/two/relay/5/set", "ON");
    EXPECT_EQ(site.result("relay/5/set", "two"), R"({"ok":true,"payload":"ON","request":"k/two/relay/5/set"})");
    // Each board switched its own relay only, though both share the line.
    for (int n = 1; n <= 16; ++n)
        EXPECT_EQ(std::pair(site.retained(QStringLiteral("k/e2e/relay/%1").arg(n)),
                            site.retained(QStringLiteral("k/two/relay/%1").arg(n))),
                  std::pair(QString(n == 3 ? "ON" : "OFF"), QString(n == 5 ? "ON" : "OFF")))
            << n;

    const QByteArray schedule = R"({"entries":[{"action":"on","days":["mon","fri"],"mode":"weekly","time":"07:30:00"},)"
                                R"({"action":"off","mode":"daily","time":"18:00:00"}]})";
    site.pub("k/e2e/schedule/2/set", schedule);
    EXPECT_EQ(site.result("schedule/2/set"), R"({"ok":true,"request":"k/e2e/schedule/2/set"})");
    site.pub("k/e2e/schedule/2/set", R"({"id":9,"entries":[{"action":"on","mode":"daily","time":"25:00:00"}]})");
    EXPECT_TRUE(site.result("schedule/2/set").contains(R"("id":9,"ok":false)"));
    site.seen.clear();
    site.pub("k/e2e/schedule/2", "", true); // cleared: what comes back now is the board's reading
    site.pub("k/e2e/schedule/get", R"({"channel":2})");
    EXPECT_EQ(site.result("schedule/get"), R"({"ok":true,"request":"k/e2e/schedule/get"})");
    EXPECT_EQ(site.retained("k/e2e/schedule/2"), QString::fromUtf8(schedule)) << "read back from the board, bad one refused";

    site.board.kill();
    EXPECT_TRUE(site.saw("k/e2e/availability offline", 4000) && site.saw("k/two/availability offline", 4000));
    BoardProcess again(site.dir.path(), 78, {"--address", "1", "--address", "7"});
    EXPECT_TRUE(site.saw("k/e2e/availability online", 15000) && site.saw("k/two/availability online", 15000));

    // The broker restarts empty: the bridge brings every retained topic back.
    site.broker.kill();
    site.broker.waitForFinished();
    site.startBroker();
    EXPECT_TRUE(WaitFor([&] { return site.retained("k/e2e/schedule/2") == QString::fromUtf8(schedule); }, 20000));
    EXPECT_EQ(site.retained("homeassistant/switch/kelmora_e2e/relay3/config").isEmpty(), false);

    // Retained, a request runs as it is sent, never again; sent while the bridge is away, it waits in the
    // bridge's session on the broker and is answered when the bridge is back.
    site.pub("k/e2e/relay/4/set", "ON", true);
    EXPECT_EQ(site.result("relay/4/set"), R"({"ok":true,"payload":"ON","request":"k/e2e/relay/4/set"})");
    site.bridge.terminate();
    site.bridge.waitForFinished();
    site.pub("k/e2e/relay/6/set", "ON");
    site.startBridge();
    EXPECT_EQ(site.result("relay/6/set"), R"({"ok":true,"payload":"ON","request":"k/e2e/relay/6/set"})");
    EXPECT_TRUE(site.result("relay/4/set").contains("retained request not run"));

    // SIGHUP with board two taken out: it leaves nothing retained, and the bridge runs on.
    QFile ini(site.dir.filePath("bridge.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    site.write("bridge.ini", QString::fromUtf8(ini.readAll()).section("[board.two]", 0, 0));
    ::kill(pid_t(site.bridge.processId()), SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return site.retained("k/two/relay/5").isEmpty(); }, 10000));
    EXPECT_EQ(std::pair(site.retained("homeassistant/switch/kelmora_two/relay5/config"), site.bridge.state()),
              std::pair(QString(), QProcess::Running));

    // Restarted without board e2e and under another client_id: nothing of either stays retained.
    const auto left = [&] {
        QProcess p;
        p.start("mosquitto_sub", site.client({"-v", "-W", "2", "--retained-only", "-t", "k/e2e/#", "-t",
                                              "k/_bridge/kelmora-bridge/#", "-t", "homeassistant/+/kelmora_e2e/#", "-t",
                                              "homeassistant/+/kelmora-bridge_kelmora_bridge/#"}));
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    const QString before = left();
    ASSERT_TRUE(before.contains("k/e2e/schedule/2 ") && before.contains("kelmora_bridge/connectivity/config "))
        << before.toStdString();
    site.bridge.terminate();
    site.bridge.waitForFinished();
    site.write("bridge.ini", QStringLiteral("[mqtt]\nhost=127.0.0.1\nport=%1\nbase_topic=k\nclient_id=moved\n"
                                            "[board.seven]\nport=%2\naddress=7\n")
                                 .arg(site.port)
                                 .arg(site.dir.filePath("Com78")));
    site.startBridge();
    QString ghost;
    EXPECT_TRUE(WaitFor([&] { return (ghost = left()).isEmpty(); }, 20000)) << ghost.toStdString();
    EXPECT_EQ(site.retained("k/_bridge/moved/availability"), "online");
}

TEST(BridgeE2E, WrongPasswordIsLoggedOnceAndTriedAgain)
{
    Site right(QStringLiteral("right"));
    EXPECT_TRUE(right.saw("k/e2e/availability online"));
    Site wrong(QStringLiteral("wrong"));
    EXPECT_TRUE(WaitFor([&] { return wrong.log.contains("refused by the broker"); }, 5000)) << wrong.log.toStdString();
    WaitFor([] { return false; }, 4000);
    EXPECT_EQ(wrong.log.count("refused by the broker"), 1) << "logged once, tried again";
    EXPECT_EQ(wrong.bridge.state(), QProcess::Running);
}

// --check-config: one board counted in good English, a password file anyone may read warned of.
TEST(BridgeE2E, CheckConfigCountsAndWarns)
{
    QTemporaryDir dir;
    QFile pw(dir.filePath("pw")), ini(dir.filePath("b.ini"));
    ASSERT_TRUE(pw.open(QIODevice::WriteOnly) && pw.setPermissions(QFile::ReadOwner | QFile::ReadOther));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly) &&
                ini.write("[mqtt]\nusername = u\npassword_file = pw\n[board.a]\nport = Com1\n"));
    ini.close();
    QProcess p;
    p.start(QStringLiteral(KELMORA_BRIDGE), {"--config", ini.fileName(), "--check-config"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(std::tuple(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).section(": ", 1),
                         QString::fromUtf8(p.readAllStandardError()).contains("b.ini:3: password_file")),
              std::tuple(0, "1 board, broker localhost:1883\n", true));
    // --start-condition, for ExecCondition=: 1 skips the service; a broken file is left to fail the start.
    for (const auto &[text, code] : {std::pair("[board.a]\nport = Com1\n", 0), {"[mqtt]\n", 1}, {"[mqtt]\nhots = 1\n", 0}}) {
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate) && ini.write(text) > 0);
        ini.close();
        EXPECT_EQ(QProcess::execute(QStringLiteral(KELMORA_BRIDGE), {"--config", ini.fileName(), "--start-condition"}), code)
            << text;
    }
}

} // namespace
