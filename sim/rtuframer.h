// Cuts the bytes a module hears on its serial line into RTU frames: function
// 3 and 16 frames by their length, as soon as they are whole; any other, and
// anything broken, by the silence that follows it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hv52sim {

class RtuFramer
{
public:
    using Clock = std::chrono::steady_clock;

    // Bytes read at `at`; heard: they came at the module's own speed.
    void add(const uint8_t *data, size_t size, Clock::time_point at, bool heard);
    bool empty() const { return m_buf.empty(); }
    // When the last byte came, the time the frames taken now carry.
    Clock::time_point lastByte() const { return m_lastByte; }
    // Whether every byte of what is pending came at the module's speed.
    bool heard() const { return !m_misheard; }

    // The next whole function 3/16 frame at the front; empty when none is.
    std::vector<uint8_t> takeFramed();
    // All that is pending, once silence has ended it; *unfinished: it starts
    // like a function 3/16 frame that never came whole.
    std::vector<uint8_t> takeAll(bool *unfinished);
    // Time spent answering was no silence for what is still pending.
    void restartSilence(Clock::time_point now);

    // Length of the function 3/16 frame at the start of buf, 0 while not yet
    // known or when only silence can end it.
    static size_t framedLength(const std::vector<uint8_t> &buf);

private:
    std::vector<uint8_t> m_buf;
    bool m_misheard = false; // some byte in m_buf came at another speed
    Clock::time_point m_lastByte{};
};

} // namespace hv52sim
