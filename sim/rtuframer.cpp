#include "sim/rtuframer.h"

namespace hv52sim {

void RtuFramer::add(const uint8_t *data, size_t size, Clock::time_point at, bool heard)
{
    m_lastByte = at;
    if (m_buf.empty())
        m_misheard = false;
    if (!heard)
        m_misheard = true;
    m_buf.insert(m_buf.end(), data, data + size);
}

std::vector<uint8_t> RtuFramer::takeFramed()
{
    const size_t len = framedLength(m_buf);
    if (len == 0 || m_buf.size() < len)
        return {};
    std::vector<uint8_t> frame(m_buf.begin(), m_buf.begin() + long(len));
    m_buf.erase(m_buf.begin(), m_buf.begin() + long(len));
    return frame;
}

std::vector<uint8_t> RtuFramer::takeAll(bool *unfinished)
{
    *unfinished = m_buf.size() >= 2 && (m_buf[1] == 3 || m_buf[1] == 16);
    std::vector<uint8_t> all;
    all.swap(m_buf);
    return all;
}

void RtuFramer::restartSilence(Clock::time_point now)
{
    m_lastByte = now;
}

size_t RtuFramer::framedLength(const std::vector<uint8_t> &buf)
{
    if (buf.size() < 2)
        return 0;
    if (buf[1] == 3)
        return 8;
    if (buf[1] == 16)
        return buf.size() < 7 ? 0 : 9u + buf[6];
    return 0;
}

} // namespace hv52sim
