#pragma once
// The steps the commands share: a poll as values, writing settings and
// reading them back, and running a list of meters one after the other.
#include "input.h"
#include "options.h"
#include "session.h"

#include "report.h"
#include "values.h"

#include <QHash>
#include <QString>
#include <QVector>
#include <functional>

namespace hv52ctl {

using Say = std::function<void(const QString &)>;

void expectWords(const Options &o, int count, const QString &usage);
QString failureLine(const hv52::Value &v);
QString registerHex(quint16 reg);
// Why a command stopped before its end: a signal, or a module that answers nothing.
QString stopReason(const Session &s);

// The whole poll of a meter on the open link, as values: a read that failed
// or was never reached carries its reason. `stopped` receives the link's
// error that ended the poll, if any, worded for the session; `readings` what was read.
QVector<hv52::Value> pollValues(Session &s, const hv52::ModuleDef &def, QString *stopped,
                                QVector<hv52::Reading> *readings = nullptr);

// The texts of a report's values, each limit in the unit of its own source.
void describeValues(const hv52::ModuleDef &def, hv52::WriteReport &report);
// The report of settings about to be written, every value not sent yet.
hv52::WriteReport plannedReport(const hv52::ModuleDef &def, const QString &command, const QVector<Planned> &planned);
// Inside a run: reads every register about to be written (taking those in
// `known` as read; nothing is written when one of the reads fails), writes
// the settings one whole group after the other, stopping between groups on
// a signal or a dead module (hv52::Aborted), and reads back what was
// written. Every message goes to `say`.
void writeAndVerify(Session &s, const hv52::ModuleDef &def, const QVector<Planned> &planned, hv52::WriteReport &report,
                    const Say &say = printErr, const QHash<quint16, quint16> &known = {});

// --- a list of meters ------------------------------------------------------

// What to do to one meter.
struct MeterPlan
{
    int address = 1;
    const hv52::ModuleDef *def = nullptr;
    bool write = false;                       // settings given (possibly none of them writable)
    QVector<Planned> planned;                 // written, then read back
    const hv52::ResetChoice *reset = nullptr; // sent after the settings, acknowledged
    QString source;                           // where the settings came from, for the messages
};

struct RunPlan
{
    QString command; // "read", "apply", "commission", ...
    QString site, operatorName;
    QVector<MeterPlan> meters;
    // The files the plan was read from (the plan, each settings file, the
    // scan): a record written over one of them would destroy it.
    QStringList inputs;
};

// The same work for every address of --address.
RunPlan sameForEvery(const Options &o, const hv52::ModuleDef &def, const QVector<Planned> &planned,
                     const hv52::ResetChoice *reset = nullptr, bool write = false);
// Runs the plan meter after meter on the line of `o`: for each meter the
// whole poll (before), the settings written and read back, the whole poll
// again (after). A meter that fails does not stop the run; a signal does,
// after the analog group in progress. Prints a line a meter and a summary
// (or the run's JSON report), writes --record. Exit status: Done only when
// every meter is done and verified.
int runMeters(const Options &o, const RunPlan &plan);

int commissionCommand(const Options &o);

} // namespace hv52ctl
