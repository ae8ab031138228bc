#pragma once
// The steps hv52ctl's commands and the line window share: a poll as values,
// the kind a module answers as, writing settings and reading them back, and
// the report of what became of each value.
#include "input.h"
#include "runrequest.h"
#include "runstatus.h"
#include "session.h"

#include "kinds.h"
#include "report.h"
#include "values.h"

#include <QHash>
#include <QString>
#include <QVector>
#include <functional>

namespace hv52run {

using Say = std::function<void(const QString &)>;

QString failureLine(const hv52::Value &v);
// Why a command stopped before its end: a signal, or a module that answers nothing.
QString stopReason(const Session &s);

// The whole poll of a meter on the open link, as values: a read that failed
// or was never reached carries its reason. `stopped` receives the link's
// error that ended the poll, if any, worded for the session; `readings` what was read.
QVector<hv52::Value> pollValues(Session &s, const hv52::ModuleDef &def, QString *stopped,
                                QVector<hv52::Reading> *readings = nullptr);

// Which kind answers on the open link, named only when every probe agrees:
// the registers of its kind answer and those only the other kinds have are
// refused (exception 02). Null for any other pattern, or a probe undecided.
const hv52::ModuleKind *kindOnLine(hv52::Link &link);

// The texts of a report's values, each limit in the unit of its own source.
void describeValues(const hv52::ModuleDef &def, hv52::WriteReport &report);
// The report of settings about to be written, every value not sent yet.
hv52::WriteReport plannedReport(const hv52::ModuleDef &def, const QString &command, const QVector<Planned> &planned);
// Inside a run: reads every register about to be written (taking those in
// `known` as read; nothing is written when one of the reads fails), writes
// the settings one whole group after the other, stopping between groups on
// a signal or a dead module (hv52::Aborted), and reads back what was
// written. A write that fails ends its group: the rest of it is not sent,
// and the group is read back to report what the module holds. Every
// message goes to `say`.
void writeAndVerify(Session &s, const hv52::ModuleDef &def, const QVector<Planned> &planned, hv52::WriteReport &report,
                    const Say &say, const QHash<quint16, quint16> &known = {});
// What became of the values never sent or never read back (a reset is
// never read back), `why` naming the cause.
void closeReport(hv52::WriteReport &report, const QString &why);

} // namespace hv52run
