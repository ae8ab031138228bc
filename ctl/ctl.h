#pragma once
// hv52ctl: the module tools' operations from a command line, on the same link
// and module definitions as the windows, and on the runs of lines the line
// window shares. Runs without a display.
#include "runstatus.h"

#include <QString>
#include <QStringList>

namespace hv52run {}

namespace hv52ctl {

// The runs, their steps, plans and records: hv52ctl's own words for them.
// The statuses by name, so that they are hv52ctl's before any other
// namespace's (hv52 has a Failed of its own).
using namespace hv52run;
using hv52run::BadInput;
using hv52run::Done;
using hv52run::Failed;
using hv52run::NoPort;
using hv52run::Status;
using hv52run::UsageError;

// The whole program: arguments as QCoreApplication::arguments() gives them.
// Needs a QCoreApplication. Returns the exit status.
int run(const QStringList &arguments);

// Output: UTF-8, flushed at once so a reader of a pipe sees each line as it
// is printed.
void printOut(const QString &text);
void printErr(const QString &text);

} // namespace hv52ctl
