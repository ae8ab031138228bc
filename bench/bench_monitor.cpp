// What the line monitor costs a T516 poll through the real window against the
// simulated module on a pseudo-terminal: no monitor at all, the monitor
// recording with its window closed, and its window open showing the rows as
// they arrive. Each kind polls back to back in blocks, the blocks of the
// three kinds taking turns so a drift of the machine touches all alike; the
// open window's paints fall into the polls that follow, as they would for an
// operator pressing 召测 again and again. Median and mean per poll. Without
// pacing the poll is as short as the pseudo-terminal allows, which makes the
// monitor's share as large as it can be; at 115200 bit/s the line takes its
// wire time. Last, the monitor's own share of one exchange without the line:
// recording a poll's 27 records, with the window closed and open.
//
//   bench_monitor [polls per kind, default 100]
#include "benchsim.h"
#include "frm_t516.h"
#include "linemonitor.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

enum Kind {
    Detached,
    Closed,
    Open,
    Kinds
};
const char *const kNames[Kinds] = {"no monitor", "monitor closed", "monitor open"};

struct Tool
{
    frm_T516 window;
    QString message;

    Tool(Kind kind, int baud)
    {
        window.Form_Load(QStringLiteral("1 1 %1").arg(baud));
        window.setMessenger([this](const QString &text, bool) {
            message = text;
            return true;
        });
        // The windows may attach their monitor themselves; "no monitor"
        // takes it off again, so the link has no one to record for.
        hv52::LineMonitor *monitor = hv52::LineMonitor::attach(&window, window.link(), window.module());
        if (kind == Detached)
            delete monitor;
        else if (kind == Open)
            monitor->open();
    }

    double poll()
    {
        QElapsedTimer clock;
        clock.start();
        window.Command1_Click(frm_T516::kReadButton);
        return clock.nsecsElapsed() / 1e6;
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double mean(const std::vector<double> &v)
{
    double sum = 0;
    for (const double x : v)
        sum += x;
    return sum / double(v.size());
}

// Events left over from one block (a pending refresh of the open monitor)
// are handled before the next block's clock starts.
void settle()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2 * hv52::LineMonitorWindow::kRefreshMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(10, atoi(argv[1])) : 100;
    constexpr int kBlocks = 20;

    BenchModule module;
    if (!module.start(64))
        return 1;

    int status = 0;
    for (const int baud : {0, 115200}) {
        module.sim.setPacing(baud);
        Tool detached(Detached, baud > 0 ? baud : 9600), closed(Closed, baud > 0 ? baud : 9600),
            open(Open, baud > 0 ? baud : 9600);
        Tool *tools[Kinds] = {&detached, &closed, &open};
        std::vector<double> ms[Kinds];
        for (int i = 0; i < 3; ++i) { // warm-up: first paints, caches
            for (Tool *tool : tools)
                tool->poll();
        }
        for (int block = 0; block < kBlocks; ++block) {
            // Each kind goes first as often as the others.
            for (int j = 0; j < Kinds; ++j) {
                const int k = (block + j) % Kinds;
                settle();
                for (int i = 0; i < polls / kBlocks; ++i)
                    ms[k].push_back(tools[k]->poll());
            }
        }
        std::printf("%s, %zu polls of 27 reads each:\n", baud > 0 ? "paced at 115200 bit/s" : "unpaced", ms[0].size());
        for (int k = 0; k < Kinds; ++k) {
            std::printf("  %-15s median %8.2f ms  mean %8.2f ms\n", kNames[k], median(ms[k]), mean(ms[k]));
        }
        std::printf("  open / closed: median ratio %.3f, mean ratio %.3f\n", median(ms[Open]) / median(ms[Closed]),
                    mean(ms[Open]) / mean(ms[Closed]));
        std::printf("  closed / none: median ratio %.3f, mean ratio %.3f\n", median(ms[Closed]) / median(ms[Detached]),
                    mean(ms[Closed]) / mean(ms[Detached]));
        for (Tool *tool : tools) {
            if (tool->message != QStringLiteral("召测数据，完成！"))
                status = 1;
        }
        const hv52::LineMonitor *monitor = hv52::LineMonitor::of(&open.window);
        if (!monitor || monitor->monitorWindow() == nullptr)
            status = 1;
    }
    module.sim.setPacing(0);

    // The records of a real poll, fed again and again into a fresh monitor.
    std::vector<hv52::ExchangeRecord> records;
    {
        Tool tool(Closed, 9600);
        hv52::LineMonitor *monitor = hv52::LineMonitor::of(&tool.window);
        QObject::connect(&tool.window.link(), &hv52::Link::exchanged,
                         [&](const hv52::ExchangeRecord &r) { records.push_back(r); });
        tool.poll();
        (void)monitor;
    }
    for (const bool shown : {false, true}) {
        Tool tool(shown ? Open : Closed, 9600);
        hv52::LineMonitor *monitor = hv52::LineMonitor::of(&tool.window);
        constexpr int kRounds = 2000;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < kRounds; ++i) {
            for (const hv52::ExchangeRecord &r : records)
                emit tool.window.link().exchanged(r);
        }
        const double us = clock.nsecsElapsed() / 1e3 / (kRounds * double(records.size()));
        std::printf("recording one exchange, window %s: %.2f us (%d rows kept, %lld dropped)\n",
                    shown ? "open" : "closed", us, monitor->log().rowCount(),
                    static_cast<long long>(monitor->log().dropped()));
    }
    return status;
}
