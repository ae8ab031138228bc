// The link's errors as the operator reads them: each kind with its fields,
// worded in the one place that words them, as the windows show them and as
// the command-line tool names a device path and quotes them in a sentence.
#include "linkerror.h"

#include <QTest>

Q_DECLARE_METATYPE(hv52::LinkError::Kind)
Q_DECLARE_METATYPE(hv52::LinkError::Fields)

using namespace hv52;
using Kind = LinkError::Kind;
using Fields = LinkError::Fields;

class LinkErrorTest : public QObject
{
    Q_OBJECT
private slots:
    void wording_data();
    void wording();
    void asDevice_data();
    void asDevice();
    void clause_data();
    void clause();
    void fieldsKept();
};

namespace {

Fields noisy(const QString &port, bool tcp, int limitMs, int quietMs)
{
    Fields f = Fields::on(port, tcp).withNumber(limitMs);
    f.quietMs = quietMs;
    return f;
}

} // namespace

void LinkErrorTest::wording_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QString>("text");

    // The parent program's command line.
    QTest::newRow("text as thrown") << Kind::Text << Fields().withText(QStringLiteral("停止")) << "停止";
    QTest::newRow("argument not decimal") << Kind::ArgNotDecimal << Fields().withNumber(2).withText("1x")
                                          << "命令行参数无效：第2个参数“1x”不是十进制整数。";
    QTest::newRow("argument too large") << Kind::ArgTooLarge << Fields().withNumber(3).withText("2147483648")
                                        << "命令行参数无效：第3个参数“2147483648”超过2147483647。";
    QTest::newRow("no address") << Kind::NoAddressArg << Fields() << "命令行缺少总线地址（第1个参数），请求未发送。";
    QTest::newRow("no port number") << Kind::NoPortArg << Fields() << "命令行缺少串口号（第2个参数），无法打开串口。";
    QTest::newRow("bad port number") << Kind::BadPortNumber << Fields().withNumber(0)
                                     << "串口号 0 无效（应为 1～32767），无法打开串口。";
    QTest::newRow("no speed") << Kind::NoSpeedArg << Fields::on("COM3")
                              << "命令行缺少波特率（第3个参数），无法打开串口 COM3。";
    QTest::newRow("bad speed")
        << Kind::BadSpeed << Fields::on("COM3").withNumber(-5)
        << "波特率 -5 无效（应为 1200、2400、4800、9600、19200、38400、57600、115200），无法打开串口 COM3。";
    QTest::newRow("broadcast address") << Kind::BroadcastAddress << Fields()
                                       << "总线地址 0 是广播地址，不能用于通讯（应为 1～247），请求未发送。";
    QTest::newRow("bad address") << Kind::BadAddress << Fields().withNumber(248)
                                 << "总线地址 248 无效（应为 1～247），请求未发送。";
    QTest::newRow("value out of range") << Kind::ValueOutOfRange << Fields().withNumber(65536)
                                        << "写入值 65536 超出范围（0～65535），请求未发送。";

    // Opening the line.
    QTest::newRow("no such device") << Kind::NoSuchDevice << Fields::on("COM9").withDevice("/dev/ttyS8")
                                    << "无法打开串口 COM9（/dev/ttyS8）：设备不存在。";
    QTest::newRow("device is the label") << Kind::NoSuchDevice << Fields::on("/dev/x").withDevice("/dev/x")
                                         << "无法打开串口 /dev/x：设备不存在。";
    QTest::newRow("port denied") << Kind::PortDenied << Fields::on("COM1")
                                 << "无法打开串口 COM1：串口已被占用或无权访问。";
    QTest::newRow("not a serial port") << Kind::NotSerialPort << Fields::on("/dev/null").withDevice("/dev/null")
                                       << "无法打开串口 /dev/null：不是串口设备。";
    QTest::newRow("open failed") << Kind::PortOpenFailed << Fields::on("COM2").withReason("系统错误：I/O error")
                                 << "无法打开串口 COM2：系统错误：I/O error。";
    QTest::newRow("held elsewhere") << Kind::PortHeldElsewhere << Fields::on("/dev/a").withDevice("/dev/a")
                                    << "无法打开串口 /dev/a：串口已被占用（另一程序通过其他路径打开了同一设备）。";
    QTest::newRow("connect timeout")
        << Kind::ConnectTimeout << Fields::on("10.0.0.1:502", true).withNumber(3000)
        << "无法连接 10.0.0.1:502：3000 毫秒内未能建立连接（连接超时），请检查地址、端口和网络。";
    QTest::newRow("connect refused") << Kind::ConnectRefused << Fields::on("127.0.0.1:1", true)
                                     << "无法连接 127.0.0.1:1：连接被拒绝（该端口没有服务在监听）。";
    QTest::newRow("host not found") << Kind::HostNotFound << Fields::on("nohost:502", true)
                                    << "无法连接 nohost:502：找不到主机。";
    QTest::newRow("network unreachable") << Kind::NetworkUnreachable << Fields::on("[::2]:502", true)
                                         << "无法连接 [::2]:502：网络不可达。";
    QTest::newRow("connect failed") << Kind::ConnectFailed << Fields::on("h:1", true).withReason("未知系统错误")
                                    << "无法连接 h:1：未知系统错误。";

    // The line during an operation.
    QTest::newRow("port not open") << Kind::PortNotOpen << Fields::on("COM3") << "串口 COM3 未打开。";
    QTest::newRow("port write failed") << Kind::PortWriteFailed << Fields::on("COM3").withReason("Broken pipe")
                                       << "串口 COM3 写入失败：Broken pipe。";
    QTest::newRow("port broken") << Kind::PortBroken << Fields::on("COM3").withReason("系统错误：EIO")
                                 << "串口 COM3 通讯中断（设备已断开或读写出错：系统错误：EIO）。";
    QTest::newRow("connection lost") << Kind::ConnectionLost << Fields::on("h:1", true) << "连接 h:1 已断开。";
    QTest::newRow("connection write failed")
        << Kind::ConnectionWriteFailed << Fields::on("h:1", true).withReason("系统错误：EPIPE")
        << "连接 h:1 写入失败：系统错误：EPIPE。";
    QTest::newRow("closed by peer") << Kind::ConnectionClosedByPeer << Fields::on("h:1", true)
                                    << "连接 h:1 被对方关闭（应答未收完），操作中止。";
    QTest::newRow("connection broken") << Kind::ConnectionBroken << Fields::on("h:1", true).withReason("系统错误：x")
                                       << "连接 h:1 中断：系统错误：x。";
    QTest::newRow("serial line not open")
        << Kind::LineNotOpen << Fields::on("COM4") << "串口 COM4 未打开，请求未发送。";
    QTest::newRow("connection not open") << Kind::LineNotOpen << Fields::on("h:1", true)
                                         << "连接 h:1 未打开，请求未发送。";
    QTest::newRow("flooded") << Kind::Flooded << Fields::on("COM3").withNumber(4096)
                             << "串口 COM3 线路上数据过多：收到 4096 字节以上仍未停止，远超任何应答，操作中止。"
                                "请检查接线和总线上是否有其他主站。";
    QTest::newRow("noisy connection") << Kind::Noisy << noisy("h:1", true, 1000, 50)
                                      << "连接 h:1 线路上一直有数据，1000 毫秒内未能安静 50 毫秒，操作中止。"
                                         "请检查接线和总线上是否有其他主站。";
    QTest::newRow("program error") << Kind::ProgramError << Fields().withText("bad_alloc") << "程序错误：bad_alloc";
}

void LinkErrorTest::wording()
{
    QFETCH(Kind, kind);
    QFETCH(Fields, fields);
    QFETCH(QString, text);
    const LinkError e(kind, fields);
    QCOMPARE(e.text(), text);
    QCOMPARE(e.text(ErrorWording()), text);
    QCOMPARE(QString::fromUtf8(e.what()), text);
}

void LinkErrorTest::asDevice_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<QString>("text");

    // The command-line tool names a port given by its path as a device.
    QTest::newRow("cannot open") << Kind::NoSuchDevice << Fields::on("/dev/x").withDevice("/dev/x")
                                 << "无法打开串口设备 /dev/x：设备不存在。";
    QTest::newRow("denied keeps its reason")
        << Kind::PortDenied << Fields::on("/dev/x") << "无法打开串口设备 /dev/x：串口已被占用或无权访问。";
    QTest::newRow("broken") << Kind::PortBroken << Fields::on("/dev/x").withReason("r")
                            << "串口设备 /dev/x 通讯中断（设备已断开或读写出错：r）。";
    QTest::newRow("noisy") << Kind::Noisy << noisy("/dev/x", false, 1000, 50)
                           << "串口设备 /dev/x 线路上一直有数据，1000 毫秒内未能安静 50 毫秒，操作中止。"
                              "请检查接线和总线上是否有其他主站。";
    QTest::newRow("a connection stays one")
        << Kind::LineNotOpen << Fields::on("h:1", true) << "连接 h:1 未打开，请求未发送。";
    QTest::newRow("no port named") << Kind::BadAddress << Fields().withNumber(0)
                                   << "总线地址 0 无效（应为 1～247），请求未发送。";
    QTest::newRow("text as thrown") << Kind::Text << Fields().withText("串口 /dev/x") << "串口 /dev/x";
}

void LinkErrorTest::asDevice()
{
    QFETCH(Kind, kind);
    QFETCH(Fields, fields);
    QFETCH(QString, text);
    ErrorWording wording;
    wording.portAsDevice = true;
    QCOMPARE(LinkError(kind, fields).text(wording), text);
}

void LinkErrorTest::clause_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<bool>("asDevice");
    QTest::addColumn<QString>("text");

    QTest::newRow("closing stop dropped") << Kind::PortNotOpen << Fields::on("COM3") << false << "串口 COM3 未打开";
    QTest::newRow("with the device named")
        << Kind::PortNotOpen << Fields::on("/dev/x") << true << "串口设备 /dev/x 未打开";
    QTest::newRow("nothing to drop") << Kind::ProgramError << Fields().withText("x") << false << "程序错误：x";
    QTest::newRow("only the last stop") << Kind::Text << Fields().withText("甲。乙。") << false << "甲。乙";
}

void LinkErrorTest::clause()
{
    QFETCH(Kind, kind);
    QFETCH(Fields, fields);
    QFETCH(bool, asDevice);
    QFETCH(QString, text);
    ErrorWording wording;
    wording.portAsDevice = asDevice;
    wording.asClause = true;
    QCOMPARE(LinkError(kind, fields).text(wording), text);
}

void LinkErrorTest::fieldsKept()
{
    // A caller words the error its own way from what it carries.
    const LinkError e(Kind::PortOpenFailed, Fields::on("COM7").withDevice("/dev/ttyS6").withReason("r"));
    QCOMPARE(e.kind(), Kind::PortOpenFailed);
    QCOMPARE(e.fields().port, QStringLiteral("COM7"));
    QCOMPARE(e.fields().device, QStringLiteral("/dev/ttyS6"));
    QCOMPARE(e.fields().reason, QStringLiteral("r"));
    QVERIFY(!e.fields().tcp);
    const LinkError plain(QStringLiteral("文字"));
    QCOMPARE(plain.kind(), Kind::Text);
    QCOMPARE(plain.text(), QStringLiteral("文字"));
}

QTEST_GUILESS_MAIN(LinkErrorTest)
#include "tst_linkerror.moc"
