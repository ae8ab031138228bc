#pragma once
// The least a program on Qt does for the poll's reads: each request written,
// its answer read whole with the device's own waits (QSerialPort or
// QTcpSocket), nothing checked but its length and nothing shown. Beside
// libmodbus it shows Qt's own share of a master's time; what a tool takes
// beyond it is the tool's.
#include "crc.h"

#include <QByteArray>
#include <QSerialPort>

// One read of `registers` registers from `reg`, unit 1; `transaction` > 0
// frames it for Modbus TCP (MBAP), 0 for RTU. False when the answer did not
// come whole within 1000 ms.
template <class Device>
bool bareRead(Device &device, quint16 reg, int registers, quint16 transaction = 0)
{
    QByteArray unit;
    unit.append(char(3)).append(char(reg >> 8)).append(char(reg)).append(char(0)).append(char(registers));
    QByteArray frame;
    if (transaction > 0) {
        frame.append(char(transaction >> 8)).append(char(transaction)).append(char(0)).append(char(0));
        frame.append(char(0)).append(char(unit.size() + 1)).append(char(1)).append(unit);
    } else {
        frame.append(char(1)).append(unit);
        const quint16 crc = hv52::crc16(frame);
        frame.append(char(crc & 0xFF)).append(char(crc >> 8));
    }
    device.write(frame);
    device.flush();
    const qsizetype want = (transaction > 0 ? 9 : 5) + 2 * qsizetype(registers);
    QByteArray answer;
    while (answer.size() < want && device.waitForReadyRead(1000))
        answer += device.readAll();
    return answer.size() == want;
}

// A serial port set up as the tools set theirs: 8N1, no flow control.
inline bool openBarePort(QSerialPort &port, const QString &device, int speed)
{
    port.setPortName(device);
    port.setBaudRate(speed);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return port.open(QIODevice::ReadWrite);
}
