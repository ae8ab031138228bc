#pragma once
// Commissioning a line of meters: each meter polled, written, read back and
// polled again, on the runner of meters (meterrun.h). Used by commission and
// by read, set, reset and apply over a list of addresses.
#include "input.h"
#include "meterrun.h"
#include "options.h"

namespace hv52ctl {

// The same work for every address of --address.
RunPlan sameForEvery(const Options &o, const hv52::ModuleDef &def, const QVector<Planned> &planned,
                     const hv52::ResetChoice *reset = nullptr, bool write = false);

// The whole poll of a meter before anything else (`step` its progress
// text), judged: the record's result is left NotReached only when the
// meter answered as its kind; else Stopped, NoAnswer, ReadFailed or
// Incomplete (its kind probed), each said; an audit says nothing of writes.
void pollBefore(MeterTurn &turn, const QString &step, QVector<hv52::Reading> *readings, bool audit);

// What commissioning does to one meter: the whole poll (before), the
// settings written and read back, the reset sent, the whole poll again
// (after). A meter another kind answers, or whose registers to be written
// could not all be read, is not written.
void commissionMeter(MeterTurn &turn);

// A meter's result line: "地址   7  T516  无应答  用时 3.1 秒".
QString meterLine(const hv52::MeterRecord &m);
// Refuses, before anything is sent, a --record file that could not be
// written or that is one of the run's inputs (under any name).
void checkRecordFile(const QString &file, const QStringList &inputs);

// "调试记录已保存到 FILE。" (`what` names the record) on standard output, or
// on standard error when that carries the JSON report or is gone.
void sayRecordSaved(const Options &o, const QString &what);

// Runs the plan meter after meter on the line of `o`. A meter that fails
// does not stop the run; a signal does, after the analog group in progress.
// Prints a line a meter and a summary (or the run's JSON report), writes
// --record. Exit status: Done only when every meter is done and verified.
int runMeters(const Options &o, const RunPlan &plan);

} // namespace hv52ctl
