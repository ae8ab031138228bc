#include "sim/pacing.h"

#include <algorithm>
#include <cstdint>

namespace hv52sim {

using namespace std::chrono_literals;

void Pacing::set(int baud, int turnaroundUs)
{
    m_baud = std::max(0, baud);
    m_turnaroundUs = std::max(0, turnaroundUs);
}

Pacing::Clock::duration Pacing::silence() const
{
    Clock::duration d = 1750us;
    if (m_baud > 0)
        d = std::max(d, Clock::duration(std::chrono::nanoseconds(35000000000LL / m_baud)));
    return d;
}

Pacing::Clock::time_point Pacing::due(Clock::time_point from, size_t requestSize, size_t answerSize) const
{
    if (m_baud <= 0)
        return from;
    double bits = (double(requestSize) + 3.5 + double(answerSize) + 3.5) * 10.0;
    return from + std::chrono::nanoseconds(int64_t(bits * 1e9 / m_baud)) + std::chrono::microseconds(m_turnaroundUs);
}

} // namespace hv52sim
