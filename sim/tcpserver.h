#pragma once
// The simulated module behind a TCP port on 127.0.0.1, as a serial device
// server (RTU frames passed through) or a Modbus TCP gateway (MBAP framing,
// the unit identifier as the bus address) would present it. Plain C++17 and
// POSIX, one connection at a time.
#include "sim/simulator.h"
#include "sim/tcpframing.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hv52sim {

// What the server does to the next answers (count of them, then none).
enum class TcpFault {
    None,
    Silent, // no answer
    Late,   // the answer held back and sent just before the next request's own
    Drop,   // the first 3 bytes of the answer, then the connection closed
};

class TcpServer
{
public:
    TcpServer(Simulator &sim, TcpFraming framing);
    ~TcpServer(); // stop()
    TcpServer(const TcpServer &) = delete;
    TcpServer &operator=(const TcpServer &) = delete;

    // Listens on 127.0.0.1:port (0: a free port, see port()).
    bool start(int port, std::string *error = nullptr);
    void stop();
    int port() const { return m_port; }

    void setFault(TcpFault fault, int count = 1);
    // Every request as it came in, and every answer as it went out.
    std::vector<std::vector<uint8_t>> requests() const;
    std::vector<std::vector<uint8_t>> answers() const;
    size_t connections() const { return m_connections; }
    void clearLog();
    // Called with each request and answer as they pass ('>' or '<').
    void onFrame(std::function<void(char, const std::vector<uint8_t> &)> callback);

private:
    void serve();
    void serveClient(int fd);
    // Whole frames at the front of buf are answered and removed; false when
    // the connection was closed on purpose.
    bool answerFrames(int fd, std::vector<uint8_t> &buf);
    std::vector<uint8_t> answerOf(const std::vector<uint8_t> &request) const;
    void note(char direction, const std::vector<uint8_t> &bytes);

    Simulator &m_sim;
    TcpFraming m_framing;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_port = 0;
    std::thread m_thread;
    std::atomic<size_t> m_connections{0};
    mutable std::mutex m_mu;
    TcpFault m_fault = TcpFault::None;
    int m_faultCount = 0;
    std::vector<uint8_t> m_held;
    std::vector<std::vector<uint8_t>> m_requests, m_answers;
    std::function<void(char, const std::vector<uint8_t> &)> m_callback;
};

} // namespace hv52sim
