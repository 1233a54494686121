// The bridge's configuration file (every refusal with its line) and what travels on MQTT:
// schedules as JSON, requests routed from topics, clock payloads and discovery.
#include "bridge/bridgeconfig.h"
#include "bridge/discovery.h"
#include "bridge/schedulejson.h"
#include "bridge/topics.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Files beside b.ini, "pw" readable by every user; "link" is another name of Com1's device.
ConfigResult Parse(const char *text)
{
    static const QMap<QString, QByteArray> files{{"pw", "s3cret\nignored\n"},
                                                 {"ca", "-----BEGIN CERTIFICATE-----\n"},
                                                 {"txt", "x"},
                                                 {"n", "[Note]\n01=a\n02= \n"}};
    return ParseBridgeConfig(
        "b.ini", text,
        [](const QString &name) {
            return files.contains(name) ? std::optional(NamedFile{"/k/" + name, files[name], name == "pw"})
                                        : std::nullopt;
        },
        [](const QString &port) { return port == "link" ? QStringLiteral("Com1") : port; });
}

TEST(BridgeConfig, TakesEverySettingWithDefaults)
{
    const ConfigResult r = Parse(
        "; site\n[mqtt] ; ours\nhost = broker.lan\nport=65535 # TLS\nusername = u\npassword_file = pw\n"
        "tls_ca=ca\nbase_topic = site/a\n"
        "[board.boiler-1]\nport = Com3  ; line 1\naddress = 0\nvariant = compat\t#new\nname = 锅炉房\narea = 地下室\n"
        "names_file = n\n[board.b2]\nport = /dev/ttyUSB0\n");
    ASSERT_TRUE(r.config) << r.error.toStdString();
    const BridgeConfig &c = *r.config;
    EXPECT_EQ(QStringList({c.mqtt.host, QString::number(c.mqtt.port), c.mqtt.username, c.mqtt.password, c.mqtt.tlsCa,
                           c.mqtt.clientId, c.mqtt.baseTopic, c.mqtt.discoveryPrefix}),
              QStringList({"broker.lan", "65535", "u", "s3cret", "/k/ca", "kelmora-bridge", "site/a", "homeassistant"}));
    EXPECT_EQ(r.warnings, QStringList("b.ini:6: password_file /k/pw can be read by every user (chmod o-r)"));
    ASSERT_EQ(c.boards.size(), 2);
    EXPECT_EQ(std::tuple(c.boards[0].id, c.boards[0].port, c.boards[0].address, c.boards[0].variant, c.boards[0].name,
                         c.boards[0].area),
              std::tuple(QString("boiler-1"), QString("Com3"), 0, Variant::Compat, QStringLiteral("锅炉房"),
                         QStringLiteral("地下室")));
    EXPECT_EQ(c.boards[0].channelNames, QStringList({"a"}) + QStringList(15, QString()));
    EXPECT_EQ(std::tuple(c.boards[1].name, c.boards[1].address, c.boards[1].variant, c.boards[1].channelNames,
                         c.boards[1].area),
              std::tuple("b2", 1, Variant::Standard, QStringList(), QString()));
}

TEST(BridgeConfig, RefusesWithFileAndLine)
{
    const struct {
        const char *behaviour, *text, *error;
    } rows[] = {
        {"unknown key", "[mqtt]\nhots = x\n", "b.ini:2: unknown key hots in [mqtt]"},
        {"unknown board key", "[board.a]\nport=Com1\nadress=3\n", "b.ini:3: unknown key adress in [board.a]"},
        {"unknown section", "[boards.a]\n", "b.ini:1: unknown section [boards.a]"},
        {"no port", "[board.a]\naddress=2\n", "b.ini:1: board a has no port"},
        {"upper-case ID", "[board.A]\nport=Com1\n", "b.ini:1: invalid board ID \"A\""},
        {"ID of 33", "[board.aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa]\n", "b.ini:1: invalid board ID"},
        {"duplicate ID", "[board.a]\nport=Com1\n[board.a]\nport=Com2\n", "b.ini:3: section [board.a] given twice"},
        {"address 256", "[board.a]\nport=Com1\naddress=256\n", "b.ini:3: address must be 0-255"},
        {"same port and address", "[board.a]\nport=Com1\naddress=2\n\n[board.b]\nport=Com1\naddress=2\n",
         "b.ini:5: board b has the port and address of the board on line 1"},
        {"unreadable password", "[mqtt]\n\npassword_file=nope\n[board.a]\nport=Com1\n",
         "b.ini:3: cannot read password_file nope"},
        {"port 0", "[mqtt]\nport=0\n", "b.ini:2: port must be 1-65535"},
        {"wildcard base", "[mqtt]\nbase_topic=a/#\n", "b.ini:2: base_topic must be a topic without wildcards"},
        {"empty base", "[mqtt]\nbase_topic= ;none\n", "b.ini:2: base_topic is empty"},
        {"empty client ID", "[mqtt]\nclient_id=\n", "b.ini:2: client_id is empty"},
        {"/ in client ID", "[mqtt]\nclient_id=a/b\n", "b.ini:2: client_id must be one topic level, without / + #"},
        {"+ in client ID", "[mqtt]\nclient_id=x+y\n", "b.ini:2: client_id must be one topic level, without / + #"},
        {"tab in client ID", "[mqtt]\nclient_id=a\tb\n", "b.ini:2: client_id holds a control character"},
        {"non-character", "[mqtt]\nclient_id=a\uFFFE\n", "b.ini:2: client_id holds a control character"},
        {"missing tls_ca", "[mqtt]\ntls_ca = /nonexistent/ca.pem\n", "b.ini:2: cannot read tls_ca /nonexistent/ca.pem"},
        {"tls_ca not PEM", "[mqtt]\ntls_ca = txt\n", "b.ini:2: tls_ca /k/txt holds no PEM certificate"},
        {"missing names_file", "[board.a]\nport=Com1\nnames_file=Name.ini\n",
         "b.ini:3: cannot read names_file Name.ini"},
        {"one device, two names", "[board.a]\nport=Com1\n[board.b]\nport=link\naddress=2\n",
         "b.ini:3: board b: port link is the device of port Com1 of the board on line 1; give it one name"},
        {"key twice", "[mqtt]\nhost=a\nhost=b\n", "b.ini:3: key host given twice"},
        {"bad variant", "[board.a]\nport=Com1\nvariant=old\n", "b.ini:3: variant must be"},
        {"bad full_writes", "[board.a]\nport=Com1\nfull_writes=yes\n", "b.ini:3: full_writes must be true or false"},
        {"empty area", "[board.a]\nport=Com1\narea=\n", "b.ini:3: area is empty; leave the key out for none"},
        {"tab in area", "[board.a]\narea=a\tb\nport=Com1\n", "b.ini:2: area holds a control character"},
        {"no board", "[mqtt]\nhost=a\n", "no [board.ID] section"},
        {"key before section", "host=a\n", "b.ini:1: key host outside a section"},
        {"not key=value", "[mqtt]\nhost\n", "b.ini:2: not a key = value line"},
    };
    for (const auto &row : rows) {
        const ConfigResult r = Parse(row.text);
        EXPECT_TRUE(!r.config && r.error.contains(QString::fromUtf8(row.error)))
            << row.behaviour << ": " << r.error.toStdString();
        // Only a file without boards skips the service (--start-condition); a broken one fails it.
        EXPECT_EQ(r.noBoard, row.text == std::string_view("[mqtt]\nhost=a\n")) << row.behaviour;
    }
}

TEST(BridgeConfig, ReloadPlanSortsBoardsByWhatChanged)
{
    const char *running = "[board.a]\nport=Com1\n[board.b]\nport=Com1\naddress=2\n";
    const struct {
        const char *behaviour;
        QByteArray next;
        QString plan; // +added -removed ~changed =kept
    } rows[] = {
        {"the same file", running, "=a =b"},
        {"a board added", QByteArray(running) + "[board.c]\nport=Com2\n", "+c =a =b"},
        {"a board removed", "[board.b]\nport=Com1\naddress=2\n", "-a =b"},
        {"an address changed", "[board.a]\nport=Com1\naddress=3\n[board.b]\nport=Com1\naddress=2\n", "~a =b"},
        {"only a name changed", QByteArray(running).replace("Com1\n[", "Com1\nname=A\n["), "~a =b"},
        {"[mqtt] changed", "[mqtt]\nport=1884\n" + QByteArray(running), "=a =b mqtt"},
    };
    for (const auto &row : rows) {
        const ReloadPlan p = PlanReload(*Parse(running).config, *Parse(row.next).config);
        QStringList plan;
        for (const auto &[mark, ids] : {std::pair("+", p.added), {"-", p.removed}, {"~", p.changed}, {"=", p.kept}})
            for (const QString &id : ids)
                plan << mark + id;
        EXPECT_EQ((plan + QStringList(p.mqttChanged ? "mqtt" : "")).join(' ').trimmed(), row.plan) << row.behaviour;
    }
}

// README's example as printed, then with a CA named relative to it; ComN and a path to one device.
TEST(BridgeConfig, LoadsReadmeExampleWithItsFilesBesideIt)
{
    QFile readme(KELMORA_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype from = text.indexOf("```\n[mqtt]\n") + 4, to = text.indexOf("```", from);
    QTemporaryDir dir;
    const auto write = [&](const QString &name, const QString &content) {
        QFile f(dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(content.toUtf8()) >= 0 &&
               f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    };
    ASSERT_TRUE(write("bridge.password", "pw\n") && write("Name.ini", "[Note]\n02=Pump\n") &&
                write("ca.pem", "-----BEGIN CERTIFICATE-----"));
    for (const QString tls : {"", "tls_ca = ca.pem\n"}) {
        ASSERT_TRUE(write("bridge.ini", text.mid(from, to - from).replace("[mqtt]\n", "[mqtt]\n" + tls)));
        const ConfigResult r = LoadBridgeConfig(dir.filePath("bridge.ini"));
        ASSERT_TRUE(r.config) << r.error.toStdString();
        EXPECT_EQ(
            std::tuple(r.warnings, r.config->mqtt.password, r.config->mqtt.tlsCa, r.config->boards[0].channelNames[1]),
            std::tuple(QStringList(), "pw", tls.isEmpty() ? QString() : dir.filePath("ca.pem"), "Pump"));
    }
    // Under systemd the password is the unit's credential named as the file; a blank one (the unit's
    // default) or none means the unit could not hand the file over.
    ASSERT_TRUE(QDir(dir.path()).mkdir("cred"));
    qputenv("CREDENTIALS_DIRECTORY", dir.filePath("cred").toUtf8());
    for (const char *credential : {"unit\n", "\n", ""}) {
        ASSERT_TRUE(*credential ? write("cred/bridge.password", credential) : QFile::remove(dir.filePath("cred/bridge.password")));
        const ConfigResult r = LoadBridgeConfig(dir.filePath("bridge.ini"));
        const QString got = r.config ? r.config->mqtt.password : r.error;
        EXPECT_TRUE(*credential == 'u' ? got == "unit"
                                       : got.endsWith(": password_file bridge.password: the service got no credential "
                                                      "bridge.password; the unit must load it from a file root can read "
                                                      "(LoadCredential=bridge.password:" + dir.filePath("bridge.password") + ")"))
            << got.toStdString();
    }
    qunsetenv("CREDENTIALS_DIRECTORY");
    // --check-config, run outside the service, tells of a password file the unit does not hand over.
    const struct {
        const char *config, *passwordFile, *warning;
    } services[] = {
        {"/etc/kelmora/bridge.ini", "bridge.password", ""},
        {"/etc/kelmora/bridge.ini", "", ""},
        {"/etc/kelmora/bridge.ini", "/root/pw", "add LoadCredential=pw:/root/pw (systemctl edit kelmora-bridge)"},
        {"/etc/kelmora/./bridge.ini", "sub/bridge.password", "LoadCredential=bridge.password:/etc/kelmora/sub/bridge.password"},
        {"/home/u/bridge.ini", "/root/pw", ""},
    };
    for (const auto &row : services) {
        MqttSettings mqtt;
        mqtt.passwordFile = row.passwordFile;
        const QStringList w = ServiceCredentialWarnings(row.config, mqtt);
        EXPECT_TRUE(*row.warning ? w.size() == 1 && w[0].contains(row.warning) : w.isEmpty()) << row.passwordFile;
    }
    ASSERT_TRUE(write("tty", "") && QFile::link(dir.filePath("tty"), dir.filePath("Com5")) &&
                write("two.ini", "[board.a]\nport = com5\n[board.b]\nport = " + dir.filePath("tty") + "\naddress = 2\n"));
    EXPECT_TRUE(LoadBridgeConfig(dir.filePath("two.ini"))
                    .error.endsWith("is the device of port com5 of the board on line 1; give it one name"));
}

TEST(ScheduleJson, EveryModeRoundTripsInBookOrder)
{
    const QByteArray text = R"({"entries":[{"action":"on","mode":"weekly","time":"18:30:00","days":["mon","sun"]},)"
                            R"({"action":"off","mode":"daily","time":"00:00:59"},)"
                            R"({"action":"on","date":"2099-12-31","mode":"date","time":"23:59:00"}]})";
    const ScheduleParse p = ParseScheduleJson(text, 7);
    QList<EntryRef> refs;
    QStringList records;
    for (const Clsdata &e : p.entries) {
        refs << std::make_shared<Clsdata>(e);
        records << e.GetStr();
    }
    EXPECT_EQ(records, QStringList({"10110000010700000000183000", "01000000000700000000000059",
                                    "10000000000720991231235900"}));
    EXPECT_EQ(QJsonDocument::fromJson(ScheduleJson(refs)), QJsonDocument::fromJson(text));
}

TEST(ScheduleJson, RefusesWithTheReason)
{
    const auto entry = [](const QByteArray &list) { return R"({"entries":[)" + list + "]}"; };
    // One entry at 08:00:00 switching on, with `fields`.
    const auto at8 = [&](const char *f) { return entry(R"({"time":"08:00:00","action":"on",)" + QByteArray(f) + "}"); };
    const QByteArray daily = R"({"mode":"daily","time":"01:00:00","action":"on"})";
    const struct {
        const char *behaviour;
        QByteArray payload;
        const char *error;
    } rows[] = {
        {"not JSON", "{entries", "invalid JSON"},
        {"array", "[]", "a schedule is a JSON object"},
        {"entries missing", "{}", "\"entries\" must be an array"},
        {"256 entries", entry(QByteArrayList(256, daily).join(',')), "256 entries, at most 255"},
        {"entry not object", entry("3"), "entry 1 is not an object"},
        {"time not string", entry(R"({"mode":"daily","time":1830,"action":"on"})"), "entry 1 needs \"time\""},
        {"hour 24", entry(R"({"mode":"daily","time":"24:00:00","action":"on"})"), "time that does not exist"},
        {"short time", entry(R"({"mode":"daily","time":"8:00:00","action":"on"})"), "time that does not exist"},
        {"unknown mode", at8(R"("mode":"hourly")"), "unknown mode \"hourly\""},
        {"30 February", at8(R"("mode":"date","date":"2027-02-30")"), "date that does not exist"},
        {"year 2100", at8(R"("mode":"date","date":"2100-01-01")"), "outside 2000-2099"},
        {"weekly without days", at8(R"("mode":"weekly")"), "without \"days\""},
        {"days on daily", at8(R"("mode":"daily","days":[])"), "not weekly"},
        {"date on weekly", at8(R"("mode":"weekly","days":["mon"],"date":"2027-01-01")"), "not a date entry"},
        {"date without date", at8(R"("mode":"date")"), "without \"date\""},
        {"bad day", at8(R"("mode":"weekly","days":["mo"])"), "mon..sun"},
        {"days not array", at8(R"("mode":"weekly","days":"mon")"), "\"days\" as an array"},
        {"unknown field", at8(R"("mode":"daily","x":1)"), "unknown field \"x\""},
        {"entry 2 bad", entry(daily + R"(,{"mode":"daily","time":"08:60:00","action":"on"})"), "entry 2 has a time"},
        {"unknown top field", R"({"entries":[],"x":1})", "unknown field \"x\""},
        {"weekly with no days", at8(R"("mode":"weekly","days":[])"), "weekly with no days"},
        {"day twice", at8(R"("mode":"weekly","days":["mon","tue","mon"])"), "has mon twice"},
        {"numeric date", at8(R"("mode":"date","date":20270101)"), "\"date\" as a string \"YYYY-MM-DD\""},
    };
    for (const auto &row : rows) {
        const ScheduleParse p = ParseScheduleJson(row.payload, 1);
        EXPECT_TRUE(p.entries.isEmpty() && p.error.contains(QString::fromUtf8(row.error)))
            << row.behaviour << ": " << p.error.toStdString();
    }
}

TEST(Topics, RoutesRequestsAndRefusals)
{
    const QByteArray daily = R"({"id":"x","entries":[{"mode":"daily","time":"08:00:00","action":"on"}]})";
    const QByteArray week =
        R"({"mode":"weekly","days":["mon","tue","wed","thu","fri","sat","sun"],"time":"08:00:00","action":"on"})";
    const struct {
        const char *behaviour, *topic;
        QByteArray payload;
        const char *expected; // board kind channel on entries seconds [channels] by | refusal | "-" for not ours
    } rows[] = {
        {"relay on", "k/b1/relay/3/set", "ON", "b1 0 3 1 0"},
        {"relay off lower-case", "k/b2/relay/16/set", " off\n", "b2 0 16 0 0"},
        {"relay 17", "k/b1/relay/17/set", "ON", "no relay 17 (1-16)"},
        {"relay 03", "k/b1/relay/03/set", "ON", "no relay 03 (1-16)"},
        {"relay toggle", "k/b1/relay/3/set", "TOGGLE", "payload must be ON or OFF"},
        {"clock set, any payload", "k/b1/clock/set", "", "b1 1 0 0 0"},
        {"schedule set", "k/b1/schedule/2/set", daily, "b1 2 2 0 1"},
        {"schedule set channel 0", "k/b1/schedule/0/set", daily, "no channel 0 (1-16)"},
        {"schedule get all", "k/b1/schedule/get", "{}", "b1 3 0 0 0"},
        {"schedule get one", "k/b1/schedule/get", R"({"channel":16})", "b1 3 16 0 0"},
        {"schedule get 0", "k/b1/schedule/get", R"({"channel":0})", "channel must be 1-16"},
        {"schedule get text", "k/b1/schedule/get", "all", "payload must be"},
        {"schedule get unknown field", "k/b1/schedule/get", R"({"channel":1,"all":true})", "unknown field \"all\""},
        {"255 entries, the largest", "k/b1/schedule/1/set",
         R"({"entries":[)" + QByteArrayList(255, week).join(',') + "]}", "b1 2 1 0 255"},
        {"70 kB", "k/b1/relay/3/set", QByteArray(70000, ' ') + "ON", "payload of 70002 bytes, more than the 65536"},
        {"schedule set with by", "k/b1/schedule/2/set", R"({"by":"me","entries":[]})", "b1 2 2 0 0 0 [] me"},
        {"book set", "k/b1/schedule/set", R"({"id":1,"by":"op@pc","channels":{"3":[)" + week + R"(],"1":[]}})",
         "b1 4 0 0 1 0 [1,3] op@pc"},
        {"book set, sixteen full channels", "k/b1/schedule/set",
         [&] {
             QByteArrayList all;
             for (int ch = 1; ch <= 16; ++ch)
                 all << '"' + QByteArray::number(ch) + "\":[" + QByteArrayList(255, week).join(',') + ']';
             return R"({"channels":{)" + all.join(',') + "}}";
         }(),
         "b1 4 0 0 4080"},
        {"book set, 1.1 MB", "k/b1/schedule/set", QByteArray(1100000, ' ') + "{}", "payload of 1100002 bytes, more than the 1048576"},
        {"book set, unknown field", "k/b1/schedule/set", R"({"channels":{},"x":1})", "a book is a JSON object with \"channels\""},
        {"book set, no channel", "k/b1/schedule/set", R"({"channels":{}})", "no channel to write"},
        {"by not a string", "k/b1/clock/set", R"({"by":5})", "\"by\" must be a string"},
        {"stop", "k/b1/transfer/stop", "", "b1 5"},
        {"stop, text", "k/b1/transfer/stop", "now", "payload must be empty or an object"},
        {"watch", "k/b1/frames/watch", R"({"seconds":300})", "b1 6 0 0 0 300"},
        {"watch 301 s", "k/b1/frames/watch", R"({"seconds":301})", "payload must be {\"seconds\":N}, N 1-300"},
        {"watch half a second", "k/b1/frames/watch", R"({"seconds":0.5})", "payload must be"},
        {"our own state", "k/b1/relay/3", "ON", "-"},
        {"unknown board", "k/b3/relay/3/set", "ON", "-"},
        {"other base", "kx/b1/relay/3/set", "ON", "-"},
    };
    for (const auto &row : rows) {
        const auto m = RouteMessage("k", {"b1", "b2"}, QString::fromUtf8(row.topic), row.payload);
        QString got = m ? m->refusal : QStringLiteral("-");
        if (const BridgeRequest *r = m && m->request ? &*m->request : nullptr) {
            QStringList channels;
            for (int c : r->channels)
                channels << QString::number(c);
            got = QStringLiteral("%1 %2 %3 %4 %5 %6 [%7] %8")
                      .arg(m->board)
                      .arg(int(r->kind))
                      .arg(r->channel)
                      .arg(r->on)
                      .arg(r->entries.size())
                      .arg(r->seconds)
                      .arg(channels.join(u','), r->by);
        }
        EXPECT_TRUE(got.startsWith(QString::fromUtf8(row.expected))) << row.behaviour << ": " << got.toStdString();
    }
}

TEST(Topics, FilterMatchesAsTheBrokerDoesAndClockPayloadWithAndWithoutDrift)
{
    const QDateTime t(QDate(2026, 12, 7), QTime(10, 0));
    EXPECT_EQ(ClockPayload(t, -12), R"({"board_time":"2026-12-07T10:00:00","drift_seconds":-12})");
    EXPECT_EQ(ClockPayload(t, std::nullopt), R"({"board_time":"2026-12-07T10:00:00","drift_seconds":null})");
    const struct {
        const char *filter, *topic;
        bool matches;
    } rows[] = {
        {"k/_bridge/+/boards", "k/_bridge/was/boards", true},
        {"k/_bridge/+/boards", "k/_bridge/a/b/boards", false},
        {"k/old/#", "k/old", true},
        {"k/old/#", "k/older/relay/1", false},
        {"k/old/#", "k/old/relay/4/set", true},
        {"k/old", "k/old/clock", false},
        {"h/+/kelmora_b/#", "h/switch/kelmora_b/relay1/config", true},
    };
    for (const auto &row : rows)
        EXPECT_EQ(TopicMatches(row.filter, row.topic), row.matches) << row.filter << " " << row.topic;
}

// Each config holds only keys Home Assistant documents for its component, and what we promise.
TEST(Discovery, ConfigsUseDocumentedKeysOnlyAndCarryWhatWePromise)
{
    MqttSettings mqtt;
    mqtt.baseTopic = "site";
    mqtt.clientId = "Plant.Room";
    const BoardSettings board{"z0-9", "Com1", 7, Variant::Compat, "Plant", {}, {}, "锅炉房", false};
    const QString bridge = "site/_bridge/Plant.Room/availability";
    QStringList names;
    for (int n = 1; n <= 16; ++n)
        names << (n == 3 ? QString() : QStringLiteral("灯%1").arg(n));
    QList<Publication> configs = DiscoveryConfigs(mqtt, board, names, bridge);
    ASSERT_EQ(configs.size(), 18);
    configs << BridgeDiscoveryConfig(mqtt, bridge);
    const QString common = "name unique_id default_entity_id device origin availability availability_mode "
                           "entity_category json_attributes_topic json_attributes_template qos retain ";
    const QMap<QString, QString> documented{
        {"switch", "command_topic state_topic payload_on payload_off state_on state_off device_class optimistic"},
        {"sensor", "state_topic value_template device_class unit_of_measurement state_class"},
        {"button", "command_topic payload_press"},
        {"binary_sensor", "state_topic device_class payload_on payload_off"}};
    const QStringList deviceKeys = QString("identifiers name manufacturer model model_id sw_version hw_version "
                                           "serial_number suggested_area configuration_url via_device")
                                       .split(' '),
                      promisedDevice{"identifiers", "name", "manufacturer", "sw_version"};
    const auto keys = [](const QJsonObject &o) { return QStringList(o.keys()); };
    for (const auto &[topic, payload] : configs) {
        const QJsonObject c = QJsonDocument::fromJson(payload).object(), device = c["device"].toObject();
        const QStringList allowed = (common + documented.value(topic.section('/', 1, 1))).split(' ');
        for (const QString &key : keys(c))
            EXPECT_TRUE(allowed.contains(key)) << topic.toStdString() << ": " << key.toStdString();
        for (const QString &key : keys(device))
            EXPECT_TRUE(deviceKeys.contains(key)) << topic.toStdString() << ": device " << key.toStdString();
        for (const QString &key : promisedDevice + QStringList{"unique_id", "default_entity_id", "name"})
            EXPECT_TRUE(device.contains(key) || c.contains(key)) << topic.toStdString() << ": " << key.toStdString();
        EXPECT_EQ(c["origin"].toObject(), QJsonObject({{"name", "kelmora-bridge"}, {"sw_version", KELMORA_VERSION}}));
        for (const QJsonValue &a : c["availability"].toArray())
            EXPECT_EQ(keys(a.toObject()), QStringList("topic"));
    }
    const struct {
        int config;
        const char *topic, *promised; // keys with their values; "device" only its keys named here
    } rows[] = {
        {2, "homeassistant/switch/kelmora_z0-9/relay3/config",
         R"({"unique_id":"kelmora_z0-9_relay3","default_entity_id":"switch.kelmora_z0_9_relay3","name":"第3路","qos":1,)"
         R"("state_topic":"site/z0-9/relay/3","command_topic":"site/z0-9/relay/3/set","availability_mode":"all",)"
         R"("availability":[{"topic":"site/_bridge/Plant.Room/availability"},{"topic":"site/z0-9/availability"}],)"
         R"("device":{"identifiers":["kelmora_z0-9"],"name":"Plant","suggested_area":"锅炉房","sw_version":"compat",)"
         R"("via_device":"kelmora-bridge_Plant.Room"}})"},
        {16, "homeassistant/sensor/kelmora_z0-9/drift/config",
         R"({"default_entity_id":"sensor.kelmora_z0_9_drift","entity_category":"diagnostic","state_class":"measurement",)"
         R"("device_class":"duration","unit_of_measurement":"s","state_topic":"site/z0-9/clock",)"
         R"("json_attributes_topic":"site/z0-9/clock"})"},
        {17, "homeassistant/button/kelmora_z0-9/clock_set/config",
         R"({"default_entity_id":"button.kelmora_z0_9_clock_set","entity_category":"config","name":"对时",)"
         R"("command_topic":"site/z0-9/clock/set","qos":1})"},
        {18, "homeassistant/binary_sensor/kelmora-bridge_plant_room/connectivity/config",
         R"({"default_entity_id":"binary_sensor.kelmora_bridge_plant_room_connectivity","device_class":"connectivity",)"
         R"("entity_category":"diagnostic","state_topic":"site/_bridge/Plant.Room/availability","payload_on":"online",)"
         R"("payload_off":"offline","name":null,"device":{"identifiers":["kelmora-bridge_Plant.Room"]}})"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(configs[row.config].first, row.topic);
        const QJsonObject c = QJsonDocument::fromJson(configs[row.config].second).object();
        const QJsonObject promised = QJsonDocument::fromJson(row.promised).object();
        for (const QString &key : keys(promised))
            for (const QString &sub : key == "device" ? keys(promised[key].toObject()) : QStringList(QString()))
                EXPECT_EQ(sub.isEmpty() ? c[key] : c[key][sub], sub.isEmpty() ? promised[key] : promised[key][sub])
                    << row.topic << ": " << key.toStdString() << " " << sub.toStdString();
    }
    const BoardSettings noArea{"b", "Com1", 1, Variant::Standard, "B", {}, {}, {}, false};
    const QJsonDocument plain = QJsonDocument::fromJson(DiscoveryConfigs(mqtt, noArea, {}, bridge)[0].second);
    EXPECT_FALSE(plain["device"].toObject().contains("suggested_area")) << "no area, no suggested_area";
}

} // namespace
