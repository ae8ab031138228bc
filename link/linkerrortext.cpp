#include "linespeed.h"
#include "linkerror.h"

namespace hv52 {

namespace {

using Kind = LinkError::Kind;

// The serial port as the texts name it: its label, and the device opened for
// it when that is another name.
QString serialPlace(const LinkError::Fields &f)
{
    return f.device.isEmpty() || f.device == f.port ? f.port : QStringLiteral("%1（%2）").arg(f.port, f.device);
}

QString wordedText(LinkError::Kind kind, const LinkError::Fields &f, const ErrorWording &w)
{
    const QString serial = w.portAsDevice ? QStringLiteral("串口设备") : QStringLiteral("串口");
    // The line as a sentence names it: "串口 COM3", "连接 127.0.0.1:5020".
    const QString line = f.tcp ? QStringLiteral("连接 %1").arg(f.port) : QStringLiteral("%1 %2").arg(serial, f.port);
    const auto cannotOpen = [&](const QString &reason) {
        return QStringLiteral("无法打开%1 %2：%3。").arg(serial, serialPlace(f), reason);
    };
    const auto cannotConnect = [&](const QString &reason) {
        return QStringLiteral("无法连接 %1：%2。").arg(f.port, reason);
    };
    switch (kind) {
    case Kind::Text:
        return f.text;
    case Kind::ArgNotDecimal:
        return QStringLiteral("命令行参数无效：第%1个参数“%2”不是十进制整数。").arg(f.number).arg(f.text);
    case Kind::ArgTooLarge:
        return QStringLiteral("命令行参数无效：第%1个参数“%2”超过2147483647。").arg(f.number).arg(f.text);
    case Kind::NoAddressArg:
        return QStringLiteral("命令行缺少总线地址（第1个参数），请求未发送。");
    case Kind::NoPortArg:
        return QStringLiteral("命令行缺少串口号（第2个参数），无法打开串口。");
    case Kind::BadPortNumber:
        return QStringLiteral("串口号 %1 无效（应为 1～32767），无法打开串口。").arg(f.number);
    case Kind::NoSpeedArg:
        return QStringLiteral("命令行缺少波特率（第3个参数），无法打开%1。").arg(line);
    case Kind::BadSpeed:
        return QStringLiteral("波特率 %1 无效（应为 %2），无法打开%3。").arg(f.number).arg(standardSpeedsText(), line);
    case Kind::BroadcastAddress:
        return QStringLiteral("总线地址 0 是广播地址，不能用于通讯（应为 1～247），请求未发送。");
    case Kind::BadAddress:
        return QStringLiteral("总线地址 %1 无效（应为 1～247），请求未发送。").arg(f.number);
    case Kind::ValueOutOfRange:
        return QStringLiteral("写入值 %1 超出范围（0～65535），请求未发送。").arg(f.number);
    case Kind::NoSuchDevice:
        return cannotOpen(QStringLiteral("设备不存在"));
    case Kind::PortDenied:
        return cannotOpen(QStringLiteral("串口已被占用或无权访问"));
    case Kind::NotSerialPort:
        return cannotOpen(QStringLiteral("不是串口设备"));
    case Kind::PortOpenFailed:
        return cannotOpen(f.reason);
    case Kind::PortHeldElsewhere:
        return cannotOpen(QStringLiteral("串口已被占用（另一程序通过其他路径打开了同一设备）"));
    case Kind::ConnectTimeout:
        return cannotConnect(QStringLiteral("%1 毫秒内未能建立连接（连接超时），请检查地址、端口和网络").arg(f.number));
    case Kind::ConnectRefused:
        return cannotConnect(QStringLiteral("连接被拒绝（该端口没有服务在监听）"));
    case Kind::HostNotFound:
        return cannotConnect(QStringLiteral("找不到主机"));
    case Kind::NetworkUnreachable:
        return cannotConnect(QStringLiteral("网络不可达"));
    case Kind::ConnectFailed:
        return cannotConnect(f.reason);
    case Kind::PortNotOpen:
    case Kind::ConnectionLost:
        return f.tcp ? QStringLiteral("%1 已断开。").arg(line) : QStringLiteral("%1 未打开。").arg(line);
    case Kind::PortWriteFailed:
    case Kind::ConnectionWriteFailed:
        return QStringLiteral("%1 写入失败：%2。").arg(line, f.reason);
    case Kind::PortBroken:
        return QStringLiteral("%1 通讯中断（设备已断开或读写出错：%2）。").arg(line, f.reason);
    case Kind::ConnectionClosedByPeer:
        return QStringLiteral("%1 被对方关闭（应答未收完），操作中止。").arg(line);
    case Kind::ConnectionBroken:
        return QStringLiteral("%1 中断：%2。").arg(line, f.reason);
    case Kind::LineNotOpen:
        return QStringLiteral("%1 未打开，请求未发送。").arg(line);
    case Kind::Flooded:
        return QStringLiteral("%1 线路上数据过多：收到 %2 字节以上仍未停止，远超任何应答，操作中止。"
                              "请检查接线和总线上是否有其他主站。")
            .arg(line)
            .arg(f.number);
    case Kind::Noisy:
        return QStringLiteral("%1 线路上一直有数据，%2 毫秒内未能安静 %3 毫秒，操作中止。"
                              "请检查接线和总线上是否有其他主站。")
            .arg(line)
            .arg(f.number)
            .arg(f.quietMs);
    case Kind::ProgramError:
        return QStringLiteral("程序错误：%1").arg(f.text);
    }
    return f.text;
}

} // namespace

LinkError::LinkError(Kind kind, Fields fields)
    : m_kind(kind), m_fields(std::move(fields)), m_text(wordedText(m_kind, m_fields, {})), m_utf8(m_text.toUtf8())
{}

QString LinkError::text(const ErrorWording &wording) const
{
    QString text = wording.portAsDevice ? wordedText(m_kind, m_fields, wording) : m_text;
    // A sentence of its own ends with "。"; inside another it does not.
    if (wording.asClause && text.endsWith(u'。'))
        text.chop(1);
    return text;
}

} // namespace hv52
