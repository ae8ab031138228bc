// The transports made from the typed line settings, without opening them:
// which settings are refused and how, the label, and which transport.
#include "linkerror.h"
#include "maketransport.h"
#include "portname.h"
#include "serialtransport.h"
#include "tcptransport.h"

#include <QTest>

Q_DECLARE_METATYPE(hv52::LineSettings)

using namespace hv52;

class MakeTransportTest : public QObject
{
    Q_OBJECT
private slots:
    void refused_data();
    void refused();
    void made_data();
    void made();
    void sameKindKept();
};

namespace {

LineSettings serial(int given, int address, int port, int speed)
{
    LineSettings s;
    s.given = given;
    s.address = address;
    s.portNumber = port;
    s.speed = speed;
    return s;
}

LineSettings device(const QString &path, int speed)
{
    LineSettings s;
    s.kind = LineSettings::Kind::SerialDevice;
    s.device = path;
    s.speed = speed;
    return s;
}

LineSettings tcp(const QString &host, quint16 port, Framing framing)
{
    LineSettings s;
    s.kind = LineSettings::Kind::Tcp;
    s.host = host;
    s.tcpPort = port;
    s.framing = framing;
    return s;
}

} // namespace

void MakeTransportTest::refused_data()
{
    QTest::addColumn<LineSettings>("settings");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("label"); // as left when the check failed

    QTest::newRow("nothing given") << serial(0, 1, 1, 9600) << int(LinkError::Kind::NoAddressArg) << "";
    QTest::newRow("broadcast") << serial(3, 0, 1, 9600) << int(LinkError::Kind::BroadcastAddress) << "";
    QTest::newRow("reserved address") << serial(3, 248, 1, 9600) << int(LinkError::Kind::BadAddress) << "";
    QTest::newRow("negative address") << serial(3, -1, 1, 9600) << int(LinkError::Kind::BadAddress) << "";
    QTest::newRow("no port number") << serial(1, 1, 1, 9600) << int(LinkError::Kind::NoPortArg) << "";
    QTest::newRow("port 0") << serial(3, 1, 0, 9600) << int(LinkError::Kind::BadPortNumber) << "";
    QTest::newRow("port 32768") << serial(3, 1, 32768, 9600) << int(LinkError::Kind::BadPortNumber) << "";
    QTest::newRow("no speed") << serial(2, 1, 3, 9600) << int(LinkError::Kind::NoSpeedArg) << portLabel(3);
    QTest::newRow("speed 0") << serial(3, 1, 3, 0) << int(LinkError::Kind::BadSpeed) << portLabel(3);
    QTest::newRow("speed 1234") << serial(3, 1, 3, 1234) << int(LinkError::Kind::BadSpeed) << portLabel(3);
    QTest::newRow("speed 230400") << serial(3, 1, 3, 230400) << int(LinkError::Kind::BadSpeed) << portLabel(3);
    QTest::newRow("device without speed") << device("/dev/x", -1) << int(LinkError::Kind::BadSpeed) << "/dev/x";
    LineSettings badTcp = tcp("h", 1, Framing::Rtu);
    badTcp.address = 0;
    QTest::newRow("tcp broadcast") << badTcp << int(LinkError::Kind::BroadcastAddress) << "";
}

void MakeTransportTest::refused()
{
    QFETCH(LineSettings, settings);
    QFETCH(int, kind);
    QFETCH(QString, label);
    std::unique_ptr<Transport> line;
    QString madeLabel;
    try {
        makeTransport(settings, line, madeLabel);
        QFAIL("settings taken");
    } catch (const LinkError &e) {
        QCOMPARE(int(e.kind()), kind);
    }
    QVERIFY(!line); // nothing made for wrong settings
    QCOMPARE(madeLabel, label);
}

void MakeTransportTest::made_data()
{
    QTest::addColumn<LineSettings>("settings");
    QTest::addColumn<bool>("connection");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("lineName");
    QTest::addColumn<Framing>("framing");

    QTest::newRow("port number") << serial(3, 1, 3, 9600) << false << portLabel(3)
                                 << QStringLiteral("串口 %1").arg(portLabel(3)) << Framing::Rtu;
    QTest::newRow("device path") << device("/dev/ttyUSB0", 115200) << false << "/dev/ttyUSB0"
                                 << "串口 /dev/ttyUSB0" << Framing::Rtu;
    QTest::newRow("rtu over tcp") << tcp("127.0.0.1", 5020, Framing::Rtu) << true << "127.0.0.1:5020"
                                  << "连接 127.0.0.1:5020" << Framing::Rtu;
    QTest::newRow("modbus tcp") << tcp("::1", 502, Framing::Mbap) << true << "[::1]:502"
                                << "连接 [::1]:502" << Framing::Mbap;
}

void MakeTransportTest::made()
{
    QFETCH(LineSettings, settings);
    QFETCH(bool, connection);
    QFETCH(QString, label);
    QFETCH(QString, lineName);
    QFETCH(Framing, framing);
    std::unique_ptr<Transport> line;
    QString madeLabel;
    QVERIFY(makeTransport(settings, line, madeLabel));
    QVERIFY(line);
    QCOMPARE(line->isConnection(), connection);
    QCOMPARE(madeLabel, label);
    QCOMPARE(line->label(), label);
    QCOMPARE(line->lineName(), lineName);
    QCOMPARE(line->framing(), framing);
    QVERIFY(!line->isOpen()); // made, not opened
}

void MakeTransportTest::sameKindKept()
{
    std::unique_ptr<Transport> line;
    QString label;
    QVERIFY(makeTransport(serial(3, 1, 1, 9600), line, label));
    Transport *first = line.get();
    // Another port of the same kind: the one transport, configured again.
    QVERIFY(!makeTransport(device("/dev/ttyUSB1", 19200), line, label));
    QCOMPARE(line.get(), first);
    QCOMPARE(line->label(), QStringLiteral("/dev/ttyUSB1"));
    // Another kind: made anew.
    QVERIFY(makeTransport(tcp("h", 1, Framing::Rtu), line, label));
    QVERIFY(line->isConnection());
}

QTEST_GUILESS_MAIN(MakeTransportTest)
#include "tst_maketransport.moc"
