// A site's lines as the command line and the plans name them: the list of
// places, two names for one line refused, and each line's messages named.
#include "lineboard.h"
#include "siteplan.h"

#include "ctl.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace hv52ctl;

namespace {

QString refusal(const QString &list)
{
    try {
        linesFromList(list, Options{});
    } catch (const UsageError &e) {
        return e.text();
    }
    return QString();
}

} // namespace

class TestSitePlan : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("HV52_SERIAL_DIR", m_dir.path().toLocal8Bit());
        QFile device(m_dir.filePath(QStringLiteral("com3")));
        QVERIFY(device.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("com3")), m_dir.filePath(QStringLiteral("by-id"))));
    }

    // Each place of --lines read as a line, named as the status rows name it.
    void placesOfAList_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("every kind") << "port:3,device:/dev/ttyUSB0, tcp:10.0.0.7:4001,modbus_tcp:10.0.0.8:502"
                                    << QStringList{"线路 1（COM3）", "线路 2（/dev/ttyUSB0）",
                                                   "线路 3（10.0.0.7:4001）", "线路 4（10.0.0.8:502）"};
        QTest::newRow("IPv6 in brackets") << "tcp:[::1]:4001" << QStringList{"线路 1（[::1]:4001）"};
        QTest::newRow("one endpoint's two ports") << "tcp:10.0.0.7:4001,tcp:10.0.0.7:4002"
                                                  << QStringList{"线路 1（10.0.0.7:4001）", "线路 2（10.0.0.7:4002）"};
    }
    void placesOfAList()
    {
        QFETCH(QString, list);
        QFETCH(QStringList, names);
        const QVector<Options> lines = linesFromList(list, Options{});
        QStringList got;
        for (int i = 0; i < lines.size(); ++i)
            got << lineName(i, lines[i]);
        QCOMPARE(got, names);
    }

    // A list that names one line twice, or a place that is none, is refused
    // before anything is sent, naming what was wrong.
    void listsRefused_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("message");
        QTest::newRow("one port twice") << "port:3,port:4,port:3"
                                        << "第 3 条线路（COM3）与第 1 条线路（COM3）是同一个串口";
        QTest::newRow("a port and its device") << "port:3,device:DIR/com3"
                                               << "第 2 条线路（DIR/com3）与第 1 条线路（COM3）是同一个串口设备";
        QTest::newRow("one device under two names") << "device:DIR/com3,device:DIR/by-id"
                                                    << "是同一个串口设备（DIR/com3 与 DIR/by-id）";
        QTest::newRow("one endpoint, either framing") << "tcp:10.0.0.7:4001,modbus_tcp:10.0.0.7:4001"
                                                      << "是同一个网络端点（10.0.0.7:4001）";
        QTest::newRow("a host's name in another case") << "tcp:gw.local:502,tcp:GW.local:502"
                                                       << "是同一个网络端点";
        QTest::newRow("no kind") << "3"
                                 << "--lines 的“3”无效";
        QTest::newRow("an unknown kind") << "com:3"
                                         << "--lines 的“com:3”无效";
        QTest::newRow("a port out of range") << "port:0"
                                             << "超出范围（应为 1～32767）";
        QTest::newRow("an endpoint without a port") << "tcp:10.0.0.7"
                                                    << "无效（应为 主机:端口";
        QTest::newRow("an empty device") << "device:"
                                         << "--lines 的“device:”无效";
    }
    void listsRefused()
    {
        QFETCH(QString, list);
        QFETCH(QString, message);
        list.replace(QStringLiteral("DIR"), m_dir.path());
        message.replace(QStringLiteral("DIR"), m_dir.path());
        const QString text = refusal(list);
        QVERIFY2(text.contains(message), qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("请求未发送。")), qPrintable(text));
    }

    // Every line of a message gets its line's name; the text's own last
    // newline stays its last.
    void messagesNamedByTheirLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one line") << "地址 3：模块无应答。"
                                  << "线路 2（COM2）：地址 3：模块无应答。";
        QTest::newRow("ended") << "a\n"
                               << "线路 2（COM2）：a\n";
        QTest::newRow("a table") << "a\nb\n"
                                 << "线路 2（COM2）：a\n线路 2（COM2）：b\n";
        QTest::newRow("unended") << "a\nb"
                                 << "线路 2（COM2）：a\n线路 2（COM2）：b";
        QTest::newRow("a blank line inside") << "a\n\nb\n"
                                             << "线路 2（COM2）：a\n线路 2（COM2）：\n线路 2（COM2）：b\n";
    }
    void messagesNamedByTheirLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(LineBoard::prefixed(QStringLiteral("线路 2（COM2）："), text), expected);
    }

    // The place as a plan writes it, for an audit to find the line again.
    void placeAsAPlanWritesIt()
    {
        const QVector<Options> lines =
            linesFromList(QStringLiteral("port:3,device:/dev/ttyUSB0,modbus_tcp:[::1]:502"), {});
        QCOMPARE(placeOf(lines[0]), QJsonObject({{"port", 3}}));
        QCOMPARE(placeOf(lines[1]), QJsonObject({{"device", "/dev/ttyUSB0"}}));
        QCOMPARE(placeOf(lines[2]), QJsonObject({{"modbus_tcp", "[::1]:502"}}));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestSitePlan)
#include "tst_siteplan.moc"
