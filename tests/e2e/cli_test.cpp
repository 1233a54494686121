// End to end: kelmora-cli against kelmora-board on a pseudo-terminal.
#include "boardprocess.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exit = -1;
    QByteArray out;
    qint64 ms = 0;
    QJsonValue operator[](const char *key) const { return QJsonDocument::fromJson(out).object()[QLatin1String(key)]; }
};

// Each case links its board under a port number of its own: QSerialPort locks
// ports machine-wide by name, and CTest may run cases side by side.
struct Line {
    explicit Line(int port, const QString &boardOptions = {})
        : path(dir.path() + QStringLiteral("/Com%1").arg(port)),
          board(dir.path(), port, boardOptions.split(u' ', Qt::SkipEmptyParts))
    {
    }
    // Runs kelmora-cli with space-separated arguments on the line (or on `port`).
    CliRun cli(const QString &args, const QString &port = {}) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(KELMORA_CLI),
                QStringList{QStringLiteral("--port"), port.isEmpty() ? path : port} + args.split(u' '));
        CliRun r;
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.ms = t.elapsed();
        r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = p.readAllStandardOutput();
        return r;
    }
    QString file(const char *name, const QByteArray &text = {}) const
    {
        QFile f(dir.path() + QLatin1Char('/') + QLatin1String(name));
        if (!text.isEmpty() && f.open(QIODevice::WriteOnly))
            f.write(text);
        return f.fileName();
    }
    QTemporaryDir dir;
    QString path;
    BoardProcess board;
};

const QByteArray kSchedules = "[Note]\r\n"
                              "01001=11000000000100000000080000\r\n"
                              "01002=01000000000100000000180000\r\n"
                              "03001=10110101000320130428073000\r\n";

TEST(Cli, WriteVerifyReadAndTamper)
{
    Line line(81, "--tamper 3:1");
    ASSERT_TRUE(line.board.started);
    const QString file = line.file("book.ini", kSchedules), copy = line.file("copy.ini");
    EXPECT_EQ(line.cli("write " + file + " --channel 1").exit, 0);
    EXPECT_EQ(line.cli("verify " + file + " --channel 1").exit, 0);
    EXPECT_EQ(line.cli("read --channel 1 -o " + copy).exit, 0);
    QFile read(copy);
    ASSERT_TRUE(read.open(QIODevice::ReadOnly));
    EXPECT_EQ(read.readAll(), kSchedules.left(kSchedules.indexOf("03001")));

    // The board alters channel 3's first entry once it is written.
    ASSERT_EQ(line.cli("write " + file).exit, 0);
    const CliRun verify = line.cli("--json verify " + file);
    EXPECT_EQ(verify.exit, 1);
    const QJsonArray channels = verify["channels"].toArray();
    ASSERT_EQ(channels.size(), 1) << verify.out.constData();
    const QJsonArray diffs = channels[0]["differences"].toArray();
    ASSERT_EQ(diffs.size(), 1);
    EXPECT_EQ(std::tuple(channels[0]["channel"].toInt(), diffs[0]["number"].toInt(), diffs[0]["program"].toString()),
              std::tuple(3, 1, QStringLiteral("10110101000320130428073000")));
}

TEST(Cli, RelayChangesOnlyTheNamedChannel)
{
    Line line(82);
    ASSERT_TRUE(line.board.started);
    ASSERT_EQ(line.cli("relay 5 on").exit, 0);
    const CliRun r = line.cli("--json relay 3 on");
    ASSERT_EQ(r.exit, 0);
    QJsonArray want;
    for (int ch = 1; ch <= 16; ++ch)
        want.append(ch == 3 || ch == 5);
    EXPECT_EQ(r["relays"].toArray(), want);
}

TEST(Cli, ClockSetOnlyWhenDriftIsBeyondTheLimit)
{
    Line line(83, "--clock-offset 90");
    ASSERT_TRUE(line.board.started);
    const CliRun before = line.cli("--json status");
    ASSERT_EQ(before.exit, 0);
    EXPECT_NEAR(before["drift_seconds"].toInt(), 90, 3);
    EXPECT_EQ(line.cli("--json clock --set-if-drift 600")["set"], false);
    const CliRun set = line.cli("--json clock --set-if-drift 30");
    EXPECT_EQ(std::pair(set.exit, set["set"]), std::pair(0, QJsonValue(true)));
    EXPECT_NEAR(line.cli("--json status")["drift_seconds"].toInt(), 0, 2);
}

TEST(Cli, ScanFindsEveryBoardOnTheLine)
{
    Line line(84, "--address 1 --address 7");
    ASSERT_TRUE(line.board.started);
    const CliRun r = line.cli("--json scan --from 0 --to 9");
    EXPECT_EQ(std::pair(r.exit, r["found"].toArray()), std::pair(0, QJsonArray{1, 7}));
}

// Every command's frames in the trace, with the faults of a bad line named:
// replies with wrong check bytes, and each re-send right after its request.
TEST(Cli, TraceNamesEveryFrameAndEveryFault)
{
    Line line(86, "--corrupt-percent 15 --drop-percent 15 --seed 19");
    ASSERT_TRUE(line.board.started);
    QByteArray book = "[Note]\r\n";
    for (int n = 1; n <= 20; ++n)
        book += QStringLiteral("01%1=11000000000100000000%2%3\r\n")
                    .arg(n, 3, 10, QLatin1Char('0'))
                    .arg(n % 24, 2, 10, QLatin1Char('0'))
                    .arg(n % 60, 4, 10, QLatin1Char('0'))
                    .toLatin1();
    const std::pair<QString, QStringList> runs[] = {
        {"write " + line.file("book.ini", book) + " --channel 1",
         {"写入 第1路第1条：每天 01:00:01 吸合", "写入 第1路第21条：空（结束标记）"}},
        {"read --channel 1 -o " + line.file("back.ini"),
         {"读取 第1路第1条", "应答：第1路第20条 每天 20:00:20 吸合", "应答：第1路第21条 空（该路结束）"}},
        {"relay 3 on", {"吸合 第3路 (其余保持)"}},
        {"clock --set", {"对时 20", "应答：对时完成"}},
    };
    QStringList rows;
    for (const auto &[args, want] : runs) {
        const QString trace = line.file("trace.txt");
        EXPECT_EQ(line.cli("--trace " + trace + ' ' + args).exit, 0) << args.toStdString();
        QFile f(trace);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        qsizetype at = 0; // each expected row after the one before
        for (const QString &w : want) {
            while (at < lines.size() && !lines[at].section('\t', 3, 3).startsWith(w))
                ++at;
            EXPECT_LT(at, lines.size()) << args.toStdString() << ": no " << w.toStdString();
        }
        rows += lines;
    }
    int corrupted = 0, resent = 0;
    QString lastSent;
    for (const QString &row : rows) {
        const QString direction = row.section('\t', 1, 1), meaning = row.section('\t', 3, 3);
        corrupted += meaning.startsWith("校验字节错误：应答：");
        if (direction != "发送")
            continue;
        if (meaning.startsWith("无应答（第")) {
            ++resent;
            EXPECT_EQ(meaning.section("：", 1), lastSent.section("：", lastSent.startsWith("无应答") ? 1 : 0));
        }
        lastSent = meaning;
    }
    EXPECT_GT(corrupted, 0);
    EXPECT_GT(resent, 0);
}

TEST(Cli, SilentBoardAndMissingPortEndInBoundedTime)
{
    Line line(85, "--silent");
    ASSERT_TRUE(line.board.started);
    const CliRun silent = line.cli("--json status");
    EXPECT_EQ(std::pair(silent.exit, silent["exit"].toInt()), std::pair(4, 4));
    EXPECT_LT(silent.ms, 30000);
    EXPECT_EQ(line.cli("status", line.dir.path() + "/gone").exit, 3);
    // A file Open would refuse is refused first, in Open's words, before any port is tried.
    const CliRun refused = line.cli("--json write " + line.file("other.ini", "[Other]\n01001=x\n"), "/gone");
    EXPECT_EQ(std::pair(refused.exit, refused["error"].toString()),
              std::pair(2, QStringLiteral("文件格式错误：没有[Note]节")));
}

} // namespace
