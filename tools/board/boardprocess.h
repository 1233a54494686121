// Runs kelmora-board as its own process, linked as a ComN in a folder (tests, soak, benchmarks).
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

// A loopback TCP port free at the moment (for a broker the test or bench starts).
inline int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// `text` into the file at `path`, replacing it.
inline bool WriteText(const QString &path, const QString &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) >= 0;
}

// Spins the event loop until `done` holds or `ms` pass; true if it held.
inline bool WaitFor(const std::function<bool()> &done, int ms = 20000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class BoardProcess {
public:
    BoardProcess(const QString &folder, int port, const QStringList &options = {})
    {
        m_process.setProgram(QStringLiteral(KELMORA_BOARD));
        m_process.setArguments(QStringList{QStringLiteral("--link"), folder + QStringLiteral("/Com%1").arg(port),
                                           QStringLiteral("--log"), folder + QStringLiteral("/board.log")} +
                               options);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        // The first line is the pseudo-terminal's path; the link exists by then.
        started =
            m_process.waitForStarted(10000) &&
            WaitFor([this] { return m_process.canReadLine() || m_process.state() != QProcess::Running; }, 10000) &&
            m_process.canReadLine();
        if (started)
            device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~BoardProcess() { stop(); }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            kill();
    }

    bool started = false;
    QString device;

private:
    QProcess m_process;
};
