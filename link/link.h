#pragma once
#include "cmdline.h"
#include "frames.h"

#include <QByteArray>
#include <QPointer>
#include <QSerialPort>
#include <QTimer>
#include <functional>

class QEventLoop;

namespace hv52 {

// The serial link of one tool window: the port bracket around every button
// handler, the read and write requests and the reception of their answers.
// It knows frames, timing and the port, and nothing about controls.
class Link : public QObject
{
    Q_OBJECT
public:
    using State = ExchangeState;
    static constexpr ExchangeState Waiting = hv52::Waiting, Valid = hv52::Valid, Failed = hv52::Failed,
                                   TimedOut = hv52::TimedOut;

    // How messages reach the operator. ask = true is the OK/Cancel question;
    // the result is true for OK. Replaceable so tests can answer boxes.
    using Messenger = std::function<bool(const QString &text, bool ask)>;

    static constexpr int kResponseTimeoutMs = 1000;

    explicit Link(QObject *parent = nullptr);
    ~Link() override;

    void setArgs(const ArgArray &args) { m_args = args; }
    const ArgArray &args() const { return m_args; }

    void setResponseTimeout(int ms) { Timer1.setInterval(ms); }
    int responseTimeout() const { return Timer1.interval(); }

    // cfg_t540 asks before writing after repeated failures and can refuse to send.
    void setContinueQuestion(bool on) { m_continueQuestion = on; }

    void setMessenger(Messenger messenger) { m_messenger = std::move(messenger); }
    bool message(const QString &text, bool ask = false);

    // Runs one button operation: opens the port, runs work, closes the port, on
    // every path out. A LinkError ends it on the error path (port closed, the
    // error's text shown). Returns false, doing nothing, while another
    // operation is running: a second press during a wait is ignored.
    bool run(const std::function<void()> &work);
    bool isBusy() const { return m_busy; }

    // Ends a running operation without further messages (its window is closing).
    void abort();

    // One read request of one (tp = 0) or two registers (tp != 0, first register
    // high). Returns the value in decimal digits, or "0" when the exchange failed.
    QString para_call(quint8 tp, quint8 CMD_H, quint8 CMD_L);
    // One write request of one register. True when the module confirmed it.
    bool para_set(quint8 CMD_H, quint8 CMD_L, qint32 fshu);

    qint16 exchangeState() const { return m_state; }
    qint16 failureCount() const { return m_failures; }
    void setFailureCount(qint16 n) { m_failures = n; }
    const QByteArray &sendBuffer() const { return m_send; }
    const QByteArray &receiveBuffer() const { return m_receive; }

    // Whether the last exchange failed; a caller that marks failed cells needs
    // it, since a failed read and a true zero both read "0".
    bool lastExchangeFailed() const { return m_state != Valid; }

    QSerialPort MSComm1;
    QTimer Timer1;

signals:
    // Emitted when a request frame has been handed to the port (for tests and
    // benchmarks that time the exchange).
    void requestSent(const QByteArray &frame);

private:
    void openPort();
    void closePort();
    void exchange(const QByteArray &frame);
    void finish(qint16 state);
    void countFailure();

    void MSComm1_OnComm();
    void Timer1_Timer();
    void onPortError(QSerialPort::SerialPortError error);

    ArgArray m_args;
    QByteArray m_send;
    QByteArray m_receive;
    qint16 m_state = Valid;
    qint16 m_failures = 0;
    bool m_waiting = false;
    bool m_busy = false;
    bool m_aborted = false;
    bool m_continueQuestion = false;
    QString m_portError;
    QString m_portLabel;
    QEventLoop *m_loop = nullptr;
    Messenger m_messenger;
};

} // namespace hv52
