#include "session.h"
#include "ctl.h"

#include "linkerror.h"
#include "portname.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
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
        while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
        }
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
    m_portNumber = options.port;
}

Session::~Session()
{
    m_link.reset(); // closes the port before its link disappears
}

bool Session::prepareDevice(QString *error)
{
    if (m_options.device.isEmpty() || m_deviceDir)
        return true;
    const QString path = QFileInfo(m_options.device).absoluteFilePath();
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("无法打开串口设备 %1：设备不存在。").arg(m_options.device);
        return false;
    }
    m_portNumber = 1;
    m_deviceDir = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("hv52ctl-XXXXXX")));
    m_linkPath = QDir(m_deviceDir->path()).filePath(QStringLiteral("com%1").arg(m_portNumber));
    if (!m_deviceDir->isValid() || !QFile::link(path, m_linkPath)) {
        *error = QStringLiteral("无法打开串口设备 %1：无法在临时目录中建立链接。").arg(m_options.device);
        return false;
    }
    qputenv("HV52_SERIAL_DIR", QFile::encodeName(m_deviceDir->path()));
    return true;
}

QString Session::portText(QString text) const
{
    if (m_linkPath.isEmpty())
        return text;
    const QString label = hv52::portLabel(m_portNumber);
    text.replace(QStringLiteral("串口 %1（%2）").arg(label, m_linkPath), QStringLiteral("串口设备 %1").arg(m_options.device));
    text.replace(QStringLiteral("串口 %1").arg(label), QStringLiteral("串口设备 %1").arg(m_options.device));
    return text;
}

void Session::setAddress(int address, int speed)
{
    m_link->setArgs({address, m_portNumber, speed, 0});
}

int Session::run(int speed, int address, const std::function<int()> &work)
{
    QString error;
    if (!prepareDevice(&error)) {
        printErr(error);
        return NoPort;
    }
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
