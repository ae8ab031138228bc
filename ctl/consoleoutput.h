#pragma once
// A run's words on hv52ctl's console: messages on standard error, the step
// on the progress line (a site's line: its status row).
#include "progress.h"

#include "runoutput.h"

namespace hv52ctl {

class ConsoleOutput : public hv52::RunOutput
{
public:
    void message(const QString &text) override;
    void step(int index, const QString &where, const QString &text) override;
    void stepDone() override;

    // The one hv52ctl uses where no other is given.
    static ConsoleOutput &standard();

private:
    Progress m_progress;
};

} // namespace hv52ctl
