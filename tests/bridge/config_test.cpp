// kelmora-bridge's configuration file: what it takes and every refusal with its line.
#include "bridge/bridgeconfig.h"

#include <gtest/gtest.h>

namespace {

ConfigResult Parse(const char *text)
{
    return ParseBridgeConfig("b.ini", text, [](const QString &path) {
        return path == "pw" ? std::optional<QByteArray>("s3cret\nignored\n") : std::nullopt;
    });
}

TEST(BridgeConfig, TakesEverySettingWithDefaults)
{
    const ConfigResult r = Parse("; site\n[mqtt]\nhost = broker.lan\nport=8883\nusername = u\npassword_file = pw\n"
                                 "tls_ca=/ca.pem\nbase_topic = site/a\n"
                                 "[board.boiler-1]\nport = Com3\naddress = 0\nvariant = compat\nname = 锅炉房\n"
                                 "[board.b2]\nport = /dev/ttyUSB0\n");
    ASSERT_TRUE(r.config) << r.error.toStdString();
    const BridgeConfig &c = *r.config;
    EXPECT_EQ(QStringList({c.mqtt.host, QString::number(c.mqtt.port), c.mqtt.username, c.mqtt.password, c.mqtt.tlsCa,
                           c.mqtt.clientId, c.mqtt.baseTopic, c.mqtt.discoveryPrefix}),
              QStringList({"broker.lan", "8883", "u", "s3cret", "/ca.pem", "kelmora-bridge", "site/a", "homeassistant"}));
    ASSERT_EQ(c.boards.size(), 2);
    EXPECT_EQ(std::tuple(c.boards[0].id, c.boards[0].port, c.boards[0].address, c.boards[0].variant, c.boards[0].name),
              std::tuple(QString("boiler-1"), QString("Com3"), 0, Variant::Compat, QStringLiteral("锅炉房")));
    EXPECT_EQ(std::tuple(c.boards[1].name, c.boards[1].address, c.boards[1].variant),
              std::tuple("b2", 1, Variant::Standard));
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
        {"address -1", "[board.a]\nport=Com1\naddress=-1\n", "b.ini:3: address must be 0-255"},
        {"same port and address", "[board.a]\nport=Com1\naddress=2\n\n[board.b]\nport=Com1\naddress=2\n",
         "b.ini:5: board b has the port and address of the board on line 1"},
        {"unreadable password", "[mqtt]\n\npassword_file=nope\n[board.a]\nport=Com1\n",
         "b.ini:3: cannot read password_file nope"},
        {"port 0", "[mqtt]\nport=0\n", "b.ini:2: port must be 1-65535"},
        {"wildcard base", "[mqtt]\nbase_topic=a/#\n", "b.ini:2: base_topic must be a topic without wildcards"},
        {"key twice", "[mqtt]\nhost=a\nhost=b\n", "b.ini:3: key host given twice"},
        {"bad variant", "[board.a]\nport=Com1\nvariant=old\n", "b.ini:3: variant must be"},
        {"no board", "[mqtt]\nhost=a\n", "no [board.ID] section"},
        {"key before section", "host=a\n", "b.ini:1: key host outside a section"},
        {"not key=value", "[mqtt]\nhost\n", "b.ini:2: not a key = value line"},
    };
    for (const auto &row : rows) {
        const ConfigResult r = Parse(row.text);
        EXPECT_FALSE(r.config) << row.behaviour;
        EXPECT_TRUE(r.error.contains(QString::fromUtf8(row.error)))
            << row.behaviour << ": " << r.error.toStdString();
    }
}

} // namespace
