// SerialLink over QSerialPort: opens "Com n" at 9600 8N1 and hands the
// listener whole 22-byte groups, one per event loop pass, never re-entering it.
#pragma once

#include "device/seriallink.h"
#include "protocol/replies.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

class QtSerialLink : public QObject, public SerialLink {
    Q_OBJECT
public:
    // `programFolder` is where "ComN" links are looked for.
    explicit QtSerialLink(const QString &programFolder, QObject *parent = nullptr);
    ~QtSerialLink() override;

    void setListener(LinkListener *listener) override { m_listener = listener; }
    OpenResult open(int portNumber) override;
    // Opens a device by its path, past the port-number naming.
    OpenResult openDevice(const QString &device);
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    void discardInput() override;
    void write(const QByteArray &bytes) override;

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void deliverOne();
    void queueDelivery();
    void fail(const QString &why);

    QString m_programFolder;
    QSerialPort m_port;
    ReplyFramer m_framer;
    LinkListener *m_listener = nullptr;
    // Bumped on every open and close: queued work of an earlier opening is dropped.
    quint64 m_opening = 0;
    bool m_deliveryQueued = false;
    bool m_delivering = false; // inside the listener's onFrame: it is never re-entered
    bool m_failed = false;     // onLinkFailed goes out at most once per opening
};
