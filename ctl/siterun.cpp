// Each line's run is the one-line run (runLine) on a link of its own, in a
// thread of its own (atonce.h says why).
#include "siterun.h"
#include "atonce.h"
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "interrupt.h"
#include "lineboard.h"

#include "hv52version.h"

#include <vector>

namespace hv52ctl {

using namespace hv52;

SiteResult runSite(const SitePlan &site, const QString &command, const MeterAction &action, bool quiet)
{
    const int count = int(site.lines.size());
    SiteResult out;
    SiteRecord &record = out.record;
    record.site = site.site;
    record.operatorName = site.operatorName;
    record.tool = QStringLiteral("hv52ctl");
    record.version = QStringLiteral(HV52_VERSION);
    record.command = command;
    record.inputs = site.inputs;
    record.started = QDateTime::currentDateTime();

    LineBoard board(count);
    std::vector<LineResult> results(static_cast<size_t>(count));
    QStringList names;
    for (int i = 0; i < count; ++i) {
        names << lineName(i, site.lines[i].line);
        board.setRow(i, names.last() + QStringLiteral("：等待开始"));
    }
    eachLineAtOnce(board, names, [&](int i) {
        RunPlan plan = site.lines[i].plan;
        plan.command = command;
        LineResult &result = results[size_t(i)];
        result = runLine(site.lines[i].line, plan, action, ConsoleOutput::standard(), [&](const MeterRecord &m) {
            if (!quiet)
                printOut(meterLine(m));
        });
        board.setRow(i, names.at(i) + QStringLiteral("：") + result.record.summary());
    });
    board.close();

    record.finished = QDateTime::currentDateTime();
    for (int i = 0; i < count; ++i) {
        LineResult &r = results[size_t(i)];
        if (!r.portFailure.isEmpty())
            out.portFailures << QStringLiteral("%1：%2").arg(lineName(i, site.lines[i].line), r.portFailure);
        out.anyOpened = out.anyOpened || r.anyOpened;
        record.lines << r.record;
    }
    if (Interrupt::arrived())
        record.stopped = Interrupt::text();
    return out;
}

int siteCommand(const Options &o, const SitePlan &site, const MeterAction &action, const QString &expectedWord)
{
    if (!o.record.isEmpty())
        checkRecordFile(o.record, site.inputs);
    SiteResult run = runSite(site, o.command, action, o.json);
    SiteRecord &record = run.record;
    record.expectedWord = expectedWord;
    const bool cut = Interrupt::arrived();
    const bool audit = record.audit();
    if (o.json) {
        printOut(QString::fromUtf8(siteJson(record)));
    } else {
        QString summary;
        for (int i = 0; i < record.lines.size(); ++i)
            summary += QStringLiteral("%1：%2\n").arg(lineName(i, site.lines[i].line), record.lines[i].summary());
        printOut(summary + record.summary() + u'\n');
    }
    if (cut)
        printErr(QStringLiteral("%1：%2未完成，其余的表计未进行。")
                     .arg(record.stopped, audit ? QStringLiteral("验收") : QStringLiteral("调试")));
    for (const QString &failure : run.portFailures)
        printErr(failure + QStringLiteral("；这条线路未完成，其余的表计未进行。"));

    int status = record.allDone() ? Done : Failed;
    if (!run.anyOpened && run.portFailures.size() == record.lines.size())
        status = NoPort;
    if (!o.record.isEmpty()) {
        QString error;
        if (!writeSiteRecord(o.record, record, &error)) {
            printErr(error);
            return status == Done ? Failed : status;
        }
        sayRecordSaved(o, audit ? QStringLiteral("验收记录") : QStringLiteral("调试记录"));
    }
    return status;
}

} // namespace hv52ctl
