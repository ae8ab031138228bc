#include "link.h"
#include "frames.h"
#include "linkerror.h"
#include "messagebox.h"
#include "portname.h"

#include <QEventLoop>

namespace hv52 {

namespace {

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
    exchange(readRequest(busAddress(m_args), pair, CMD_H, CMD_L));
    if (m_state != Valid) {
        countFailure();
        return QStringLiteral("0");
    }
    return QString::number(answerValue(m_receive, pair));
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

    exchange(writeRequest(address, CMD_H, CMD_L, quint16(fshu)));

    if (m_state == Valid)
        return true;
    countFailure();
    return false;
}

void Link::exchange(const QByteArray &frame)
{
    m_send = frame;
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
    if (!answerDue(MSComm1.bytesAvailable(), m_send))
        return; // the answer is still coming in pieces
    m_receive = MSComm1.readAll();
    Timer1.stop();

    finish(judgeAnswer(m_receive, m_send));
}

void Link::Timer1_Timer()
{
    if (!m_waiting) {
        Timer1.stop();
        return;
    }
    // An answer that began but never reached its length (an exception
    // answer, a broken frame) is taken so it cannot leak into the next one.
    const ExchangeState state = timeoutState(MSComm1.bytesAvailable());
    m_receive = MSComm1.readAll();
    finish(state);
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
