#include "sim/ptyline.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace hv52sim {

using namespace std::chrono_literals;

namespace {

// The speeds a master can choose, with their termios codes: Debian 12's glibc
// reads a terminal's speed only as such a code, and with it a pseudo-terminal
// keeps one speed for both directions, so the output speed is the line's.
const struct
{
    int baud;
    speed_t code;
} kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// The output speed set on a terminal fd, in bit/s; 0 when unknown.
int speedOf(int fd)
{
    termios t;
    if (fd < 0 || tcgetattr(fd, &t) != 0)
        return 0;
    const speed_t code = cfgetospeed(&t);
    for (const auto &s : kSpeeds)
        if (s.code == code)
            return s.baud;
    return 0;
}

timespec toTimespec(PtyLine::Clock::time_point tp)
{
    // libstdc++ and libc++ implement steady_clock with CLOCK_MONOTONIC, so its
    // time points can be handed to clock_nanosleep directly.
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(tp.time_since_epoch()).count();
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

timespec durationTimespec(PtyLine::Clock::duration d)
{
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    if (ns < 0)
        ns = 0;
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    return ts;
}

} // namespace

PtyLine::PtyLine()
{
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

PtyLine::~PtyLine()
{
    if (m_wake[0] >= 0)
        ::close(m_wake[0]);
    if (m_wake[1] >= 0)
        ::close(m_wake[1]);
}

bool PtyLine::open(std::string *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        close();
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return fail("posix_openpt");
    if (grantpt(m_master) != 0)
        return fail("grantpt");
    if (unlockpt(m_master) != 0)
        return fail("unlockpt");
    char name[128];
    if (ptsname_r(m_master, name, sizeof name) != 0)
        return fail("ptsname_r");
    // Without raw mode the line discipline echoes requests and mangles
    // control characters.
    termios t;
    if (tcgetattr(m_master, &t) != 0)
        return fail("tcgetattr");
    cfmakeraw(&t);
    if (tcsetattr(m_master, TCSANOW, &t) != 0)
        return fail("tcsetattr");
    int fl = fcntl(m_master, F_GETFL);
    fcntl(m_master, F_SETFL, fl | O_NONBLOCK);
    // Held open for the whole run: with no slave fd open the master side sees
    // hang-ups, e.g. between a tool's close and its next open. It also keeps
    // the slave's settings alive, so the speed a tool sets can be read here.
    m_heldSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_heldSlave < 0)
        return fail(name);
    if (tcgetattr(m_heldSlave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(m_heldSlave, TCSANOW, &t);
    }
    std::lock_guard<std::mutex> lk(m_deviceMu);
    m_device = name;
    return true;
}

bool PtyLine::createLink(const std::string &dir, const std::string &link, std::string *error)
{
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error)
            *error = "no such directory: " + dir;
        return false;
    }
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            if (error)
                *error = link + " exists and is not a symlink";
            return false;
        }
        ::unlink(link.c_str()); // left behind by a run that did not stop cleanly
    }
    const std::string dev = device();
    if (symlink(dev.c_str(), link.c_str()) != 0) {
        if (error)
            *error = "symlink " + link + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void PtyLine::removeLink(const std::string &link)
{
    const std::string dev = device();
    // Only our own link: another simulator may have taken the name since.
    char target[256];
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = 0;
        if (dev == target)
            ::unlink(link.c_str());
    }
}

void PtyLine::close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_heldSlave >= 0)
        ::close(m_heldSlave);
    m_master = m_heldSlave = -1;
    std::lock_guard<std::mutex> lk(m_deviceMu);
    m_device.clear();
}

std::string PtyLine::device() const
{
    std::lock_guard<std::mutex> lk(m_deviceMu);
    return m_device;
}

int PtyLine::speed() const
{
    return speedOf(m_heldSlave);
}

bool PtyLine::isStandardSpeed(int baud)
{
    for (const auto &s : kSpeeds)
        if (s.baud == baud)
            return true;
    return false;
}

PtyLine::Ready PtyLine::wait(Clock::time_point deadline)
{
    pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    timespec ts = durationTimespec(deadline - Clock::now());
    int r = ppoll(fds, 2, &ts, nullptr);
    if (r < 0 && errno != EINTR)
        return Ready::Failed;
    if (r > 0 && (fds[0].revents & POLLIN))
        return Ready::Data;
    if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR)))
        return Ready::HangUp;
    return Ready::Nothing;
}

long PtyLine::read(uint8_t *data, size_t size)
{
    ssize_t n = ::read(m_master, data, size);
    if (n > 0)
        return long(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        return -1; // EIO: no slave open
    return 0;
}

void PtyLine::write(const std::vector<uint8_t> &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            // Nobody reads the port and its buffer is full: like a real line,
            // what cannot be delivered is lost.
            pollfd p{m_master, POLLOUT, 0};
            if (poll(&p, 1, 100) <= 0)
                break;
        } else {
            break;
        }
    }
}

// Interruptible by stopWaits() while far away, clock_nanosleep and a short
// spin for the last stretch so pacing stays within tens of us.
bool PtyLine::sleepUntil(Clock::time_point deadline)
{
    for (;;) {
        if (m_stop)
            return false;
        Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return true;
        if (left > 3ms) {
            pollfd p{m_wake[0], POLLIN, 0};
            timespec ts = durationTimespec(left - 2ms);
            ppoll(&p, 1, &ts, nullptr);
            continue;
        }
        // Wake-ups come some tens of us late here, so sleep to just short of
        // the deadline and spin the rest.
        if (left > 150us) {
            timespec ts = toTimespec(deadline - 100us);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {}
            continue;
        }
        while (Clock::now() < deadline) {}
        return true;
    }
}

void PtyLine::sharpenTimers()
{
    // Default timer slack (50 us) would blur the pacing deadlines.
    prctl(PR_SET_TIMERSLACK, 1UL);
}

void PtyLine::stopWaits()
{
    m_stop = true;
    char c = 1;
    (void)!::write(m_wake[1], &c, 1);
}

void PtyLine::drainWakeup()
{
    char c;
    while (::read(m_wake[0], &c, 1) > 0) {}
}

} // namespace hv52sim
