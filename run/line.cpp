#include "line.h"

#include "portname.h"

namespace hv52 {

LineSettings linkSettings(const Line &line, int address)
{
    LineSettings out;
    if (line.isTcp()) {
        out.kind = LineSettings::Kind::Tcp;
        out.host = line.tcpHost;
        out.tcpPort = line.tcpPort;
        out.framing = line.modbusTcp ? Framing::Mbap : Framing::Rtu;
        out.connectTimeoutMs = line.connectTimeoutMs;
    } else if (!line.device.isEmpty()) {
        out.kind = LineSettings::Kind::SerialDevice;
        out.device = line.device;
    } else {
        out.portNumber = line.port;
    }
    out.address = address;
    out.speed = line.speed;
    out.responseTimeoutMs = line.timeoutMs;
    return out;
}

QJsonObject placeOf(const Line &line)
{
    if (line.isTcp())
        return {{line.modbusTcp ? QStringLiteral("modbus_tcp") : QStringLiteral("tcp"), placeText(line)}};
    if (!line.device.isEmpty())
        return {{QStringLiteral("device"), line.device}};
    return {{QStringLiteral("port"), line.port}};
}

QString placeText(const Line &line)
{
    if (line.isTcp())
        return QStringLiteral("%1:%2")
            .arg(line.tcpHost.contains(u':') ? QStringLiteral("[%1]").arg(line.tcpHost) : line.tcpHost)
            .arg(line.tcpPort);
    if (!line.device.isEmpty())
        return line.device;
    return portLabel(line.port);
}

QString lineText(const Line &line)
{
    if (line.isTcp())
        return QStringLiteral("%1（%2）")
            .arg(placeText(line), line.modbusTcp ? QStringLiteral("Modbus TCP 网关") : QStringLiteral("串口服务器"));
    return placeText(line);
}

QString lineName(int index, const Line &line)
{
    return QStringLiteral("线路 %1（%2）").arg(index + 1).arg(placeText(line));
}

QString devicePath(const Line &line)
{
    if (line.isTcp())
        return QString();
    return line.device.isEmpty() ? serialDeviceName(line.port) : line.device;
}

} // namespace hv52
