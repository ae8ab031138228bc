#pragma once
#include <QByteArray>
#include <QString>
#include <exception>

namespace hv52 {

// How a caller has the link's errors worded. The defaults give the texts the
// windows have always shown.
struct ErrorWording
{
    // A serial port given by its device path is named "串口设备 /dev/ttyUSB0",
    // not "串口 /dev/ttyUSB0" (the command-line tool's --device).
    bool portAsDevice = false;
    // Without the closing "。", to stand inside another sentence.
    bool asClause = false;
};

// An error that ends a button handler on its error path. It carries what
// went wrong and the values it names; text() words it for the operator, in
// Chinese, naming the bad value (linkerrortext.cpp, the one place that does).
class LinkError : public std::exception
{
public:
    enum class Kind {
        Text, // worded where it was thrown: Fields::text
        // The parent program's command line.
        ArgNotDecimal, // number: which argument, text: as typed
        ArgTooLarge,
        NoAddressArg,
        NoPortArg,
        BadPortNumber, // number
        NoSpeedArg,    // port
        BadSpeed,      // number, port
        BroadcastAddress,
        BadAddress,      // number
        ValueOutOfRange, // number: the value to write
        // Opening the line.
        NoSuchDevice,   // port, device
        PortDenied,     // port, device
        NotSerialPort,  // port, device
        PortOpenFailed, // port, device, reason: the system's text
        PortHeldElsewhere,
        ConnectTimeout, // port: host and port, number: the connect timeout
        ConnectRefused,
        HostNotFound,
        NetworkUnreachable,
        ConnectFailed, // reason
        // The line during an operation.
        PortNotOpen,           // port (the serial port closed between exchanges)
        PortWriteFailed,       // port, reason
        PortBroken,            // port, reason
        ConnectionLost,        // port (closed between exchanges)
        ConnectionWriteFailed, // port, reason
        ConnectionClosedByPeer,
        ConnectionBroken, // port, reason
        LineNotOpen,      // port, tcp
        Flooded,          // port, tcp, number: the bytes kept
        Noisy,            // port, tcp, number: the limit, quietMs
        // A fault of the program itself (a std::exception).
        ProgramError, // text: what()
    };

    struct Fields
    {
        QString port;     // the line's label: "COM3", "/dev/ttyUSB0", "127.0.0.1:5020"
        QString device;   // the serial device opened for it, when it is another name
        bool tcp = false; // the line is a TCP connection: "连接 …", not "串口 …"
        QString reason;   // the system's (or the transport's) own words
        qint64 number = 0;
        int quietMs = 0;
        QString text;

        // The line it happened on.
        static Fields on(QString port, bool tcp = false)
        {
            Fields f;
            f.port = std::move(port);
            f.tcp = tcp;
            return f;
        }
        Fields &withNumber(qint64 n)
        {
            number = n;
            return *this;
        }
        Fields &withReason(QString r)
        {
            reason = std::move(r);
            return *this;
        }
        Fields &withDevice(QString d)
        {
            device = std::move(d);
            return *this;
        }
        Fields &withText(QString t)
        {
            text = std::move(t);
            return *this;
        }
    };

    // An error worded where it is thrown.
    explicit LinkError(QString text) : LinkError(Kind::Text, Fields().withText(std::move(text))) {}
    explicit LinkError(Kind kind) : LinkError(kind, Fields()) {}
    LinkError(Kind kind, Fields fields);

    Kind kind() const { return m_kind; }
    const Fields &fields() const { return m_fields; }
    // The operator's text, as the windows show it.
    const QString &text() const { return m_text; }
    QString text(const ErrorWording &wording) const;
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    Kind m_kind;
    Fields m_fields;
    QString m_text;
    QByteArray m_utf8;
};

// The operation was ended because its window closed; nothing more is shown.
class Aborted : public std::exception
{
public:
    const char *what() const noexcept override { return "operation aborted"; }
};

} // namespace hv52
