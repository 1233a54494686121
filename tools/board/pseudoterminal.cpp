// POSIX pseudo-terminal pair for the simulated board and the link tests.
#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int kReadChunk = 512;

std::string systemWords(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}
} // namespace

PseudoTerminal::~PseudoTerminal()
{
    releaseSlave();
    closeMaster();
}

bool PseudoTerminal::open()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0) {
        m_error = systemWords("posix_openpt");
        return false;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        m_error = systemWords("grantpt/unlockpt");
        closeMaster();
        return false;
    }
    const char *name = ::ptsname(m_master);
    if (!name) {
        m_error = systemWords("ptsname");
        closeMaster();
        return false;
    }
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        m_error = systemWords("open slave");
        closeMaster();
        return false;
    }
    // Raw on the slave side: no echo, no line editing, no CR/LF translation.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    const int flags = ::fcntl(m_master, F_GETFL);
    ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
    return true;
}

long PseudoTerminal::writeMaster(std::string_view bytes)
{
    if (m_master < 0)
        return -1;
    ssize_t n;
    do {
        n = ::write(m_master, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EAGAIN)
        return 0;
    return long(n);
}

std::string PseudoTerminal::readMaster(int timeoutMs)
{
    std::string out;
    if (m_master < 0)
        return out;
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN))
        return out;
    char buf[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
    }
    return out;
}

int PseudoTerminal::slaveInputPending() const
{
    int n = 0;
    if (m_slave < 0 || ::ioctl(m_slave, FIONREAD, &n) != 0)
        return -1;
    return n;
}

void PseudoTerminal::releaseSlave()
{
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
