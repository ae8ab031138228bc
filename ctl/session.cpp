#include "session.h"
#include "ctl.h"

#include "linkerror.h"
#include "portname.h"

#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace hv52ctl {

namespace {

int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_interrupted = 0;

extern "C" void onSigint(int)
{
    g_interrupted = 1;
    const char byte = 1;
    // Nothing to do about a full pipe: one byte in it already wakes the loop.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}

} // namespace

Interrupt::Interrupt()
{
    // Started with Ctrl-C ignored (a background job of a script): stay so.
    struct sigaction previous = {};
    if (sigaction(SIGINT, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
        return;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe: Ctrl-C keeps its default action
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {}
        emit raised();
    });
    struct sigaction action = {};
    action.sa_handler = onSigint;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C takes the default action: the way out of anything stuck.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

Interrupt &Interrupt::instance()
{
    static Interrupt *interrupt = new Interrupt; // lives as long as the process
    return *interrupt;
}

bool Interrupt::arrived()
{
    return g_interrupted != 0;
}

Session::Session(const Options &options) : m_options(options), m_link(std::make_unique<hv52::Link>())
{
    Interrupt::instance();
    m_link->setResponseTimeout(options.timeoutMs);
    m_link->setDevice(options.device);
    m_portNumber = options.port;
}

Session::~Session()
{
    m_link.reset(); // closes the port before its link disappears
}

QString Session::portText(QString text) const
{
    // The link names a device path where it would name COMn: "串口设备 PATH".
    if (!m_options.device.isEmpty())
        text.replace(QStringLiteral("串口 %1").arg(m_options.device),
                     QStringLiteral("串口设备 %1").arg(m_options.device));
    return text;
}

void Session::setAddress(int address, int speed)
{
    m_link->setArgs({address, m_portNumber, speed, 0});
}

int Session::run(int speed, int address, const std::function<int()> &work)
{
    setAddress(address, speed);
    bool opened = false;
    const auto connection = QObject::connect(m_link.get(), &hv52::Link::portOpened, [&] { opened = true; });
    int status = Done;
    const hv52::RunResult result = m_link->run([&] { status = work(); });
    QObject::disconnect(connection);
    if (!result.error.isEmpty()) {
        printErr(portText(result.error));
        return opened ? Failed : NoPort;
    }
    return status;
}

void Session::stopIfInterrupted() const
{
    if (interrupted())
        throw hv52::Aborted();
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
    QObject::connect(&Interrupt::instance(), &Interrupt::raised, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
}

} // namespace hv52ctl
