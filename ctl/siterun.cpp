// A thread a line: each line's run is the one-line run (runLine) on a link
// of its own, in a thread of its own. The link waits for its answers in
// nested event loops; one loop driving every line would make each wait on
// the one inside it. Threads keep the lines apart by construction, and a
// line's port, its timeouts and its quiet waits stay its own.
#include "siterun.h"
#include "commissionrun.h"
#include "ctl.h"
#include "interrupt.h"
#include "lineboard.h"

#include "hv52version.h"

#include <QEventLoop>
#include <QThread>

#include <memory>
#include <vector>

namespace hv52ctl {

using namespace hv52;

SiteResult runSite(const SitePlan &site, const QString &command, const MeterAction &action, bool quiet)
{
    // The signal handlers and the watch on standard output live in this
    // thread's event loop; each line's loop is woken from there.
    Interrupt::install();
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
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int running = count;
    for (int i = 0; i < count; ++i) {
        const LinePlan &line = site.lines[i];
        const QString name = lineName(i, line.options);
        board.setRow(i, name + QStringLiteral("：等待开始"));
        threads.emplace_back(QThread::create([&, i, name] {
            const LineBoard::Bound bound(board, i, name + u'：');
            RunPlan plan = line.plan;
            plan.command = command;
            results[size_t(i)] = runLine(line.options, plan, action, [&](const MeterRecord &m) {
                if (!quiet)
                    printOut(meterLine(m));
            });
            board.setRow(i, name + QStringLiteral("：") + results[size_t(i)].record.summary());
        }));
        QObject::connect(threads.back().get(), &QThread::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
    }
    for (auto &thread : threads)
        thread->start();
    if (count > 0)
        loop.exec();
    for (auto &thread : threads)
        thread->wait();
    board.close();

    record.finished = QDateTime::currentDateTime();
    for (int i = 0; i < count; ++i) {
        LineResult &r = results[size_t(i)];
        if (!r.portFailure.isEmpty())
            out.portFailures << QStringLiteral("%1：%2").arg(lineName(i, site.lines[i].options), r.portFailure);
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
            summary += QStringLiteral("%1：%2\n").arg(lineName(i, site.lines[i].options), record.lines[i].summary());
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
        const QString saved = QStringLiteral("%1已保存到 %2。")
                                  .arg(audit ? QStringLiteral("验收记录") : QStringLiteral("调试记录"), o.record);
        if (o.json || Interrupt::outputLost())
            printErr(saved);
        else
            printOut(saved + u'\n');
    }
    return status;
}

} // namespace hv52ctl
