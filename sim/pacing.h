// The time a real line takes: when a frame has ended in silence, and when
// an answer could at the earliest be back from a module on a line this fast.
#pragma once

#include <chrono>
#include <cstddef>

namespace hv52sim {

class Pacing
{
public:
    using Clock = std::chrono::steady_clock;

    // baud 0 turns pacing off; negative values count as 0.
    void set(int baud, int turnaroundUs);
    int baud() const { return m_baud; }

    // The silence that ends a frame: 3.5 characters of 10 bits, never below
    // 1.75 ms (the fixed value for fast lines); 1.75 ms with pacing off.
    Clock::duration silence() const;
    // When an answer may leave at the earliest: from, plus the wire time of
    // request and answer, each followed by a 3.5 character gap, plus the
    // turnaround; from itself with pacing off.
    Clock::time_point due(Clock::time_point from, size_t requestSize, size_t answerSize) const;

private:
    int m_baud = 0;
    int m_turnaroundUs = 0;
};

} // namespace hv52sim
