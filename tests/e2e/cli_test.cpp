// End to end: kelmora-cli against kelmora-board on a pseudo-terminal.
#include "boardprocess.h"
#include "support/files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct CliRun {
    int exit = -1;
    QByteArray out;
    qint64 ms = 0;
    QJsonValue operator[](const char *key) const { return QJsonDocument::fromJson(out).object()[QLatin1String(key)]; }
};

CliRun Cli(const QStringList &args)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(KELMORA_CLI), args);
    const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit; // else killed with `p`
    return {ended ? p.exitCode() : -1, p.readAllStandardOutput(), t.elapsed()};
}

// The path of `name` in `dir`, written with `text` when there is some.
QString File(const QTemporaryDir &dir, const char *name, const QByteArray &text = {})
{
    const QString path = dir.filePath(QLatin1String(name));
    return text.isEmpty() || writeBytes(path, text) ? path : QString();
}

// Each case links its board under a port number of its own: QSerialPort locks
// ports machine-wide by name, and CTest may run cases side by side.
struct Line {
    explicit Line(int port, const QString &boardOptions = {})
        : path(dir.path() + QStringLiteral("/Com%1").arg(port)),
          board(dir.path(), port, boardOptions.split(u' ', Qt::SkipEmptyParts))
    {
    }
    // Runs kelmora-cli on the line with space-separated arguments.
    CliRun cli(const QString &args) const
    {
        return Cli(QStringList{QStringLiteral("--port"), path} + args.split(u' '));
    }
    QTemporaryDir dir;
    QString path;
    BoardProcess board;
};

const QByteArray kSchedules = "[Note]\r\n"
                              "01001=11000000000100000000080000\r\n"
                              "01002=01000000000100000000180000\r\n"
                              "03001=10110101000320130428073000\r\n";

// The board answers in 450 ms, beyond the tick, and alters channel 3's first entry once it is written.
TEST(Cli, VerifyNamesTheFieldABoardAlteredAfterTheWrite)
{
    Line line(81, "--tamper 3:1 --answer-ms 450");
    ASSERT_TRUE(line.board.started);
    QByteArray book = kSchedules;
    for (int n = 3; n <= 30; ++n)
        book += QString::asprintf("01%03d=1100000000010000000008%02d00\r\n", n, n).toLatin1();
    const QString file = File(line.dir, "book.ini", book);
    const CliRun write = line.cli("--json write " + file);
    EXPECT_EQ(std::pair(write.exit, write["retries"]), std::pair(0, QJsonValue(0))) << write.out.constData();
    const CliRun verify = line.cli("--json verify " + file);
    EXPECT_EQ(std::pair(verify.exit, verify["channels"]),
              std::pair(1, QJsonValue(QJsonDocument::fromJson(R"([{"channel": 3, "differences": [{"number": 1,
                  "program": "10110101000320130428073000", "board": "10110101000320130428073100", "fields": ["分"]}]}])")
                                          .array())));
}

QJsonArray Relays(const QList<int> &on)
{
    QJsonArray relays;
    for (int ch = 1; ch <= 16; ++ch)
        relays.append(on.contains(ch));
    return relays;
}

TEST(Cli, ScanFindsEveryBoardAndARelayCommandChangesOnlyItsChannelOrSaysItWasNotFollowed)
{
    Line line(82, "--address 1 --address 7");
    ASSERT_TRUE(line.board.started);
    const CliRun scan = line.cli("--json scan --from 0 --to 9");
    EXPECT_EQ(std::pair(scan.exit, scan["found"].toArray()), std::pair(0, QJsonArray{1, 7}));
    ASSERT_EQ(line.cli("relay 5 on").exit, 0);
    const CliRun r = line.cli("--json relay 3 on");
    EXPECT_EQ(std::pair(r.exit, r["relays"].toArray()), std::pair(0, Relays({3, 5})));
    // All off has the bytes of a status request: the board answers it as one.
    const CliRun off = line.cli("--json relay all off");
    EXPECT_TRUE(off.exit == 5 && off["error"].toString().startsWith("relays 3,5 did not switch off as commanded: ") &&
                off["error"].toString().contains("status request"))
        << off.out.constData();
}

TEST(Cli, StatusOnADamagingLineReportsWhatTwoRepliesAgreeOnAndClockSetsOnlyBeyondTheLimit)
{
    Line line(83, "--corrupt-percent 50 --seed 11 --clock-offset 90");
    ASSERT_TRUE(line.board.started);
    QStringList wrong;
    for (int run = 0; run < 12; ++run) {
        const CliRun r = line.cli("--json status");
        if (r.exit != 0 || r["relays"].toArray() != Relays({}) || !r["drift_seconds"].isDouble() ||
            std::abs(r["drift_seconds"].toInt() - 90) > 2)
            wrong << QString::fromUtf8(r.out);
    }
    EXPECT_TRUE(wrong.isEmpty()) << wrong.join(u'\n').toStdString();
    EXPECT_EQ(line.cli("--json clock --set-if-drift 600")["set"], false);
    const CliRun set = line.cli("--json clock --set-if-drift 30");
    EXPECT_EQ(std::pair(set.exit, set["set"]), std::pair(0, QJsonValue(true)));
    EXPECT_NEAR(line.cli("--json status")["drift_seconds"].toInt(), 0, 2);
}

// Each command's frames in the trace, in order, with the faults of a bad line
// named: replies with wrong check bytes, and re-sends.
TEST(Cli, TraceNamesEveryCommandsFramesAndTheFaultsOfABadLine)
{
    Line line(79, "--corrupt-percent 15 --drop-percent 15 --seed 19");
    ASSERT_TRUE(line.board.started);
    QByteArray book = "[Note]\r\n";
    for (int n = 1; n <= 20; ++n)
        book += QString::asprintf("01%03d=11000000000100000000%02d%04d\r\n", n, n % 24, n % 60).toLatin1();
    const QString back = File(line.dir, "back.ini");
    const std::pair<QString, QStringList> runs[] = {
        {"write " + File(line.dir, "book.ini", book) + " --channel 1",
         {"写入 第1路第1条：每天 01:00:01 吸合", "写入 第1路第21条：空（结束标记）"}},
        {"read --channel 1 -o " + back,
         {"读取 第1路第1条", "应答：第1路第20条 每天 20:00:20 吸合", "应答：第1路第21条 空（该路结束）"}},
    };
    QStringList rows;
    for (const auto &[args, want] : runs) {
        const QString trace = File(line.dir, "trace.txt");
        EXPECT_EQ(line.cli("--trace " + trace + ' ' + args).exit, 0) << args.toStdString();
        const QStringList lines = QString::fromUtf8(readBytes(trace)).split('\n', Qt::SkipEmptyParts);
        qsizetype at = 0; // each expected row after the one before
        for (const QString &w : want) {
            while (at < lines.size() && !lines[at].section('\t', 3, 3).startsWith(w))
                ++at;
            EXPECT_LT(at, lines.size()) << args.toStdString() << ": no " << w.toStdString();
        }
        rows += lines;
    }
    EXPECT_EQ(readBytes(back), book);
    // The log's own test names a re-send after its request; here the faults of a real line reach the file.
    EXPECT_TRUE(!rows.filter("\t校验字节错误：应答：").isEmpty() &&
                !rows.filter("\t发送\t").filter("\t无应答（第").isEmpty() &&
                !rows.filter("\t发送\t").filter("\t校验错误，重发（第").isEmpty());
}

TEST(Cli, RefusalsComeBeforeThePortAndAsJsonWhenAskedAndASilentBoardEndsInBoundedTime)
{
    const Line silent(85, "--silent");
    ASSERT_TRUE(silent.board.started);
    const QTemporaryDir &dir = silent.dir;
    const QString missing = File(dir, "typo.ini");
    const std::tuple<QString, int, QString> rows[] = {
        // arguments, exit, the error's start
        {"--json status", 2, "no --port given"},
        // A schedule file is checked first, in Open's words: a missing one must not wipe the board.
        {"--port /gone --json write " + missing, 2, "文件不存在：" + missing},
        {"--port Com98 --json status", 3, "串口打开错误: Com98（未连接：需在 "},
        {"--port " + silent.path + " --json status", 4, ""},
    };
    for (const auto &[args, exit, error] : rows) {
        const CliRun r = Cli(args.split(u' '));
        EXPECT_TRUE(r.exit == exit && r["exit"] == exit && r["error"].toString().startsWith(error) && r.ms < 30000)
            << args.toStdString() << r.out.constData();
    }
    // convert, check and plan need no port; a PDF without a display: every channel, read back as text.
    const QString pdf = File(dir, "book.pdf"), book = File(dir, "book.ini", kSchedules);
    EXPECT_EQ(Cli({"convert", book, pdf}).exit, 0);
    const CliRun check = Cli({"--json", "check", book}); // channel 3 is pulled in, never released
    EXPECT_EQ(std::pair(check.exit, check["problems"]), std::pair(1, QJsonValue(1))) << check.out.constData();
    EXPECT_EQ(Cli({"plan", book, "--channel", "3", "--start", "2026-12-07", "--days", "5"}).out,
              "2026-12-07 00:00:00\t第3路\t吸合\t第1条（此前执行）\n2026-12-07 07:30:00\t第3路\t吸合\t第1条\n"
              "2026-12-09 07:30:00\t第3路\t吸合\t第1条\n2026-12-11 07:30:00\t第3路\t吸合\t第1条\n");
    EXPECT_EQ(Cli({"--json", "plan", book, "--start", "2026-12-07", "--days", "1"}).out, // channels with entries
              R"({"channels":[{"channel":1,"firings":[{"at":"2026-12-07T08:00:00","number":1,"on":true},)"
              R"({"at":"2026-12-07T18:00:00","number":2,"on":false}],"start":false},{"channel":3,"firings":)"
              R"([{"at":"2026-12-07T07:30:00","number":1,"on":true}],"start":true}],"days":1,"from":"2026-12-07"})"
              "\n");
    EXPECT_TRUE(Cli({"plan", book, "--channel", "16"}).out.endsWith("\t第16路\t未知\t\n"));
    QProcess text;
    text.start("pdftotext", {pdf, "-"});
    EXPECT_TRUE(text.waitForFinished(30000) && QString::fromUtf8(text.readAllStandardOutput()).contains("第16路"));
}

} // namespace
