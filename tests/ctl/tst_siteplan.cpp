// A site's lines as the command line and the plans name them: the list of
// places, two names for one line refused, and each line's messages named.
#include "lineboard.h"
#include "lineidentity.h"
#include "siteplan.h"

#include "ctl.h"

#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace hv52ctl;

namespace {

QString refusal(const QString &list)
{
    try {
        linesFromList(list, RunRequest{});
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
        // Two nodes of one device (1:3, the null device), where nodes may be made.
        for (const char *name : {"node-a", "node-b"})
            ::mknod(QFile::encodeName(m_dir.filePath(QLatin1String(name))).constData(), S_IFCHR | 0600, makedev(1, 3));
    }

    // Two address lists name one host when they share an address; every
    // address of this host is this host.
    void sameHost_data()
    {
        QTest::addColumn<QStringList>("a");
        QTest::addColumn<QStringList>("b");
        QTest::addColumn<bool>("same");
        QTest::newRow("one address") << QStringList{"10.0.0.7"} << QStringList{"10.0.0.7"} << true;
        QTest::newRow("two hosts") << QStringList{"10.0.0.7"} << QStringList{"10.0.0.8"} << false;
        QTest::newRow("one in common") << QStringList{"10.0.0.7", "fd00::7"} << QStringList{"fd00::7"} << true;
        QTest::newRow("mapped") << QStringList{"::ffff:10.0.0.7"} << QStringList{"10.0.0.7"} << true;
        QTest::newRow("two loopback addresses") << QStringList{"127.0.1.1"} << QStringList{"127.0.0.1"} << true;
        QTest::newRow("IPv6 loopback") << QStringList{"::1"} << QStringList{"127.0.0.1"} << true;
        QTest::newRow("this host's own") << QStringList{"192.0.2.5"} << QStringList{"127.0.0.1"} << true;
        QTest::newRow("another host beside this one") << QStringList{"192.0.2.6"} << QStringList{"127.0.0.1"} << false;
    }
    void sameHost()
    {
        QFETCH(QStringList, a);
        QFETCH(QStringList, b);
        QFETCH(bool, same);
        const auto addresses = [](const QStringList &texts) {
            QList<QHostAddress> out;
            for (const QString &t : texts)
                out << QHostAddress(t);
            return out;
        };
        const LineIdentity identity({QHostAddress(QStringLiteral("192.0.2.5"))});
        QCOMPARE(identity.sameHost(addresses(a), addresses(b)), same);
        QCOMPARE(identity.sameHost(addresses(b), addresses(a)), same);
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
        const QVector<hv52::Line> lines = linesFromList(list, RunRequest{});
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
        QTest::newRow("a host's name in another case") << "tcp:localhost:502,tcp:LocalHost:502"
                                                       << "是同一个网络端点";
        QTest::newRow("an address and its name")
            << "tcp:127.0.0.1:5020,tcp:localhost:5020"
            << "是同一个网络端点（127.0.0.1:5020 与 localhost:5020 指向同一主机的同一端口）";
        QTest::newRow("a short address") << "tcp:127.0.0.1:5020,tcp:127.1:5020"
                                         << "与第 1 条线路（127.0.0.1:5020）是同一个网络端点";
        QTest::newRow("an address with a leading zero") << "tcp:127.0.0.1:5020,tcp:127.0.0.01:5020"
                                                        << "与第 1 条线路（127.0.0.1:5020）是同一个网络端点";
        QTest::newRow("a mapped address") << "tcp:127.0.0.1:5020,tcp:[::ffff:127.0.0.1]:5020"
                                          << "与第 1 条线路（127.0.0.1:5020）是同一个网络端点";
        QTest::newRow("this host's name") << "tcp:127.0.0.1:5020,tcp:HOSTNAME:5020"
                                          << "与第 1 条线路（127.0.0.1:5020）是同一个网络端点";
        QTest::newRow("either framing, respelt") << "modbus_tcp:127.0.0.1:5020,tcp:localhost:5020"
                                                 << "与第 1 条线路（127.0.0.1:5020）是同一个网络端点";
        QTest::newRow("a name that does not resolve") << "tcp:10.0.0.7:502,tcp:no-such-gateway.invalid:502"
                                                      << "第 2 条线路的主机名 no-such-gateway.invalid 无法解析";
        QTest::newRow("two nodes of one device") << "device:DIR/node-a,device:DIR/node-b"
                                                 << "是同一个串口设备（DIR/node-a 与 DIR/node-b）";
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
        if (list.contains(QLatin1String("node-a")) && !QFileInfo::exists(m_dir.filePath(QStringLiteral("node-a"))))
            QSKIP("no device node could be made here (mknod needs privilege)");
        list.replace(QStringLiteral("DIR"), m_dir.path());
        message.replace(QStringLiteral("DIR"), m_dir.path());
        list.replace(QStringLiteral("HOSTNAME"), QHostInfo::localHostName());
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
        const QVector<hv52::Line> lines =
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
