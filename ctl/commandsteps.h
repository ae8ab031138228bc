#pragma once
// The steps of hv52ctl's commands that belong to its command line: the words
// a command takes, one meter's write with its report printed, a line's run
// printed meter by meter.
#include "ctl.h"
#include "options.h"

#include "meterrun.h"
#include "steps.h"

namespace hv52ctl {

// UsageError unless the command has `count` words: "read 的参数不足：用法 hv52ctl USAGE，请求未发送。"
void expectWords(const Options &o, int count, const QString &usage);
// After one meter's apply, set or reset: what was never reached says why,
// the report's texts are filled in, every value not done has its line on
// stderr, and the report goes to stdout (as JSON with `json`). Returns the
// exit status.
int finishReport(Session &s, const hv52::ModuleDef &def, hv52::WriteReport &report, int status, bool readBack,
                 bool json);
// One meter's apply or set: the planned settings written and read back in a
// session of their own, then the report. `confirmed` runs once every value
// was written and read back alike, before the report.
int writePlanned(const Options &o, const hv52::ModuleDef &def, const QString &command, const QVector<Planned> &planned,
                 const std::function<void()> &confirmed = {});

// "调试记录已保存到 FILE。" (`what` names the record) on standard output, or
// on standard error when that carries the JSON report or is gone.
void sayRecordSaved(const Options &o, const QString &what);

// Runs the plan meter after meter on the line of `o`. A meter that fails
// does not stop the run; a signal does, after the analog group in progress.
// Prints a line a meter and a summary (or the run's JSON report), writes
// --record. Exit status: Done only when every meter is done and verified.
int runMeters(const Options &o, const RunPlan &plan);

} // namespace hv52ctl
