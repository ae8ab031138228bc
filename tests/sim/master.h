// Shared by the simulator tests: request builders, and a started simulator
// with the tool's end of its pseudo-terminal open as a raw fd.
#pragma once

#include "sim/simulator.h"

#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <initializer_list>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

using Bytes = std::vector<uint8_t>;
namespace regs = hv52sim::regs;

inline Bytes withCrc(Bytes b)
{
    hv52sim::Simulator::appendCrc(b);
    return b;
}

inline Bytes cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes header(uint8_t addr, uint8_t fn, uint16_t reg, uint16_t count)
{
    return withCrc({addr, fn, uint8_t(reg >> 8), uint8_t(reg), uint8_t(count >> 8), uint8_t(count)});
}

inline Bytes readRequest(uint8_t addr, uint16_t reg, uint16_t count)
{
    return header(addr, 3, reg, count);
}

inline Bytes writeRequest(uint8_t addr, uint16_t reg, std::initializer_list<uint16_t> values)
{
    Bytes b{addr, 16, uint8_t(reg >> 8), uint8_t(reg), 0, uint8_t(values.size()), uint8_t(2 * values.size())};
    for (uint16_t v : values)
        b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    return withCrc(b);
}

// A successful write is answered with the request's first six bytes.
inline Bytes writeAnswer(uint8_t addr, uint16_t reg, uint16_t count)
{
    return header(addr, 16, reg, count);
}

inline Bytes exceptionAnswer(uint8_t fn, uint8_t code, uint8_t addr = 1)
{
    return withCrc({addr, uint8_t(fn | 0x80), code});
}

// Reading input 1's count, 70000, and the answer: 00 01 11 70, high half first.
const Bytes kRequest{0x01, 0x03, 0x0E, 0x40, 0x00, 0x02, 0xC7, 0x37};
const Bytes kAnswer{0x01, 0x03, 0x04, 0x00, 0x01, 0x11, 0x70, 0xA6, 0x47};

// The tool's end of the line: the link opened as a raw, non-blocking fd.
class Port
{
public:
    explicit Port(const std::string &path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        termios t;
        if (fd >= 0 && tcgetattr(fd, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~Port() { ::close(fd); }
    bool send(const Bytes &b) { return ::write(fd, b.data(), b.size()) == ssize_t(b.size()); }
    // Sets the line speed as a serial library does (a termios code: B9600, ...).
    bool setSpeed(speed_t code)
    {
        termios t;
        return tcgetattr(fd, &t) == 0 && cfsetispeed(&t, code) == 0 && cfsetospeed(&t, code) == 0
               && tcsetattr(fd, TCSANOW, &t) == 0;
    }
    // Reads until n bytes have come; the timeout only keeps a broken
    // simulator from hanging the test.
    Bytes read(size_t n)
    {
        Bytes out(n);
        size_t got = 0;
        for (pollfd p{fd, POLLIN, 0}; got<n && ::poll(&p, 1, 3000)> 0;) {
            const ssize_t r = ::read(fd, out.data() + got, n - got);
            if (r > 0)
                got += size_t(r);
            else if (r == 0 || errno != EAGAIN)
                break;
        }
        out.resize(got);
        return out;
    }
    Bytes transact(const Bytes &request, size_t answerSize) { return send(request) ? read(answerSize) : Bytes{}; }

    const int fd;
};

// A started simulator (input 1's count set to 70000) with its link open.
// Destroyed port first, then the simulator (removing the link), then the dir.
struct Rig
{
    explicit Rig(hv52sim::Module m = hv52sim::Module::T516) : sim(m)
    {
        sim.setRegister32(regs::inputCount(0), 70000);
        if (sim.start(dir.path().toStdString(), 1, &error))
            port = std::make_unique<Port>(sim.linkPath());
    }
    bool ok() const { return port && port->fd >= 0; }

    QTemporaryDir dir;
    hv52sim::Simulator sim;
    std::string error;
    std::unique_ptr<Port> port;
};

} // namespace simtest

// A Rig named `name`, checked to have started.
#define RIG(name, ...)                                                                                                 \
    simtest::Rig name{__VA_ARGS__};                                                                                    \
    QVERIFY2(name.ok(), name.error.c_str())

Q_DECLARE_METATYPE(simtest::Bytes)

// QCOMPARE prints mismatching byte vectors in hex.
namespace QTest {
template <>
inline char *toString(const std::vector<uint8_t> &b)
{
    return qstrdup(hv52sim::Simulator::hex(b).c_str());
}
} // namespace QTest
