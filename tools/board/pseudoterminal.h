// A pseudo-terminal pair in raw mode: the simulated board sits on the master
// side, the program (or a test's link) opens the slave path like a serial port.
#pragma once

#include <string>
#include <string_view>

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Opens the pair and one slave descriptor of our own, so that the master
    // keeps working while the other side closes and reopens the slave.
    // On failure returns false and error() says why.
    bool open();
    const std::string &slavePath() const { return m_slavePath; }
    const std::string &error() const { return m_error; }
    int masterFd() const { return m_master; }

    // Non-blocking master I/O. write returns the bytes accepted (-1 on error);
    // read waits at most timeoutMs for the first byte and returns what is there.
    long writeMaster(std::string_view bytes);
    std::string readMaster(int timeoutMs);
    // Bytes waiting in the slave's input queue (sent by the master, not yet read by anyone).
    int slaveInputPending() const;

    // Drops our own slave descriptor: the pair then hangs up when the other
    // side's last descriptor closes.
    void releaseSlave();
    // Closing the master hangs up every slave descriptor ("unplugs" the port).
    void closeMaster();
    bool isOpen() const { return m_master >= 0; }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
    std::string m_error;
};
