// A hostile gateway on loopback, in front of a simulated module's TCP port
// or on its own: a serial device server that sends each answer again some
// milliseconds later, or a peer that floods each request with frames or
// bytes nobody asked for. It runs in its own thread, so a test may wait on
// the program it serves.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <random>
#include <thread>
#include <vector>

namespace hv52test {

class LineProxy
{
public:
    enum class Mode {
        Repeat,    // every answer from upstream passed on after a serial line's time, and again lo..hi ms later
        FloodMbap, // each request answered by Modbus TCP frames of other transactions, without end
        FloodRaw,  // each request answered by bytes without end
    };

    LineProxy(Mode mode, int upstreamPort = 0, int loMs = 0, int hiMs = 0, unsigned seed = 1)
        : m_mode(mode), m_upstream(upstreamPort), m_lo(loMs), m_hi(hiMs), m_random(seed)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(m_listen, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~LineProxy()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    int port() const { return m_port; }
    // Bytes sent to the program beyond what upstream said, once the
    // connection the program held has ended here: over loopback the program
    // may read bytes, end and be asked about them before send() returns.
    long long extraBytes() const
    {
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (m_serving && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return m_extra;
    }

private:
    using Clock = std::chrono::steady_clock;
    struct Copy
    {
        Clock::time_point at;
        std::vector<char> bytes;
        bool extra;
    };
    static constexpr int kLineMs = 15;

    static int connectTo(int port)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            ::close(fd);
            return -1;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return fd;
    }

    void run()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept(m_listen, nullptr, nullptr);
            if (client < 0)
                continue;
            m_serving = true;
            const int one = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            serve(client);
            ::close(client);
            m_serving = false;
        }
    }

    // One connection of the program, to its end.
    void serve(int client)
    {
        const int up = m_mode == Mode::Repeat ? connectTo(m_upstream) : -1;
        if (m_mode == Mode::Repeat && up < 0)
            return;
        std::deque<Copy> copies;
        std::vector<char> flood;
        uint16_t transaction = 0;
        uint16_t own = 0;
        bool flooding = false;
        char buf[4096];
        while (!m_stop) {
            int waitMs = 20;
            if (!copies.empty())
                waitMs = int(std::max<long long>(
                    0,
                    std::chrono::duration_cast<std::chrono::milliseconds>(copies.front().at - Clock::now()).count()));
            pollfd p[2] = {{client, short(POLLIN | (flooding ? POLLOUT : 0)), 0}, {up, POLLIN, 0}};
            ::poll(p, up >= 0 ? 2 : 1, flooding ? 5 : waitMs);
            if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                if (up >= 0)
                    ::send(up, buf, size_t(n), MSG_NOSIGNAL);
                if (m_mode == Mode::FloodMbap && n >= 2) {
                    own = uint16_t(uint8_t(buf[0]) << 8 | uint8_t(buf[1]));
                    transaction = uint16_t(own + 1);
                }
                flooding = m_mode != Mode::Repeat;
            }
            if (up >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
                const ssize_t n = ::recv(up, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                // As long as a 9600 bit/s line takes to bring it, then the copy.
                const auto first = Clock::now() + std::chrono::milliseconds(kLineMs);
                std::uniform_int_distribution<int> lag(m_lo, m_hi);
                copies.push_back({first, {buf, buf + n}, false});
                copies.push_back({first + std::chrono::milliseconds(lag(m_random)), {buf, buf + n}, true});
                std::stable_sort(copies.begin(), copies.end(),
                                 [](const Copy &a, const Copy &b) { return a.at < b.at; });
            }
            while (!copies.empty() && copies.front().at <= Clock::now()) {
                ::send(client, copies.front().bytes.data(), copies.front().bytes.size(), MSG_NOSIGNAL);
                if (copies.front().extra)
                    m_extra += static_cast<long long>(copies.front().bytes.size());
                copies.pop_front();
            }
            if (flooding && (p[0].revents & POLLOUT)) {
                fill(flood, transaction, own);
                const ssize_t n = ::send(client, flood.data(), flood.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno != EAGAIN)
                    break;
                if (n > 0)
                    m_extra += n;
            }
        }
        if (up >= 0)
            ::close(up);
    }

    // 64 KiB of the flood: whole read answers of other transactions, or bytes.
    void fill(std::vector<char> &flood, uint16_t &transaction, uint16_t own)
    {
        flood.clear();
        while (flood.size() < 65536) {
            if (m_mode == Mode::FloodRaw) {
                flood.push_back(char(m_random() & 0xFF));
                continue;
            }
            if (transaction == own)
                ++transaction; // never the request's own answer
            const uint8_t frame[] = {uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, 0, 5, 1, 3, 2, 0, 7};
            flood.insert(flood.end(), frame, frame + sizeof frame);
            ++transaction;
        }
    }

    Mode m_mode;
    int m_upstream;
    int m_lo;
    int m_hi;
    std::mt19937 m_random;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_extra{0};
    std::atomic<bool> m_serving{false};
    std::thread m_thread;
};

} // namespace hv52test
