#pragma once
#include "dataunit.h"
#include "linkerror.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

namespace hv52 {

// Where a line is and how it is reached: the typed settings of one link.
struct LineSettings
{
    enum class Kind : quint8 {
        SerialNumber, // port number N: COMN, or /dev/ttyS(N-1) ($HV52_SERIAL_DIR/comN)
        SerialDevice, // a device path as given
        Tcp,          // a TCP endpoint: a serial device server or a Modbus gateway
    };
    Kind kind = Kind::SerialNumber;
    int address = 1;
    int portNumber = 0;
    QString device;
    QString host;
    quint16 tcpPort = 0;
    Framing framing = Framing::Rtu; // on TCP: RTU frames passed through, or MBAP
    int speed = 9600;               // of the serial line (behind a gateway: its own)
    int responseTimeoutMs = 1000;
    int connectTimeoutMs = 3000;
    // How many of address, port number and speed the parent program's
    // command line gave (it may stop short): opening names the first missing.
    int given = 3;

    bool isTcp() const { return kind == Kind::Tcp; }
};

// What carries the frames of one link: a serial port or a TCP connection. It
// is opened and closed around each operation; the link knows frames, timing
// and the receive rule, the transport only bytes and its own failures.
class Transport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the line. Throws LinkError with the reason in the operator's words.
    virtual void open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Hands the bytes to the line; false when it refused them (failure() says why).
    virtual bool write(const QByteArray &bytes) = 0;
    virtual QByteArray readAll() = 0;
    // Drops whatever is buffered either way.
    virtual void clear() = 0;
    // How the link frames its data units on this line.
    virtual Framing framing() const = 0;
    // The answer needs at least this many more bytes: a transport that can
    // wake its reader only once they are in may do so (0: wake at any byte).
    virtual void expect(int bytes) { Q_UNUSED(bytes); }
    // Takes in at once whatever the line holds that has not woken the reader
    // yet (readyRead comes from inside when there is some).
    virtual void pull() {}
    // Takes in what the line holds before a request is sent, so that stray
    // bytes are seen as such (pull() when there may be some). False when the
    // line is known to have held nothing, so there is nothing to clear().
    virtual bool takeStray()
    {
        pull();
        return true;
    }
    // Blocks up to `ms` for bytes, outside any event loop; readyRead comes
    // from inside when they are in. False when none came, or when the
    // transport cannot wait this way.
    virtual bool waitForBytes(int ms)
    {
        Q_UNUSED(ms);
        return false;
    }
    // "COM3", "/dev/ttyUSB0", "192.168.1.10:502".
    virtual QString label() const = 0;
    // The line as messages name it: "串口 COM3", "连接 192.168.1.10:502".
    virtual QString lineName() const = 0;
    // A TCP connection, not a serial port.
    virtual bool isConnection() const = 0;
    // Why the line broke during the operation; none while it is whole.
    const std::optional<LinkError> &failure() const { return m_failure; }

signals:
    void readyRead();
    void opened();
    void closed();
    // The line broke while open: the port failed, or the peer closed.
    void failed(const hv52::LinkError &reason);

protected:
    // The line as an error names it.
    LinkError::Fields place() const { return LinkError::Fields::on(label(), isConnection()); }
    void fail(LinkError::Kind kind, LinkError::Fields fields)
    {
        m_failure.emplace(kind, std::move(fields));
        emit failed(*m_failure);
    }
    void clearFailure() { m_failure.reset(); }

private:
    std::optional<LinkError> m_failure;
};

} // namespace hv52
