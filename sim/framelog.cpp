#include "sim/framelog.h"

namespace hv52sim {

void FrameLog::add(const Frame &f)
{
    {
        std::lock_guard<std::mutex> lk(m_mu);
        m_log.push_back(f);
        if (m_capacity > 0 && m_log.size() > m_capacity)
            m_log.pop_front();
        if (f.fromMaster)
            ++m_requests;
    }
    m_changed.notify_all();
}

std::vector<Frame> FrameLog::frames() const
{
    std::lock_guard<std::mutex> lk(m_mu);
    return std::vector<Frame>(m_log.begin(), m_log.end());
}

void FrameLog::clear()
{
    std::lock_guard<std::mutex> lk(m_mu);
    m_log.clear();
    m_requests = 0;
}

void FrameLog::setCapacity(size_t maxFrames)
{
    std::lock_guard<std::mutex> lk(m_mu);
    m_capacity = maxFrames;
    while (maxFrames > 0 && m_log.size() > maxFrames)
        m_log.pop_front();
}

size_t FrameLog::requests() const
{
    std::lock_guard<std::mutex> lk(m_mu);
    return m_requests;
}

bool FrameLog::waitForRequests(size_t n, int timeoutMs) const
{
    std::unique_lock<std::mutex> lk(m_mu);
    return m_changed.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return m_requests >= n; });
}

} // namespace hv52sim
