// The log of every frame on the line, requests and answers in the order
// they passed. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace hv52sim {

struct Frame
{
    bool fromMaster; // true: request received; false: answer sent
    std::vector<uint8_t> bytes;
    // Request: when its last byte was read. Answer: just before its first
    // byte was written (after any pacing or slow delay).
    std::chrono::steady_clock::time_point time;
};

class FrameLog
{
public:
    void add(const Frame &f);
    std::vector<Frame> frames() const;
    void clear();                       // also resets requests()
    void setCapacity(size_t maxFrames); // oldest dropped beyond; 0 = unlimited
    size_t requests() const;            // requests since clear()
    bool waitForRequests(size_t n, int timeoutMs) const;

private:
    mutable std::mutex m_mu;
    mutable std::condition_variable m_changed;
    std::deque<Frame> m_log;
    size_t m_capacity = 0;
    size_t m_requests = 0;
};

} // namespace hv52sim
