#pragma once
// Where a run's own words go while it runs: its messages (a meter's failure,
// a hint about the line, the error that ended a piece of work) and the step
// a meter is at. hv52ctl prints them on its console; the line window shows
// them in its rows and its details pane. Called from the line's own thread.
#include <QString>

namespace hv52 {

class RunOutput
{
public:
    virtual ~RunOutput() = default;
    // A message of its own: "地址 7：…", a hint, an error.
    virtual void message(const QString &text) = 0;
    // Meter `index` of the plan (from 0) is at a step: `where` names it
    // ("[2/30] 地址 7（T516）："), `text` says what is done now.
    virtual void step(int index, const QString &where, const QString &text) = 0;
    // The step is over (before the meter's result is told).
    virtual void stepDone() {}
    // How the operator sets a longer response timeout, for a hint:
    // " --timeout（如 --timeout 2000）" on the command line.
    virtual QString timeoutAdvice(int suggestedMs) const
    {
        return QStringLiteral(" --timeout（如 --timeout %1）").arg(suggestedMs);
    }
};

} // namespace hv52
