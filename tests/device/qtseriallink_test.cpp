// QtSerialLink over a pseudo-terminal: the test plays the board on the master, the link opens the slave's "ComN".
#include "device/qtseriallink.h"
#include "pseudoterminal.h"
#include "support/fakes.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 5000; // generous: the machine is small and shared
constexpr int kQuietMs = 200; // more event passes, for a wrong extra delivery to show up
// QSerialPort locks a port machine-wide by name ("LCK..Com88"): tests that may run in parallel need their own
// (kelmora-cli's cases take 81-85, the window's 87 and 89, the benchmark 96, the soak 98).
constexpr int kPort = 88;

bool WaitUntil(const std::function<bool()> &done, int ms = kWaitMs)
{
    for (QDeadlineTimer deadline(ms); !done() && !deadline.hasExpired(); ::usleep(1000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

TEST(LinkOverPty, OpensDeliversAndFailsOnce)
{
    QTemporaryDir folder;
    PseudoTerminal pty;
    ASSERT_TRUE(pty.open()) << pty.error();
    const QString com = folder.filePath(QStringLiteral("Com%1").arg(kPort));
    ASSERT_TRUE(QFile::link(QString::fromStdString(pty.slavePath()), com));
    RecordingListener recorder;
    QtSerialLink link(folder.path());
    link.setListener(&recorder);
    const OpenResult opened = link.open(kPort);
    ASSERT_TRUE(opened.ok()) << opened.detail.toStdString();
    EXPECT_EQ(opened.device, com);

    QtSerialLink other(folder.path());
    EXPECT_EQ(other.open(kPort).error, OpenError::Busy) << "held by the first link";
    // Com60 would be /dev/ttyUSB27; its link, whose target is gone, stands in its way.
    const QString dangling = folder.filePath(QStringLiteral("Com60"));
    ASSERT_TRUE(QFile::link(folder.filePath(QStringLiteral("unplugged")), dangling));
    const OpenResult refused = other.open(60);
    EXPECT_EQ(std::pair(refused.error, refused.device), std::pair(OpenError::NotFound, dangling));

    // Waits, without turning the event loop (so the link cannot read), until the bytes are on the slave side.
    auto send = [&](const QByteArray &bytes) {
        pty.writeMaster({bytes.constData(), size_t(bytes.size())});
        for (QDeadlineTimer deadline(kWaitMs); pty.slaveInputPending() < bytes.size() && !deadline.hasExpired();)
            ::usleep(1000);
    };
    // The link hands on any 22 bytes; distinct ones show pieces joined in the right order.
    const QByteArray a("0123456789abcdefghijkl"), b("ABCDEFGHIJKLMNOPQRSTUV"), half(11, 'z');
    struct {
        const char *name;
        std::vector<QByteArray> pieces;
        bool linkReads; // the link takes each piece off the line before the next goes out
        bool discard;   // then discardInput, and `b` follows
        std::vector<Frame> expected;
    } cases[] = {
        {"reply in pieces", {a.left(3), a.mid(3, 9), a.mid(12)}, true, false, {FromBytes(a)}},
        {"two replies back to back", {a + b}, false, false, {FromBytes(a), FromBytes(b)}},
        {"discard drops bytes on the line", {half}, false, true, {FromBytes(b)}},
        {"discard drops bytes the link has read", {half}, true, true, {FromBytes(b)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        recorder.frames.clear();
        recorder.stray.clear();
        for (const QByteArray &piece : c.pieces) {
            send(piece);
            ASSERT_TRUE(!c.linkReads || WaitUntil([&] { return pty.slaveInputPending() == 0; }));
        }
        if (c.discard) {
            link.discardInput();
            send(b);
        }
        ASSERT_TRUE(WaitUntil([&] { return recorder.frames.size() >= c.expected.size(); }));
        WaitUntil([] { return false; }, kQuietMs);
        EXPECT_EQ(recorder.frames, c.expected);
        // Bytes the link had read are stray when discarded; those still on the line may not have reached it.
        if (c.linkReads || !c.discard) {
            EXPECT_EQ(recorder.stray, c.discard ? half : QByteArray());
        }
    }

    // Unplugged. A write pending on the dead line makes a second error on top of the read's.
    pty.releaseSlave();
    pty.closeMaster();
    link.write(ToBytes(ReadClockFrame(1)));
    ASSERT_TRUE(WaitUntil([&] { return !recorder.failures.isEmpty(); }));
    EXPECT_FALSE(link.isOpen());
    link.write(ToBytes(ReadClockFrame(1)));
    WaitUntil([] { return false; }, kQuietMs);
    ASSERT_EQ(recorder.failures.size(), 1);
    EXPECT_TRUE(recorder.failures[0].startsWith("the device")) << "in words, not QSerialPort's \"Unknown error\"";
}

} // namespace
