// `hv52ctl commission PLAN` on a line of meters at 9600 bit/s, all on one
// simulated line paced as a real one: the run's time beside the time its
// exchanges take on the wire, per meter, and what a dead meter costs.
//
// Addresses 1..N: every 15th a T540 (recorded only), every 10th a T528 (relay
// commands inline in the plan), the rest T516s (a settings file of relay
// commands and the three analog outputs). The dead line is the same plan with
// no module at 5, 11, 17, 23, 29.
//
// Wire time of an exchange: (request + answer + 7 characters of silence) x 10
// bits / 9600, which is what the simulator's pacing charges before it writes
// the answer whole; an answer's logged time is therefore the end of its slot,
// and anything from there to the next request is the master's own time.
//
//   bench_commission [--meters N] [--dead] [--runs N]
#include "lineplan.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace {

using namespace benchplan;
using hv52sim::Module;

constexpr int kBaud = 9600;
constexpr int kTimeoutMs = 1000;
constexpr double kGoal = 1.15;

double maxOf(const std::vector<double> &v)
{
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

double sumOf(const std::vector<double> &v)
{
    double s = 0;
    for (const double x : v)
        s += x;
    return s;
}

std::set<int> deadAddresses(int meters)
{
    std::set<int> dead;
    for (int a = 5; a <= meters; a += 6)
        dead.insert(a);
    return dead;
}

// The plan and the T516 settings file it names, in dir.
bool writePlan(const QString &dir, int meters, QString *planPath)
{
    const QByteArray plan = QStringLiteral("{\"line\": {\"port\": 1, \"speed\": %1, \"timeout\": %2},\n"
                                           " \"meters\": [\n%3\n ]}\n")
                                .arg(kBaud)
                                .arg(kTimeoutMs)
                                .arg(meterEntries(meters, 2))
                                .toUtf8();
    const QByteArray &t516 = kT516Settings;
    QFile s(QDir(dir).filePath(QStringLiteral("t516.json")));
    QFile p(QDir(dir).filePath(QStringLiteral("plan.json")));
    if (!s.open(QIODevice::WriteOnly) || s.write(t516) != t516.size() || !p.open(QIODevice::WriteOnly)
        || p.write(plan) != plan.size())
        return false;
    *planPath = p.fileName();
    return true;
}

// One meter as the frame log shows it: from its first request to the next
// meter's first request (or, for the last, to the end of the run).
struct MeterSpan
{
    int address = 0;
    Module kind = Module::T516;
    int exchanges = 0;  // requests answered
    int unanswered = 0; // requests that got no answer
    double wireS = 0;   // charged by pacing for its exchanges
    double spanS = 0;
};

struct Run
{
    bool ok = false;
    QString problem;
    double wallS = 0;    // process start to exit
    double startupS = 0; // process start to its first request
    double tailS = 0;    // last frame to exit
    double wireS = 0;
    double paceS = 0;   // answer's logged time past its charge (the simulator's own lateness)
    double silentS = 0; // from unanswered requests to the next one, or to the end
    std::vector<MeterSpan> meters;
    std::vector<double> innerGapsMs;   // an answer to the next request of the same meter
    std::vector<double> betweenGapsMs; // a meter's last answer to the next meter's first request
};

double chargeS(size_t request, size_t answer)
{
    return (double(request) + double(answer) + 7.0) * 10.0 / kBaud;
}

Run runLine(const QString &dir, const QString &plan, int meters, const std::set<int> &dead)
{
    Run run;
    hv52sim::Simulator sim(Module::T516, 1);
    for (int a = 2; a <= meters; ++a) {
        if (!dead.count(a))
            sim.addModule(kindAt(a), uint8_t(a));
    }
    std::string error;
    if (!sim.start(dir.toStdString(), 1, &error)) {
        run.problem = QStringLiteral("simulator: %1").arg(QString::fromStdString(error));
        return run;
    }
    sim.setLogCapacity(0);
    sim.setPacing(kBaud);
    sim.setListenSpeed(kBaud);

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HV52_SERIAL_DIR"), dir);
    p.setProcessEnvironment(env);
    const Clock::time_point start = Clock::now();
    p.start(QStringLiteral(HV52CTL_PROGRAM), {QStringLiteral("commission"), plan});
    const bool finished = p.waitForFinished(meters * 15000 + 60000);
    const Clock::time_point end = Clock::now();
    if (!finished) {
        p.kill();
        p.waitForFinished();
    }
    sim.stop();
    run.wallS = secondsBetween(start, end);
    // Dead meters make the run end as failed; a line without any must end well.
    const bool exitedWell = finished && p.exitStatus() == QProcess::NormalExit && (p.exitCode() == 0 || !dead.empty());
    if (!exitedWell)
        run.problem = QStringLiteral("hv52ctl ended with %1: %2")
                          .arg(finished ? QString::number(p.exitCode()) : QStringLiteral("a timeout"),
                               QString::fromUtf8(p.readAllStandardError()).left(2000));

    const std::vector<hv52sim::Frame> frames = sim.frames();
    if (frames.empty()) {
        run.problem = QStringLiteral("no frames on the line");
        return run;
    }
    run.startupS = secondsBetween(start, frames.front().time);
    run.tailS = secondsBetween(frames.back().time, end);
    std::vector<Clock::time_point> firsts; // each meter's first request
    for (size_t i = 0; i < frames.size(); ++i) {
        const hv52sim::Frame &f = frames[i];
        if (!f.fromMaster || f.bytes.empty())
            continue;
        const int address = f.bytes[0];
        if (run.meters.empty() || run.meters.back().address != address) {
            MeterSpan m;
            m.address = address;
            m.kind = kindAt(address);
            run.meters.push_back(m);
            firsts.push_back(f.time);
            if (i > 0 && !frames[i - 1].fromMaster)
                run.betweenGapsMs.push_back(secondsBetween(frames[i - 1].time, f.time) * 1e3);
        } else if (i > 0 && !frames[i - 1].fromMaster) {
            run.innerGapsMs.push_back(secondsBetween(frames[i - 1].time, f.time) * 1e3);
        }
        MeterSpan &m = run.meters.back();
        if (i + 1 < frames.size() && !frames[i + 1].fromMaster) {
            const double charge = chargeS(f.bytes.size(), frames[i + 1].bytes.size());
            ++m.exchanges;
            m.wireS += charge;
            run.wireS += charge;
            run.paceS += secondsBetween(f.time, frames[i + 1].time) - charge;
        } else {
            ++m.unanswered;
            run.silentS += secondsBetween(f.time, i + 1 < frames.size() ? frames[i + 1].time : end);
        }
    }
    // Spans from one meter's first request to the next's.
    for (size_t k = 0; k < run.meters.size(); ++k)
        run.meters[k].spanS = secondsBetween(firsts[k], k + 1 < firsts.size() ? firsts[k + 1] : end);

    if (run.problem.isEmpty()) {
        std::set<int> seen;
        for (const MeterSpan &m : run.meters) {
            seen.insert(m.address);
            if (!dead.count(m.address) && m.unanswered)
                run.problem = QStringLiteral("address %1 left %2 requests unanswered").arg(m.address).arg(m.unanswered);
            if (dead.count(m.address) && m.exchanges)
                run.problem = QStringLiteral("dead address %1 answered").arg(m.address);
        }
        if (int(seen.size()) != meters || int(run.meters.size()) != meters)
            run.problem = QStringLiteral("%1 meters in the plan, %2 addresses in the log, %3 changes of address")
                              .arg(meters)
                              .arg(seen.size())
                              .arg(run.meters.size());
    }
    run.ok = run.problem.isEmpty();
    return run;
}

// Runs the line `runs` times, reporting progress on stderr.
std::vector<Run> runLines(const QString &dir, const QString &plan, int meters, const std::set<int> &dead, int runs,
                          const char *what, int *status)
{
    std::vector<Run> out;
    for (int i = 0; i < runs; ++i) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s line, run %d of %d ...\n", what, i + 1, runs);
        out.push_back(runLine(dir, plan, meters, dead));
        if (!out.back().ok) {
            std::fprintf(stderr, "%s line, run %d: %s\n", what, i + 1, qPrintable(out.back().problem));
            *status = 1;
        }
    }
    return out;
}

double med(const std::vector<Run> &runs, const std::function<double(const Run &)> &f)
{
    std::vector<double> v;
    for (const Run &r : runs)
        v.push_back(f(r));
    return median(v);
}

std::vector<double> pooled(const std::vector<Run> &runs, std::vector<double> Run::*field)
{
    std::vector<double> v;
    for (const Run &r : runs)
        v.insert(v.end(), (r.*field).begin(), (r.*field).end());
    return v;
}

void printHealthy(const std::vector<Run> &runs, int meters)
{
    const double wall = med(runs, [](const Run &r) { return r.wallS; });
    const double wire = med(runs, [](const Run &r) { return r.wireS; });
    const double exchanges = med(runs, [](const Run &r) {
        double n = 0;
        for (const MeterSpan &m : r.meters)
            n += m.exchanges;
        return n;
    });
    std::printf("\nLine of %d meters, none dead\n", meters);
    std::printf("  %-6s %6s %14s %16s %16s\n", "kind", "meters", "exchanges/m", "wire s/meter", "line s/meter");
    for (const Module kind : {Module::T516, Module::T528, Module::T540}) {
        int count = 0;
        for (int a = 1; a <= meters; ++a)
            count += kindAt(a) == kind;
        if (!count)
            continue;
        auto perMeter = [&](double MeterSpan::*field, bool count_) {
            return med(runs, [&](const Run &r) {
                double s = 0;
                int n = 0;
                for (const MeterSpan &m : r.meters) {
                    if (m.kind == kind) {
                        s += count_ ? double(m.exchanges) : m.*field;
                        ++n;
                    }
                }
                return n ? s / n : 0.0;
            });
        };
        std::printf("  %-6s %6d %14.1f %16.3f %16.3f\n", hv52sim::moduleName(kind), count,
                    perMeter(&MeterSpan::wireS, true), perMeter(&MeterSpan::wireS, false),
                    perMeter(&MeterSpan::spanS, false));
    }
    const double ratio = wire > 0 ? wall / wire : 0;
    std::printf("  exchanges          %8.0f  (%.1f per meter)\n", exchanges, exchanges / meters);
    std::printf("  wall time          %8.2f s  (%.3f s per meter)\n", wall, wall / meters);
    std::printf("  wire time          %8.2f s  (%.3f s per meter)\n", wire, wire / meters);
    std::printf("  wall / wire        %8.3f    (goal <= %.2f: %s)\n", ratio, kGoal, ratio <= kGoal ? "met" : "NOT met");

    const std::vector<double> inner = pooled(runs, &Run::innerGapsMs);
    const std::vector<double> between = pooled(runs, &Run::betweenGapsMs);
    if (ratio <= kGoal) {
        std::printf("  answer to next request, same meter: median %.2f ms, max %.2f ms\n", median(inner), maxOf(inner));
        std::printf("  last answer to the next meter's:    median %.2f ms, max %.2f ms\n", median(between),
                    maxOf(between));
        return;
    }
    // Where the time beyond the wire went, split so the parts add up to the wall time.
    const double startup = med(runs, [](const Run &r) { return r.startupS; });
    const double tail = med(runs, [](const Run &r) { return r.tailS; });
    const double pace = med(runs, [](const Run &r) { return r.paceS; });
    const double silent = med(runs, [](const Run &r) { return r.silentS; });
    const double innerSum = med(runs, [](const Run &r) { return sumOf(r.innerGapsMs) / 1e3; });
    const double betweenSum = med(runs, [](const Run &r) { return sumOf(r.betweenGapsMs) / 1e3; });
    std::printf("  beyond the wire: %.2f s (%.3f s per meter)\n", wall - wire, (wall - wire) / meters);
    auto part = [&](const char *what, double s) {
        std::printf("    %-44s %7.2f s  %5.1f%% of wall\n", what, s, 100 * s / wall);
    };
    part("process start to the first request", startup);
    part("answer to next request, same meter", innerSum);
    part("last answer to the next meter's request", betweenSum);
    part("unanswered requests (timeouts)", silent);
    part("simulator's pacing past its charge", pace);
    part("last frame to process exit", tail);
    std::printf("    answer to next request, same meter:   median %.2f ms, max %.2f ms (%zu gaps)\n", median(inner),
                maxOf(inner), inner.size() / runs.size());
    std::printf("    between meters:                       median %.2f ms, max %.2f ms (%zu gaps)\n", median(between),
                maxOf(between), between.size() / runs.size());
}

// The run's time less the spans of the given addresses: the live meters' share,
// with the start and the end of the run.
double liveShare(const Run &r, const std::set<int> &dead)
{
    double s = r.wallS;
    for (const MeterSpan &m : r.meters)
        s -= dead.count(m.address) ? m.spanS : 0;
    return s;
}

void printDead(const std::vector<Run> &runs, int meters, const std::set<int> &dead, double healthyPerMeter)
{
    const int live = meters - int(dead.size());
    const double wall = med(runs, [](const Run &r) { return r.wallS; });
    std::printf("\nSame line, %zu dead meter%s (no module at", dead.size(), dead.size() == 1 ? "" : "s");
    for (const int a : dead)
        std::printf(" %d", a);
    std::printf("), response timeout %d ms\n", kTimeoutMs);
    const double deadSum = med(runs, [&](const Run &r) { return r.wallS - liveShare(r, dead); });
    std::printf("  wall time          %8.2f s\n", wall);
    std::printf("  per live meter     %8.3f s  (%d live)",
                med(runs, [&](const Run &r) { return liveShare(r, dead); }) / live, live);
    if (healthyPerMeter > 0)
        std::printf("  beside %.3f s for the same meters with none dead", healthyPerMeter);
    std::printf("\n");
    std::printf("  %-8s %10s %10s %14s %18s\n", "dead at", "cost s", "requests", "3 x timeout s", "rest (quiet) s");
    for (const int a : dead) {
        auto of = [&](const std::function<double(const MeterSpan &)> &f) {
            return med(runs, [&](const Run &r) {
                for (const MeterSpan &m : r.meters) {
                    if (m.address == a)
                        return f(m);
                }
                return 0.0;
            });
        };
        const double cost = of([](const MeterSpan &m) { return m.spanS; });
        std::printf("  %-8d %10.3f %10.0f %14.3f %18.3f\n", a, cost,
                    of([](const MeterSpan &m) { return double(m.unanswered); }), 3 * kTimeoutMs / 1e3,
                    cost - 3 * kTimeoutMs / 1e3);
    }
    std::printf("  cost per dead meter %7.3f s (from its first request to the next meter's)\n",
                deadSum / double(dead.size()));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto intOption = [&](const char *name, int fallback) {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i > 0 && i + 1 < args.size() ? std::max(1, args[i + 1].toInt()) : fallback;
    };
    const int meters = std::min(247, intOption("--meters", 30));
    const int runs = intOption("--runs", 1);
    const bool deadOnly = args.contains(QStringLiteral("--dead"));

    QTemporaryDir dir;
    QString plan;
    if (!dir.isValid() || !writePlan(dir.path(), meters, &plan)) {
        std::fprintf(stderr, "cannot write the plan in %s\n", qPrintable(dir.path()));
        return 1;
    }
    const std::set<int> dead = deadAddresses(meters);

    std::printf("hv52ctl commission PLAN: %d meters on one simulated line paced at %d bit/s, response timeout %d ms\n",
                meters, kBaud, kTimeoutMs);
    std::printf("(every 15th a T540 recorded only, every 10th a T528 with its relay commands, the rest T516s\n"
                " with relay commands and three analog outputs; each meter polled, written, read back, polled)\n");
    std::printf("wall: hv52ctl's start to exit; wire: per exchange (request + answer + 7 chars) x 10 bits / %d\n",
                kBaud);
    if (runs > 1)
        std::printf("medians of %d runs\n", runs);
    std::fflush(stdout);

    int status = 0;
    double healthyPerMeter = 0;
    if (!deadOnly) {
        const std::vector<Run> healthy = runLines(dir.path(), plan, meters, {}, runs, "healthy", &status);
        printHealthy(healthy, meters);
        // The same meters' share of the run without dead ones, to set beside.
        healthyPerMeter =
            med(healthy, [&](const Run &r) { return liveShare(r, dead); }) / double(meters - int(dead.size()));
        std::fflush(stdout);
    }
    if (dead.empty()) {
        std::printf("\nNo dead meters with %d meters (the first is at address 5)\n", meters);
        return status;
    }
    const std::vector<Run> withDead = runLines(dir.path(), plan, meters, dead, runs, "dead", &status);
    printDead(withDead, meters, dead, healthyPerMeter);
    return status;
}
