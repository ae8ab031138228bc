#include "link.h"
#include "crc.h"
#include "linkerror.h"
#include "messagebox.h"
#include "portname.h"

#include <QEventLoop>

namespace hv52 {

namespace {

constexpr int kGenpoly = 40961; // 0xA001

// Appends the CRC of the first n bytes at n and n + 1, low byte first.
void putCrc(QByteArray &frame, int n)
{
    int crc = 0xFFFF;
    for (int i = 0; i < n; ++i)
        crc = CrcResult(static_cast<unsigned char>(frame[i]), kGenpoly, crc);
    frame[n] = char(crc & 255);
    frame[n + 1] = char((crc / 256) & 255);
}

quint8 byteAt(const QByteArray &b, int i) { return static_cast<quint8>(b[i]); }

// Ends the busy state of a run on every path out, exceptions included.
struct BusyGuard
{
    bool &busy;
    explicit BusyGuard(bool &b) : busy(b) { busy = true; }
    ~BusyGuard() { busy = false; }
};

} // namespace

Link::Link(QObject *parent) : QObject(parent)
{
    Timer1.setInterval(kResponseTimeoutMs);
    // A coarse timer fires up to 5 % late; the timeout is part of what the
    // operator waits for on a dead line, so keep it to the millisecond.
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &Link::Timer1_Timer);
    connect(&MSComm1, &QSerialPort::readyRead, this, &Link::MSComm1_OnComm);
    connect(&MSComm1, &QSerialPort::errorOccurred, this, &Link::onPortError);
}

Link::~Link()
{
    Timer1.stop();
    closePort();
}

bool Link::message(const QString &text, bool ask)
{
    if (m_aborted)
        return false;
    if (m_messenger)
        return m_messenger(text, ask);
    return showMessageBox(nullptr, text, ask);
}

bool Link::run(const std::function<void()> &work)
{
    if (m_busy)
        return false;
    BusyGuard guard(m_busy);
    m_aborted = false;
    try {
        openPort();
        work();
    } catch (const Aborted &) {
        // The window is closing: close the port quietly below.
    } catch (const LinkError &e) {
        closePort();
        message(e.text());
    } catch (const std::exception &e) {
        closePort();
        message(QStringLiteral("程序错误：%1").arg(QString::fromUtf8(e.what())));
    }
    closePort();
    return true;
}

void Link::abort()
{
    if (!m_busy)
        return;
    m_aborted = true;
    if (m_waiting) {
        Timer1.stop();
        m_waiting = false;
        if (m_loop)
            m_loop->quit();
    }
}

void Link::openPort()
{
    closePort();
    m_portError.clear();
    if (m_args.size() < 2)
        throw LinkError(QStringLiteral("命令行缺少串口号参数，无法打开串口。"));
    const qint32 number = m_args[1];
    if (number < 1 || number > 32767)
        throw LinkError(QStringLiteral("串口号 %1 无效（应为 1～32767），无法打开串口。").arg(number));
    m_portLabel = portLabel(number);
    if (m_args.size() < 3)
        throw LinkError(QStringLiteral("命令行缺少波特率参数，无法打开串口 %1。").arg(m_portLabel));
    const qint32 speed = m_args[2];
    if (speed <= 0)
        throw LinkError(QStringLiteral("波特率 %1 无效，无法打开串口 %2。").arg(speed).arg(m_portLabel));

    const QString device = serialDeviceName(number);
    // Settings go in before open(): a pseudo-terminal refuses some of them on
    // an open port. DTR and RTS are left as the port has them.
    MSComm1.setPortName(device);
    MSComm1.setBaudRate(speed);
    MSComm1.setDataBits(QSerialPort::Data8);
    MSComm1.setParity(QSerialPort::NoParity);
    MSComm1.setStopBits(QSerialPort::OneStop);
    MSComm1.setFlowControl(QSerialPort::NoFlowControl);
    MSComm1.clearError();
    if (!MSComm1.open(QIODevice::ReadWrite)) {
        QString reason;
        switch (MSComm1.error()) {
        case QSerialPort::DeviceNotFoundError:
            reason = QStringLiteral("设备不存在");
            break;
        case QSerialPort::PermissionError:
            reason = QStringLiteral("串口已被占用或无权访问");
            break;
        default:
            reason = MSComm1.errorString();
            break;
        }
        const QString where = device == m_portLabel ? m_portLabel
                                                    : QStringLiteral("%1（%2）").arg(m_portLabel, device);
        throw LinkError(QStringLiteral("无法打开串口 %1：%2。").arg(where, reason));
    }
}

void Link::closePort()
{
    if (MSComm1.isOpen())
        MSComm1.close();
}

static quint8 busAddress(const ArgArray &args)
{
    const qint32 address = args.isEmpty() ? 0 : args[0];
    if (address < 0 || address > 255)
        throw LinkError(QStringLiteral("总线地址 %1 超出范围（0～255），请求未发送。").arg(address));
    return quint8(address);
}

QString Link::para_call(quint8 tp, quint8 CMD_H, quint8 CMD_L)
{
    const bool pair = tp != 0;
    QByteArray frame(8, 0);
    frame[0] = char(busAddress(m_args));
    frame[1] = 3;
    frame[2] = char(CMD_H);
    frame[3] = char(CMD_L);
    frame[4] = 0;
    frame[5] = char(pair ? 2 : 1);
    putCrc(frame, 6);
    exchange(frame, pair ? 9 : 7);

    if (m_state != Valid) {
        countFailure();
        return QStringLiteral("0");
    }
    const QByteArray &r = m_receive;
    const quint32 value = pair ? (quint32(byteAt(r, 3)) << 24) | (quint32(byteAt(r, 4)) << 16)
                                     | (quint32(byteAt(r, 5)) << 8) | byteAt(r, 6)
                               : (quint32(byteAt(r, 3)) << 8) | byteAt(r, 4);
    return QString::number(value);
}

bool Link::para_set(quint8 CMD_H, quint8 CMD_L, qint32 fshu)
{
    if (m_continueQuestion) {
        if (m_failures == -1)
            return false;
        if (m_failures % 6 == 5
            && !message(QStringLiteral("通讯失败：%1次,继续吗？").arg(m_failures), true)) {
            m_failures = -1;
            return false;
        }
    }
    const quint8 address = busAddress(m_args);
    if (fshu < 0 || fshu > 65535)
        throw LinkError(QStringLiteral("写入值 %1 超出范围（0～65535），请求未发送。").arg(fshu));

    QByteArray frame(11, 0);
    frame[0] = char(address);
    frame[1] = 16;
    frame[2] = char(CMD_H);
    frame[3] = char(CMD_L);
    frame[4] = 0;
    frame[5] = 1;
    frame[6] = 2;
    frame[7] = char(fshu / 256);
    frame[8] = char(fshu % 256);
    putCrc(frame, 9);
    exchange(frame, 8);

    if (m_state == Valid)
        return true;
    countFailure();
    return false;
}

void Link::exchange(const QByteArray &frame, int answerLength)
{
    m_send = frame;
    m_threshold = answerLength;
    if (!m_portError.isEmpty())
        throw LinkError(m_portError);
    if (!MSComm1.isOpen())
        throw LinkError(QStringLiteral("串口 %1 未打开，请求未发送。").arg(m_portLabel));

    // Stale bytes of an earlier exchange, or garbage from an adapter that was
    // just opened, must not be taken for this answer.
    MSComm1.clear(QSerialPort::AllDirections);
    MSComm1.readAll();
    m_receive.clear();
    m_state = Waiting;

    if (MSComm1.write(frame) != frame.size()) {
        const QString text = m_portError.isEmpty()
                                 ? QStringLiteral("串口 %1 写入失败：%2。").arg(m_portLabel, MSComm1.errorString())
                                 : m_portError;
        closePort();
        throw LinkError(text);
    }
    emit requestSent(frame);
    m_waiting = true;
    Timer1.start();

    // A local event loop keeps the window live and costs no CPU while the
    // line is quiet; the receive and timer handlers quit it.
    QEventLoop loop;
    m_loop = &loop;
    if (m_waiting)
        loop.exec();
    m_loop = nullptr;
    m_waiting = false;

    if (m_state != Waiting)
        return;
    Timer1.stop();
    if (!m_portError.isEmpty()) {
        closePort();
        throw LinkError(m_portError);
    }
    // Neither answer, timeout nor port error: the loop was ended because the
    // window closed or the application is quitting.
    m_aborted = true;
    closePort();
    throw Aborted();
}

void Link::finish(qint16 state)
{
    Timer1.stop();
    m_state = state;
    m_waiting = false;
    if (m_loop)
        m_loop->quit();
}

void Link::countFailure()
{
    // Stops at the top instead of overflowing: a long-dead line must not turn
    // every later press into an error.
    if (m_failures < 32767)
        ++m_failures;
}

void Link::MSComm1_OnComm()
{
    if (!m_waiting)
        return; // left for the flush before the next request
    if (MSComm1.bytesAvailable() < m_threshold)
        return; // the answer is still coming in pieces
    m_receive = MSComm1.readAll();
    Timer1.stop();

    const int n = int(m_receive.size());
    const quint16 crc = crc16(m_receive.constData(), n - 2);
    bool valid = byteAt(m_receive, n - 2) == (crc & 255) && byteAt(m_receive, n - 1) == (crc >> 8);
    // An intact frame from another slave, or for another function, answers
    // some other request: it is no confirmation of ours.
    if (valid && (m_receive[0] != m_send[0] || m_receive[1] != m_send[1]))
        valid = false;
    finish(valid ? Valid : Failed);
}

void Link::Timer1_Timer()
{
    if (!m_waiting) {
        Timer1.stop();
        return;
    }
    if (MSComm1.bytesAvailable() < 1) {
        finish(TimedOut);
        return;
    }
    // An answer began but never reached its length (an exception answer, a
    // broken frame): the bytes are taken so they cannot leak into the next one.
    m_receive = MSComm1.readAll();
    finish(Failed);
}

void Link::onPortError(QSerialPort::SerialPortError error)
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
    if (!MSComm1.isOpen())
        return;
    // An unplugged device keeps reporting read errors as fast as the loop
    // spins; closing on the first one stops that at once.
    m_portError = QStringLiteral("串口 %1 通讯中断（设备已断开或读写出错：%2）。")
                      .arg(m_portLabel, MSComm1.errorString());
    MSComm1.close();
    if (m_waiting) {
        Timer1.stop();
        m_waiting = false;
        if (m_loop)
            m_loop->quit();
    }
}

} // namespace hv52
