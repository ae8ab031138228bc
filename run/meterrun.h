#pragma once
// A line of meters, one after the other: for each meter the port opened at
// its address, an action done to it, its result recorded. A meter that fails
// never stops the others; a signal, or a port that will not open, stops the
// run between two meters, the meters not reached recorded as such.
#include "input.h"
#include "line.h"
#include "recordknowledge.h"
#include "session.h"
#include "steps.h"

#include "record.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace hv52run {

// What to do to one meter.
struct MeterPlan
{
    int address = 1;
    const hv52::ModuleDef *def = nullptr;
    bool write = false;                       // settings given (possibly none of them writable)
    QVector<Planned> planned;                 // written, then read back
    const hv52::ResetChoice *reset = nullptr; // sent after the settings, acknowledged
    QString source;                           // where the settings came from, for the messages
    // Why the meter is left alone (an audit with nothing to compare it
    // with): recorded not reached with this reason, its port not opened.
    QString skip;
    // An audit's settings that cannot be compared, each with the reason.
    QVector<UnknownSetting> unknown;
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

// One meter's turn, as its action gets it: the session with the port open
// at the meter's address, the meter's plan and its record to fill.
struct MeterTurn
{
    Session &session;
    const MeterPlan &plan;
    hv52::MeterRecord &record;
    // A message of this meter: kept in its record, printed on stderr with
    // its address.
    Say say;
    // The progress line: "[2/30] 地址 7（T516）：" and `text`.
    std::function<void(const QString &text)> step;
};
// What is done to each meter. It fills turn.record (its result above all);
// one left NotReached is recorded as stopped. It may throw hv52::Aborted
// (a signal) and hv52::LinkError (the port lost), as Session::run() takes them.
using MeterAction = std::function<void(MeterTurn &turn)>;
// Told each meter's record as soon as its turn is over.
using MeterDone = std::function<void(const hv52::MeterRecord &meter)>;

// A run over one line.
struct LineResult
{
    hv52::RunRecord record; // every meter of the plan, in its order
    QString portFailure;    // why the port could not be opened, when that ended the run
    bool anyOpened = false; // whether the port opened for at least one meter
};

// Runs `action` on every meter of `plan`, one after the other, on `line`.
// The run's words (each meter's messages through MeterTurn::say, its step)
// go to `output`; nothing else is said.
LineResult runLine(const hv52::Line &line, const RunPlan &plan, const MeterAction &action, hv52::RunOutput &output,
                   const MeterDone &done = {});

} // namespace hv52run
