#pragma once
#include "transport.h"

#include <QSerialPort>

namespace hv52 {

// The serial port of a tool, as it has always been driven: QSerialPort, 8N1,
// no flow control, the device locked while open.
class SerialTransport : public Transport
{
    Q_OBJECT
public:
    explicit SerialTransport(QObject *parent = nullptr);
    ~SerialTransport() override;

    // The device to open, the label messages give it ("COM3", or the path)
    // and the line speed.
    void configure(const QString &device, const QString &label, qint32 speed);

    void open() override;
    void close() override;
    bool isOpen() const override { return MSComm1.isOpen() && !m_broken; }
    bool write(const QByteArray &bytes) override;
    // A port an error has closed has nothing more to give (and QSerialPort
    // would warn on stderr of a read or clear of a closed device).
    QByteArray readAll() override { return isOpen() ? MSComm1.readAll() : QByteArray(); }
    void clear() override;
    Framing framing() const override { return Framing::Rtu; }
    void expect(int bytes) override;
    void pull() override;
    bool takeStray() override;
    bool waitForBytes(int ms) override;
    QString label() const override { return m_label; }
    QString lineName() const override { return QStringLiteral("串口 %1").arg(m_label); }
    bool isConnection() const override { return false; }

private:
    void onPortError(QSerialPort::SerialPortError error);

    QSerialPort MSComm1; // the serial port, open only while an operation runs
    QString m_device;
    QString m_label;
    qint32 m_speed = 0;
    int m_minimumRead = -1; // what the terminal wakes the reader at, -1: not set
    bool m_fresh = false;   // opened, and no request sent yet
    bool m_broken = false;  // failed while open, its close still to come
    int m_opening = 0;      // counts the opens, so a late close finds its own
};

} // namespace hv52
