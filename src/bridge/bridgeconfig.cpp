#include "bridge/bridgeconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

struct Parser {
    const QString &fileName;
    QString error;
    bool fail(int line, const QString &problem)
    {
        if (error.isEmpty())
            error = QStringLiteral("%1:%2: %3").arg(fileName).arg(line).arg(problem);
        return false;
    }
};

std::optional<int> Number(const QString &v, int lo, int hi)
{
    bool ok = false;
    const int n = v.toInt(&ok);
    return ok && n >= lo && n <= hi ? std::optional<int>(n) : std::nullopt;
}

} // namespace

ConfigResult ParseBridgeConfig(const QString &fileName, const QByteArray &text, const FileReader &read)
{
    static const QRegularExpression kBoardId(QStringLiteral("^[a-z0-9_-]{1,32}$"));
    Parser p{fileName, {}};
    BridgeConfig c;
    enum class In { Nothing, Mqtt, Board } in = In::Nothing;
    QSet<QString> seenSections, seenKeys;
    QHash<QString, int> boardLine; // port+address -> line of the board section
    int passwordLine = 0;
    const auto boardDone = [&](int line) {
        if (in != In::Board)
            return true;
        const BoardSettings &b = c.boards.last();
        if (b.port.isEmpty())
            return p.fail(line, QStringLiteral("board %1 has no port").arg(b.id));
        const QString where = b.port + QLatin1Char('#') + QString::number(b.address);
        if (boardLine.contains(where))
            return p.fail(line, QStringLiteral("board %1 has the port and address of the board on line %2")
                                    .arg(b.id)
                                    .arg(boardLine[where]));
        boardLine[where] = line;
        return true;
    };

    const QList<QByteArray> lines = text.split('\n');
    int sectionLine = 0;
    for (int i = 0; i < lines.size() && p.error.isEmpty(); ++i) {
        const int n = i + 1;
        const QString line = QString::fromUtf8(lines[i]).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']'))) {
                p.fail(n, QStringLiteral("section header without ]"));
                break;
            }
            if (!boardDone(sectionLine))
                break;
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (seenSections.contains(name)) {
                p.fail(n, QStringLiteral("section [%1] given twice").arg(name));
                break;
            }
            seenSections.insert(name);
            seenKeys.clear();
            sectionLine = n;
            if (name == QStringLiteral("mqtt")) {
                in = In::Mqtt;
            } else if (name.startsWith(QStringLiteral("board."))) {
                const QString id = name.mid(6);
                if (!kBoardId.match(id).hasMatch()) {
                    p.fail(n, QStringLiteral("invalid board ID \"%1\" (1-32 of a-z 0-9 _ -)").arg(id));
                    break;
                }
                in = In::Board;
                c.boards.append(BoardSettings{id, {}, 1, Variant::Standard, id, {}});
            } else {
                p.fail(n, QStringLiteral("unknown section [%1]").arg(name));
                break;
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) {
            p.fail(n, QStringLiteral("not a key = value line"));
            break;
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (in == In::Nothing) {
            p.fail(n, QStringLiteral("key %1 outside a section").arg(key));
            break;
        }
        if (seenKeys.contains(key)) {
            p.fail(n, QStringLiteral("key %1 given twice").arg(key));
            break;
        }
        seenKeys.insert(key);
        if (in == In::Mqtt) {
            MqttSettings &m = c.mqtt;
            if (key == QStringLiteral("host")) {
                m.host = value;
            } else if (key == QStringLiteral("port")) {
                const auto port = Number(value, 1, 65535);
                if (!port)
                    p.fail(n, QStringLiteral("port must be 1-65535"));
                m.port = port.value_or(0);
            } else if (key == QStringLiteral("username")) {
                m.username = value;
            } else if (key == QStringLiteral("password_file")) {
                m.passwordFile = value;
                passwordLine = n;
            } else if (key == QStringLiteral("tls_ca")) {
                m.tlsCa = value;
            } else if (key == QStringLiteral("client_id")) {
                m.clientId = value;
            } else if (key == QStringLiteral("base_topic")) {
                m.baseTopic = value;
            } else if (key == QStringLiteral("discovery_prefix")) {
                m.discoveryPrefix = value;
            } else {
                p.fail(n, QStringLiteral("unknown key %1 in [mqtt]").arg(key));
            }
            for (const QString *topic : {&m.baseTopic, &m.discoveryPrefix})
                if (topic->isEmpty() || topic->contains(QLatin1Char('+')) || topic->contains(QLatin1Char('#')))
                    p.fail(n, QStringLiteral("%1 must be a topic without wildcards").arg(key));
        } else {
            BoardSettings &b = c.boards.last();
            if (key == QStringLiteral("port")) {
                b.port = value;
            } else if (key == QStringLiteral("address")) {
                const auto a = Number(value, 0, 255);
                if (!a)
                    p.fail(n, QStringLiteral("address must be 0-255"));
                b.address = a.value_or(0);
            } else if (key == QStringLiteral("variant")) {
                if (value == QStringLiteral("standard"))
                    b.variant = Variant::Standard;
                else if (value == QStringLiteral("compat"))
                    b.variant = Variant::Compat;
                else
                    p.fail(n, QStringLiteral("variant must be standard or compat"));
            } else if (key == QStringLiteral("name")) {
                b.name = value;
            } else if (key == QStringLiteral("names_file")) {
                b.namesFile = value;
            } else {
                p.fail(n, QStringLiteral("unknown key %1 in [board.%2]").arg(key, b.id));
            }
        }
    }
    if (p.error.isEmpty())
        boardDone(sectionLine);
    if (p.error.isEmpty() && c.boards.isEmpty())
        p.fail(qMax(1, int(lines.size())), QStringLiteral("no [board.ID] section"));
    if (p.error.isEmpty() && !c.mqtt.passwordFile.isEmpty()) {
        const std::optional<QByteArray> password = read(c.mqtt.passwordFile);
        if (!password)
            p.fail(passwordLine, QStringLiteral("cannot read password_file %1").arg(c.mqtt.passwordFile));
        else
            c.mqtt.password = QString::fromUtf8(*password).section(QLatin1Char('\n'), 0, 0).trimmed();
    }
    if (!p.error.isEmpty())
        return {std::nullopt, p.error};
    return {c, {}};
}

ConfigResult LoadBridgeConfig(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("%1:0: cannot read the file (%2)").arg(fileName, f.errorString())};
    const QDir folder = QFileInfo(fileName).absoluteDir();
    return ParseBridgeConfig(fileName, f.readAll(), [&](const QString &path) -> std::optional<QByteArray> {
        QFile p(folder.absoluteFilePath(path));
        if (!p.open(QIODevice::ReadOnly))
            return std::nullopt;
        return p.readAll();
    });
}
