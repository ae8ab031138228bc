#include "readahead.h"

#include <utility>

namespace hv52 {

void ReadAhead::name(quint16 reg, bool pair, GoOn goOn)
{
    m_named = true;
    m_next = {reg, pair};
    m_goOn = std::move(goOn);
}

bool ReadAhead::take(quint32 value, bool lineAllows, Read *read)
{
    if (!m_named)
        return false;
    m_named = false;
    const GoOn goOn = std::exchange(m_goOn, {});
    if (!lineAllows)
        return false;
    if (goOn && !goOn(value))
        return false;
    *read = m_next;
    return true;
}

void ReadAhead::sent(const Read &read)
{
    m_read = read;
    m_inFlight = true;
}

void ReadAhead::claim()
{
    m_inFlight = false;
    if (m_failure)
        std::rethrow_exception(std::exchange(m_failure, nullptr));
}

bool ReadAhead::drop()
{
    forget();
    if (!m_inFlight)
        return false;
    m_inFlight = false;
    return true;
}

QByteArray ReadAhead::takeStray()
{
    return std::exchange(m_stray, {});
}

void ReadAhead::reset()
{
    forget();
    m_inFlight = false;
    m_failure = nullptr;
}

} // namespace hv52
