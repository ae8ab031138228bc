// The line window's run (hv52line's LineWindow) beside `hv52ctl commission
// PLAN` on the same simulated line of meters paced at 9600 bit/s, from the
// same plan, rounds alternating window then hv52ctl; and the longest stall of
// the window's event loop during its runs, as a 5 ms timer in the GUI thread
// sees it.
//
// The line is bench_commission's (lineplan.h) with every meter's settings
// inline, as the window keeps them by kind. Each run gets a fresh simulator,
// its modules at their start values, so every run sends the same requests
// (checked below against the first window run's).
//
// Window: startRun() to LineWindow::runEnded. hv52ctl: process start to exit.
//
//   bench_line [--meters N] [--runs N] [--frames DIR]
//
// --frames DIR writes each run's frames (ms from the run's start, direction,
// bytes) to DIR/window-N.txt and DIR/hv52ctl-N.txt, to tell a slow run's
// first difference from a normal one's.
#include "lineplan.h"
#include "linewindow.h"

#include "convert.h"
#include "input.h"
#include "runstatus.h"
#include "sim/simulator.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace {

using namespace benchplan;
using hv52sim::Module;

constexpr int kBaud = 9600;
constexpr int kTimeoutMs = 1000;
constexpr int kPort = 1;
constexpr double kRatioGoal = 1.02;
constexpr double kGapGoalMs = 50;
constexpr int kTickMs = 5;

using Requests = std::vector<std::vector<uint8_t>>;

struct Run
{
    bool ok = false;
    QString problem;
    double wallS = 0;
    double startupS = 0; // run start to the first request
    double tailS = 0;    // last frame to the run's end
    double wireS = 0;    // what pacing charges for the exchanges
    double masterS = 0;  // answers to the next requests: the master's own time
    double maxTurnMs = 0;
    double maxGapMs = 0; // window only: the longest event-loop gap
    int unanswered = 0;
    Requests requests;
    QByteArray frameText; // one line a frame
};

// bench_commission's T528 settings, inline in its plan.
const QJsonObject kT528Settings{{QStringLiteral("module"), QStringLiteral("t528")},
                                {QStringLiteral("relay1.command"), QStringLiteral("host")},
                                {QStringLiteral("relay2.command"), QStringLiteral("alarm")}};

// Settings in the words the window's lists show: the window looks a plan's
// value up among its list's texts, so an alias ("host") or a source's code
// would leave the list unchosen and the run refused. Same registers either
// way (checked in sameWrites()).
QJsonObject shownWords(QJsonObject s)
{
    static const QStringList aliases = {"alarm", "host", "operate", "release"}; // kRelayCommandTexts' order
    s.remove(QStringLiteral("module"));
    for (auto it = s.begin(); it != s.end(); ++it) {
        if (it.key().endsWith(u".command") && it->isString()) {
            const qsizetype i = aliases.indexOf(it->toString().toLower());
            if (i >= 0)
                *it = hv52::kRelayCommandTexts.value(i);
        } else if (it.key().endsWith(u".source") && it->isDouble()) {
            *it = hv52::kSourceQuantityTexts.value(it->toInt());
        }
    }
    return s;
}

QString compact(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// The plan, each meter's settings inline, in dir.
bool writePlan(const QString &dir, int meters, QString *planPath)
{
    const QString t516 = compact(shownWords(QJsonDocument::fromJson(kT516Settings).object()));
    QString entries = meterEntries(meters, 2);
    entries.replace(QStringLiteral("\"settings\": \"t516.json\""), QStringLiteral("\"settings\": ") + t516);
    entries.replace(QStringLiteral(R"("settings": {"relay1.command": "host", "relay2.command": "alarm"})"),
                    QStringLiteral("\"settings\": ") + compact(shownWords(kT528Settings)));
    const QByteArray plan = QStringLiteral("{\"line\": {\"port\": %1, \"speed\": %2, \"timeout\": %3},\n"
                                           " \"meters\": [\n%4\n ]}\n")
                                .arg(kPort)
                                .arg(kBaud)
                                .arg(kTimeoutMs)
                                .arg(entries)
                                .toUtf8();
    QFile p(QDir(dir).filePath(QStringLiteral("plan.json")));
    if (!p.open(QIODevice::WriteOnly) || p.write(plan) != plan.size())
        return false;
    *planPath = p.fileName();
    return true;
}

// What the window would send for each kind holds the very register values
// of bench_commission's settings: empty, or what differs.
QString sameWrites(const hv52line::LinePane &pane)
{
    QString refusal;
    const QJsonArray meters = pane.meters(&refusal);
    if (!refusal.isEmpty())
        return refusal;
    const std::map<QString, QJsonObject> theirs{
        {QStringLiteral("t516"), QJsonDocument::fromJson(kT516Settings).object()},
        {QStringLiteral("t528"), kT528Settings}};
    std::set<QString> seen;
    try {
        for (const QJsonValue &v : meters) {
            const QString kind = v[QStringLiteral("module")].toString();
            if (!theirs.count(kind) || seen.count(kind))
                continue;
            seen.insert(kind);
            const hv52::ModuleDef &def = hv52run::moduleNamed(kind);
            QJsonObject mine = v[QStringLiteral("settings")].toObject();
            mine.insert(QStringLiteral("module"), kind);
            const QVector<hv52run::Planned> a = hv52run::plannedFromFile(def, QJsonDocument(mine).toJson(), kind);
            const QVector<hv52run::Planned> b =
                hv52run::plannedFromFile(def, QJsonDocument(theirs.at(kind)).toJson(), kind);
            bool same = a.size() == b.size();
            for (int i = 0; same && i < a.size(); ++i)
                same = a[i].setting == b[i].setting && a[i].values == b[i].values;
            if (!same)
                return QStringLiteral("%1: the window's settings %2 are not bench_commission's")
                    .arg(kind, compact(mine));
        }
    } catch (const hv52run::UsageError &e) {
        return e.text();
    }
    return QString();
}

// A fresh line: every module at its start values, paced as a real line.
std::unique_ptr<hv52sim::Simulator> startLine(const QString &dir, int meters, QString *problem)
{
    auto sim = std::make_unique<hv52sim::Simulator>(Module::T516, 1);
    for (int a = 2; a <= meters; ++a)
        sim->addModule(kindAt(a), uint8_t(a));
    std::string error;
    if (!sim->start(dir.toStdString(), kPort, &error)) {
        *problem = QStringLiteral("simulator: %1").arg(QString::fromStdString(error));
        return nullptr;
    }
    sim->setLogCapacity(0);
    sim->setPacing(kBaud);
    sim->setListenSpeed(kBaud);
    return sim;
}

// The run's frames: where its time went, and every request unanswered.
void readFrames(const hv52sim::Simulator &sim, Clock::time_point start, Clock::time_point end, Run *run)
{
    const std::vector<hv52sim::Frame> frames = sim.frames();
    if (frames.empty()) {
        if (run->problem.isEmpty())
            run->problem = QStringLiteral("no frames on the line");
        return;
    }
    run->startupS = secondsBetween(start, frames.front().time);
    run->tailS = secondsBetween(frames.back().time, end);
    int &unanswered = run->unanswered;
    for (size_t i = 0; i < frames.size(); ++i) {
        const hv52sim::Frame &f = frames[i];
        run->frameText +=
            QByteArray::number(secondsBetween(start, f.time) * 1e3, 'f', 1) + (f.fromMaster ? " > " : " < ")
            + QByteArray(reinterpret_cast<const char *>(f.bytes.data()), qsizetype(f.bytes.size())).toHex(' ') + '\n';
        if (!f.fromMaster) {
            if (i + 1 < frames.size()) {
                const double s = secondsBetween(f.time, frames[i + 1].time);
                run->masterS += s;
                run->maxTurnMs = std::max(run->maxTurnMs, s * 1e3);
            }
            continue;
        }
        run->requests.push_back(f.bytes);
        if (i + 1 < frames.size() && !frames[i + 1].fromMaster)
            run->wireS += (double(f.bytes.size()) + double(frames[i + 1].bytes.size()) + 7.0) * 10.0 / kBaud;
        else
            ++unanswered;
    }
    if (unanswered && run->problem.isEmpty())
        run->problem = QStringLiteral("%1 requests unanswered").arg(unanswered);
}

Run windowRun(hv52line::LineWindow &window, const QString &dir, int meters)
{
    Run run;
    const std::unique_ptr<hv52sim::Simulator> sim = startLine(dir, meters, &run.problem);
    if (!sim)
        return run;

    QEventLoop loop;
    bool ended = false;
    Clock::time_point start, end, last;
    const QMetaObject::Connection c = QObject::connect(&window, &hv52line::LineWindow::runEnded, &loop, [&] {
        end = Clock::now();
        ended = true;
        loop.quit();
    });
    // The loop's stalls: the longest interval between ticks of a timer that
    // would tick every 5 ms in an idle loop.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        run.maxGapMs = std::max(run.maxGapMs, secondsBetween(last, now) * 1e3);
        last = now;
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(meters * 15000 + 60000);

    tick.start();
    start = Clock::now();
    last = start; // startRun's own work counts as a stall
    window.startRun(false);
    if (!window.busy() && !ended)
        run.problem = QStringLiteral("the window did not start the run");
    else if (!ended)
        loop.exec();
    tick.stop();
    QObject::disconnect(c);
    if (!ended) {
        end = Clock::now();
        if (run.problem.isEmpty())
            run.problem = QStringLiteral("no runEnded within %1 s").arg(meters * 15 + 60);
        window.stop();
        while (window.busy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    } else {
        run.maxGapMs = std::max(run.maxGapMs, secondsBetween(last, end) * 1e3);
    }
    sim->stop();
    run.wallS = secondsBetween(start, end);
    readFrames(*sim, start, end, &run);

    const hv52::RunRecord &record = window.pane(0)->record();
    int good = 0;
    for (const hv52::MeterRecord &m : record.meters)
        good += m.result == hv52::MeterRecord::Result::Done || m.result == hv52::MeterRecord::Result::Recorded;
    if (run.problem.isEmpty() && (good != meters || int(record.meters.size()) != meters))
        run.problem = QStringLiteral("%1 of %2 meters done or recorded").arg(good).arg(meters);
    run.ok = run.problem.isEmpty();
    return run;
}

Run ctlRun(const QString &dir, const QString &plan, int meters)
{
    Run run;
    const std::unique_ptr<hv52sim::Simulator> sim = startLine(dir, meters, &run.problem);
    if (!sim)
        return run;
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
    sim->stop();
    run.wallS = secondsBetween(start, end);
    if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        run.problem = QStringLiteral("hv52ctl ended with %1: %2")
                          .arg(finished ? QString::number(p.exitCode()) : QStringLiteral("a timeout"),
                               QString::fromUtf8(p.readAllStandardError()).left(2000));
    readFrames(*sim, start, end, &run);
    run.ok = run.problem.isEmpty();
    return run;
}

double med(const std::vector<Run> &runs, double Run::*field)
{
    std::vector<double> v;
    for (const Run &r : runs)
        v.push_back(r.*field);
    return median(v);
}

double maxOf(const std::vector<Run> &runs, double Run::*field)
{
    double m = 0;
    for (const Run &r : runs)
        m = std::max(m, r.*field);
    return m;
}

} // namespace

int main(int argc, char **argv)
{
    // Widgets need a platform; without a display, the offscreen one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto intOption = [&](const char *name, int fallback) {
        const qsizetype i = args.indexOf(QLatin1String(name));
        return i > 0 && i + 1 < args.size() ? std::max(1, args[i + 1].toInt()) : fallback;
    };
    const int meters = std::min(247, intOption("--meters", 30));
    const int runs = intOption("--runs", 3);
    const qsizetype framesAt = args.indexOf(QLatin1String("--frames"));
    const QString framesDir = framesAt > 0 && framesAt + 1 < args.size() ? args[framesAt + 1] : QString();
    auto keepFrames = [&](const char *what, int i, const Run &r) {
        if (framesDir.isEmpty())
            return;
        QSaveFile f(QDir(framesDir).filePath(QStringLiteral("%1-%2.txt").arg(QLatin1String(what)).arg(i + 1)));
        if (!f.open(QIODevice::WriteOnly) || f.write(r.frameText) != r.frameText.size() || !f.commit())
            std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(f.fileName()), qPrintable(f.errorString()));
    };

    QTemporaryDir dir;
    QString plan;
    if (!dir.isValid() || !writePlan(dir.path(), meters, &plan)) {
        std::fprintf(stderr, "cannot write the plan in %s\n", qPrintable(dir.path()));
        return 1;
    }
    // The window opens port N as $HV52_SERIAL_DIR/comN, as hv52ctl does.
    qputenv("HV52_SERIAL_DIR", dir.path().toLocal8Bit());

    hv52line::LineWindow window;
    QStringList said;
    window.setMessenger([&said](const QString &text, bool) {
        said << text;
        return true;
    });
    if (!window.openPlan(plan) || window.lineCount() != 1 || window.pane(0)->portNumber()->value() != kPort) {
        std::fprintf(stderr, "the window did not open the plan: %s\n", qPrintable(said.join(u'\n')));
        return 1;
    }
    const QString differs = sameWrites(*window.pane(0));
    if (!differs.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(differs));
        return 1;
    }
    window.show();
    QCoreApplication::processEvents();

    std::printf("The line window's run beside hv52ctl commission PLAN: %d meters on one simulated line paced at %d "
                "bit/s, response timeout %d ms\n",
                meters, kBaud, kTimeoutMs);
    std::printf("(bench_commission's line, settings inline; a fresh line each run; window: startRun to runEnded,\n"
                " hv52ctl: process start to exit; event-loop gap: longest interval of a %d ms timer in the GUI "
                "thread)\n",
                kTickMs);
    std::fflush(stdout);

    int status = 0;
    std::vector<Run> win, ctl;
    auto report = [&](const char *what, int i, const Run &r) {
        if (!r.ok) {
            std::fprintf(stderr, "%s, run %d: %s\n", what, i + 1, qPrintable(r.problem));
            status = 1;
        }
    };
    for (int i = 0; i < runs; ++i) {
        std::fprintf(stderr, "round %d of %d: window ...\n", i + 1, runs);
        win.push_back(windowRun(window, dir.path(), meters));
        report("window", i, win.back());
        keepFrames("window", i, win.back());
        if (!win.back().ok && !said.isEmpty())
            std::fprintf(stderr, "the window said: %s\n", qPrintable(said.last()));
        std::fprintf(stderr, "round %d of %d: hv52ctl ...\n", i + 1, runs);
        ctl.push_back(ctlRun(dir.path(), plan, meters));
        report("hv52ctl", i, ctl.back());
        keepFrames("hv52ctl", i, ctl.back());
    }

    // The same requests every run, else the two would not be timing the same work.
    const Requests &first = win.front().requests;
    QStringList differ;
    for (int i = 0; i < runs; ++i) {
        if (win[i].requests != first)
            differ << QStringLiteral("window %1").arg(i + 1);
        if (ctl[i].requests != first)
            differ << QStringLiteral("hv52ctl %1").arg(i + 1);
    }
    if (!differ.isEmpty())
        status = 1;

    // Requests left unanswered (a timeout and a retry) mean the run was
    // disturbed, as a loaded machine's late pacing does.
    std::printf("\n  %-7s %12s %12s %18s %20s\n", "round", "window s", "hv52ctl s", "window loop gap ms",
                "unanswered (w / c)");
    for (int i = 0; i < runs; ++i)
        std::printf("  %-7d %12.3f %12.3f %18.1f %12d / %d%s\n", i + 1, win[i].wallS, ctl[i].wallS, win[i].maxGapMs,
                    win[i].unanswered, ctl[i].unanswered, win[i].ok && ctl[i].ok ? "" : "  (a run failed)");
    std::printf("  %-7s %12.3f %12.3f\n", "median", med(win, &Run::wallS), med(ctl, &Run::wallS));

    std::printf("\n  medians                             %10s %10s\n", "window", "hv52ctl");
    auto row = [&](const char *what, double w, double c) { std::printf("  %-35s %10.3f %10.3f\n", what, w, c); };
    row("wall s", med(win, &Run::wallS), med(ctl, &Run::wallS));
    row("wire s (pacing's charge)", med(win, &Run::wireS), med(ctl, &Run::wireS));
    row("start to the first request s", med(win, &Run::startupS), med(ctl, &Run::startupS));
    row("answers to next requests s", med(win, &Run::masterS), med(ctl, &Run::masterS));
    row("last frame to the end s", med(win, &Run::tailS), med(ctl, &Run::tailS));
    row("longest answer to next request ms", med(win, &Run::maxTurnMs), med(ctl, &Run::maxTurnMs));
    std::printf("  requests per run: %zu, %s\n", first.size(),
                differ.isEmpty() ? "the same in every run"
                                 : qPrintable(QStringLiteral("NOT the same as window 1's in ") + differ.join(", ")));

    const double gap = maxOf(win, &Run::maxGapMs);
    std::printf("\nlongest event-loop gap %.1f ms (goal < %.0f ms: %s)\n", gap, kGapGoalMs,
                gap < kGapGoalMs ? "met" : "NOT met");
    const double c = med(ctl, &Run::wallS);
    const double ratio = c > 0 ? med(win, &Run::wallS) / c : 0;
    std::printf("ratio %.3f (median window / median hv52ctl; goal <= %.2f: %s)\n", ratio, kRatioGoal,
                ratio <= kRatioGoal ? "met" : "NOT met");
    return status;
}
