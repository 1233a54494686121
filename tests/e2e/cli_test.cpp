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
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

// Each case links its board under a port number of its own: QSerialPort locks
// ports machine-wide by name, and CTest may run cases side by side.
struct Line {
    explicit Line(int port, const QStringList &boardOptions = {})
        : path(dir.path() + QStringLiteral("/Com%1").arg(port)), board(dir.path(), port, boardOptions)
    {
    }
    CliRun cli(const QStringList &args) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(KELMORA_CLI), QStringList{QStringLiteral("--port"), path} + args);
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
        const QString f = dir.path() + QLatin1Char('/') + QLatin1String(name);
        if (!text.isEmpty()) {
            QFile out(f);
            out.open(QIODevice::WriteOnly);
            out.write(text);
        }
        return f;
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
    Line line(81, {QStringLiteral("--tamper"), QStringLiteral("3:1")});
    ASSERT_TRUE(line.board.started);
    const QString file = line.file("book.ini", kSchedules);

    EXPECT_EQ(line.cli({QStringLiteral("write"), file, QStringLiteral("--channel"), QStringLiteral("1")}).exit, 0);
    EXPECT_EQ(line.cli({QStringLiteral("verify"), file, QStringLiteral("--channel"), QStringLiteral("1")}).exit, 0);
    const QString copy = line.file("copy.ini");
    EXPECT_EQ(
        line.cli({QStringLiteral("read"), QStringLiteral("--channel"), QStringLiteral("1"), QStringLiteral("-o"), copy})
            .exit,
        0);
    QFile read(copy);
    ASSERT_TRUE(read.open(QIODevice::ReadOnly));
    EXPECT_EQ(read.readAll(), QByteArray("[Note]\r\n01001=11000000000100000000080000\r\n"
                                         "01002=01000000000100000000180000\r\n"));

    // The board alters channel 3's first entry once it is written.
    ASSERT_EQ(line.cli({QStringLiteral("write"), file}).exit, 0);
    const CliRun verify = line.cli({QStringLiteral("--json"), QStringLiteral("verify"), file});
    EXPECT_EQ(verify.exit, 1);
    const QJsonArray channels = verify.json()[QStringLiteral("channels")].toArray();
    ASSERT_EQ(channels.size(), 1) << verify.out.constData();
    EXPECT_EQ(channels[0][QStringLiteral("channel")].toInt(), 3);
    const QJsonArray diffs = channels[0][QStringLiteral("differences")].toArray();
    ASSERT_EQ(diffs.size(), 1);
    EXPECT_EQ(diffs[0][QStringLiteral("number")].toInt(), 1);
    EXPECT_EQ(diffs[0][QStringLiteral("program")].toString(), QStringLiteral("10110101000320130428073000"));
}

TEST(Cli, RelayChangesOnlyTheNamedChannel)
{
    Line line(82);
    ASSERT_TRUE(line.board.started);
    ASSERT_EQ(line.cli({QStringLiteral("relay"), QStringLiteral("5"), QStringLiteral("on")}).exit, 0);
    const CliRun r =
        line.cli({QStringLiteral("--json"), QStringLiteral("relay"), QStringLiteral("3"), QStringLiteral("on")});
    ASSERT_EQ(r.exit, 0);
    QJsonArray want;
    for (int ch = 1; ch <= 16; ++ch)
        want.append(ch == 3 || ch == 5);
    EXPECT_EQ(r.json()[QStringLiteral("relays")].toArray(), want);
}

TEST(Cli, ClockSetOnlyWhenDriftIsBeyondTheLimit)
{
    Line line(83, {QStringLiteral("--clock-offset"), QStringLiteral("90")});
    ASSERT_TRUE(line.board.started);
    const CliRun before = line.cli({QStringLiteral("--json"), QStringLiteral("status")});
    ASSERT_EQ(before.exit, 0);
    EXPECT_NEAR(before.json()[QStringLiteral("drift_seconds")].toInt(), 90, 3);
    EXPECT_EQ(line.cli({QStringLiteral("--json"), QStringLiteral("clock"), QStringLiteral("--set-if-drift"),
                        QStringLiteral("600")})
                  .json()[QStringLiteral("set")],
              false);
    const CliRun set = line.cli(
        {QStringLiteral("--json"), QStringLiteral("clock"), QStringLiteral("--set-if-drift"), QStringLiteral("30")});
    EXPECT_EQ(set.exit, 0);
    EXPECT_EQ(set.json()[QStringLiteral("set")], true);
    EXPECT_NEAR(
        line.cli({QStringLiteral("--json"), QStringLiteral("status")}).json()[QStringLiteral("drift_seconds")].toInt(),
        0, 2);
}

TEST(Cli, ScanFindsEveryBoardOnTheLine)
{
    Line line(84, {QStringLiteral("--address"), QStringLiteral("1"), QStringLiteral("--address"), QStringLiteral("7")});
    ASSERT_TRUE(line.board.started);
    const CliRun r = line.cli({QStringLiteral("--json"), QStringLiteral("scan"), QStringLiteral("--from"),
                               QStringLiteral("0"), QStringLiteral("--to"), QStringLiteral("9")});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.json()[QStringLiteral("found")].toArray(), (QJsonArray{1, 7}));
}

TEST(Cli, SilentBoardAndMissingPortEndInBoundedTime)
{
    Line line(85, {QStringLiteral("--silent")});
    ASSERT_TRUE(line.board.started);
    const CliRun silent = line.cli({QStringLiteral("--json"), QStringLiteral("status")});
    EXPECT_EQ(silent.exit, 4);
    EXPECT_EQ(silent.json()[QStringLiteral("exit")].toInt(), 4);
    EXPECT_LT(silent.ms, 30000);

    QProcess p;
    p.start(QStringLiteral(KELMORA_CLI),
            {QStringLiteral("--port"), line.dir.path() + QStringLiteral("/gone"), QStringLiteral("status")});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 3);
}

} // namespace
