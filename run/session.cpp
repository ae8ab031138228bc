#include "session.h"
#include "hints.h"
#include "runstatus.h"

#include "linkerror.h"
#include "portname.h"

#include <QEventLoop>
#include <QTimer>

namespace hv52run {

Session::Session(const hv52::Line &line, const QString &command, int address, hv52::RunOutput &output)
    : m_line(line), m_command(command), m_address(address), m_output(&output), m_link(std::make_unique<hv52::Link>())
{
    Interrupt::install();
    m_link->setResponseTimeout(line.timeoutMs);
    // No window to repaint: an answer is awaited on the line itself for up
    // to a quarter second before the event loop (and a signal) gets a turn.
    m_link->setEventsEveryMs(250);
    setAddress(address, line.speed);
    QObject::connect(m_link.get(), &hv52::Link::exchanged, [this](const hv52::ExchangeRecord &record) {
        ++m_exchanges;
        m_silentInRow = record.verdict.outcome == hv52::Outcome::Timeout ? m_silentInRow + 1 : 0;
    });
}

Session::~Session()
{
    m_link.reset(); // closes the port before its link disappears
}

QString Session::errorText(const hv52::LinkError &error, bool asClause) const
{
    // A port given by its device path is named as one: "串口设备 PATH".
    hv52::ErrorWording wording;
    wording.portAsDevice = !m_line.device.isEmpty();
    wording.asClause = asClause;
    return error.text(wording);
}

void Session::setAddress(int address, int speed)
{
    hv52::Line line = m_line;
    line.speed = speed;
    line.timeoutMs = m_link->responseTimeout();
    m_link->setLine(hv52::linkSettings(line, address));
}

int Session::run(int speed, int address, const std::function<int()> &work)
{
    setAddress(address, speed);
    bool opened = false;
    const auto connection = QObject::connect(m_link.get(), &hv52::Link::portOpened, [&] { opened = true; });
    int status = Done;
    m_silentInRow = 0;
    m_exchanges = 0;
    const hv52::RunResult result = m_link->run([&] { status = work(); });
    QObject::disconnect(connection);
    if (m_link->repeatLagMs() > 0 && !m_repeatHinted && m_command != u"scan") {
        m_repeatHinted = true;
        m_output->message(repeatHint());
    }
    if (m_link->lateAnswerMs() > 0 && !m_lateHinted && m_command != u"scan") {
        m_lateHinted = true;
        m_output->message(lateHint());
    }
    m_lastError = result.error.isEmpty() ? std::nullopt : result.failure;
    if (m_lastError) {
        m_output->message(lastError());
        return opened ? Failed : NoPort;
    }
    return status;
}

bool Session::mustStop() const
{
    return interrupted() || (m_failFast && moduleDead());
}

void Session::stopIfInterrupted() const
{
    if (mustStop())
        throw hv52::Aborted();
}

void Session::setFailFast(bool on)
{
    m_failFast = on;
    m_silentInRow = 0;
}

QString Session::silenceHint() const
{
    const hv52::LineSettings &line = m_link->line();
    if (m_line.isTcp())
        return hv52::gatewaySilenceHint(line.address, m_link->lineName());
    return hv52::silenceHint(line.address, m_link->portLabel(), line.speed);
}

QString Session::lateHint() const
{
    const int late = m_link->lateAnswerMs();
    const int timeout = m_link->responseTimeout();
    // The lateness heard is a lower bound (the first late answer heard may be
    // an earlier request's): twice that, in whole tenths of a second, and
    // never less than twice the timeout the module already overran.
    const int suggested = std::min(60000, (std::max(2 * late + 100, 2 * timeout) + 99) / 100 * 100);
    if (late < timeout)
        return QStringLiteral("模块应答迟到：收到了前一个请求的应答（在那个请求后 %1 毫秒才到），迟到的应答不作数。"
                              "模块跟不上应答超时 %2 毫秒：请加大%3。")
            .arg(late)
            .arg(timeout)
            .arg(m_output->timeoutAdvice(suggested));
    return QStringLiteral("模块应答迟到：应答在请求后 %1 毫秒以上才到，超过应答超时 %2 毫秒，迟到的应答不作数。"
                          "请加大%3。")
        .arg(late)
        .arg(timeout)
        .arg(m_output->timeoutAdvice(suggested));
}

QString Session::repeatHint() const
{
    return QStringLiteral(
               "线路重复发送应答：同一应答相隔约 %1 毫秒又收到一次，重复的应答不作数，可能因此读错的值已作废。"
               "请检查串口服务器或网关的设置（是否重发数据）与总线上的其他设备。")
        .arg(m_link->repeatLagMs());
}

void Session::pause(int ms)
{
    if (interrupted())
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&Interrupt::install(), &Interrupt::raised, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
}

} // namespace hv52run
