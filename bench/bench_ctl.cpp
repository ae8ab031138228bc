// `hv52ctl read t516` beside a libmodbus master doing the same 27 reads on
// the same simulated line, each in a process of its own, in turns: the time
// from start to exit and the time on the line (first request in to last
// answer out, from the simulator's log), medians of several runs, paced at
// 9600 and 115200 bit/s and unpaced. Then a dead module's read and a scan of
// a dead line.
//
// Over loopback TCP: `hv52ctl --modbus-tcp` beside libmodbus's modbus_new_tcp
// master against the same server; `hv52ctl --tcp` (RTU over TCP) alone, as
// libmodbus has no master for it.
//
// Beside both, a bare Qt master doing the same reads: what any program on Qt
// and QSerialPort (or QTcpSocket) takes at the least, so that what hv52ctl
// takes beyond libmodbus splits into Qt's share and its own.
//
//   bench_ctl [--runs N] [--no-dead-line]
//   bench_ctl --modbus-master DEVICE BAUD REG:COUNT...   (the libmodbus side)
//   bench_ctl --modbus-tcp-master PORT REG:COUNT...      (the same over TCP)
//   bench_ctl --qt-master DEVICE BAUD REG:COUNT...       (the bare Qt side)
//   bench_ctl --qt-tcp-master PORT REG:COUNT...          (the same over TCP)
#include "benchsim.h"
#include "sim/tcpserver.h"
#include "t516module.h"

#include "bareqt.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QProcess>
#include <QSerialPort>
#include <QTcpSocket>

#include <modbus/modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// The libmodbus side: one master (unit 1), the reads "REG:COUNT" in order,
// 1000 ms response time.
int readWith(modbus_t *ctx, char **reads, int count)
{
    if (!ctx || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
        if (ctx)
            modbus_free(ctx);
        return 3;
    }
    modbus_set_response_timeout(ctx, 1, 0);
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        unsigned reg = 0, registers = 0;
        std::sscanf(reads[i], "%x:%u", &reg, &registers);
        uint16_t values[2];
        if (modbus_read_registers(ctx, int(reg), int(registers), values) != int(registers))
            ++failed;
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return failed ? 1 : 0;
}

// libmodbus's RTU master on DEVICE at SPEED.
int modbusMaster(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    return readWith(modbus_new_rtu(argv[2], std::atoi(argv[3]), 'N', 8, 1), argv + 4, argc - 4);
}

// libmodbus's Modbus TCP master against 127.0.0.1:PORT.
int modbusTcpMaster(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    return readWith(modbus_new_tcp("127.0.0.1", std::atoi(argv[2])), argv + 3, argc - 3);
}

// When the TCP server saw the first request come in and the last answer go
// out, as its frames pass (on the server's thread).
struct TcpClock
{
    std::mutex mu;
    std::chrono::steady_clock::time_point first, last;
    std::vector<double> turnsUs; // an answer out to the next request in
    bool any = false;

    void watch(hv52sim::TcpServer &server)
    {
        server.onFrame([this](char direction, const std::vector<uint8_t> &) {
            const auto now = std::chrono::steady_clock::now();
            std::lock_guard<std::mutex> lock(mu);
            if (direction == '>' && !any) {
                first = now;
                any = true;
            } else if (direction == '>') {
                turnsUs.push_back(std::chrono::duration<double, std::micro>(now - last).count());
            } else if (direction == '<') {
                last = now;
            }
        });
    }
    void reset()
    {
        std::lock_guard<std::mutex> lock(mu);
        any = false;
        turnsUs.clear();
    }
};

// The bare Qt master: the reads "REG:COUNT" in order, as bareRead makes
// them, on Qt's plain event loop as hv52ctl runs.
template <class Device>
int bareExchanges(Device &device, char **reads, int count, bool mbap)
{
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        unsigned reg = 0, registers = 0;
        std::sscanf(reads[i], "%x:%u", &reg, &registers);
        if (!bareRead(device, quint16(reg), int(registers), mbap ? quint16(i + 1) : 0))
            ++failed;
    }
    return failed ? 1 : 0;
}

int qtMaster(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QSerialPort port;
    if (!openBarePort(port, QString::fromLocal8Bit(argv[2]), std::atoi(argv[3])))
        return 3;
    const int status = bareExchanges(port, argv + 4, argc - 4, false);
    port.close();
    return status;
}

int qtTcpMaster(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(std::atoi(argv[2])));
    if (!socket.waitForConnected(3000))
        return 3;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const int status = bareExchanges(socket, argv + 3, argc - 3, true);
    socket.close();
    return status;
}

// A command's process timed from start to exit, its time on the line (first
// request in to last answer out) and its requests counted at the TCP server.
struct TcpSample
{
    double wallMs = 0;
    double lineMs = 0;
    double turnUs = 0;      // median
    double firstTurnUs = 0; // the first answer out to the second request in
    double headMs = 0;      // process start to the first request in
    double tailMs = 0;      // last answer out to exit
    int requests = 0;
    bool ok = false;
};

TcpSample timedTcp(hv52sim::TcpServer &server, TcpClock &line, const QString &program, const QStringList &args)
{
    server.clearLog();
    line.reset();
    TcpSample s;
    QProcess p;
    const auto started = std::chrono::steady_clock::now();
    p.start(program, args);
    p.waitForFinished(60000);
    const auto ended = std::chrono::steady_clock::now();
    s.wallMs = std::chrono::duration<double, std::milli>(ended - started).count();
    s.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    s.requests = int(server.requests().size());
    std::lock_guard<std::mutex> lock(line.mu);
    if (line.any) {
        s.lineMs = std::chrono::duration<double, std::milli>(line.last - line.first).count();
        s.headMs = std::chrono::duration<double, std::milli>(line.first - started).count();
        s.tailMs = std::chrono::duration<double, std::milli>(ended - line.last).count();
    }
    if (!line.turnsUs.empty()) {
        s.firstTurnUs = line.turnsUs.front();
        std::vector<double> turns = line.turnsUs;
        std::sort(turns.begin(), turns.end());
        s.turnUs = turns[turns.size() / 2];
    }
    return s;
}

struct Sample
{
    double wallMs = 0; // process start to exit
    double lineMs = 0; // first request in to last answer out
    int requests = 0;
    double turnUs = 0;      // median: an answer out to the next request in, the master's own turn
    double firstTurnUs = 0; // the first answer out to the second request in
    double headMs = 0;      // process start to the first request in
    double tailMs = 0;      // last answer out to exit
    bool ok = false;
};

Sample timed(hv52sim::Simulator &sim, const QString &program, const QStringList &args)
{
    sim.clearLog();
    Sample s;
    QProcess p;
    const auto started = std::chrono::steady_clock::now();
    p.start(program, args);
    p.waitForFinished(60000);
    const auto ended = std::chrono::steady_clock::now();
    s.wallMs = std::chrono::duration<double, std::milli>(ended - started).count();
    s.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    const std::vector<hv52sim::Frame> frames = sim.frames();
    if (!frames.empty()) {
        s.headMs = std::chrono::duration<double, std::milli>(frames.front().time - started).count();
        s.tailMs = std::chrono::duration<double, std::milli>(ended - frames.back().time).count();
        s.lineMs = std::chrono::duration<double, std::milli>(frames.back().time - frames.front().time).count();
        s.requests =
            int(std::count_if(frames.begin(), frames.end(), [](const hv52sim::Frame &f) { return f.fromMaster; }));
        std::vector<double> turns;
        for (size_t i = 1; i < frames.size(); ++i) {
            if (frames[i].fromMaster && !frames[i - 1].fromMaster)
                turns.push_back(std::chrono::duration<double, std::micro>(frames[i].time - frames[i - 1].time).count());
        }
        if (!turns.empty())
            s.firstTurnUs = turns.front();
        std::sort(turns.begin(), turns.end());
        s.turnUs = turns.empty() ? 0 : turns[turns.size() / 2];
    }
    return s;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--modbus-master")
        return modbusMaster(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--modbus-tcp-master")
        return modbusTcpMaster(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--qt-master")
        return qtMaster(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--qt-tcp-master")
        return qtTcpMaster(argc, argv);

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int runs = 7;
    if (const qsizetype i = args.indexOf(QStringLiteral("--runs")); i > 0 && i + 1 < args.size())
        runs = std::max(1, args[i + 1].toInt());
    const bool deadLine = !args.contains(QStringLiteral("--no-dead-line"));

    BenchModule module;
    if (!module.start(256))
        return 1;
    hv52sim::Simulator &sim = module.sim;
    const QString ctl = QStringLiteral(HV52CTL_PROGRAM);
    QStringList reads;
    for (const hv52::Point &p : hv52::t516Module().poll)
        reads << QStringLiteral("%1:%2").arg(p.address, 4, 16, QLatin1Char('0')).arg(p.pair ? 2 : 1);

    int status = 0;
    std::printf("hv52ctl read t516 beside libmodbus and beside a bare Qt master (QSerialPort, nothing checked or "
                "shown), 27 reads each, in turns, median of %d runs\n",
                runs);
    std::printf("%-14s %9s %6s   %9s %6s   %18s   %16s   %16s\n", "pacing, master", "run ms", "ratio", "line ms",
                "ratio", "turn us med/first", "start to 1st req", "last answer to exit");
    const auto row = [](const char *name, const std::vector<Sample> &v, const std::vector<Sample> &base) {
        const auto med = [](const std::vector<Sample> &samples, double Sample::*field) {
            std::vector<double> values;
            for (const Sample &s : samples)
                values.push_back(s.*field);
            return median(values);
        };
        std::printf("  %-12s %9.2f %6.3f   %9.2f %6.3f   %9.0f/%-8.0f   %13.2f ms   %13.2f ms\n", name,
                    med(v, &Sample::wallMs), med(v, &Sample::wallMs) / med(base, &Sample::wallMs),
                    med(v, &Sample::lineMs), med(v, &Sample::lineMs) / med(base, &Sample::lineMs),
                    med(v, &Sample::turnUs), med(v, &Sample::firstTurnUs), med(v, &Sample::headMs),
                    med(v, &Sample::tailMs));
    };
    const QString device = module.dir.filePath(QStringLiteral("com1"));
    for (const int baud : {9600, 115200, 0}) {
        sim.setPacing(baud);
        const int speed = baud ? baud : 115200;
        std::vector<Sample> ctlRuns, mbRuns, qtRuns;
        for (int i = 0; i < runs; ++i) {
            const Sample c = timed(sim, ctl, {"--port", "1", "--speed", QString::number(speed), "read", "t516"});
            const Sample m = timed(sim, app.applicationFilePath(),
                                   QStringList{"--modbus-master", device, QString::number(speed)} + reads);
            const Sample q = timed(sim, app.applicationFilePath(),
                                   QStringList{"--qt-master", device, QString::number(speed)} + reads);
            if (!c.ok || !m.ok || !q.ok || c.requests != 27 || m.requests != 27 || q.requests != 27) {
                std::fprintf(stderr, "run %d at %d: hv52ctl %s (%d requests), libmodbus %s (%d), bare Qt %s (%d)\n", i,
                             baud, c.ok ? "ok" : "failed", c.requests, m.ok ? "ok" : "failed", m.requests,
                             q.ok ? "ok" : "failed", q.requests);
                status = 1;
            }
            ctlRuns.push_back(c);
            mbRuns.push_back(m);
            qtRuns.push_back(q);
        }
        std::printf("%s\n", baud ? qPrintable(QStringLiteral("%1 bit/s").arg(baud)) : "unpaced");
        row("hv52ctl", ctlRuns, mbRuns);
        row("libmodbus", mbRuns, mbRuns);
        row("bare Qt", qtRuns, mbRuns);
    }
    sim.setPacing(0);

    {
        // The same module behind loopback TCP ports, each framing served by a
        // server of its own; the programs in turns.
        hv52sim::Simulator tcpSim(hv52sim::Module::T516);
        tcpSim.setDemo(false);
        hv52sim::TcpServer mbap(tcpSim, hv52sim::TcpFraming::Mbap), rtu(tcpSim, hv52sim::TcpFraming::Rtu);
        if (!mbap.start(0) || !rtu.start(0))
            return 1;
        TcpClock mbapLine, rtuLine;
        mbapLine.watch(mbap);
        rtuLine.watch(rtu);
        const QString at = QStringLiteral("127.0.0.1:%1");
        std::vector<TcpSample> ctlMbap, ctlRtu, mb, qt;
        for (int i = 0; i < runs; ++i) {
            const TcpSample c = timedTcp(mbap, mbapLine, ctl, {"--modbus-tcp", at.arg(mbap.port()), "read", "t516"});
            const TcpSample r = timedTcp(rtu, rtuLine, ctl, {"--tcp", at.arg(rtu.port()), "read", "t516"});
            const TcpSample m = timedTcp(mbap, mbapLine, app.applicationFilePath(),
                                         QStringList{"--modbus-tcp-master", QString::number(mbap.port())} + reads);
            const TcpSample q = timedTcp(mbap, mbapLine, app.applicationFilePath(),
                                         QStringList{"--qt-tcp-master", QString::number(mbap.port())} + reads);
            if (!c.ok || !r.ok || !m.ok || !q.ok || c.requests != 27 || r.requests != 27 || m.requests != 27
                || q.requests != 27) {
                std::fprintf(stderr, "tcp run %d: hv52ctl %s/%s, libmodbus %s, bare Qt %s\n", i, c.ok ? "ok" : "failed",
                             r.ok ? "ok" : "failed", m.ok ? "ok" : "failed", q.ok ? "ok" : "failed");
                status = 1;
            }
            ctlMbap.push_back(c);
            ctlRtu.push_back(r);
            mb.push_back(m);
            qt.push_back(q);
        }
        const auto med = [](const std::vector<TcpSample> &samples, double TcpSample::*field) {
            std::vector<double> values;
            for (const TcpSample &s : samples)
                values.push_back(s.*field);
            return median(values);
        };
        const auto tcpRow = [&](const char *name, const std::vector<TcpSample> &v) {
            std::printf("  %-12s %9.2f %6.3f   %9.2f %6.3f   %9.0f/%-8.0f   %13.2f ms   %13.2f ms\n", name,
                        med(v, &TcpSample::wallMs), med(v, &TcpSample::wallMs) / med(mb, &TcpSample::wallMs),
                        med(v, &TcpSample::lineMs), med(v, &TcpSample::lineMs) / med(mb, &TcpSample::lineMs),
                        med(v, &TcpSample::turnUs), med(v, &TcpSample::firstTurnUs), med(v, &TcpSample::headMs),
                        med(v, &TcpSample::tailMs));
        };
        std::printf("Modbus TCP on loopback (libmodbus: modbus_new_tcp; bare Qt: QTcpSocket)\n");
        tcpRow("hv52ctl", ctlMbap);
        tcpRow("libmodbus", mb);
        tcpRow("bare Qt", qt);
        std::printf("RTU over TCP (libmodbus has no master for it: ratios against its Modbus TCP)\n");
        tcpRow("hv52ctl", ctlRtu);
    }

    if (deadLine) {
        // A dead module: read stops after three exchanges without a byte,
        // beside the 27 timeouts of 1000 ms it waited out before.
        sim.setFault(hv52sim::Fault::Silent);
        std::vector<double> deadRead;
        int deadRequests = 0;
        for (int i = 0; i < std::min(runs, 3); ++i) {
            const Sample s = timed(sim, ctl, {"--port", "1", "read", "t516"});
            deadRead.push_back(s.wallMs);
            deadRequests = s.requests;
        }
        std::printf("dead module, read t516, 1000 ms timeout: %.2f s, %d requests (the whole poll: 27 x 1000 ms = "
                    "27 s and more)\n",
                    median(deadRead) / 1000, deadRequests);
        sim.setFault(hv52sim::Fault::None, 0);
    }

    if (deadLine) {
        // Nobody answers: every address waits out the scan timeout plus the
        // frame time, then the link's quiet time after a failed exchange.
        sim.setFault(hv52sim::Fault::Silent);
        for (const int speed : {9600, 115200}) {
            const Sample s = timed(sim, ctl, {"--port", "1", "scan", "--speeds", QString::number(speed)});
            std::printf("dead-line scan at %d bit/s, 247 addresses: %.1f s (%.1f ms an address, %d requests)\n", speed,
                        s.wallMs / 1000, s.wallMs / 247, s.requests);
        }
    }
    return status;
}
