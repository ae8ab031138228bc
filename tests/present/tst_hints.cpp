// The hint given when nothing answered: the windows' and hv52ctl's words.
#include "hints.h"

#include <QTest>

class HintsTest : public QObject
{
    Q_OBJECT
private slots:
    void silence_data()
    {
        QTest::addColumn<bool>("gateway");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("hint");
        QTest::newRow("serial port") << false << 1 << "COM3" << 9600
                                     << "模块无应答：请检查总线地址 1、串口 COM3、波特率 9600 与接线。";
        QTest::newRow("window before its arguments")
            << false << 0 << "COM1" << 0 << "模块无应答：请检查总线地址 0、串口 COM1、波特率 0 与接线。";
        QTest::newRow("device path") << false << 247 << "/dev/ttyUSB0" << 115200
                                     << "模块无应答：请检查总线地址 247、串口 /dev/ttyUSB0、波特率 115200 与接线。";
        QTest::newRow("device server")
            << true << 2 << "10.0.0.5:4001" << 0
            << "模块无应答：请检查总线地址 2、10.0.0.5:4001、网关的串口设置（波特率等）与接线。";
    }
    void silence()
    {
        QFETCH(bool, gateway);
        QFETCH(int, address);
        QFETCH(QString, line);
        QFETCH(int, speed);
        QFETCH(QString, hint);
        QCOMPARE(gateway ? hv52::gatewaySilenceHint(address, line) : hv52::silenceHint(address, line, speed), hint);
    }
};

QTEST_APPLESS_MAIN(HintsTest)
#include "tst_hints.moc"
