// hv52ctl against lines that misbehave on purpose: a serial device server
// that sends every answer twice, peers that flood a request with frames or
// bytes, and a port lost in the middle of commissioning. Whatever the line
// does, every value is true or failed, memory stays bounded, and every write
// that went out is in the record with what became of it.
#include "harness.h"
#include "lineproxy.h"
#include "programrun.h"
#include "sim/tcpserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>

#include <functional>

#include <sys/resource.h>

using namespace hv52test;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

// The largest resident memory of any program this test has run and waited
// for, in KiB: every run must stay under the bound.
qint64 peakOfChildren()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

// The program to its end; `tick`, if given, is called every 20 ms meanwhile.
Result runCtl(const QStringList &args, const std::function<void()> &tick = {}, int timeoutMs = 60000)
{
    QProcess p;
    p.start(QStringLiteral(HV52CTL_PROGRAM), args);
    if (!p.waitForStarted())
        return {};
    QElapsedTimer clock;
    clock.start();
    while (!p.waitForFinished(20) && clock.elapsed() < timeoutMs) {
        if (tick)
            tick();
    }
    return finish(p, 0);
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(contents) == contents.size() && f.commit();
}

// A T516 whose neighbouring registers all differ, so that one register's
// answer taken for the next one shows, behind a TCP port passing RTU frames.
struct Module516
{
    explicit Module516(hv52sim::TcpFraming framing = hv52sim::TcpFraming::Rtu)
        : sim(Module::T516, 1), server(sim, framing)
    {
        sim.setDemo(false);
        // Each answer as long after its request as on a 9600 bit/s line.
        sim.setPacing(9600);
        sim.setRegister32(regs::inputCount(0), 7000);
        sim.setRegister32(regs::inputCount(1), 1520);
        sim.setRegister(regs::relayCommand(0), regs::cmdOperate);
        sim.setRegister(regs::relayCommand(1), regs::cmdHost);
        sim.setRegister(regs::relayState(1), regs::off);
        for (int k = 0; k < 3; ++k) {
            sim.setRegister(regs::analogValue(k), quint16(1200 + 400 * k));
            sim.setRegister(regs::analogSignal(k), quint16(k % 2));
            sim.setRegister(regs::analogSource(k), quint16(2 + k));
            sim.setRegister(regs::analogLower(k), quint16(100 * k));
            sim.setRegister(regs::analogUpper(k), quint16(1000 + 100 * k));
        }
        std::string error;
        if (!server.start(0, &error))
            qFatal("server did not start: %s", error.c_str());
    }
    QStringList through(int port) const { return {"--tcp", QStringLiteral("127.0.0.1:%1").arg(port)}; }
    hv52sim::Simulator sim;
    hv52sim::TcpServer server;
};

// Every --timeout the program suggests.
QList<int> suggestedTimeouts(const QString &err)
{
    QList<int> out;
    auto it = QRegularExpression(QStringLiteral("--timeout (\\d+)")).globalMatch(err);
    while (it.hasNext())
        out << it.next().captured(1).toInt();
    return out;
}

int writeRequests(const hv52sim::Simulator &sim)
{
    int n = 0;
    for (const auto &f : sim.frames())
        n += f.fromMaster && f.bytes.size() > 1 && f.bytes[1] == 16 ? 1 : 0;
    return n;
}

const QByteArray kSettings = R"({"module": "t516", "relay1.command": "host", "relay2.command": "operate",
"analog1.type": "4-20 mA", "analog1.source": 3, "analog1.lower": 0, "analog1.upper": 20,
"analog2.type": "0-5V", "analog2.source": 4, "analog2.lower": 0, "analog2.upper": 5})";

} // namespace

class HostileTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("LANG", "C.UTF-8"); }

    // Each answer sent again a while after the first: the copy must never
    // be taken for the next register's answer. Every value read is the
    // module's, or failed with its reason; a hint names the repetition and
    // never asks for a shorter timeout than the one given.
    void repeatedAnswersNeverPassForAnother_data()
    {
        QTest::addColumn<int>("loMs");
        QTest::addColumn<int>("hiMs");
        QTest::addColumn<unsigned>("seed");
        QTest::newRow("copy 1 to 30 ms later") << 1 << 30 << 1u;
        QTest::newRow("copy 1 to 30 ms later, other spacing") << 1 << 30 << 7u;
        QTest::newRow("copy always 6 ms later") << 6 << 6 << 3u;
        QTest::newRow("copy 20 to 80 ms later") << 20 << 80 << 4u;
    }
    void repeatedAnswersNeverPassForAnother()
    {
        QFETCH(int, loMs);
        QFETCH(int, hiMs);
        QFETCH(unsigned, seed);
        Module516 module;
        const QStringList read{"--timeout", "300", "read", "t516", "--json"};
        const Result truth = runCtl(module.through(module.server.port()) + read);
        QCOMPARE(truth.status, 0);
        const QJsonObject expected = truth.json();

        LineProxy proxy(LineProxy::Mode::Repeat, module.server.port(), loMs, hiMs, seed);
        for (int run = 0; run < 2; ++run) {
            const Result r = runCtl(module.through(proxy.port()) + read);
            const QJsonObject json = r.json();
            QCOMPARE(json.size(), expected.size());
            const QJsonObject failures = json[QStringLiteral("failures")].toObject();
            for (const QString &key : expected.keys()) {
                if (key == u"failures")
                    continue;
                if (json[key].isNull())
                    QVERIFY2(!failures[key].toString().isEmpty(), qPrintable(key));
                else
                    QVERIFY2(json[key] == expected[key] && !failures.contains(key),
                             qPrintable(QStringLiteral("run %1, %2: %3, true %4")
                                            .arg(run)
                                            .arg(key, json[key].toVariant().toString(),
                                                 expected[key].toVariant().toString())));
            }
            QCOMPARE(r.status, failures.isEmpty() ? 0 : 1);
            for (const int suggested : suggestedTimeouts(r.err))
                QVERIFY2(suggested >= 300, qPrintable(r.err));
            // The hint names what was seen: the repetition or the lateness;
            // a loaded machine may leave the line silent past the timeout
            // instead, and then the silence is what it names.
            bool onlySilence = !failures.isEmpty();
            for (const QJsonValue &why : failures)
                onlySilence = onlySilence && why.toString().contains(QStringLiteral("超时无应答"));
            if (!failures.isEmpty())
                QVERIFY2(r.err.contains(QStringLiteral("线路重复发送应答")) || r.err.contains(QStringLiteral("迟到"))
                             || (onlySilence && r.err.contains(QStringLiteral("模块无应答"))),
                         qPrintable(r.err));
        }
        QVERIFY(proxy.extraBytes() > 0);
    }

    // A set through the same line: what the module ends up holding is what
    // it held or what was asked, and a run that says it is done holds all
    // that was asked.
    void applyThroughRepeatsIsVerifiedOrNothing_data()
    {
        QTest::addColumn<int>("loMs");
        QTest::addColumn<int>("hiMs");
        QTest::newRow("copy 1 to 30 ms later") << 1 << 30;
        QTest::newRow("copy at once") << 0 << 2;
    }
    void applyThroughRepeatsIsVerifiedOrNothing()
    {
        QFETCH(int, loMs);
        QFETCH(int, hiMs);
        Module516 module;
        QTemporaryDir dir;
        const QString settings = dir.filePath(QStringLiteral("t516.json"));
        QVERIFY(writeFile(settings, kSettings));
        const QList<QPair<quint16, quint16>> asked{{regs::relayCommand(0), regs::cmdHost},
                                                   {regs::relayCommand(1), regs::cmdOperate},
                                                   {regs::analogSignal(0), 1},
                                                   {regs::analogSource(0), 3},
                                                   {regs::analogLower(0), 0},
                                                   {regs::analogUpper(0), 20000},
                                                   {regs::analogSignal(1), 0},
                                                   {regs::analogSource(1), 4},
                                                   {regs::analogLower(1), 0},
                                                   {regs::analogUpper(1), 5000}};
        QHash<quint16, quint16> before;
        for (const auto &[reg, value] : asked)
            before.insert(reg, module.sim.reg(reg));

        LineProxy proxy(LineProxy::Mode::Repeat, module.server.port(), loMs, hiMs, 5);
        const Result r =
            runCtl(module.through(proxy.port()) + QStringList{"--timeout", "300", "apply", "t516", settings});
        bool all = true;
        for (const auto &[reg, value] : asked) {
            const quint16 held = module.sim.reg(reg);
            QVERIFY2(held == value || held == before.value(reg),
                     qPrintable(QStringLiteral("%1 holds %2 (asked %3, before %4)\n%5")
                                    .arg(reg, 0, 16)
                                    .arg(held)
                                    .arg(value)
                                    .arg(before.value(reg))
                                    .arg(r.err)));
            all = all && held == value;
        }
        if (r.status == 0)
            QVERIFY2(all, qPrintable(r.out));
        QVERIFY2(r.status == 0 || r.status == 1, qPrintable(QString::number(r.status) + r.err));
    }

    // A peer that answers a request with frames and bytes without end: the
    // exchange ends with its reason once far more came than any answer
    // could be, and what is kept meanwhile stays small, even when the
    // response timeout is long.
    void floodEndsTheExchangeWithBoundedMemory_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("Modbus TCP frames of other transactions")
            << int(LineProxy::Mode::FloodMbap) << "--modbus-tcp" << 1000;
        QTest::newRow("the same, 3 s timeout") << int(LineProxy::Mode::FloodMbap) << "--modbus-tcp" << 3000;
        QTest::newRow("raw bytes where RTU frames pass") << int(LineProxy::Mode::FloodRaw) << "--tcp" << 3000;
    }
    void floodEndsTheExchangeWithBoundedMemory()
    {
        QFETCH(int, mode);
        QFETCH(QString, option);
        QFETCH(int, timeoutMs);
        LineProxy proxy{LineProxy::Mode(mode)};
        const Result r = runCtl({option, QStringLiteral("127.0.0.1:%1").arg(proxy.port()), "--timeout",
                                 QString::number(timeoutMs), "read", "t516"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("数据过多")) && !r.err.contains(QStringLiteral("程序错误")),
                 qPrintable(r.err));
        const qint64 peakKiB = peakOfChildren();
        QVERIFY2(peakKiB > 0 && peakKiB < HV52_MEMORY_BOUND_MIB * 1024, qPrintable(QString::number(peakKiB) + r.err));
        QVERIFY(proxy.extraBytes() > 4096);
    }

    // The port lost while a meter is being written: every write that went
    // out is in the report and the record, each with what became of it, the
    // one in flight as sent and never acknowledged.
    void portLostMidCommissionKeepsTheWrites_data()
    {
        QTest::addColumn<int>("lostAfterWrites");
        QTest::newRow("after the first write") << 1;
        QTest::newRow("after the fourth write") << 4;
        QTest::newRow("after the seventh write") << 7;
    }
    void portLostMidCommissionKeepsTheWrites()
    {
        QFETCH(int, lostAfterWrites);
        SimPort port(Module::T516);
        QVERIFY(writeFile(port.dir.filePath(QStringLiteral("t516.json")), kSettings));
        QVERIFY(writeFile(port.dir.filePath(QStringLiteral("plan.json")), R"({
  "site": "二号配电室", "operator": "李工",
  "line": {"port": 1, "speed": 9600, "timeout": 300},
  "meters": [{"address": 1, "module": "t516", "settings": "t516.json"}]
})"));
        // Answers paced as at 1200 bit/s: the port goes while a write is on
        // its way or just answered.
        port.sim.setPacing(1200);
        const QString record = port.dir.filePath(QStringLiteral("记录.json"));
        bool unplugged = false;
        const Result r =
            runCtl({"commission", port.dir.filePath(QStringLiteral("plan.json")), "--json", "--record", record}, [&] {
                if (!unplugged && writeRequests(port.sim) >= lostAfterWrites) {
                    port.sim.unplug();
                    unplugged = true;
                }
            });
        QVERIFY(unplugged);
        QVERIFY2(r.status == 1, qPrintable(r.err));
        const int sent = writeRequests(port.sim);
        QVERIFY(sent >= lostAfterWrites);

        QFile file(record);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(r.err));
        const QJsonObject saved = QJsonDocument::fromJson(file.readAll()).object();
        for (const QJsonObject &report : {r.json(), saved}) {
            const QJsonArray meters = report[QStringLiteral("meters")].toArray();
            QCOMPARE(meters.size(), 1);
            const QJsonObject meter = meters.first().toObject();
            QCOMPARE(meter[QStringLiteral("result")].toString(), QStringLiteral("write_failed"));
            int gone = 0;
            int inFlight = 0;
            for (const QJsonValue &w : meter[QStringLiteral("writes")].toArray()) {
                const QString outcome = w.toObject()[QStringLiteral("outcome")].toString();
                gone += outcome != u"not_sent" ? 1 : 0;
                if (outcome == u"write_failed") {
                    ++inFlight;
                    QVERIFY2(w.toObject()[QStringLiteral("reason")].toString().contains(QStringLiteral("已发送")),
                             qPrintable(QJsonDocument(w.toObject()).toJson()));
                }
            }
            // A write request carries a register or a pair: never fewer
            // entries than requests sent.
            QVERIFY2(gone >= sent, qPrintable(QStringLiteral("%1 of %2 sent\n%3").arg(gone).arg(sent).arg(r.out)));
            QVERIFY(inFlight >= 1);
        }
    }
};

QTEST_MAIN(HostileTest)
#include "tst_hostile.moc"
