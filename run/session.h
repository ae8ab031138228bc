#pragma once
#include "interrupt.h"
#include "runrequest.h"

#include "link.h"
#include "runoutput.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

namespace hv52run {

// The link of one run: the port of its line (a number, a device path as
// given, a gateway), opened at a speed for a piece of work, and an
// interrupt (a signal, a closed output, the operator's stop) between
// exchanges.
class Session
{
public:
    // A session of a run over `line` (`command` as hv52ctl names it: a scan
    // gives no hints about late or repeated answers), first at `address`.
    // Its messages (hints, the error that ended a piece of work) go to
    // `output`.
    Session(const hv52::Line &line, const QString &command, int address, hv52::RunOutput &output);
    ~Session();

    hv52::Link &link() { return *m_link; }
    // Where the session's words go.
    hv52::RunOutput &output() const { return *m_output; }
    const hv52::Line &line() const { return m_line; }

    // Runs work with the port open at `speed` and the bus address `address`,
    // the port closed on every way out. Returns NoPort when the port did not
    // open, Failed when the link ended the work on its error path (the
    // message printed), else what work returned. Work that sees Ctrl-C
    // throws hv52::Aborted (stopIfInterrupted) and returns Done here.
    int run(int speed, int address, const std::function<int()> &work);
    int run(const std::function<int()> &work) { return run(m_line.speed, m_address, work); }

    bool interrupted() const { return Interrupt::arrived(); }
    // Called between exchanges: ends the work when a signal came, or (with
    // failFast) when the module is dead.
    void stopIfInterrupted() const;
    // Whether stopIfInterrupted() would end the work now: a poll asks before
    // it sends a read ahead.
    bool mustStop() const;

    // A dead module: read, save and apply stop after this many exchanges in a
    // row in which not one byte was heard.
    static constexpr int kDeadAfter = 3;
    // Counts the exchanges that heard nothing, from now on; stopIfInterrupted
    // then also stops the work once kDeadAfter of them came in a row.
    void setFailFast(bool on);
    // A module heard answering late is not dead, only slow.
    bool moduleDead() const { return m_silentInRow >= kDeadAfter && m_link->lateAnswerMs() == 0; }
    // Every exchange of the running work so far heard nothing at all.
    bool nothingHeard() const { return m_exchanges > 0 && m_silentInRow == m_exchanges; }
    // The windows' hint for a module that answers nothing.
    QString silenceHint() const;
    // Printed once after a run in which the module answered late: its
    // lateness, and the --timeout that would cover it.
    QString lateHint() const;
    // Printed once after a run in which the line repeated answers.
    QString repeatHint() const;
    // Waits in the event loop; ends early on Ctrl-C.
    void pause(int ms);

    // The error that ended the last run on the link's error path (the port
    // would not open, or failed), as printed; empty when there was none.
    // As a clause: without its closing "。".
    QString lastError(bool asClause = false) const
    {
        return m_lastError ? errorText(*m_lastError, asClause) : QString();
    }
    // A link error with the port named as the operator gave it.
    QString errorText(const hv52::LinkError &error, bool asClause = false) const;
    // Sets the bus address for the next requests of a running piece of work.
    void setAddress(int address, int speed);

private:
    hv52::Line m_line;
    QString m_command;
    int m_address;
    hv52::RunOutput *m_output;
    std::unique_ptr<hv52::Link> m_link;
    bool m_failFast = false;
    int m_silentInRow = 0;
    int m_exchanges = 0;
    bool m_lateHinted = false;
    bool m_repeatHinted = false;
    std::optional<hv52::LinkError> m_lastError;
};

} // namespace hv52run
