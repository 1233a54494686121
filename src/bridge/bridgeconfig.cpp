#include "bridge/bridgeconfig.h"

#include "device/portnames.h"
#include "storage/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

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

// A ; or # at the start or after white space begins a comment, so a value may
// carry one behind it (and may hold ; or # elsewhere, as in a/#).
QString WithoutComment(const QString &line)
{
    for (qsizetype i = 0; i < line.size(); ++i)
        if ((line[i] == u';' || line[i] == u'#') && (i == 0 || line[i - 1].isSpace()))
            return line.left(i).trimmed();
    return line.trimmed();
}

// libmosquitto refuses these in client IDs and topics, and nobody means them in a name.
bool HoldsControl(const QString &value)
{
    const QList<uint> chars = value.toUcs4();
    return std::ranges::any_of(
        chars, [](uint c) { return QChar::category(c) == QChar::Other_Control || QChar::isNonCharacter(c); });
}

// What is wrong with a topic, or a level of one (the client ID is a level of
// base_topic/_bridge/CLIENT_ID/...); libmosquitto refuses control characters
// and non-characters in client IDs and topics alike.
QString TopicProblem(const QString &key, const QString &value, bool level)
{
    if (value.isEmpty())
        return key + QStringLiteral(" is empty");
    if (value.contains(u'+') || value.contains(u'#') || (level && value.contains(u'/')))
        return key + (level ? QStringLiteral(" must be one topic level, without / + #")
                            : QStringLiteral(" must be a topic without wildcards"));
    if (HoldsControl(value))
        return key + QStringLiteral(" holds a control character");
    return {};
}

} // namespace

ConfigResult ParseBridgeConfig(const QString &fileName, const QByteArray &text, const FileReader &read,
                               const PortResolver &device, const QString &credentials)
{
    static const QRegularExpression kBoardId(QStringLiteral("^[a-z0-9_-]{1,32}$"));
    Parser p{fileName, {}};
    BridgeConfig c;
    enum class In { Nothing, Mqtt, Board } in = In::Nothing;
    QSet<QString> seenSections, seenKeys;
    QStringList warnings;
    QHash<QString, int> boardLine;                // device+address -> line of the board section
    QHash<QString, QPair<QString, int>> portLine; // device -> its port's name and first board's line
    const auto boardDone = [&](int line) {
        if (in != In::Board)
            return true;
        const BoardSettings &b = c.boards.last();
        if (b.port.isEmpty())
            return p.fail(line, QStringLiteral("board %1 has no port").arg(b.id));
        // Each name of a port gets a line of its own: two names of one device would open it twice.
        const QString dev = device ? device(b.port) : b.port;
        const auto named = portLine.constFind(dev);
        if (named != portLine.cend() && named->first != b.port)
            return p.fail(line, QStringLiteral("board %1: port %2 is the device of port %3 of the board on line %4; "
                                               "give it one name")
                                    .arg(b.id, b.port, named->first)
                                    .arg(named->second));
        portLine.insert(dev, {b.port, line});
        const QString where = dev + QLatin1Char('#') + QString::number(b.address);
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
        const QString line = WithoutComment(QString::fromUtf8(lines[i]));
        if (line.isEmpty())
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
                c.boards.append(BoardSettings{id, {}, 1, Variant::Standard, id, {}, {}, {}, false});
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
        // Another file, named by this line's value.
        const auto readNamed = [&](const QString &what) {
            std::optional<NamedFile> f = read(value);
            if (!f)
                p.fail(n, QStringLiteral("cannot read %1 %2").arg(what, value));
            return f;
        };
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
                const auto firstLine = [](const QByteArray &bytes) {
                    return QString::fromUtf8(bytes).section(QLatin1Char('\n'), 0, 0).trimmed();
                };
                if (!value.isEmpty() && !credentials.isEmpty()) {
                    // The unit hands a blank credential when it could not read the file (SetCredential= default).
                    const QString name = PasswordCredential(value);
                    const std::optional<NamedFile> f = read(credentials + QLatin1Char('/') + name);
                    m.password = f ? firstLine(f->bytes) : QString();
                    if (m.password.isEmpty())
                        p.fail(n, QStringLiteral("password_file %1: the service got no credential %2; the unit must "
                                                 "load it from a file root can read (LoadCredential=%2:%3)")
                                      .arg(value, name, QFileInfo(fileName).absoluteDir().absoluteFilePath(value)));
                } else if (const auto f = value.isEmpty() ? std::nullopt : readNamed(key)) {
                    m.password = firstLine(f->bytes);
                    if (f->everyoneReads)
                        warnings << QStringLiteral("%1:%2: password_file %3 can be read by every user (chmod o-r)")
                                        .arg(fileName)
                                        .arg(n)
                                        .arg(f->path);
                }
            } else if (key == QStringLiteral("tls_ca")) {
                // Never left to libmosquitto: a CA it cannot use must not end in a plain-text connection.
                const auto f = value.isEmpty() ? std::nullopt : readNamed(key);
                if (f && !f->bytes.contains("-----BEGIN CERTIFICATE-----"))
                    p.fail(n, QStringLiteral("tls_ca %1 holds no PEM certificate").arg(f->path));
                m.tlsCa = f ? f->path : QString();
            } else if (key == QStringLiteral("client_id") || key == QStringLiteral("base_topic") ||
                       key == QStringLiteral("discovery_prefix")) {
                const bool level = key == QStringLiteral("client_id");
                if (const QString problem = TopicProblem(key, value, level); !problem.isEmpty())
                    p.fail(n, problem);
                (level ? m.clientId : key == QStringLiteral("base_topic") ? m.baseTopic : m.discoveryPrefix) = value;
            } else {
                p.fail(n, QStringLiteral("unknown key %1 in [mqtt]").arg(key));
            }
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
            } else if (key == QStringLiteral("full_writes")) {
                if (value != QStringLiteral("true") && value != QStringLiteral("false"))
                    p.fail(n, QStringLiteral("full_writes must be true or false"));
                b.fullWrites = value == QStringLiteral("true");
            } else if (key == QStringLiteral("name")) {
                b.name = value;
            } else if (key == QStringLiteral("area")) {
                // Shown as is in Home Assistant, which has no use for an empty one.
                b.area = value;
                if (value.isEmpty())
                    p.fail(n, QStringLiteral("area is empty; leave the key out for none"));
                else if (HoldsControl(value))
                    p.fail(n, QStringLiteral("area holds a control character"));
            } else if (key == QStringLiteral("names_file")) {
                b.namesFile = value;
                if (const auto f = value.isEmpty() ? std::nullopt : readNamed(key))
                    for (int ch = 1; ch <= 16; ++ch)
                        b.channelNames << NameFromIni(f->bytes, QByteArray::number(ch).rightJustified(2, '0'))
                                              .value_or(QString())
                                              .trimmed();
            } else {
                p.fail(n, QStringLiteral("unknown key %1 in [board.%2]").arg(key, b.id));
            }
        }
    }
    if (p.error.isEmpty())
        boardDone(sectionLine);
    const bool noBoard = p.error.isEmpty() && c.boards.isEmpty();
    if (noBoard)
        p.fail(qMax(1, int(lines.size())), QStringLiteral("no [board.ID] section"));
    if (!p.error.isEmpty())
        return {std::nullopt, p.error, {}, noBoard};
    return {c, {}, warnings};
}

ConfigResult LoadBridgeConfig(const QString &fileName)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return {std::nullopt, QStringLiteral("%1:0: cannot read the file (%2)").arg(fileName, f.errorString()), {}};
    const QDir folder = QFileInfo(fileName).absoluteDir();
    const auto read = [&](const QString &name) -> std::optional<NamedFile> {
        QFile p(folder.absoluteFilePath(name));
        if (!p.open(QIODevice::ReadOnly))
            return std::nullopt;
        return NamedFile{p.fileName(), p.readAll(), bool(p.permissions() & QFileDevice::ReadOther)};
    };
    const auto device = [&](const QString &port) {
        const QString named = BoardPortDevice(port, folder.absolutePath());
        const QString canonical = QFileInfo(named).canonicalFilePath();
        return canonical.isEmpty() ? named : canonical;
    };
    return ParseBridgeConfig(fileName, f.readAll(), read, device, qEnvironmentVariable("CREDENTIALS_DIRECTORY"));
}

QString PasswordCredential(const QString &passwordFile)
{
    return QFileInfo(passwordFile).fileName();
}

QStringList ServiceCredentialWarnings(const QString &configFile, const MqttSettings &mqtt)
{
    const QString password = QDir::cleanPath(QFileInfo(configFile).absoluteDir().absoluteFilePath(mqtt.passwordFile));
    if (mqtt.passwordFile.isEmpty() || QDir::cleanPath(QFileInfo(configFile).absoluteFilePath()) != kServiceConfig ||
        password == kServicePasswordFile)
        return {};
    return {QStringLiteral("password_file %1: kelmora-bridge.service hands the service only %2, as credential %3; "
                           "for this file add LoadCredential=%4:%1 (systemctl edit kelmora-bridge)")
                .arg(password, kServicePasswordFile, PasswordCredential(kServicePasswordFile),
                     PasswordCredential(password))};
}

ReloadPlan PlanReload(const BridgeConfig &running, const BridgeConfig &next)
{
    const auto find = [](const BridgeConfig &c, const QString &id) {
        const auto b = std::ranges::find(c.boards, id, &BoardSettings::id);
        return b == c.boards.end() ? nullptr : &*b;
    };
    ReloadPlan plan;
    plan.mqttChanged = !(running.mqtt == next.mqtt);
    for (const BoardSettings &b : next.boards) {
        const BoardSettings *was = find(running, b.id);
        (!was ? plan.added : *was == b ? plan.kept : plan.changed) << b.id;
    }
    for (const BoardSettings &b : running.boards)
        if (!find(next, b.id))
            plan.removed << b.id;
    return plan;
}

QString BoardPortDevice(const QString &port, const QString &configFolder)
{
    static const QRegularExpression comN(QStringLiteral("^com(\\d{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    const auto m = comN.match(port);
    return m.hasMatch() ? PortDevice(m.captured(1).toInt(), configFolder) : port;
}
