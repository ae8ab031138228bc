// `hv52ctl commission SITE` on a site of identical lines, each a simulated
// line paced at 9600 bit/s: one line alone beside all of them at once, the
// process's CPU and peak resident size, and the healthy lines' times when one
// line is dead and another answers later than its timeout.
//
// Every line carries the meters of bench_commission: addresses 1..N, every
// 15th a T540 (recorded only), every 10th a T528 (relay commands inline in
// the plan), the rest T516s (a settings file of relay commands and the three
// analog outputs).
//
// The simulators run in this process, one service thread a line; hv52ctl runs
// as a child of its own, reaped with wait4(), so its CPU time and peak
// resident size are its own and none of the simulators'.
//
// A line's time is the sum of its meters' elapsed_ms in the --record JSON
// (the record's line times are to the second), with the span its simulator
// logged (first request to last frame) beside it.
//
//   bench_site [--meters N] [--lines N] [--runs N] [--small N] [--faulty]
//   --small: the meters a line of the smaller site for peak RSS (default N/3);
//   --faulty: the healthy and the faulty site only.
#include "lineplan.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using namespace benchplan;
using hv52sim::Module;

constexpr int kBaud = 9600;
constexpr int kTimeoutMs = 1000;
// The dead line waits out a short timeout so that the faulty site ends
// within the healthy lines' time: 30 dead meters at 1000 ms would take about
// 90 s on their own.
constexpr int kDeadTimeoutMs = 200;
// The slow line's timeout is shorter than its paced answers take (25 ms and
// more at 9600 bit/s): every answer comes late. Such a meter takes about 4 s,
// so the slow line has 2/5 of the meters, to end within the healthy lines' time.
constexpr int kSlowTimeoutMs = 20;
int slowMeters(int meters)
{
    return std::max(1, meters * 2 / 5);
}
constexpr double kRatioGoal = 1.05;
constexpr double kCpuGoal = 10.0; // % of one core
constexpr double kSameGoal = 5.0; // % difference of a healthy line's time

enum class LineFault {
    None,
    Dead,
    Slow
};

struct LineSetup
{
    int meters = 30;
    int timeoutMs = kTimeoutMs;
    LineFault fault = LineFault::None;
};

bool saveFile(const QString &path, const QByteArray &data)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.commit();
}

// The site plan in dir/NAME, its lines on ports 1..; the T516 settings file beside it.
bool writeSite(const QString &dir, const QString &name, const std::vector<LineSetup> &lines, QString *planPath)
{
    QStringList entries;
    for (size_t i = 0; i < lines.size(); ++i)
        entries << QStringLiteral("  {\"port\": %1, \"speed\": %2, \"timeout\": %3, \"meters\": [\n%4\n  ]}")
                       .arg(i + 1)
                       .arg(kBaud)
                       .arg(lines[i].timeoutMs)
                       .arg(meterEntries(lines[i].meters, 4));
    const QByteArray plan = QStringLiteral("{\"site\": \"测试站\", \"operator\": \"张工\", \"lines\": [\n%1\n]}\n")
                                .arg(entries.join(QStringLiteral(",\n")))
                                .toUtf8();
    *planPath = QDir(dir).filePath(name);
    return saveFile(QDir(dir).filePath(QStringLiteral("t516.json")), kT516Settings) && saveFile(*planPath, plan);
}

struct LineTimes
{
    double recordS = 0; // sum of its meters' elapsed_ms
    double spanS = 0;   // its simulator's first request to last frame
    std::map<QString, int> results;
};

struct Run
{
    bool ok = false;
    QString problem;
    double wallS = 0;
    double cpuS = 0; // the child's user + system time
    double userS = 0;
    double systemS = 0;
    long maxRssKb = 0;
    int exitCode = -1;
    std::vector<LineTimes> lines;
};

// Starts hv52ctl with stdout and stderr in files and waits for it with wait4(),
// killing it past the deadline.
bool runChild(const std::vector<std::string> &args, const QString &dir, int deadlineS, Run *run)
{
    const std::string out = QDir(dir).filePath(QStringLiteral("stdout.txt")).toStdString();
    const std::string err = QDir(dir).filePath(QStringLiteral("stderr.txt")).toStdString();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run->problem = QStringLiteral("cannot start %1: %2").arg(argv[0], QString::fromLocal8Bit(strerror(spawned)));
        return false;
    }
    int status = 0;
    rusage usage{};
    bool killed = false;
    // Polled every millisecond rather than blocking, so that a hung child
    // is ended at the deadline; the poll is this process's time, not the child's.
    for (;;) {
        const pid_t got = wait4(pid, &status, WNOHANG, &usage);
        if (got == pid)
            break;
        if (got < 0) {
            run->problem = QStringLiteral("wait4: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        if (!killed && secondsBetween(start, Clock::now()) > deadlineS) {
            kill(pid, SIGKILL);
            killed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    run->wallS = secondsBetween(start, Clock::now());
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    run->userS = seconds(usage.ru_utime);
    run->systemS = seconds(usage.ru_stime);
    run->cpuS = run->userS + run->systemS;
    run->maxRssKb = usage.ru_maxrss; // kilobytes on Linux
    run->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (killed || !WIFEXITED(status)) {
        QFile e(QString::fromStdString(err));
        e.open(QIODevice::ReadOnly);
        run->problem = QStringLiteral("hv52ctl %1: %2")
                           .arg(killed ? QStringLiteral("killed at the deadline") : QStringLiteral("did not exit"),
                                QString::fromUtf8(e.readAll()).left(2000));
        return false;
    }
    return true;
}

// Each line's meter times and results from the record.
bool readRecord(const QString &file, Run *run)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QJsonArray lines = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("lines")).toArray();
    if (lines.size() != int(run->lines.size()))
        return false;
    for (int i = 0; i < lines.size(); ++i) {
        LineTimes &t = run->lines[size_t(i)];
        for (const QJsonValue &m : lines[i].toObject().value(QStringLiteral("meters")).toArray()) {
            t.recordS += m.toObject().value(QStringLiteral("elapsed_ms")).toDouble() / 1e3;
            ++t.results[m.toObject().value(QStringLiteral("result")).toString()];
        }
    }
    return true;
}

Run runSite(const QString &dir, const std::vector<LineSetup> &lines, bool record)
{
    Run run;
    run.lines.resize(lines.size());
    QString plan;
    if (!writeSite(dir, QStringLiteral("site.json"), lines, &plan)) {
        run.problem = QStringLiteral("cannot write the plan in %1").arg(dir);
        return run;
    }
    std::vector<std::unique_ptr<hv52sim::Simulator>> sims;
    for (size_t i = 0; i < lines.size(); ++i) {
        auto sim = std::make_unique<hv52sim::Simulator>(Module::T516, 1);
        for (int a = 2; a <= lines[i].meters; ++a)
            sim->addModule(kindAt(a), uint8_t(a));
        if (lines[i].fault == LineFault::Dead)
            sim->setFault(hv52sim::Fault::Silent, -1);
        std::string error;
        if (!sim->start(dir.toStdString(), int(i) + 1, &error)) {
            run.problem = QStringLiteral("simulator %1: %2").arg(i + 1).arg(QString::fromStdString(error));
            return run;
        }
        sim->setLogCapacity(0);
        sim->setPacing(kBaud);
        sim->setListenSpeed(kBaud);
        sims.push_back(std::move(sim));
    }
    const QString recordFile = QDir(dir).filePath(QStringLiteral("record.json"));
    QFile::remove(recordFile);
    std::vector<std::string> args{HV52CTL_PROGRAM, "commission", plan.toStdString()};
    if (record) {
        args.push_back("--record");
        args.push_back(recordFile.toStdString());
    }
    int longest = 0;
    for (const LineSetup &l : lines)
        longest = std::max(longest, l.meters);
    const bool ran = runChild(args, dir, longest * 15 + 60, &run);
    for (size_t i = 0; i < sims.size(); ++i) {
        sims[i]->stop();
        const std::vector<hv52sim::Frame> frames = sims[i]->frames();
        if (!frames.empty())
            run.lines[i].spanS = secondsBetween(frames.front().time, frames.back().time);
    }
    if (!ran)
        return run;
    const bool anyFault =
        std::any_of(lines.begin(), lines.end(), [](const LineSetup &l) { return l.fault != LineFault::None; });
    // A faulty line makes the run end as failed; a healthy site must end well.
    if (run.exitCode != 0 && !anyFault) {
        QFile e(QDir(dir).filePath(QStringLiteral("stderr.txt")));
        e.open(QIODevice::ReadOnly);
        run.problem = QStringLiteral("hv52ctl ended with %1: %2")
                          .arg(run.exitCode)
                          .arg(QString::fromUtf8(e.readAll()).left(2000));
        return run;
    }
    if (record && !readRecord(recordFile, &run)) {
        run.problem = QStringLiteral("no record of %1 lines in %2").arg(lines.size()).arg(recordFile);
        return run;
    }
    if (record) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].fault != LineFault::None)
                continue;
            const auto &r = run.lines[i].results;
            int fine = 0;
            for (const auto &[key, n] : r)
                fine += key == QLatin1String("done") || key == QLatin1String("recorded") ? n : 0;
            if (fine != lines[i].meters)
                run.problem = QStringLiteral("line %1: %2 of %3 meters done").arg(i + 1).arg(fine).arg(lines[i].meters);
        }
    }
    run.ok = run.problem.isEmpty();
    return run;
}

Run runReported(const QString &dir, const std::vector<LineSetup> &lines, bool record, const char *what, int *status)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s ...\n", what);
    Run run = runSite(dir, lines, record);
    if (!run.ok) {
        std::fprintf(stderr, "%s: %s\n", what, qPrintable(run.problem));
        *status = 1;
    }
    return run;
}

std::vector<LineSetup> healthySite(int lines, int meters)
{
    return std::vector<LineSetup>(size_t(lines), LineSetup{meters, kTimeoutMs, LineFault::None});
}

double cpuPercent(const Run &r)
{
    return r.wallS > 0 ? 100.0 * r.cpuS / r.wallS : 0;
}

QString resultsText(const LineTimes &t)
{
    QStringList parts;
    for (const auto &[key, n] : t.results)
        parts << QStringLiteral("%1 %2").arg(n).arg(key);
    return parts.join(QStringLiteral(", "));
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
    const int lineCount = std::min(64, intOption("--lines", 8));
    const int runs = intOption("--runs", 1);
    const int small = std::min(meters, intOption("--small", std::max(1, meters / 3)));
    // The healthy site and the faulty one only.
    const bool faultyOnly = args.contains(QStringLiteral("--faulty"));

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        return 1;
    }
    std::printf("hv52ctl commission SITE: %d lines x %d meters, each line a simulated line paced at %d bit/s,\n"
                "response timeout %d ms (every 15th a T540 recorded only, every 10th a T528 with its relay\n"
                "commands, the rest T516s with relay commands and three analog outputs)\n",
                lineCount, meters, kBaud, kTimeoutMs);
    std::printf("wall: hv52ctl's start to exit; CPU and peak RSS: hv52ctl's own, from wait4() (the simulators\n"
                "run in this process and are not counted)\n");
    if (runs > 1)
        std::printf("medians of %d runs\n", runs);
    std::fflush(stdout);

    int status = 0;
    const QString path = dir.path();
    // Port N is DIR/comN for hv52ctl, which inherits this environment.
    qputenv("HV52_SERIAL_DIR", path.toLocal8Bit());

    // 1. One line alone: the lines are identical, so line 1 stands for each.
    std::vector<Run> alone, site;
    for (int i = 0; i < (faultyOnly ? 0 : runs); ++i)
        alone.push_back(runReported(path, healthySite(1, meters), true, "one line alone", &status));
    const double aloneWall = median([&] {
        std::vector<double> v;
        for (const Run &r : alone)
            v.push_back(r.wallS);
        return v;
    }());
    if (!alone.empty()) {
        std::printf("\nOne line alone (line 1; the lines are identical, so it stands for each)\n");
        std::printf("  wall time          %8.2f s  (%.3f s per meter)\n", aloneWall, aloneWall / meters);
        std::printf("  CPU                %8.2f s  (%.1f%% of one core)\n", alone.back().cpuS,
                    cpuPercent(alone.back()));
        std::printf("  peak RSS           %8.1f MB (with --record)\n", alone.back().maxRssKb / 1024.0);
        std::fflush(stdout);
    }

    // 2. and 3. Every line at once.
    for (int i = 0; i < runs; ++i)
        site.push_back(runReported(path, healthySite(lineCount, meters), true, "the whole site", &status));
    std::vector<double> walls, cpus;
    for (const Run &r : site) {
        walls.push_back(r.wallS);
        cpus.push_back(cpuPercent(r));
    }
    const double siteWall = median(walls);
    const double ratio = aloneWall > 0 ? siteWall / aloneWall : 0;
    const double cpu = median(cpus);
    const Run &healthy = site.back();
    std::printf("\nAll %d lines at once (with --record)\n", lineCount);
    std::printf("  wall time          %8.2f s\n", siteWall);
    if (!alone.empty())
        std::printf("  site / line alone  %8.3f    (goal <= %.2f: %s)\n", ratio, kRatioGoal,
                    ratio <= kRatioGoal ? "PASS" : "FAIL");
    std::printf("  CPU                %8.2f s  (user %.2f s, system %.2f s)\n", healthy.cpuS, healthy.userS,
                healthy.systemS);
    std::printf("  CPU / wall         %8.1f %%  of one core (goal < %.0f %%: %s)\n", cpu, kCpuGoal,
                cpu < kCpuGoal ? "PASS" : "FAIL");
    std::printf("  peak RSS           %8.1f MB (the record written at the end included)\n", healthy.maxRssKb / 1024.0);
    std::printf("  %-6s %12s %12s\n", "line", "record s", "wire span s");
    for (size_t i = 0; i < healthy.lines.size(); ++i)
        std::printf("  %-6zu %12.2f %12.2f\n", i + 1, healthy.lines[i].recordS, healthy.lines[i].spanS);
    std::fflush(stdout);

    // 4. Peak resident size against the number of meters, without --record.
    if (!faultyOnly) {
        const Run fewer = runReported(path, healthySite(lineCount, small), false, "memory, fewer meters", &status);
        const Run more = runReported(path, healthySite(lineCount, meters), false, "memory, all meters", &status);
        std::printf("\nPeak RSS of hv52ctl without --record\n");
        std::printf("  %d x %-3d meters    %8.1f MB  (wall %.2f s)\n", lineCount, small, fewer.maxRssKb / 1024.0,
                    fewer.wallS);
        std::printf("  %d x %-3d meters    %8.1f MB  (wall %.2f s)\n", lineCount, meters, more.maxRssKb / 1024.0,
                    more.wallS);
        if (meters > small)
            std::printf("  growth             %8.1f KB per meter (%d more meters)\n",
                        double(more.maxRssKb - fewer.maxRssKb) / double(lineCount * (meters - small)),
                        lineCount * (meters - small));
        std::fflush(stdout);
    }

    // 5. Line 1 dead, line 2 answering later than its timeout, the rest as before.
    if (lineCount < 3) {
        std::printf("\nNo faulty site with fewer than 3 lines\n");
        return status;
    }
    std::vector<LineSetup> faulty = healthySite(lineCount, meters);
    faulty[0] = LineSetup{meters, kDeadTimeoutMs, LineFault::Dead};
    faulty[1] = LineSetup{slowMeters(meters), kSlowTimeoutMs, LineFault::Slow};
    const Run bad = runReported(path, faulty, true, "the faulty site", &status);
    std::printf("\nThe same site with two faulty lines, the other lines as before:\n"
                "  line 1 dead (no module answers), %d meters, response timeout %d ms to keep the run short\n"
                "  line 2 slower than its timeout: %d ms, shorter than its paced answers; %d meters, as each\n"
                "  takes some 4 s\n",
                faulty[0].meters, kDeadTimeoutMs, kSlowTimeoutMs, faulty[1].meters);
    std::printf("  wall time          %8.2f s  (hv52ctl exit %d)\n", bad.wallS, bad.exitCode);
    std::printf("  CPU / wall         %8.1f %%  of one core\n", cpuPercent(bad));
    std::printf("  %-6s %12s %12s %8s %14s %14s\n", "line", "healthy s", "faulty s", "diff", "healthy span s",
                "faulty span s");
    double largest = 0;
    for (size_t i = 0; i < bad.lines.size() && i < healthy.lines.size(); ++i) {
        const LineTimes &h = healthy.lines[i];
        const LineTimes &f = bad.lines[i];
        if (i < 2) {
            std::printf("  %-6zu %12s %12.2f %8s %14s %14.2f  %s: %s\n", i + 1, "", f.recordS, "", "", f.spanS,
                        i == 0 ? "dead" : "slow", qPrintable(resultsText(f)));
            continue;
        }
        const double diff = h.recordS > 0 ? 100.0 * (f.recordS - h.recordS) / h.recordS : 0;
        if (std::fabs(diff) > std::fabs(largest))
            largest = diff;
        std::printf("  %-6zu %12.2f %12.2f %+7.1f%% %14.2f %14.2f\n", i + 1, h.recordS, f.recordS, diff, h.spanS,
                    f.spanS);
    }
    std::printf("  largest difference %+7.1f %%  (goal within %.0f %%: %s)\n", largest, kSameGoal,
                std::fabs(largest) <= kSameGoal ? "PASS" : "FAIL");
    return status;
}
