#pragma once
#include <QByteArray>
#include <QtGlobal>
#include <exception>
#include <functional>

namespace hv52 {

// The read sent ahead in a fixed series of reads (a poll): the caller names
// the read it makes next, and once the answer before it is whole and valid,
// that read goes out before the answer is handed back, shown and recorded;
// the module turns round meanwhile. This holds the named read, the one on
// its way and what happened to it; the link sends and awaits.
class ReadAhead
{
public:
    using GoOn = std::function<bool(quint32 value)>;
    struct Read
    {
        quint16 reg = 0;
        bool pair = false;
    };

    // The read made next; holds for the next read only.
    void name(quint16 reg, bool pair, GoOn goOn = {});
    void forget()
    {
        m_named = false;
        m_goOn = {};
    }
    bool named() const { return m_named; }

    // Takes the named read to send it now, after an answer carrying `value`,
    // when the line allows (`lineAllows`: healthy throughout the operation,
    // the application's events not due) and its go-on agrees. The named
    // read is gone either way.
    bool take(quint32 value, bool lineAllows, Read *read);

    // A read is on its way; its answer is not taken yet.
    void sent(const Read &read);
    // It could not be sent after all: the line brought more than asked.
    void unsent() { m_inFlight = false; }
    // Sending it failed: the read that claims it reports why.
    void failed(std::exception_ptr why) { m_failure = std::move(why); }
    bool inFlight() const { return m_inFlight; }
    bool failedToSend() const { return bool(m_failure); }
    bool isFor(quint16 reg, bool pair) const { return m_inFlight && m_read.reg == reg && m_read.pair == pair; }
    // The read that claims it: no longer in flight; rethrows why sending
    // it failed.
    void claim();
    // The operation ended without claiming it: true when it was in flight
    // (it went out, and is shown as ended before its answer was taken).
    bool drop();
    // Bytes found before it went out, shown after the exchange they followed.
    void keepStray(const QByteArray &bytes) { m_stray = bytes; }
    QByteArray takeStray();
    // A new operation: nothing named, nothing in flight.
    void reset();

private:
    bool m_named = false;
    Read m_next;
    GoOn m_goOn;
    bool m_inFlight = false;
    Read m_read;
    std::exception_ptr m_failure;
    QByteArray m_stray;
};

} // namespace hv52
