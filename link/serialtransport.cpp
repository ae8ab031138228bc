#include "serialtransport.h"
#include "linkerror.h"
#include "porterror.h"
#include "portlock.h"
#include "systemtext.h"
#include "wakeup.h"

#include <QScopeGuard>

#include <utility>

namespace hv52 {

SerialTransport::SerialTransport(QObject *parent) : Transport(parent)
{
    connect(&MSComm1, &QSerialPort::readyRead, this, &Transport::readyRead);
    connect(&MSComm1, &QSerialPort::errorOccurred, this, &SerialTransport::onPortError);
}

SerialTransport::~SerialTransport()
{
    close();
}

void SerialTransport::configure(const QString &device, const QString &label, qint32 speed)
{
    m_device = device;
    m_label = label;
    m_speed = speed;
}

void SerialTransport::open()
{
    close();
    clearFailure();
    // Settings go in before open(): a pseudo-terminal refuses some of them on
    // an open port. DTR and RTS are left as the port has them.
    MSComm1.setPortName(m_device);
    MSComm1.setBaudRate(m_speed);
    MSComm1.setDataBits(QSerialPort::Data8);
    MSComm1.setParity(QSerialPort::NoParity);
    MSComm1.setStopBits(QSerialPort::OneStop);
    MSComm1.setFlowControl(QSerialPort::NoFlowControl);
    MSComm1.clearError();
    if (!MSComm1.open(QIODevice::ReadWrite)) {
        LinkError::Fields where = place().withDevice(m_device);
        switch (MSComm1.error()) {
        case QSerialPort::DeviceNotFoundError:
            throw LinkError(LinkError::Kind::NoSuchDevice, where);
        case QSerialPort::PermissionError:
            throw LinkError(LinkError::Kind::PortDenied, where);
        case QSerialPort::UnsupportedOperationError:
            throw LinkError(LinkError::Kind::NotSerialPort, where);
        default:
            throw LinkError(LinkError::Kind::PortOpenFailed, where.withReason(systemErrorText(MSComm1.errorString())));
        }
    }
    // The port's own lock follows the name it was opened by; a symlink and
    // its target are still one device, held by one operation at a time.
    if (!lockDevice(MSComm1)) {
        MSComm1.close();
        throw LinkError(LinkError::Kind::PortHeldElsewhere, place().withDevice(m_device));
    }
    m_minimumRead = -1;
    m_fresh = true;
    m_broken = false;
    ++m_opening;
    emit opened();
}

template <typename Call>
auto SerialTransport::inPort(Call call)
{
    ++m_inPort;
    const auto done = qScopeGuard([this] {
        if (--m_inPort == 0 && std::exchange(m_closeOwed, false))
            closeNow();
    });
    return call();
}

void SerialTransport::close()
{
    if (m_inPort > 0) {
        // Closed from inside a wait or a write: the port counts as closed
        // now and closes when the call returns.
        if (MSComm1.isOpen()) {
            m_broken = true;
            m_closeOwed = true;
        }
        return;
    }
    closeNow();
}

void SerialTransport::closeNow()
{
    m_broken = false;
    if (MSComm1.isOpen()) {
        MSComm1.close();
        emit closed();
    }
}

bool SerialTransport::write(const QByteArray &bytes)
{
    // The port may have been closed by an error reported between exchanges:
    // that error is the reason, and a write to a closed port is not tried.
    if (!isOpen()) {
        if (!failure())
            fail(LinkError::Kind::PortNotOpen, place());
        return false;
    }
    // flush() hands the request to the terminal now; QSerialPort would
    // otherwise wait for the event loop (or a wait) to write it.
    if (inPort([&] { return MSComm1.write(bytes) == bytes.size() && (MSComm1.flush(), true); }) && isOpen())
        return true;
    if (!failure())
        fail(LinkError::Kind::PortWriteFailed, place().withReason(MSComm1.errorString()));
    return false;
}

QByteArray SerialTransport::readAll()
{
    // A port an error has closed has nothing more to give (and QSerialPort
    // would warn on stderr of a read of a closed device).
    return isOpen() ? inPort([this] { return MSComm1.readAll(); }) : QByteArray();
}

void SerialTransport::clear()
{
    if (isOpen())
        inPort([this] { return MSComm1.clear(QSerialPort::AllDirections); });
}

void SerialTransport::expect(int bytes)
{
    // Wakes the reader once per answer instead of once per byte where the
    // terminal allows it; what is buffered can always be read at the timeout.
    // HV52_WAKE_EVERY_BYTE=1 keeps the reader waking at every byte: for a
    // driver that mishandles the count, and to measure what it saves.
    static const bool everyByte = qEnvironmentVariableIntValue("HV52_WAKE_EVERY_BYTE") != 0;
    if (everyByte)
        return;
    if (bytes != m_minimumRead && isOpen() && setMinimumRead(MSComm1, bytes))
        m_minimumRead = bytes;
}

void SerialTransport::pull()
{
    // With a minimum-read count the bytes of a short answer stay with the
    // terminal: wake at any byte again, and look once without waiting.
    expect(1);
    if (isOpen())
        inPort([this] { return MSComm1.waitForReadyRead(0); });
}

bool SerialTransport::takeStray()
{
    // Asking the terminal is cheaper than changing its minimum-read count
    // and back, which pull() does: on a healthy line nothing is there, and
    // then there is nothing to flush either (the request goes out next; a
    // byte that slips in meanwhile would slip in after a flush as well).
    // The first request after opening flushes all the same: whatever an
    // adapter holds from before is dropped, not only what it reports.
    if (!isOpen())
        return false;
    const bool fresh = std::exchange(m_fresh, false);
    if (pendingBytes(MSComm1) == 0)
        return fresh;
    pull();
    return true;
}

bool SerialTransport::waitForBytes(int ms)
{
    // A poll on the port itself: with the minimum-read count set it wakes
    // once the answer can be whole.
    return isOpen() && inPort([&] { return MSComm1.waitForReadyRead(ms); }) && isOpen();
}

void SerialTransport::onPortError(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
    case QSerialPort::UnknownError:
        break;
    default:
        return; // open() reports its own failures; NoError is noise
    }
    if (!isOpen())
        return;
    // An unplugged device keeps reporting read errors as fast as the loop
    // spins; from the first one the port counts as closed. It closes at once
    // where the system allows, else on the loop's next turn, unless it was
    // closed and opened anew by then.
    LinkError::Fields reason = place().withReason(systemErrorText(MSComm1.errorString()));
    m_broken = true;
    const int opening = m_opening;
    closeAfterPortError(this, [this, opening] {
        if (opening == m_opening && m_broken)
            close();
    });
    fail(LinkError::Kind::PortBroken, reason);
}

} // namespace hv52
