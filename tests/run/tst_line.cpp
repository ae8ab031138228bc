// A line as records, plans and the link see it, from each kind of place.
#include "line.h"

#include <QJsonDocument>
#include <QTest>

using hv52::Line;
using hv52::LineSettings;

Q_DECLARE_METATYPE(Line)

class TestLine : public QObject
{
    Q_OBJECT
private slots:
    void named_data()
    {
        QTest::addColumn<Line>("line");
        QTest::addColumn<QString>("place");    // placeOf, as JSON
        QTest::addColumn<QString>("text");     // placeText
        QTest::addColumn<QString>("recorded"); // lineText
        QTest::addColumn<QString>("device");   // devicePath
        Line port;
        port.port = 3;
        Line device;
        device.device = QStringLiteral("/dev/ttyUSB0");
        Line server;
        server.tcpHost = QStringLiteral("192.168.1.10");
        server.tcpPort = 4001;
        Line gateway;
        gateway.tcpHost = QStringLiteral("::1");
        gateway.tcpPort = 502;
        gateway.modbusTcp = true;
        QTest::newRow("port") << port << R"({"port":3})"
                              << "COM3"
                              << "COM3" << hv52::serialDeviceName(3);
        QTest::newRow("device") << device << R"({"device":"/dev/ttyUSB0"})"
                                << "/dev/ttyUSB0"
                                << "/dev/ttyUSB0"
                                << "/dev/ttyUSB0";
        QTest::newRow("serial device server") << server << R"({"tcp":"192.168.1.10:4001"})"
                                              << "192.168.1.10:4001"
                                              << "192.168.1.10:4001（串口服务器）"
                                              << "";
        QTest::newRow("gateway, IPv6") << gateway << R"({"modbus_tcp":"[::1]:502"})"
                                       << "[::1]:502"
                                       << "[::1]:502（Modbus TCP 网关）"
                                       << "";
    }
    void named()
    {
        QFETCH(Line, line);
        QFETCH(QString, place);
        QFETCH(QString, text);
        QFETCH(QString, recorded);
        QFETCH(QString, device);
        QVERIFY(line.hasPlace());
        QCOMPARE(QString::fromUtf8(QJsonDocument(hv52::placeOf(line)).toJson(QJsonDocument::Compact)), place);
        QCOMPARE(hv52::placeText(line), text);
        QCOMPARE(hv52::lineText(line), recorded);
        QCOMPARE(hv52::lineName(1, line), QStringLiteral("线路 2（%1）").arg(text));
        QCOMPARE(hv52::devicePath(line), device);
    }

    // The link opens what the line names, at the meter's address, with the
    // line's speed and timeouts; a serial line's connect timeout and a
    // gateway's serial port number are never carried over.
    void linkSettings_data()
    {
        QTest::addColumn<Line>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("portNumber");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("tcpPort");
        QTest::addColumn<int>("framing");
        QTest::addColumn<int>("connectTimeoutMs");
        Line port;
        port.port = 7;
        port.connectTimeoutMs = 500;
        Line device;
        device.device = QStringLiteral("/dev/ttyUSB1");
        Line server;
        server.tcpHost = QStringLiteral("10.0.0.7");
        server.tcpPort = 4001;
        server.connectTimeoutMs = 800;
        Line gateway = server;
        gateway.modbusTcp = true;
        const int serialDefault = LineSettings().connectTimeoutMs;
        QTest::newRow("port") << port << int(LineSettings::Kind::SerialNumber) << 7 << ""
                              << "" << 0 << int(hv52::Framing::Rtu) << serialDefault;
        QTest::newRow("device") << device << int(LineSettings::Kind::SerialDevice) << 0 << "/dev/ttyUSB1"
                                << "" << 0 << int(hv52::Framing::Rtu) << serialDefault;
        QTest::newRow("serial device server") << server << int(LineSettings::Kind::Tcp) << 0 << ""
                                              << "10.0.0.7" << 4001 << int(hv52::Framing::Rtu) << 800;
        QTest::newRow("gateway") << gateway << int(LineSettings::Kind::Tcp) << 0 << ""
                                 << "10.0.0.7" << 4001 << int(hv52::Framing::Mbap) << 800;
    }
    void linkSettings()
    {
        QFETCH(Line, line);
        QFETCH(int, kind);
        QFETCH(int, portNumber);
        QFETCH(QString, device);
        QFETCH(QString, host);
        QFETCH(int, tcpPort);
        QFETCH(int, framing);
        QFETCH(int, connectTimeoutMs);
        line.speed = 19200;
        line.timeoutMs = 300;
        const LineSettings s = hv52::linkSettings(line, 17);
        QCOMPARE(int(s.kind), kind);
        QCOMPARE(s.portNumber, portNumber);
        QCOMPARE(s.device, device);
        QCOMPARE(s.host, host);
        QCOMPARE(int(s.tcpPort), tcpPort);
        QCOMPARE(int(s.framing), framing);
        QCOMPARE(s.connectTimeoutMs, connectTimeoutMs);
        QCOMPARE(s.address, 17);
        QCOMPARE(s.speed, 19200);
        QCOMPARE(s.responseTimeoutMs, 300);
    }

    void noPlace() { QVERIFY(!Line().hasPlace()); }
};

QTEST_GUILESS_MAIN(TestLine)
#include "tst_line.moc"
