// QSerialPort behind the SerialLink interface; see qtseriallink.h.
#include "device/qtseriallink.h"

#include "device/portnames.h"

#include <QFileInfo>
#include <QMetaObject>

namespace {
constexpr qint32 kBaudRate = 9600;

OpenError ErrorOf(QSerialPort::SerialPortError e)
{
    switch (e) {
    case QSerialPort::DeviceNotFoundError:
        return OpenError::NotFound;
    case QSerialPort::PermissionError:
        return OpenError::PermissionDenied;
    case QSerialPort::OpenError:
        return OpenError::Busy;
    default:
        return OpenError::Other;
    }
}
// What happened, in words a user can act on. A read that finds the device hung up (end of
// data) leaves a stale or no error number, and QSerialPort then says "Unknown error" or names
// some earlier call's failure: its words go along only for the other kinds.
QString LostReason(QSerialPort::SerialPortError e, const QString &system)
{
    if (e == QSerialPort::ReadError)
        return QStringLiteral("the device hung up or cannot be read");
    const QString what = e == QSerialPort::ResourceError ? QStringLiteral("the device went away")
                         : e == QSerialPort::WriteError  ? QStringLiteral("the device cannot be written to")
                                                         : QStringLiteral("the device failed");
    return system == QStringLiteral("Unknown error") ? what : QStringLiteral("%1: %2").arg(what, system);
}
} // namespace

QtSerialLink::QtSerialLink(const QString &programFolder, QObject *parent)
    : QObject(parent), m_programFolder(programFolder)
{
    connect(&m_port, &QSerialPort::readyRead, this, &QtSerialLink::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialLink::onError);
}

QtSerialLink::~QtSerialLink()
{
    m_listener = nullptr;
    m_port.close();
}

OpenResult QtSerialLink::open(int portNumber)
{
    return openDevice(PortDevice(portNumber, m_programFolder));
}

OpenResult QtSerialLink::openDevice(const QString &device)
{
    close();
    OpenResult result;
    result.device = device;
    if (result.device.isEmpty()) {
        result.error = OpenError::NotFound;
        return result;
    }
    m_port.setPortName(result.device);
    m_port.setBaudRate(kBaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        result.error = ErrorOf(m_port.error());
        result.detail = m_port.errorString();
        const QFileInfo node(result.device);
        const bool usable = node.isReadable() && node.isWritable();
        if (result.error != OpenError::NotFound && node.exists() && !usable)
            result.error = OpenError::PermissionDenied;
        // QSerialPort reports another program's lock on the port as a permission
        // error; on a node we may use, it means the port is taken.
        else if (result.error == OpenError::PermissionDenied && usable)
            result.error = OpenError::Busy;
        m_port.clearError();
        return result;
    }
    ++m_opening;
    m_framer.clear();
    m_deliveryQueued = false;
    m_failed = false;
    return result;
}

void QtSerialLink::close()
{
    ++m_opening;
    m_deliveryQueued = false;
    m_framer.clear();
    if (m_port.isOpen())
        m_port.close();
}

void QtSerialLink::discardInput()
{
    QByteArray stray = m_framer.takePending();
    if (m_port.isOpen()) {
        stray += m_port.readAll();
        m_port.clear(QSerialPort::Input);
    }
    if (!stray.isEmpty() && m_listener)
        m_listener->onStrayBytes(stray);
}

void QtSerialLink::write(const QByteArray &bytes)
{
    if (m_port.isOpen())
        m_port.write(bytes);
}

void QtSerialLink::onReadyRead()
{
    m_framer.feed(m_port.readAll());
    // A delivery already on its way, or one in progress (the listener may be
    // running a message box's loop), carries on with the backlog afterwards.
    if (!m_deliveryQueued && !m_delivering)
        deliverOne();
}

void QtSerialLink::deliverOne()
{
    if (const std::optional<Frame> frame = m_framer.next(); frame && m_listener) {
        m_delivering = true;
        m_listener->onFrame(*frame);
        m_delivering = false;
    }
    // QSerialPort does not repeat readyRead for bytes that came in while the
    // listener ran its own loop: collect them here.
    if (m_port.isOpen() && m_port.bytesAvailable() > 0)
        m_framer.feed(m_port.readAll());
    // The listener may have closed, reopened or discarded in the meantime: the
    // framer only ever holds bytes of the current opening.
    if (!m_deliveryQueued && m_framer.pending() >= kFrameSize)
        queueDelivery();
}

void QtSerialLink::queueDelivery()
{
    m_deliveryQueued = true;
    const quint64 opening = m_opening;
    QMetaObject::invokeMethod(
        this,
        [this, opening] {
            if (opening != m_opening)
                return;
            m_deliveryQueued = false;
            if (!m_delivering)
                deliverOne();
        },
        Qt::QueuedConnection);
}

void QtSerialLink::onError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::UnknownError:
        if (m_port.isOpen())
            fail(LostReason(error, m_port.errorString()));
        return;
    default:
        // Open failures are reported by open(); NoError and TimeoutError need nothing.
        return;
    }
}

void QtSerialLink::fail(const QString &why)
{
    if (m_failed)
        return;
    m_failed = true;
    // Closing inside QSerialPort's own error signal would pull the port from under
    // the code still running below us: close on the next pass.
    const quint64 opening = m_opening;
    QMetaObject::invokeMethod(
        this,
        [this, opening, why] {
            if (opening != m_opening)
                return;
            close();
            if (m_listener)
                m_listener->onLinkFailed(why);
        },
        Qt::QueuedConnection);
}
