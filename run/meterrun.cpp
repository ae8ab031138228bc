#include "meterrun.h"
#include "runstatus.h"
#include "siteplan.h"

#include "hv52version.h"

#include <QElapsedTimer>

namespace hv52run {

using namespace hv52;
using Result = MeterRecord::Result;

LineResult runLine(const Line &line, const RunPlan &plan, const MeterAction &action, RunOutput &out,
                   const MeterDone &done)
{
    Session s(line, plan.command, 1, out);
    LineResult run;
    RunRecord &record = run.record;
    record.site = plan.site;
    record.operatorName = plan.operatorName;
    record.line = lineText(line);
    record.speed = line.modbusTcp ? 0 : line.speed;
    record.place = placeOf(line);
    record.timeoutMs = line.timeoutMs;
    record.started = QDateTime::currentDateTime();
    record.tool = QStringLiteral("hv52ctl");
    record.version = QStringLiteral(HV52_VERSION);
    record.command = plan.command;

    const int total = int(plan.meters.size());
    for (int n = 0; n < total; ++n) {
        const MeterPlan &meter = plan.meters[n];
        MeterRecord m;
        m.address = meter.address;
        m.def = meter.def;
        m.started = QDateTime::currentDateTime();
        if (s.interrupted() || !run.portFailure.isEmpty()) {
            // Why the run ended is said once, in its own line.
            if (meter.write) {
                WriteReport report = plannedReport(*meter.def, plan.command, meter.planned);
                closeReport(report, QStringLiteral("未进行"));
                describeValues(*meter.def, report);
                m.writes = report.values;
            }
            record.meters << m;
            continue;
        }
        if (!meter.skip.isEmpty()) {
            m.detail = meter.skip;
            m.failures << meter.skip;
            record.meters << m;
            if (done)
                done(m);
            continue;
        }
        const QString step = QStringLiteral("[%1/%2] 地址 %3（%4）：")
                                 .arg(n + 1)
                                 .arg(total)
                                 .arg(meter.address)
                                 .arg(meter.def->name.toUpper());
        MeterTurn turn{s, meter, m,
                       [&](const QString &text) {
                           m.failures << text;
                           out.message(QStringLiteral("地址 %1：%2").arg(meter.address).arg(text));
                       },
                       [&, n](const QString &text) { out.step(n, step, text); }};
        QElapsedTimer clock;
        clock.start();
        const int status = s.run(line.speed, meter.address, [&] {
            action(turn);
            return Done;
        });
        out.stepDone();
        m.elapsedMs = clock.elapsed();
        if (status == NoPort) {
            run.portFailure = s.lastError().isEmpty() ? QStringLiteral("串口无法打开") : s.lastError(true);
            m.result = Result::NotReached;
            m.failures << run.portFailure;
        } else {
            run.anyOpened = true;
            if (status != Done && m.result == Result::NotReached) {
                // The link's error path (a port lost mid-meter) ended the work.
                m.result = Result::ReadFailed;
                m.detail = s.lastError();
                m.failures << s.lastError();
            } else if (status != Done) {
                m.failures << s.lastError(); // ended while writing: the writes say how far it got
            } else if (m.result == Result::NotReached && m.detail.isEmpty()) {
                // Left by the action with no reason of its own: a signal.
                m.result = Result::Stopped;
                m.detail = Interrupt::text();
            }
        }
        record.meters << m;
        if (done)
            done(m);
    }
    record.finished = QDateTime::currentDateTime();
    if (s.interrupted())
        record.stopped = Interrupt::text();
    else if (!run.portFailure.isEmpty())
        record.stopped = run.portFailure;
    return run;
}

} // namespace hv52run
