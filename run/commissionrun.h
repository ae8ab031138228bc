#pragma once
// Commissioning a line of meters: each meter polled, written, read back and
// polled again, on the runner of meters (meterrun.h). Used by commission and
// by read, set, reset and apply over a list of addresses.
#include "input.h"
#include "meterrun.h"
#include "runrequest.h"

namespace hv52run {

// The same work for every meter of o.meters (--address 1-30,41).
RunPlan sameForEvery(const RunRequest &o, const hv52::ModuleDef &def, const QVector<Planned> &planned,
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

} // namespace hv52run
