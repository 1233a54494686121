// The narrow serial interface the engine talks through; QSerialPort behind it in
// the program, a fake in tests.
#pragma once

#include "protocol/frames.h"

#include <QByteArray>
#include <QString>

// What the operator is told when a port does not open.
inline const QString kOpenError = QStringLiteral("串口打开错误");

enum class OpenError { None, NotFound, PermissionDenied, Busy, Other };

struct OpenResult {
    OpenError error = OpenError::None;
    QString device; // what the port number resolved to
    QString detail; // the system's words, for the status bar
    bool ok() const { return error == OpenError::None; }
};

class LinkListener {
public:
    virtual ~LinkListener() = default;
    // One whole 22-byte group per call, in arrival order.
    virtual void onFrame(const Frame &frame) = 0;
    // The open port failed (unplugged, I/O error). The link has closed itself.
    virtual void onLinkFailed(const QString &why) = 0;
    // Received bytes thrown away unread (before a request goes out): they made no frame.
    virtual void onStrayBytes(const QByteArray &bytes) { (void)bytes; }
};

class SerialLink {
public:
    virtual ~SerialLink() = default;
    virtual void setListener(LinkListener *listener) = 0;
    // 9600 8N1, no flow control.
    virtual OpenResult open(int portNumber) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Throws away whatever has arrived and not yet been delivered.
    virtual void discardInput() = 0;
    virtual void write(const QByteArray &bytes) = 0;
};
