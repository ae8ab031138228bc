// The steps of hv52ctl's commands that belong to its command line: the
// words a command takes, one meter's write with its report printed, a line's
// run printed meter by meter with its record written.
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"

#include <algorithm>

namespace hv52ctl {

using namespace hv52;

void expectWords(const Options &o, int count, const QString &usage)
{
    if (o.words.size() != count) {
        throw UsageError(
            QStringLiteral("%1 的参数%2：用法 hv52ctl %3，请求未发送。")
                .arg(o.command, o.words.size() < count ? QStringLiteral("不足") : QStringLiteral("过多"), usage));
    }
}

int writePlanned(const Options &o, const ModuleDef &def, const QString &command, const QVector<Planned> &planned,
                 const std::function<void()> &confirmed)
{
    WriteReport report = plannedReport(def, command, planned);
    Session s(o.line, o.command, o.address, ConsoleOutput::standard());
    const int status = s.run([&] {
        writeAndVerify(s, def, planned, report, printErr);
        return Done;
    });
    if (status == NoPort)
        return NoPort;
    if (confirmed && report.allDone() && status == Done)
        confirmed();
    return finishReport(s, def, report, status, true, o.json);
}

int finishReport(Session &s, const ModuleDef &def, WriteReport &report, int status, bool readBack, bool json)
{
    // An output that failed after the work is said once, by run().
    if (report.stopped.isEmpty() && s.interrupted() && !Interrupt::outputLost())
        report.stopped = Interrupt::text();
    const QString why = !report.stopped.isEmpty()  ? report.stopped
                        : !s.lastError().isEmpty() ? s.lastError(true)
                        : status != Done           ? QStringLiteral("操作中止")
                                                   : QString();
    for (WrittenValue &v : report.values) {
        if (v.outcome == WrittenValue::Outcome::Acknowledged && readBack) {
            v.outcome = WrittenValue::Outcome::ReadBackFailed;
            v.reason = QStringLiteral("%1，未读回").arg(why);
        } else if (v.outcome == WrittenValue::Outcome::NotSent && v.reason.isEmpty()) {
            v.reason = QStringLiteral("%1，未发送").arg(why);
        }
    }
    describeValues(def, report);
    for (const WrittenValue &v : report.values) {
        if (v.outcome == WrittenValue::Outcome::Mismatch)
            printErr(QStringLiteral("%1 读回值与写入值不符：写入 %2，读回 %3。")
                         .arg(v.caption, v.writtenText, v.readBackText));
    }
    if (!report.stopped.isEmpty()) {
        const int written = int(std::count_if(report.values.begin(), report.values.end(), [](const WrittenValue &v) {
            return v.outcome != WrittenValue::Outcome::NotSent && v.outcome != WrittenValue::Outcome::WriteFailed;
        }));
        printErr(QStringLiteral("%1：写入到一半的模拟量输出已写完，此后未再写入；已写入 %2 个值，%3 个未发送。")
                     .arg(report.stopped)
                     .arg(written)
                     .arg(report.count(WrittenValue::Outcome::NotSent)));
        if (report.stopped == u"模块无应答")
            printErr(s.silenceHint());
    }
    if (json) {
        printOut(report.json());
    } else {
        if (!report.stopped.isEmpty())
            printOut(report.table());
        printOut(report.summary() + u'\n');
    }
    return report.allDone() && status == Done ? Done : (status == NoPort ? NoPort : Failed);
}

int runMeters(const Options &options, const RunPlan &plan)
{
    if (!options.record.isEmpty())
        checkRecordFile(options.record, plan.inputs);
    const Options &o = options;
    const LineResult run =
        runLine(o.line, plan, commissionMeter, ConsoleOutput::standard(), [&o](const MeterRecord &m) {
            if (!o.json)
                printOut(meterLine(m));
        });
    const RunRecord &record = run.record;
    const QString &portFailure = run.portFailure;
    const bool cut = Interrupt::arrived(); // not a summary that could not be printed
    if (o.json)
        printOut(QString::fromUtf8(recordJson(record)));
    else
        printOut(record.summary() + u'\n');
    if (cut)
        printErr(QStringLiteral("%1：调试未完成，其余的表计未进行。").arg(record.stopped));
    else if (!portFailure.isEmpty())
        printErr(QStringLiteral("串口无法打开，调试未完成，其余的表计未进行。"));

    int status = record.allDone() ? Done : Failed;
    if (!run.anyOpened && !portFailure.isEmpty())
        status = NoPort;
    if (!o.record.isEmpty()) {
        QString error;
        if (!writeRecord(o.record, record, &error)) {
            printErr(error);
            return status == Done ? Failed : status;
        }
        sayRecordSaved(o, QStringLiteral("调试记录"));
    }
    return status;
}

void sayRecordSaved(const Options &o, const QString &what)
{
    const QString saved = QStringLiteral("%1已保存到 %2。").arg(what, o.record);
    // Standard output carries the JSON report, or is gone.
    if (o.json || Interrupt::outputLost())
        printErr(saved);
    else
        printOut(saved + u'\n');
}

} // namespace hv52ctl
