#include "maketransport.h"
#include "linespeed.h"

#include "linkerror.h"
#include "portname.h"
#include "serialtransport.h"
#include "tcptransport.h"

namespace hv52 {

namespace {

template <class T>
T *transportIn(std::unique_ptr<Transport> &line, bool *made)
{
    if (auto *same = qobject_cast<T *>(line.get()))
        return same;
    line = std::make_unique<T>();
    *made = true;
    return static_cast<T *>(line.get());
}

} // namespace

quint8 busAddressOf(const LineSettings &settings)
{
    const qint32 address = settings.given >= 1 ? settings.address : 0;
    // 0 would reach every module on the line and 248-255 are reserved: only
    // one module's own address is ever sent.
    if (address == 0)
        throw LinkError(LinkError::Kind::BroadcastAddress);
    if (address < 1 || address > 247)
        throw LinkError(LinkError::Kind::BadAddress, LinkError::Fields().withNumber(address));
    return quint8(address);
}

bool makeTransport(const LineSettings &settings, std::unique_ptr<Transport> &line, QString &label)
{
    const int given = settings.given;
    if (given < 1)
        throw LinkError(LinkError::Kind::NoAddressArg);
    busAddressOf(settings);
    bool made = false;
    if (settings.isTcp()) {
        label = QString();
        auto *tcp = transportIn<TcpTransport>(line, &made);
        tcp->configure(settings.host, settings.tcpPort, settings.framing, settings.connectTimeoutMs);
        label = tcp->label();
        return made;
    }
    QString device;
    if (settings.kind == LineSettings::Kind::SerialNumber) {
        if (given < 2)
            throw LinkError(LinkError::Kind::NoPortArg);
        const qint32 number = settings.portNumber;
        if (number < 1 || number > 32767)
            throw LinkError(LinkError::Kind::BadPortNumber, LinkError::Fields().withNumber(number));
        label = portLabel(number);
        device = serialDeviceName(number);
    } else {
        label = device = settings.device;
    }
    if (given < 3)
        throw LinkError(LinkError::Kind::NoSpeedArg, LinkError::Fields::on(label));
    const qint32 speed = settings.speed;
    if (!kStandardSpeeds.contains(speed))
        throw LinkError(LinkError::Kind::BadSpeed, LinkError::Fields::on(label).withNumber(speed));
    transportIn<SerialTransport>(line, &made)->configure(device, label, speed);
    return made;
}

} // namespace hv52
