// Master side for the simulator tests: the tool's end of the pseudo-terminal,
// opened through the link as a raw termios fd, plus request builders.
#pragma once

#include "sim/simulator.h"

#include <QTest>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes withCrc(Bytes b)
{
    hv52sim::Simulator::appendCrc(b);
    return b;
}

inline Bytes readRequest(uint8_t addr, uint16_t reg, uint16_t count)
{
    return withCrc({addr, 3, uint8_t(reg >> 8), uint8_t(reg), uint8_t(count >> 8), uint8_t(count)});
}

inline Bytes writeRequest(uint8_t addr, uint16_t reg, std::initializer_list<uint16_t> values)
{
    Bytes b{addr, 16, uint8_t(reg >> 8), uint8_t(reg), 0, uint8_t(values.size()),
            uint8_t(2 * values.size())};
    for (uint16_t v : values) {
        b.push_back(uint8_t(v >> 8));
        b.push_back(uint8_t(v));
    }
    return withCrc(b);
}

// The answer the module gives to a successful write: the request's header.
inline Bytes writeAnswer(uint8_t addr, uint16_t reg, uint16_t count)
{
    return withCrc({addr, 16, uint8_t(reg >> 8), uint8_t(reg), uint8_t(count >> 8), uint8_t(count)});
}

inline Bytes exceptionAnswer(uint8_t addr, uint8_t fn, uint8_t code)
{
    return withCrc({addr, uint8_t(fn | 0x80), code});
}

// A temporary directory for the links, removed with what is left in it.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/hv52simtest.XXXXXX";
        if (mkdtemp(tmpl)) path_ = tmpl;
    }
    ~TempDir()
    {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class Port {
public:
    explicit Port(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        termios t;
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
        tcflush(fd_, TCIOFLUSH);
    }
    ~Port() { close(); }
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool send(const Bytes& b) { return ::write(fd_, b.data(), b.size()) == ssize_t(b.size()); }

    // Reads until n bytes have come. The timeout only keeps a broken
    // simulator from hanging the test; results never depend on it.
    Bytes read(size_t n, int timeoutMs = 3000)
    {
        Bytes out;
        uint8_t buf[512];
        while (out.size() < n) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) break;
            ssize_t got = ::read(fd_, buf, std::min(sizeof buf, n - out.size()));
            if (got <= 0) {
                if (got < 0 && errno == EAGAIN) continue;
                break;
            }
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    // Whatever is already waiting, without blocking.
    Bytes readAvailable()
    {
        Bytes out;
        uint8_t buf[512];
        for (;;) {
            ssize_t got = ::read(fd_, buf, sizeof buf);
            if (got <= 0) break;
            out.insert(out.end(), buf, buf + got);
        }
        return out;
    }

    Bytes transact(const Bytes& request, size_t answerSize)
    {
        if (!send(request)) return {};
        return read(answerSize);
    }

private:
    int fd_ = -1;
};

// A started simulator with the master side open on its link. Members are
// destroyed port first, then the simulator (removing the link), then the dir.
struct Rig {
    explicit Rig(hv52sim::Module m = hv52sim::Module::T516, uint8_t address = 1) : sim(m, address)
    {
        if (sim.start(dir.path(), 1, &error)) port.reset(new Port(sim.linkPath()));
    }
    bool ok() const { return port && port->isOpen(); }

    TempDir dir;
    hv52sim::Simulator sim;
    std::string error;
    std::unique_ptr<Port> port;
};

}  // namespace simtest

// QCOMPARE prints mismatching byte vectors in hex.
namespace QTest {
template <>
inline char* toString(const std::vector<uint8_t>& b)
{
    return qstrdup(hv52sim::Simulator::hex(b).c_str());
}
}  // namespace QTest
