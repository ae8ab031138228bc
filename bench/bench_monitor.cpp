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
// recording a poll's 27 records, with the window closed and open. Then the
// memory of the open monitor once it holds its 10,000 rows, accessibility on
// (as with a screen reader: every change of the table becomes an event that
// the accessibility layer and its client follow): heap in use and resident
// size after every 50 of 200 more polls, and the growth per poll.
//
//   bench_monitor [polls per kind, default 100] [polls after the cap, default 200]
#include "benchsim.h"
#include "frm_t516.h"
#include "linemonitor.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <unistd.h>
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

// Bytes the heap has handed out and not taken back.
double heapKb()
{
    return double(mallinfo2().uordblks) / 1024.0;
}

// Resident set size.
double rssKb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / 1024.0 : 0;
}

// An accessibility client as a screen reader is one: for every event it asks
// the accessibility layer for the object's interface and what it says.
// A table that gained rows is asked for the new rows' cells and their text.
void followAccessibility(QAccessibleEvent *event)
{
    QAccessibleInterface *iface = event->accessibleInterface();
    if (!iface)
        return;
    (void)iface->text(QAccessible::Name);
    (void)iface->childCount();
    if (event->type() != QAccessible::TableModelChanged)
        return;
    const auto *change = static_cast<QAccessibleTableModelChangeEvent *>(event);
    QAccessibleTableInterface *table = iface->tableInterface();
    if (!table || change->modelChangeType() != QAccessibleTableModelChangeEvent::RowsInserted)
        return;
    for (int row = std::max(0, change->firstRow()); row <= change->lastRow(); ++row) {
        for (int column = 0; column < table->columnCount(); ++column) {
            if (QAccessibleInterface *cell = table->cellAt(row, column))
                (void)cell->text(QAccessible::Name);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int kBlocks = 20;
    // At least one poll per block and kind: fewer would leave no figures.
    const int polls = argc > 1 ? std::max(kBlocks, atoi(argv[1])) : 100;

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

    // The open monitor at its cap, accessibility on: memory over more polls.
    {
        const int after = argc > 2 ? std::max(50, atoi(argv[2])) : 200;
        QAccessible::installUpdateHandler(followAccessibility);
        QAccessible::setActive(true);
        Tool tool(Open, 9600);
        hv52::LineMonitor *monitor = hv52::LineMonitor::of(&tool.window);
        // Up to the cap with the records of real polls, shown as they come.
        while (monitor->log().dropped() == 0) {
            for (const hv52::ExchangeRecord &r : records)
                emit tool.window.link().exchanged(r);
            settle();
        }
        for (int i = 0; i < 20; ++i) // the first polls after the cap settle caches
            tool.poll();
        settle();
        const double heap0 = heapKb(), rss0 = rssKb();
        std::vector<double> ms;
        std::printf("open monitor at its cap of %d rows, accessibility on, %d polls:\n", hv52::LineLog::kCapacity,
                    after);
        std::printf("  %6s %12s %12s %10s\n", "polls", "heap kB", "RSS kB", "poll ms");
        std::printf("  %6d %12.0f %12.0f\n", 0, heap0, rss0);
        for (int i = 1; i <= after; ++i) {
            ms.push_back(tool.poll());
            settle();
            if (i % 50 == 0)
                std::printf("  %6d %12.0f %12.0f %10.2f\n", i, heapKb(), rssKb(), median(ms));
        }
        const double heapGrowth = (heapKb() - heap0) / after, rssGrowth = (rssKb() - rss0) / after;
        std::printf("  growth per poll: heap %.2f kB, RSS %.2f kB (%d rows kept, %lld dropped)\n", heapGrowth,
                    rssGrowth, monitor->log().rowCount(), static_cast<long long>(monitor->log().dropped()));
        if (tool.message != QStringLiteral("召测数据，完成！"))
            status = 1;
        QAccessible::setActive(false);
        QAccessible::installUpdateHandler(nullptr);
    }
    return status;
}
