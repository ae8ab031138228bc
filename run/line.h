#pragma once
// A line of meters as a run knows it: where it is (a serial port by number, a
// device path, a serial device server or a Modbus TCP gateway), its speed
// and its timeouts. hv52ctl's options, a plan's line and the line window all
// describe a line with this, and a run opens it as the link settings below
// say.
#include "portname.h"
#include "transport.h"

#include <QJsonObject>
#include <QString>

namespace hv52 {

struct Line
{
    int port = 0;   // a serial port by number (COMN); 0 when none
    QString device; // a serial device by its path
    // A TCP endpoint: RTU frames through a serial device server, or a Modbus
    // TCP gateway (modbusTcp; the bus address is the unit identifier).
    // Empty host: a serial line.
    QString tcpHost;
    quint16 tcpPort = 0;
    bool modbusTcp = false;
    int speed = 9600; // behind a gateway: the gateway's own
    int timeoutMs = 1000;
    int connectTimeoutMs = 3000;

    // Whether the line says where it is.
    bool hasPlace() const { return port || !device.isEmpty() || !tcpHost.isEmpty(); }
    bool isTcp() const { return !tcpHost.isEmpty(); }
};

// The link's settings for requests to `address` on the line.
LineSettings linkSettings(const Line &line, int address);
// {"port": 3}, {"device": "/dev/ttyUSB0"}, {"tcp": "10.0.0.7:4001"},
// {"modbus_tcp": "10.0.0.8:502"}: the place as a plan and a record write it.
QJsonObject placeOf(const Line &line);
// "COM3", "/dev/ttyUSB0", "10.0.0.7:4001", "[::1]:502".
QString placeText(const Line &line);
// The line as a record names it: "COM3", "/dev/ttyUSB0",
// "192.168.1.10:4001（串口服务器）", "10.0.0.8:502（Modbus TCP 网关）".
QString lineText(const Line &line);
// "线路 2（10.0.0.7:4001）": N counted from 1.
QString lineName(int index, const Line &line);
// The serial device the line opens, as the system names it (a port number's
// too); empty for a TCP line.
QString devicePath(const Line &line);

} // namespace hv52
