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

TEST(Cli, BoardSlowerThanTheTickIsWrittenFrameByFrame)
{
    Line line(86, "--answer-ms 450");
    ASSERT_TRUE(line.board.started);
    QByteArray book = "[Note]\r\n";
    for (int n = 1; n <= 30; ++n)
        book += QString::asprintf("01%03d=1100000000010000000008%02d00\r\n", n, n).toLatin1();
    const QString file = line.file("slow.ini", book);
    const CliRun write = line.cli("--json write " + file + " --channel 1");
    EXPECT_EQ(std::pair(write.exit, write["retries"]), std::pair(0, QJsonValue(0))) << write.out.constData();
    EXPECT_EQ(line.cli("verify " + file + " --channel 1").exit, 0);
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
