// End to end: kelmora-bridge between a broker of the test's own (mosquitto on a
// free loopback port) and kelmora-board on a pseudo-terminal; the test speaks
// MQTT through mosquitto_pub and mosquitto_sub.
#include "boardprocess.h"

#include "app/frmmain.h"
#include "bridge/mosquittoclient.h"
#include "device/qtseriallink.h"
#include "support/fakes.h"
#include "support/files.h"
#include "support/scriptedprompts.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>

#include <QFileInfo>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

const QString kBroker = QStringLiteral("/usr/sbin/mosquitto");

struct Site {
    // `password`: the broker takes only user "k" with password "right", and the bridge logs in with this one.
    // `acl`: the broker's ACL file, with user "viewer" (password "view") beside "k".
    explicit Site(const QString &password = {}, const QString &acl = {})
    {
        // As root, mosquitto would drop to its own user, which may not read the test's folder.
        write("mosquitto.conf", QStringLiteral("listener %1 127.0.0.1\nuser root\nallow_anonymous %2\n%3%4")
                                    .arg(port)
                                    .arg(password.isEmpty() ? "true" : "false")
                                    .arg(password.isEmpty() ? "" : "password_file " + dir.filePath("passwd") + "\n")
                                    .arg(acl.isEmpty() ? "" : "acl_file " + dir.filePath("acl") + "\n"));
        write("acl", acl);
        QProcess::execute("mosquitto_passwd", {"-c", "-b", dir.filePath("passwd"), "k", "right"});
        QProcess::execute("mosquitto_passwd", {"-b", dir.filePath("passwd"), "viewer", "view"});
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
    void write(const QString &name, const QString &text) { writeBytes(dir.filePath(name), text.toUtf8()); }
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
    ASSERT_TRUE(site.saw("k/e2e/relay/16 OFF") && site.saw("k/two/relay/16 OFF"));
    site.pub("k/e2e/relay/3/set", "ON");
    EXPECT_EQ(site.result("relay/3/set"), R"({"ok":true,"payload":"ON","request":"k/e2e/relay/3/set"})");
    site.pub("k/two/relay/5/set", "ON");
    EXPECT_EQ(site.result("relay/5/set", "two"), R"({"ok":true,"payload":"ON","request":"k/two/relay/5/set"})");
    // Each board switched its own relay only, though both share the line.
    EXPECT_EQ(QStringList({site.retained("k/e2e/relay/3"), site.retained("k/e2e/relay/5"), site.retained("k/two/relay/3"),
                           site.retained("k/two/relay/5")}),
              QStringList({"ON", "OFF", "OFF", "ON"}));

    const QByteArray schedule = R"({"entries":[{"action":"on","days":["mon","fri"],"mode":"weekly","time":"07:30:00"},)"
                                R"({"action":"off","mode":"daily","time":"18:00:00"}]})";
    site.pub("k/e2e/schedule/2/set", schedule);
    EXPECT_EQ(site.result("schedule/2/set"), R"({"ok":true,"request":"k/e2e/schedule/2/set"})");
    site.seen.clear();
    site.pub("k/e2e/schedule/2", "", true); // cleared: what comes back now is the board's reading
    site.pub("k/e2e/schedule/get", R"({"channel":2})");
    EXPECT_EQ(site.result("schedule/get"), R"({"ok":true,"request":"k/e2e/schedule/get"})");
    EXPECT_EQ(site.retained("k/e2e/schedule/2"), QString::fromUtf8(schedule)) << "read back from the board";

    // The broker restarts empty: the bridge brings every retained topic back.
    site.broker.kill();
    site.broker.waitForFinished();
    site.startBroker();
    EXPECT_TRUE(WaitFor([&] { return site.retained("k/e2e/schedule/2") == QString::fromUtf8(schedule); }, 20000));

    // Sent while the bridge is away, a request waits in the bridge's session on the broker.
    site.bridge.terminate();
    site.bridge.waitForFinished();
    site.pub("k/e2e/relay/6/set", "ON");
    site.startBridge();
    EXPECT_EQ(site.result("relay/6/set"), R"({"ok":true,"payload":"ON","request":"k/e2e/relay/6/set"})");

    // SIGHUP with board two taken out: it leaves nothing retained, and the bridge runs on.
    QFile ini(site.dir.filePath("bridge.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    site.write("bridge.ini", QString::fromUtf8(ini.readAll()).section("[board.two]", 0, 0));
    ::kill(pid_t(site.bridge.processId()), SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return site.retained("k/two/relay/5").isEmpty(); }, 10000));
    EXPECT_EQ(std::pair(site.retained("homeassistant/switch/kelmora_two/relay5/config"), site.bridge.state()),
              std::pair(QString(), QProcess::Running));

}

struct CliRun {
    int exit = -1;
    QByteArray out;
    qint64 ms = 0;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

CliRun Cli(const QStringList &args)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(KELMORA_CLI), args);
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(), t.elapsed()};
}

// kelmora-cli gives the same results through the broker as over a line: the bridge's board (address
// 1 on Com78) against a board of its own on Com79, from the same empty start.
TEST(BridgeE2E, CliThroughTheBrokerAsOverTheLine)
{
    Site site;
    ASSERT_TRUE(site.saw("k/e2e/availability online"));
    BoardProcess own(site.dir.path(), 79);
    const QStringList broker{"--broker", QStringLiteral("mqtt://127.0.0.1:%1").arg(site.port), "--board", "e2e",
                             "--base-topic", "k", "--json"};
    const QStringList line{"--port", site.dir.filePath("Com79"), "--json"};
    // Channel 1: 12 entries, the first at 00:`minute`; channel 2: one.
    const QString book = site.dir.filePath("book.ini");
    const auto makeBook = [&](int minute) {
        QString ini = "[Note]\r\n02001=01000000000200000000070000\r\n";
        for (int i = 0; i < 12; ++i)
            ini += QString::asprintf("01%03d=11000000000100000000%02d%02d00\r\n", i + 1, i, i ? 0 : minute);
        site.write("book.ini", ini);
    };
    makeBook(0);

    const QList<QStringList> commands{{"write", book},         {"verify", book},    {"relay", "3", "on"},
                                      {"relay", "all", "on"},  {"status"},          {"clock", "--set"},
                                      {"read", "--channel", "2", "-o", "%"}};
    for (const QStringList &c : commands) {
        QStringList viaBroker = c, viaLine = c;
        viaBroker.replaceInStrings("%", site.dir.filePath("broker.ini"));
        viaLine.replaceInStrings("%", site.dir.filePath("line.ini"));
        CliRun a = Cli(broker + viaBroker), b = Cli(line + viaLine);
        QJsonObject ja = a.json(), jb = b.json();
        for (const char *k : {"board_time", "drift_seconds", "file", "retries"}) // retries: how loaded the machine is
            ja.remove(k), jb.remove(k);
        EXPECT_EQ(std::pair(a.exit, ja), std::pair(b.exit, jb)) << c.join(' ').toStdString() << a.out.toStdString();
    }
    QFile a(site.dir.filePath("broker.ini")), b(site.dir.filePath("line.ini"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());

    // One entry changed: one frame on the line, and the board holds the file.
    const auto writes = [&] { return site.seen.filter(R"(k/e2e/frames {)").filter(R"("hex":"66 01 01 )").size(); };
    site.pub("k/e2e/frames/watch", R"({"seconds":60})");
    makeBook(1);
    EXPECT_EQ(Cli(broker + QStringList{"write", book, "--channel", "1"}).exit, 0);
    EXPECT_TRUE(WaitFor([&] { return writes() == 1; }, 3000)) << writes();
    EXPECT_EQ(Cli(broker + QStringList{"verify", book}).exit, 0);

    // What the broker offers, and what means nothing there.
    const CliRun boards = Cli(broker.mid(0, 2) + QStringList{"--base-topic", "k", "--json", "boards"});
    EXPECT_EQ(boards.json()["boards"].toArray().size(), 2) << boards.out.toStdString();
    const CliRun unknown = Cli(QStringList(broker).replaceInStrings("e2e", "nope") + QStringList{"status"});
    EXPECT_EQ(unknown.exit, 4);
    EXPECT_LT(unknown.ms, 20000);
}

// A user the broker's ACL lets read but not write: a write gets no result, and fails within the bound.
TEST(BridgeE2E, CliWriteDroppedByTheAclFails)
{
    Site site(QStringLiteral("right"), QStringLiteral("user k\ntopic readwrite #\nuser viewer\ntopic read k/#\n"));
    ASSERT_TRUE(site.saw("k/e2e/availability online"));
    site.write("viewer.pw", "view\n");
    site.write("book.ini", "[Note]\r\n01001=11000000000100000000070000\r\n");
    const CliRun r = Cli({"--broker", QStringLiteral("mqtt://viewer@127.0.0.1:%1").arg(site.port), "--password-file",
                          site.dir.filePath("viewer.pw"), "--board", "e2e", "--base-topic", "k", "write",
                          site.dir.filePath("book.ini")});
    EXPECT_EQ(r.exit, 5);
    EXPECT_LT(r.ms, 25000); // at once under MQTT 5, which mosquitto 2 speaks; 15 s without a word under 3.1.1
}

// Two windows (offscreen) on the bridge's board: what one does the other sees.
struct NetworkWindow {
    NetworkWindow(Site &site, const QString &name) : link(site.dir.path())
    {
        QDir(site.dir.path()).mkpath(name);
        w = std::make_unique<Frmmain>(FrmmainSetup{site.dir.filePath(name), Variant::Standard, &link, &prompts, {},
                                                   [](const MqttSettings &s) -> std::unique_ptr<MqttClient> {
                                                       return std::make_unique<MosquittoClient>(s, [](const QString &) {});
                                                   }});
        QString why;
        const auto settings = ClientSettings(QStringLiteral("mqtt://127.0.0.1:%1").arg(site.port), {}, {}, name, &why);
        w->openNetworkBoard({*settings, "k", "e2e"});
    }
    bool lampsKnown() const { return w->lampColour(0) != kLampGrey; }
    QtSerialLink link;
    ScriptedPrompts prompts;
    std::unique_ptr<Frmmain> w;
};

TEST(BridgeE2E, WindowsOnANetworkBoard)
{
    Site site;
    ASSERT_TRUE(site.saw("k/e2e/availability online"));
    NetworkWindow a(site, "a"), b(site, "b");
    ASSERT_TRUE(WaitFor([&] { return a.lampsKnown() && b.lampsKnown(); }, 10000));
    EXPECT_EQ(std::tuple(a.w->SBNet->text(), a.w->CmbCom->isEnabled(), a.w->CmbID->isEnabled()),
              std::tuple(QString("网络：e2e@127.0.0.1"), false, false));

    // A relay switched in one window lights the lamp in the other.
    a.w->SSTab2_Click(2);
    a.w->CmdIn->click();
    EXPECT_TRUE(WaitFor([&] { return b.w->lampColour(2) == kLampGreen; }, 5000));

    // A channel written from one window.
    AddEntries(a.w->book(), 1, "11000000000100000000070000");
    a.w->SSTab2_Click(0);
    a.w->CmdDown->click();
    EXPECT_TRUE(WaitFor([&] { return a.prompts.messages.contains("写入成功！"); }, 10000)) << a.prompts.messages.join('|').toStdString();

    // A long write from the other: this window's transfer commands wait, panel 2 says why; 停止 ends it.
    AddEntries(b.w->book(), 2, "11000000000200000000070000", 255);
    b.w->SSTab2_Click(1);
    b.w->CmdDown->click();
    EXPECT_TRUE(WaitFor([&] { return a.w->statusText(2).startsWith("其他位置正在写入第2路"); }, 10000));
    b.w->CmdStop->click();
    EXPECT_TRUE(WaitFor([&] { return b.prompts.messages.filter("已停止（写入停在第2路").size() == 1; }, 10000))
        << b.prompts.messages.join('|').toStdString();

    // The broker gone: the lamps grey and panel 1 says so; back, they come back.
    site.broker.kill();
    site.broker.waitForFinished();
    EXPECT_TRUE(WaitFor([&] { return !a.lampsKnown() && a.w->statusText(1).startsWith("与代理服务器的连接中断"); }, 5000));
    site.startBroker();
    EXPECT_TRUE(WaitFor([&] { return a.lampsKnown(); }, 20000));

    // 关闭 leaves the board: the port selector is back.
    a.w->CmdOpen->click();
    EXPECT_EQ(std::tuple(a.w->SBNet->isVisible(), a.w->CmbCom->isEnabled(), a.lampsKnown()), std::tuple(false, true, false));
}

TEST(BridgeE2E, WrongPasswordIsLoggedOnceAndTriedAgain)
{
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
    const QString ini = dir.filePath("b.ini");
    ASSERT_TRUE(writeBytes(dir.filePath("pw"), "") && QFile::setPermissions(dir.filePath("pw"), QFile::ReadOwner | QFile::ReadOther) &&
                writeBytes(ini, "[mqtt]\nusername = u\npassword_file = pw\n[board.a]\nport = Com1\n"));
    QProcess p;
    p.start(QStringLiteral(KELMORA_BRIDGE), {"--config", ini, "--check-config"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(std::tuple(p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).section(": ", 1),
                         QString::fromUtf8(p.readAllStandardError()).contains("b.ini:3: password_file")),
              std::tuple(0, "1 board, broker localhost:1883\n", true));
    // --start-condition, for ExecCondition=: 1 skips the service; a broken file is left to fail the start.
    for (const auto &[text, code] : {std::pair("[board.a]\nport = Com1\n", 0), {"[mqtt]\n", 1}, {"[mqtt]\nhots = 1\n", 0}})
        EXPECT_EQ(writeBytes(ini, text) ? QProcess::execute(QStringLiteral(KELMORA_BRIDGE), {"--config", ini, "--start-condition"}) : -1, code)
            << text;
}

} // namespace
