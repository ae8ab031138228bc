// A full T516 poll through the real window against the simulated module in
// its line-speed pacing mode, beside the time the frames take on the wire
// (10 bits a byte and the 3.5-character gap before each frame); and a poll of
// a dead line beside 27 response timeouts. Unpaced (--unpaced N): N polls as
// fast as the line goes, beside a libmodbus master doing the same 27 reads on
// the same pseudo-terminal, in turns; the form to profile the tool's own
// share of an exchange with perf or callgrind.
//
//   bench_poll [--no-dead-line]
//   bench_poll --unpaced N
//   bench_poll --profile N   (N unpaced polls after one that is not counted,
//                             in profiledPolls: callgrind --toggle-collect=*profiledPolls*)
#include "bareqt.h"
#include "benchsim.h"
#include "frm_t516.h"
#include "t516module.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#ifdef HV52_BENCH_LIBMODBUS
#include <modbus/modbus.h>
#endif

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Run
{
    double pollMs = 0; // first request sent to the completion message
    int requests = 0;
    double wireMs = 0;
    QString message;
    std::vector<double> toolUs; // last bytes of an answer received to the next request sent
    std::vector<double> waitUs; // a request sent to its answer's bytes received
    double exchangesMs = 0;     // the first request sent to the last answer's bytes received
};

Run poll(frm_T516 &window, int baud)
{
    Run run;
    QElapsedTimer clock;
    double chars = 0;
    const auto sent = QObject::connect(&window.link(), &hv52::Link::requestSent, [&](const QByteArray &frame) {
        if (run.requests++ == 0)
            clock.start();
        chars += frame.size() + 3.5 + hv52::answerLength(frame) + 3.5;
    });
    window.setMessenger([&](const QString &text, bool) {
        run.pollMs = clock.nsecsElapsed() / 1e6;
        run.message = text;
        return true;
    });
    // The tool's own share of each exchange, seen from inside the tool.
    QElapsedTimer received;
    QElapsedTimer requested;
    const auto answer = QObject::connect(&window.link(), &hv52::Link::bytesArrived, [&] {
        received.start();
        if (requested.isValid())
            run.waitUs.push_back(requested.nsecsElapsed() / 1000.0);
        run.exchangesMs = clock.nsecsElapsed() / 1e6;
    });
    const auto next = QObject::connect(&window.link(), &hv52::Link::requestSent, [&](const QByteArray &) {
        if (received.isValid())
            run.toolUs.push_back(received.nsecsElapsed() / 1000.0);
        requested.start();
    });
    window.Command1_Click(frm_T516::kReadButton);
    QObject::disconnect(answer);
    QObject::disconnect(next);
    QObject::disconnect(sent);
    run.wireMs = chars * 10 * 1000 / baud;
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

#ifdef HV52_BENCH_LIBMODBUS
// libmodbus's RTU master: the 27 reads of the poll, in order, one context
// opened and closed around them as the window opens and closes its port.
double libmodbusPoll(const char *device, bool *ok, double *exchangesMs)
{
    QElapsedTimer clock;
    clock.start();
    modbus_t *ctx = modbus_new_rtu(device, 9600, 'N', 8, 1);
    *ok = ctx && modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0;
    if (*ok) {
        modbus_set_response_timeout(ctx, 1, 0);
        uint16_t values[2];
        QElapsedTimer exchanges;
        exchanges.start();
        for (const hv52::Point &p : hv52::t516Module().poll)
            *ok = modbus_read_registers(ctx, p.address, p.pair ? 2 : 1, values) == (p.pair ? 2 : 1) && *ok;
        *exchangesMs = exchanges.nsecsElapsed() / 1e6;
        modbus_close(ctx);
    }
    if (ctx)
        modbus_free(ctx);
    return clock.nsecsElapsed() / 1e6;
}

// One libmodbus poll in turn with the window's: its whole time and its
// exchanges' time added to the figures; false when a read failed.
bool libmodbusTurn(const char *device, std::vector<double> &total, std::vector<double> &exchanges)
{
    bool ok = false;
    double exchangesMs = 0;
    total.push_back(libmodbusPoll(device, &ok, &exchangesMs));
    exchanges.push_back(exchangesMs);
    return ok;
}
#endif

// The bare Qt master's poll: the port opened, the 27 reads, the port closed,
// as the window does around its poll, with nothing shown. Its whole time and
// its exchanges' time added to the figures; false when a read failed.
bool bareQtTurn(const QString &device, std::vector<double> &total, std::vector<double> &exchanges)
{
    QElapsedTimer clock;
    clock.start();
    QSerialPort port;
    bool ok = openBarePort(port, device, 9600);
    if (ok) {
        QElapsedTimer reads;
        reads.start();
        for (const hv52::Point &p : hv52::t516Module().poll)
            ok = bareRead(port, p.address, p.pair ? 2 : 1) && ok;
        exchanges.push_back(reads.nsecsElapsed() / 1e6);
        port.close();
    }
    total.push_back(clock.nsecsElapsed() / 1e6);
    return ok;
}

int unpaced(hv52sim::Simulator &sim, int polls)
{
    sim.setPacing(0);
    frm_T516 window;
    window.Form_Load(QStringLiteral("1 1 9600"));
    std::vector<double> tool, toolUs, waitUs, modbus, toolExchanges, modbusExchanges, bare, bareExchanges;
    int status = 0;
    for (int i = 0; i < polls; ++i) {
        QElapsedTimer clock;
        clock.start();
        const Run run = poll(window, 9600);
        tool.push_back(clock.nsecsElapsed() / 1e6); // press to message, port opening included
        toolUs.insert(toolUs.end(), run.toolUs.begin(), run.toolUs.end());
        waitUs.insert(waitUs.end(), run.waitUs.begin(), run.waitUs.end());
        toolExchanges.push_back(run.exchangesMs);
        if (run.message != QStringLiteral("召测数据，完成！") || run.requests != 27)
            status = 1;
#ifdef HV52_BENCH_LIBMODBUS
        if (!libmodbusTurn(sim.devicePath().c_str(), modbus, modbusExchanges))
            status = 1;
#endif
        if (!bareQtTurn(QString::fromStdString(sim.devicePath()), bare, bareExchanges))
            status = 1;
    }
    std::printf("unpaced T516 poll, 27 reads, median of %d: window %.3f ms (%.1f us an exchange; its own turn "
                "median %.0f us, the wait for an answer median %.0f us)",
                polls, median(tool), median(tool) * 1000 / 27, median(toolUs), median(waitUs));
    if (!modbus.empty())
        std::printf(", libmodbus %.3f ms, ratio %.3f", median(modbus), median(tool) / median(modbus));
    std::printf("\n");
    // The port's opening and closing apart: QSerialPort takes a lock file
    // (written and synced to disk where /run/lock is no tmpfs), libmodbus none.
    if (!modbus.empty())
        std::printf("  first request to last answer: window %.3f ms, libmodbus %.3f ms, ratio %.3f\n",
                    median(toolExchanges), median(modbusExchanges), median(toolExchanges) / median(modbusExchanges));
    // What any program on QSerialPort takes: the port's opening and closing
    // are Qt's, the rest of the window's time beyond it the window's own.
    std::printf("  bare Qt master (QSerialPort, nothing checked or shown): open to close %.3f ms, first request to "
                "last answer %.3f ms",
                median(bare), median(bareExchanges));
    if (!modbus.empty())
        std::printf("; ratios to libmodbus %.3f and %.3f", median(bare) / median(modbus),
                    median(bareExchanges) / median(modbusExchanges));
    std::printf("\n");
    return status;
}

} // namespace

// The steady state of the window's poll: the first poll also takes the
// start-up marks off the lists, which costs a restyle each.
__attribute__((noinline)) int profiledPolls(frm_T516 &window, int polls)
{
    int failed = 0;
    for (int i = 0; i < polls; ++i)
        failed += poll(window, 9600).requests == 27 ? 0 : 1;
    return failed;
}

int profile(hv52sim::Simulator &sim, int polls)
{
    sim.setPacing(0);
    frm_T516 window;
    window.Form_Load(QStringLiteral("1 1 9600"));
    poll(window, 9600);
    QElapsedTimer clock;
    clock.start();
    const int failed = profiledPolls(window, polls);
    std::printf("%d unpaced polls after the first: %.3f ms each\n", polls, clock.nsecsElapsed() / 1e6 / polls);
    return failed ? 1 : 0;
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool deadLine = !(argc > 1 && QByteArray(argv[1]) == "--no-dead-line");

    BenchModule module;
    if (!module.start(64))
        return 1;
    hv52sim::Simulator &sim = module.sim;
    sim.setDemo(false);
    if (argc > 2 && QByteArray(argv[1]) == "--unpaced")
        return unpaced(sim, std::max(1, QByteArray(argv[2]).toInt()));
    if (argc > 2 && QByteArray(argv[1]) == "--profile")
        return profile(sim, std::max(1, QByteArray(argv[2]).toInt()));

    int status = 0;
    for (const int baud : {9600, 115200}) {
        frm_T516 window;
        window.Form_Load(QStringLiteral("1 1 %1").arg(baud));
        sim.setPacing(baud);
        std::vector<Run> runs;
        std::vector<double> presses, modbus, modbusExchanges;
        for (int i = 0; i < 7; ++i) {
            QElapsedTimer press;
            press.start();
            runs.push_back(poll(window, baud));
            presses.push_back(press.nsecsElapsed() / 1e6);
#ifdef HV52_BENCH_LIBMODBUS
            // libmodbus's master in turns with the window, on the same paced line.
            if (!libmodbusTurn(sim.devicePath().c_str(), modbus, modbusExchanges))
                status = 1;
#endif
        }
        std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.pollMs < b.pollMs; });
        const Run &middle = runs[runs.size() / 2];
        std::vector<double> tool;
        for (const Run &run : runs)
            tool.insert(tool.end(), run.toolUs.begin(), run.toolUs.end());
        std::sort(tool.begin(), tool.end());
        std::printf("%6d bit/s: poll %.2f ms, wire %.2f ms, ratio %.4f (%d requests, median of %zu)\n", baud,
                    middle.pollMs, middle.wireMs, middle.pollMs / middle.wireMs, middle.requests, runs.size());
        std::printf("              beyond the wire: %.0f us an exchange, of which the tool's own turn "
                    "(answer in to next request out) median %.0f us, p90 %.0f us\n",
                    (middle.pollMs - middle.wireMs) * 1000 / middle.requests, tool[tool.size() / 2],
                    tool[tool.size() * 9 / 10]);
        if (!modbus.empty()) {
            std::vector<double> exchanges;
            for (const Run &run : runs)
                exchanges.push_back(run.exchangesMs);
            std::printf("              beside libmodbus: press to message %.2f ms against %.2f ms, ratio %.4f; "
                        "first request to last answer %.2f ms against %.2f ms, ratio %.4f\n",
                        median(presses), median(modbus), median(presses) / median(modbus), median(exchanges),
                        median(modbusExchanges), median(exchanges) / median(modbusExchanges));
        }
        if (middle.message != QStringLiteral("召测数据，完成！") || middle.requests != 27)
            status = 1;
    }
    sim.setPacing(0);

    if (deadLine) {
        sim.setFault(hv52sim::Fault::Silent);
        frm_T516 window;
        window.Form_Load(QStringLiteral("1 1 9600"));
        QElapsedTimer clock;
        clock.start();
        Run run = poll(window, 9600);
        const double total = clock.nsecsElapsed() / 1e6;
        std::printf("dead line: poll %.1f ms (press to message %.1f ms), 27 x 1000 ms = 27000 ms, ratio %.4f\n",
                    run.pollMs, total, run.pollMs / 27000);
        if (window.link().failureCount() != 27)
            status = 1;
    }
    return status;
}
