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
    QByteArray readAll() override;
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
    // Runs one call into the port. A close asked for from inside it (an
    // error reported while it waits) is carried out once it has returned:
    // QSerialPort on Windows goes on using what close() frees.
    template <typename Call>
    auto inPort(Call call);
    void closeNow();

    QSerialPort MSComm1; // the serial port, open only while an operation runs
    QString m_device;
    QString m_label;
    qint32 m_speed = 0;
    int m_minimumRead = -1;   // what the terminal wakes the reader at, -1: not set
    bool m_fresh = false;     // opened, and no request sent yet
    bool m_broken = false;    // failed while open, its close still to come
    int m_opening = 0;        // counts the opens, so a late close finds its own
    int m_inPort = 0;         // calls into the port under way
    bool m_closeOwed = false; // a close asked for inside one of them
};

} // namespace hv52
