// QtSerialLink over a real pseudo-terminal: the test plays the board on the
// master side; the link opens the slave through a "ComN" link.
#include "device/qtseriallink.h"
#include "protocol/frames.h"
#include "pseudoterminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string_view>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 5000; // generous: the machine is small and shared
constexpr int kQuietMs = 200; // extra event passes to catch a duplicate

bool WaitUntil(const std::function<bool()> &done, int ms = kWaitMs)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ::usleep(1000);
    }
    return true;
}

// Keeps the event loop turning for a short while; only used to give a wrong
// second delivery its chance to show up.
void Settle()
{
    WaitUntil([] { return false; }, kQuietMs);
}

// Records every call, in order; `onFrameHook` runs inside onFrame.
class Recorder : public LinkListener {
public:
    void onFrame(const Frame &frame) override
    {
        ++depth;
        if (depth > maxDepth)
            maxDepth = depth;
        frames.push_back(frame);
        events.push_back(QStringLiteral("frame %1").arg(frame[2]));
        if (onFrameHook)
            onFrameHook(frame);
        --depth;
    }
    void onLinkFailed(const QString &why) override
    {
        failures.push_back(why);
        events.push_back(QStringLiteral("failed"));
    }

    std::vector<Frame> frames;
    std::vector<QString> failures;
    QStringList events;
    std::function<void(const Frame &)> onFrameHook;
    int depth = 0;
    int maxDepth = 0;
};

Frame Reply(uint8_t code, uint8_t payload = 0)
{
    Frame f{};
    f[0] = wire::kReplyHeader;
    f[1] = 1;
    f[2] = code;
    f[4] = payload;
    SealFrame(f);
    return f;
}

std::string_view View(const QByteArray &b)
{
    return {b.constData(), size_t(b.size())};
}

class LinkOverPty : public ::testing::Test {
protected:
    // QSerialPort locks a port by the last part of its name ("LCK..Com81"), for
    // every process on the machine: each test takes its own number so that
    // tests may run in parallel.
    void start(int portNumber)
    {
        port = portNumber;
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(pty.open()) << pty.error();
        ASSERT_TRUE(QFile::link(QString::fromStdString(pty.slavePath()), comPath(port)));
        link.setListener(&recorder);
        const OpenResult opened = link.open(port);
        ASSERT_TRUE(opened.ok()) << opened.detail.toStdString();
        ASSERT_TRUE(link.isOpen());
    }

    QString comPath(int port) const { return folder.filePath(QStringLiteral("Com%1").arg(port)); }

    void send(const QByteArray &bytes) { ASSERT_EQ(pty.writeMaster(View(bytes)), bytes.size()); }
    // Sends and waits, without turning the event loop, until the bytes are on the slave's side.
    void sendOnLine(const QByteArray &bytes)
    {
        send(bytes);
        QDeadlineTimer deadline(kWaitMs);
        while (pty.slaveInputPending() < bytes.size() && !deadline.hasExpired())
            ::usleep(1000);
        ASSERT_GE(pty.slaveInputPending(), bytes.size());
    }
    // True once the link has taken everything the master sent out of the line.
    bool lineDrained() const { return pty.slaveInputPending() == 0; }

    int port = 0;
    QTemporaryDir folder;
    PseudoTerminal pty;
    Recorder recorder;
    QtSerialLink link{folder.path()};
};

TEST_F(LinkOverPty, OpenResults)
{
    ASSERT_NO_FATAL_FAILURE(start(81));
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("nowhere")), comPath(98)));
    struct {
        const char *name;
        int port;
        OpenError expected;
        QString device;
    } cases[] = {
        {"linked pseudo-terminal", port, OpenError::None, comPath(port)},
        {"already open elsewhere", port, OpenError::Busy, comPath(port)},
        {"links-only port without a link", 97, OpenError::NotFound, QString()},
        {"dangling link", 98, OpenError::NotFound, QString()},
        {"missing device node", 96, OpenError::NotFound, QStringLiteral("/dev/ttyACM31")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.expected == OpenError::NotFound && !c.device.isEmpty() && QFileInfo::exists(c.device))
            continue; // this machine really has the device
        // The fixture's link holds the port; a second one must find it busy.
        QtSerialLink other(folder.path());
        if (c.expected == OpenError::None)
            link.close();
        const OpenResult result = other.open(c.port);
        EXPECT_EQ(result.error, c.expected) << result.detail.toStdString();
        EXPECT_EQ(result.device, c.device);
        EXPECT_EQ(other.isOpen(), c.expected == OpenError::None);
        if (c.expected != OpenError::None && c.expected != OpenError::NotFound) {
            EXPECT_FALSE(result.detail.isEmpty());
        }
        other.close();
        EXPECT_FALSE(other.isOpen());
        if (!link.isOpen()) {
            ASSERT_TRUE(link.open(port).ok());
        }
    }
}

TEST_F(LinkOverPty, CloseAndReopenKeepsWorking)
{
    ASSERT_NO_FATAL_FAILURE(start(82));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        link.close();
        EXPECT_FALSE(link.isOpen());
        link.write(ToBytes(ReadClockFrame(1))); // ignored while closed
        ASSERT_TRUE(link.open(port).ok());
        link.write(ToBytes(ReadClockFrame(1)));
        std::string got;
        ASSERT_TRUE(WaitUntil([&] {
            got += pty.readMaster(10);
            return got.size() >= size_t(kFrameSize);
        }));
        EXPECT_EQ(QByteArray::fromStdString(got), ToBytes(ReadClockFrame(1)));
        send(ToBytes(Reply(4, uint8_t(round))));
        ASSERT_TRUE(WaitUntil([&] { return recorder.frames.size() == size_t(round + 1); }));
        EXPECT_EQ(recorder.frames.back(), Reply(4, uint8_t(round)));
    }
}

TEST_F(LinkOverPty, ReplyInPiecesIsDeliveredOnceWhole)
{
    ASSERT_NO_FATAL_FAILURE(start(83));
    const QByteArray reply = ToBytes(Reply(16, 0xA5));
    const QByteArray pieces[] = {reply.left(3), reply.mid(3, 9), reply.mid(12, 9), reply.mid(21)};
    for (const QByteArray &piece : pieces) {
        sendOnLine(piece);
        // Each piece is read on its own before the next one goes out.
        ASSERT_TRUE(WaitUntil([&] { return lineDrained(); }));
        if (&piece != &pieces[std::size(pieces) - 1]) {
            Settle();
            EXPECT_TRUE(recorder.frames.empty()) << "delivered before the group was whole";
        }
    }
    ASSERT_TRUE(WaitUntil([&] { return !recorder.frames.empty(); }));
    Settle();
    ASSERT_EQ(recorder.frames.size(), 1u);
    EXPECT_EQ(recorder.frames[0], Reply(16, 0xA5));
}

TEST_F(LinkOverPty, BackToBackRepliesArriveInOrderOnePerEvent)
{
    ASSERT_NO_FATAL_FAILURE(start(84));
    // A marker posted from inside the first delivery runs before the second
    // delivery when each group gets its own event.
    recorder.onFrameHook = [&](const Frame &frame) {
        if (frame[2] == 2)
            QMetaObject::invokeMethod(
                &link, [&] { recorder.events.push_back(QStringLiteral("marker")); }, Qt::QueuedConnection);
    };
    send(ToBytes(Reply(2)) + ToBytes(Reply(3)) + ToBytes(Reply(4)));
    ASSERT_TRUE(WaitUntil([&] { return recorder.frames.size() >= 3; }));
    Settle();
    EXPECT_EQ(recorder.events, QStringList({"frame 2", "marker", "frame 3", "frame 4"}));
    EXPECT_EQ(recorder.maxDepth, 1);
}

TEST_F(LinkOverPty, ListenerRunningItsOwnLoopIsNotReentered)
{
    ASSERT_NO_FATAL_FAILURE(start(85));
    // Like a message box: the listener spins a nested loop inside the first
    // delivery, while the backlog waits and one more reply comes in.
    recorder.onFrameHook = [&](const Frame &frame) {
        if (frame[2] != 2)
            return;
        sendOnLine(ToBytes(Reply(5)));
        WaitUntil([&] { return lineDrained(); });
        Settle();
    };
    send(ToBytes(Reply(2)) + ToBytes(Reply(3)) + ToBytes(Reply(4)));
    ASSERT_TRUE(WaitUntil([&] { return recorder.frames.size() >= 4; }));
    Settle();
    EXPECT_EQ(recorder.events, QStringList({"frame 2", "frame 3", "frame 4", "frame 5"}));
    EXPECT_EQ(recorder.maxDepth, 1);
}

TEST_F(LinkOverPty, DiscardInputDropsWaitingBytes)
{
    ASSERT_NO_FATAL_FAILURE(start(86));
    struct {
        const char *name;
        bool letTheLinkReadFirst; // the stale bytes sit in the link's own buffers rather than the line
    } cases[] = {
        {"bytes still on the line", false},
        {"bytes already read by the link", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        recorder.frames.clear();
        const QByteArray stale = ToBytes(Reply(9)).left(11);
        sendOnLine(stale);
        if (c.letTheLinkReadFirst) {
            ASSERT_TRUE(WaitUntil([&] { return lineDrained(); }));
        }
        link.discardInput();
        send(ToBytes(Reply(4)));
        ASSERT_TRUE(WaitUntil([&] { return !recorder.frames.empty(); }));
        Settle();
        ASSERT_EQ(recorder.frames.size(), 1u);
        EXPECT_EQ(recorder.frames[0], Reply(4)) << "stale half frame must not shift the next reply";
    }
}

TEST_F(LinkOverPty, DeliveryQueuedBeforeCloseIsDropped)
{
    ASSERT_NO_FATAL_FAILURE(start(87));
    recorder.onFrameHook = [&](const Frame &) { link.close(); };
    send(ToBytes(Reply(2)) + ToBytes(Reply(3)));
    ASSERT_TRUE(WaitUntil([&] { return !recorder.frames.empty(); }));
    Settle();
    EXPECT_EQ(recorder.events, QStringList({"frame 2"}));
    EXPECT_FALSE(link.isOpen());
}

TEST_F(LinkOverPty, UnplugFailsExactlyOnce)
{
    ASSERT_NO_FATAL_FAILURE(start(88));
    pty.releaseSlave();
    pty.closeMaster();
    // A write pending on the dead line makes a second error on top of the read's.
    link.write(ToBytes(ReadClockFrame(1)));
    ASSERT_TRUE(WaitUntil([&] { return !recorder.failures.empty(); }));
    EXPECT_FALSE(link.isOpen());
    link.write(ToBytes(ReadClockFrame(1))); // harmless after the failure
    Settle();
    EXPECT_EQ(recorder.failures.size(), 1u);
    EXPECT_TRUE(recorder.frames.empty());
}

// The real kelmora-board program on the other end of the link.
TEST(LinkToBoardProgram, AnswersAStatusRequest)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString com = folder.filePath(QStringLiteral("Com97"));
    QProcess board;
    board.start(QStringLiteral(KELMORA_BOARD_EXE), {QStringLiteral("--link"), com});
    ASSERT_TRUE(board.waitForStarted(kWaitMs)) << board.errorString().toStdString();
    ASSERT_TRUE(WaitUntil([&] { return board.canReadLine() || board.waitForReadyRead(10); }));
    const QString slave = QString::fromUtf8(board.readLine()).trimmed();
    EXPECT_TRUE(slave.startsWith(QStringLiteral("/dev/"))) << slave.toStdString();
    EXPECT_EQ(QFileInfo(com).symLinkTarget(), slave);

    Recorder recorder;
    QtSerialLink link(folder.path());
    link.setListener(&recorder);
    // The program closes and reopens the port between runs; the board keeps serving.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const OpenResult opened = link.open(97);
        ASSERT_TRUE(opened.ok()) << opened.detail.toStdString();
        EXPECT_EQ(opened.device, com);
        link.discardInput();
        link.write(ToBytes(RelayFrame(1, wire::kStatus, 0, 0, 0)));
        ASSERT_TRUE(WaitUntil([&] { return recorder.frames.size() == size_t(round + 1); }));
        const Frame &reply = recorder.frames.back();
        EXPECT_EQ(reply[0], wire::kReplyHeader);
        EXPECT_EQ(reply[1], 1);
        EXPECT_EQ(reply[2], wire::kStatus);
        link.close();
    }
    EXPECT_TRUE(recorder.failures.empty());

    board.terminate();
    ASSERT_TRUE(board.waitForFinished(kWaitMs));
    EXPECT_EQ(board.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(board.exitCode(), 0);
    EXPECT_FALSE(QFileInfo(com).isSymLink()) << "link removed on exit";
}

} // namespace
