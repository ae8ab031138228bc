#include "sim/tcpserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hv52sim {

TcpServer::TcpServer(Simulator &sim, TcpFraming framing) : m_sim(sim), m_framing(framing) {}

TcpServer::~TcpServer()
{
    stop();
}

bool TcpServer::start(int port, std::string *error)
{
    stop();
    const auto failed = [&](const char *what) {
        if (error)
            *error = std::string(what) + ": " + std::strerror(errno);
        if (m_listen >= 0)
            ::close(m_listen);
        m_listen = -1;
        return false;
    };
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0)
        return failed("socket");
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(uint16_t(port));
    if (::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0)
        return failed("bind");
    if (::listen(m_listen, 4) != 0)
        return failed("listen");
    socklen_t len = sizeof addr;
    ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        return failed("pipe");
    m_thread = std::thread([this] { serve(); });
    return true;
}

void TcpServer::stop()
{
    if (m_thread.joinable()) {
        const char c = 0;
        (void)!::write(m_wake[1], &c, 1);
        m_thread.join();
    }
    for (int *fd : {&m_listen, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void TcpServer::setFault(TcpFault fault, int count)
{
    std::lock_guard<std::mutex> lk(m_mu);
    m_fault = fault;
    m_faultCount = count;
}

std::vector<std::vector<uint8_t>> TcpServer::requests() const
{
    std::lock_guard<std::mutex> lk(m_mu);
    return m_requests;
}

std::vector<std::vector<uint8_t>> TcpServer::answers() const
{
    std::lock_guard<std::mutex> lk(m_mu);
    return m_answers;
}

void TcpServer::clearLog()
{
    std::lock_guard<std::mutex> lk(m_mu);
    m_requests.clear();
    m_answers.clear();
}

void TcpServer::onFrame(std::function<void(char, const std::vector<uint8_t> &)> callback)
{
    std::lock_guard<std::mutex> lk(m_mu);
    m_callback = std::move(callback);
}

void TcpServer::note(char direction, const std::vector<uint8_t> &bytes)
{
    std::function<void(char, const std::vector<uint8_t> &)> cb;
    {
        std::lock_guard<std::mutex> lk(m_mu);
        (direction == '>' ? m_requests : m_answers).push_back(bytes);
        cb = m_callback;
    }
    if (cb)
        cb(direction, bytes);
}

void TcpServer::serve()
{
    for (;;) {
        pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        serveClient(fd);
        ::close(fd);
        {
            std::lock_guard<std::mutex> lk(m_mu);
            m_held.clear(); // a held answer belongs to its connection
        }
    }
}

void TcpServer::serveClient(int fd)
{
    std::vector<uint8_t> buf;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        uint8_t chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return; // the master closed the connection
        buf.insert(buf.end(), chunk, chunk + n);
        if (!answerFrames(fd, buf))
            return;
    }
}

namespace {

void sendAll(int fd, const std::vector<uint8_t> &bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        at += size_t(n);
    }
}

} // namespace

std::vector<uint8_t> TcpServer::answerOf(const std::vector<uint8_t> &request) const
{
    if (m_framing == TcpFraming::Rtu)
        return m_sim.handleRequest(request);
    // The gateway's side of the line: the unit identifier as the bus
    // address, the data unit in an RTU frame, and the answer back in MBAP.
    return tcpframe::mbapOfRtu(request, m_sim.handleRequest(tcpframe::rtuOfMbap(request)));
}

bool TcpServer::answerFrames(int fd, std::vector<uint8_t> &buf)
{
    for (;;) {
        const size_t whole = tcpframe::length(m_framing, buf);
        if (whole == 0)
            return true;
        const std::vector<uint8_t> request(buf.begin(), buf.begin() + long(whole));
        buf.erase(buf.begin(), buf.begin() + long(whole));
        note('>', request);
        const std::vector<uint8_t> answer = answerOf(request);
        TcpFault fault;
        std::vector<uint8_t> held;
        {
            std::lock_guard<std::mutex> lk(m_mu);
            fault = m_faultCount != 0 ? m_fault : TcpFault::None;
            if (fault != TcpFault::None && m_faultCount > 0)
                --m_faultCount;
            held.swap(m_held);
        }
        // An answer held back from the previous request goes out first.
        if (!held.empty()) {
            sendAll(fd, held);
            note('<', held);
        }
        if (answer.empty())
            continue;
        switch (fault) {
        case TcpFault::Silent:
            break;
        case TcpFault::Late: {
            std::lock_guard<std::mutex> lk(m_mu);
            m_held = answer;
            break;
        }
        case TcpFault::Drop: {
            const std::vector<uint8_t> part(answer.begin(), answer.begin() + 3);
            sendAll(fd, part);
            note('<', part);
            return false;
        }
        case TcpFault::None:
            sendAll(fd, answer);
            note('<', answer);
            break;
        }
    }
}

} // namespace hv52sim
