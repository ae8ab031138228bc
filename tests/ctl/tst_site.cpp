// A site of several lines worked at once by hv52ctl, run as a program
// against a simulated bus on each line (two pseudo-terminals and a Modbus
// TCP gateway): every line's outcomes, the record equal to the report, a
// signal in the middle, the plans refused before anything is sent, an
// audit that finds a drifted setting without one write, an audit of an
// earlier record, and a scan that seeds the site.
#include "programrun.h"
#include "testfiles.h"

#include "sim/simulator.h"
#include "sim/tcpserver.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>

using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

// Relay 1 on host control and analog output 1 as 4-20 mA of source 3 from
// 0 to 20: what every T516 of the site is commissioned with.
const QByteArray kSettings = R"({"module": "t516", "relay1.command": "host", "analog1.type": "4-20 mA",
"analog1.source": 3, "analog1.lower": 0, "analog1.upper": 20})";

// Three lines:
//   line 1 (COM1): T516s at 1, 2, 3, healthy;
//   line 2 (COM2): a T516 at 1, a T528 at 2 where a T516 is planned, nobody at 3;
//   line 3 (a Modbus TCP gateway): T516s at 1 and 2.
struct Site
{
    Site()
        : one(Module::T516, 1), two(Module::T516, 1), three(Module::T516, 1), gateway(three, hv52sim::TcpFraming::Mbap)
    {
        qputenv("HV52_SERIAL_DIR", dir.path().toLocal8Bit());
        one.addModule(Module::T516, 2);
        one.addModule(Module::T516, 3);
        two.addModule(Module::T528, 2);
        three.addModule(Module::T516, 2);
        std::string error;
        if (!one.start(dir.path().toStdString(), 1, &error) || !two.start(dir.path().toStdString(), 2, &error)
            || !gateway.start(0, &error))
            qFatal("simulator did not start: %s", error.c_str());
        for (hv52sim::Simulator *sim : {&one, &two, &three}) {
            for (const auto &m : sim->modules())
                sim->setRegister(m.address, regs::relayCommand(0), regs::cmdAlarm);
        }
        writeFile(file(QStringLiteral("t516.json")), kSettings);
    }
    QString file(const QString &name) const { return dir.filePath(name); }
    QString endpoint() const { return QStringLiteral("127.0.0.1:%1").arg(gateway.port()); }
    // The site plan: every meter a T516 with the settings file.
    QByteArray plan(int timeoutMs = 150) const
    {
        return QStringLiteral(R"({"site": "城东变电站", "operator": "张工", "lines": [
  {"port": 1, "timeout": %1, "meters": [{"address": "1-3", "module": "t516", "settings": "t516.json"}]},
  {"port": 2, "timeout": %1, "meters": [{"address": "1-3", "module": "t516", "settings": "t516.json"}]},
  {"modbus_tcp": "%2", "timeout": %1, "meters": [{"address": "1-2", "module": "t516", "settings": "t516.json"}]}
]})")
            .arg(timeoutMs)
            .arg(endpoint())
            .toUtf8();
    }
    Result run(const QStringList &args, int timeoutMs = 90000) const
    {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(HV52CTL_PROGRAM), args);
        return finish(p, timeoutMs);
    }
    // The function codes of every request each line received.
    QList<int> functions() const
    {
        QList<int> out;
        for (const hv52sim::Simulator *sim : {&one, &two}) {
            for (const auto &f : sim->frames()) {
                if (f.fromMaster && f.bytes.size() > 1)
                    out << f.bytes[1];
            }
        }
        for (const auto &r : gateway.requests()) {
            if (r.size() > 7)
                out << r[7];
        }
        return out;
    }
    int requestsTo(const hv52sim::Simulator &sim, uint8_t address) const
    {
        int n = 0;
        for (const auto &f : sim.frames())
            n += f.fromMaster && !f.bytes.empty() && f.bytes[0] == address ? 1 : 0;
        return n;
    }
    void clearLogs()
    {
        one.clearLog();
        two.clearLog();
        gateway.clearLog();
    }

    QTemporaryDir dir;
    hv52sim::Simulator one, two, three;
    hv52sim::TcpServer gateway;
};

QJsonArray linesOf(const QJsonObject &report)
{
    return report.value(QStringLiteral("lines")).toArray();
}

// "line/address result" for every meter of a report, in order.
QStringList outcomes(const QJsonObject &report)
{
    QStringList out;
    const QJsonArray lines = linesOf(report);
    for (int i = 0; i < lines.size(); ++i) {
        for (const QJsonValue &m : lines[i].toObject().value(QStringLiteral("meters")).toArray())
            out << QStringLiteral("%1/%2 %3")
                       .arg(i + 1)
                       .arg(m.toObject().value(QStringLiteral("address")).toInt())
                       .arg(m.toObject().value(QStringLiteral("result")).toString());
    }
    return out;
}

QJsonObject meterOf(const QJsonObject &report, int line, int address)
{
    for (const QJsonValue &m : linesOf(report)[line - 1].toObject().value(QStringLiteral("meters")).toArray()) {
        if (m.toObject().value(QStringLiteral("address")).toInt() == address)
            return m.toObject();
    }
    return {};
}

const QStringList kSiteOutcomes = {"1/1 done",       "1/2 done",      "1/3 done", "2/1 done",
                                   "2/2 incomplete", "2/3 no_answer", "3/1 done", "3/2 done"};

bool isWrite(int function)
{
    return function == 5 || function == 6 || function == 15 || function == 16;
}

} // namespace

class SiteTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("LANG", "C.UTF-8"); }

    // The three lines at once: each meter its own outcome, nothing written
    // to the meter of another kind, the lines worked side by side, each
    // result line named by its line, and the record equal to the report.
    void threeLinesAtOnce()
    {
        Site site;
        site.one.setPacing(19200);
        site.two.setPacing(19200);
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan()));
        const QString record = site.file(QStringLiteral("record.json"));
        const Result r = site.run({"commission", "site.json", "--json", "--record", record});
        QCOMPARE(r.status, 1);
        const QJsonObject report = r.json();
        QCOMPARE(outcomes(report), kSiteOutcomes);
        QCOMPARE(QJsonDocument::fromJson(readFile(record)).object(), report);
        QCOMPARE(report.value(QStringLiteral("site")).toString(), QStringLiteral("城东变电站"));
        QCOMPARE(meterOf(report, 2, 2).value(QStringLiteral("detail")).toString(),
                 QStringLiteral("是 T528，不是 T516"));
        // Only reads reached the T528 and the empty address.
        for (const auto &f : site.two.frames()) {
            if (f.fromMaster && f.bytes.size() > 1 && (f.bytes[0] == 2 || f.bytes[0] == 3))
                QVERIFY2(!isWrite(f.bytes[1]), qPrintable(QString::fromStdString(hv52sim::Simulator::hex(f.bytes))));
        }
        for (const hv52sim::Simulator *sim : {&site.one, &site.three})
            QCOMPARE(sim->reg(2, regs::relayCommand(0)), regs::cmdHost);
        QCOMPARE(site.two.reg(1, regs::relayCommand(0)), regs::cmdHost);
        // Side by side: every line began before any line ended.
        QDateTime lastStart, firstEnd;
        for (const QJsonValue &line : linesOf(report)) {
            const QDateTime started =
                QDateTime::fromString(line.toObject().value(QStringLiteral("started")).toString(), Qt::ISODate);
            const QDateTime finished =
                QDateTime::fromString(line.toObject().value(QStringLiteral("finished")).toString(), Qt::ISODate);
            lastStart = lastStart.isValid() ? std::max(lastStart, started) : started;
            firstEnd = firstEnd.isValid() ? std::min(firstEnd, finished) : finished;
        }
        QVERIFY2(lastStart <= firstEnd,
                 qPrintable(lastStart.toString(Qt::ISODate) + u' ' + firstEnd.toString(Qt::ISODate)));
        QCOMPARE(linesOf(report)[2].toObject().value(QStringLiteral("place")).toObject(),
                 QJsonObject({{QStringLiteral("modbus_tcp"), site.endpoint()}}));

        // Without --json, on no console: the result lines alone, each named
        // by its line, then each line's summary.
        site.clearLogs();
        const Result text = site.run({"commission", "site.json"});
        QCOMPARE(text.status, 1);
        QVERIFY2(text.out.contains(QStringLiteral("线路 2（COM2）：地址   2  T516  寄存器不全（是 T528，不是 T516）")),
                 qPrintable(text.out));
        QVERIFY2(text.out.contains(QStringLiteral("线路 3（%1）：地址   1  T516  完成并核对").arg(site.endpoint())),
                 qPrintable(text.out));
        QVERIFY2(text.out.contains(QStringLiteral("线路 2（COM2）：3 台：1 台完成并核对，1 台无应答（地址 3），"
                                                  "1 台寄存器不全（地址 2：是 T528，不是 T516）")),
                 qPrintable(text.out));
        QVERIFY2(text.err.contains(QStringLiteral("线路 2（COM2）：地址 3：模块无应答。")), qPrintable(text.err));
        QVERIFY2(!text.err.contains(u'\033'), "no status rows off a console");
    }

    // A port that is not there ends its own line: the others are worked.
    void aLineWithoutItsPort()
    {
        Site site;
        QByteArray plan = site.plan();
        plan.replace("\"port\": 2", "\"port\": 9");
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), plan));
        const Result r = site.run({"commission", "site.json", "--json"});
        QCOMPARE(r.status, 1);
        QCOMPARE(outcomes(r.json()), (QStringList{"1/1 done", "1/2 done", "1/3 done", "2/1 not_reached",
                                                  "2/2 not_reached", "2/3 not_reached", "3/1 done", "3/2 done"}));
        QVERIFY2(r.err.contains(QStringLiteral("线路 2（COM9）：")), qPrintable(r.err));
    }

    // SIGTERM in the middle: every line stops at its next safe point, the
    // analog group in progress whole, the meters cut short and not reached
    // marked, nothing sent to those not reached, and the record written.
    void signalStopsEveryLine()
    {
        Site site;
        site.one.setPacing(9600);
        site.two.setPacing(9600);
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan(1000)));
        const QString record = site.file(QStringLiteral("record.json"));
        QProcess p;
        p.setWorkingDirectory(site.dir.path());
        auto pid = std::make_shared<std::atomic<qint64>>(0);
        // The first write to meter 2 of line 1.
        site.one.onFrame([pid](const hv52sim::Frame &f) {
            if (f.fromMaster && f.bytes.size() > 2 && f.bytes[0] == 2 && f.bytes[1] == 16 && *pid > 0)
                ::kill(pid_t(pid->exchange(0)), SIGTERM);
        });
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"commission", "site.json", "--record", record});
        QVERIFY(p.waitForStarted());
        *pid = p.processId();
        const Result r = finish(p, 90000);
        site.one.onFrame({});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("已中断（SIGTERM）")), qPrintable(r.err));
        const QJsonObject report = QJsonDocument::fromJson(readFile(record)).object();
        QCOMPARE(report.value(QStringLiteral("stopped")).toString(), QStringLiteral("已中断（SIGTERM）"));
        QCOMPARE(meterOf(report, 1, 1).value(QStringLiteral("result")).toString(), QStringLiteral("done"));
        QCOMPARE(meterOf(report, 1, 2).value(QStringLiteral("result")).toString(), QStringLiteral("stopped"));
        QCOMPARE(meterOf(report, 1, 3).value(QStringLiteral("result")).toString(), QStringLiteral("not_reached"));
        QCOMPARE(site.requestsTo(site.one, 3), 0);
        // Every meter of every line is accounted for; none reached after the
        // signal was sent anything.
        for (const QJsonValue &line : linesOf(report))
            QVERIFY(!line.toObject().value(QStringLiteral("meters")).toArray().isEmpty());
        const QStringList all = outcomes(report);
        QVERIFY2(all.filter(QStringLiteral("not_reached")).size() >= 2, qPrintable(all.join(u',')));
        const QList<uint16_t> analog{site.one.reg(2, regs::analogSignal(0)), site.one.reg(2, regs::analogSource(0)),
                                     site.one.reg(2, regs::analogLower(0)), site.one.reg(2, regs::analogUpper(0))};
        const QList<uint16_t> untouched{site.one.reg(3, regs::analogSignal(0)), site.one.reg(3, regs::analogSource(0)),
                                        site.one.reg(3, regs::analogLower(0)), site.one.reg(3, regs::analogUpper(0))};
        QVERIFY2(analog == untouched || analog == (QList<uint16_t>{0, 3, 0, 20000}),
                 qPrintable(QStringLiteral("%1 %2 %3 %4").arg(analog[0]).arg(analog[1]).arg(analog[2]).arg(analog[3])));
    }

    // A signal sent twice, as a hang-up delivers it (the kernel to the
    // foreground group, then the shell to its jobs) or timeout(1) (the child,
    // then its group): one request, so the analog group in progress is
    // written whole and the record written. SIGQUIT stops at once, after the
    // group on the line and without a record.
    void signalTwiceIsOneRequest_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second"); // 0: none
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QString>("stopped"); // empty: no record
        QTest::newRow("SIGHUP twice at once") << int(SIGHUP) << int(SIGHUP) << 0 << "已中断（SIGHUP）";
        QTest::newRow("SIGHUP twice, 2 ms apart") << int(SIGHUP) << int(SIGHUP) << 2 << "已中断（SIGHUP）";
        QTest::newRow("SIGTERM twice, 30 ms apart") << int(SIGTERM) << int(SIGTERM) << 30 << "已中断（SIGTERM）";
        QTest::newRow("Ctrl-C twice, 20 ms apart") << int(SIGINT) << int(SIGINT) << 20 << "已中断（Ctrl-C）";
        QTest::newRow("SIGTERM, then SIGHUP") << int(SIGTERM) << int(SIGHUP) << 2 << "已中断（SIGTERM）";
        QTest::newRow("SIGQUIT") << int(SIGQUIT) << 0 << 0 << QString();
        QTest::newRow("SIGQUIT after SIGTERM") << int(SIGTERM) << int(SIGQUIT) << 30 << QString();
    }
    void signalTwiceIsOneRequest()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, gapMs);
        QFETCH(QString, stopped);
        Site site;
        site.one.setPacing(9600);
        site.two.setPacing(9600);
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan(1000)));
        const QString record = site.file(QStringLiteral("record.json"));
        QProcess p;
        p.setWorkingDirectory(site.dir.path());
        p.setChildProcessModifier([] { ::signal(SIGINT, SIG_DFL); });
        auto pid = std::make_shared<std::atomic<qint64>>(0);
        auto writes = std::make_shared<int>(0);
        std::thread later;
        // At analog output 1's first write to meter 2 of line 1: its group
        // is on the line.
        site.one.onFrame([=, &later](const hv52sim::Frame &f) {
            if (!f.fromMaster || f.bytes.size() < 3 || f.bytes[0] != 2 || f.bytes[1] != 16 || ++*writes != 2)
                return;
            const pid_t to = pid_t(pid->load());
            ::kill(to, first);
            if (second)
                later = std::thread([=] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
                    ::kill(to, second);
                });
        });
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"commission", "site.json", "--record", record});
        QVERIFY(p.waitForStarted());
        *pid = p.processId();
        const Result r = finish(p, 90000);
        site.one.onFrame({});
        if (later.joinable())
            later.join();
        QVERIFY(*writes >= 2);
        // The group in progress was written whole.
        const QList<uint16_t> analog{site.one.reg(2, regs::analogSignal(0)), site.one.reg(2, regs::analogSource(0)),
                                     site.one.reg(2, regs::analogLower(0)), site.one.reg(2, regs::analogUpper(0))};
        QCOMPARE(analog, (QList<uint16_t>{0, 3, 0, 20000}));
        if (stopped.isEmpty()) {
            QCOMPARE(r.status, 131);
            QVERIFY2(r.err.contains(QStringLiteral("已立即停止（SIGQUIT）")), qPrintable(r.err));
            QVERIFY(!QFile::exists(record));
            return;
        }
        QCOMPARE(r.status, 1);
        const QJsonObject report = QJsonDocument::fromJson(readFile(record)).object();
        QCOMPARE(report.value(QStringLiteral("stopped")).toString(), stopped);
        QCOMPARE(meterOf(report, 1, 2).value(QStringLiteral("result")).toString(), QStringLiteral("stopped"));
        QCOMPARE(site.requestsTo(site.one, 3), 0);
    }

    // Two lines that are one line are refused before the first exchange,
    // naming both.
    void sharedLinesRefused_data()
    {
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("message");
        QTest::newRow("one port twice") << R"({"port": 1})"
                                        << "第 2 条线路（COM1）与第 1 条线路（COM1）是同一个串口";
        QTest::newRow("a device and its port") << R"({"device": "DIR/com1"})"
                                               << "第 2 条线路（DIR/com1）与第 1 条线路（COM1）是同一个串口设备";
        QTest::newRow("one device under two names")
            << R"({"device": "DIR/another"})"
            << "第 2 条线路（DIR/another）与第 1 条线路（COM1）是同一个串口设备";
        QTest::newRow("one endpoint, two framings") << R"({"tcp": "ENDPOINT"})"
                                                    << "第 2 条线路（ENDPOINT）与第 1 条线路（COM1）";
        QTest::newRow("no place") << R"({"speed": 9600})"
                                  << "第 2 条线路：缺少线路";
        QTest::newRow("two places") << R"({"port": 4, "tcp": "ENDPOINT"})"
                                    << "只能给出一个";
        QTest::newRow("unknown key") << R"({"port": 4, "baud": 9600})"
                                     << "未知条目“baud”";
    }
    void sharedLinesRefused()
    {
        QFETCH(QString, second);
        QFETCH(QString, message);
        Site site;
        QVERIFY(QFile::link(site.file(QStringLiteral("com1")), site.file(QStringLiteral("another"))));
        second.replace(QStringLiteral("DIR"), site.dir.path());
        message.replace(QStringLiteral("DIR"), site.dir.path());
        second.replace(QStringLiteral("ENDPOINT"), site.endpoint());
        message.replace(QStringLiteral("ENDPOINT"), site.endpoint());
        QJsonObject line = QJsonDocument::fromJson(second.toUtf8()).object();
        line.insert(QStringLiteral("meters"), QJsonDocument::fromJson(R"([{"address": 1, "module": "t516"}])").array());
        QJsonArray lines{QJsonObject{{"port", 1}, {"meters", line.value(QStringLiteral("meters"))}}, line};
        if (second.contains(QStringLiteral("tcp")) && !second.contains(QStringLiteral("port")))
            lines[0] = QJsonObject{{"modbus_tcp", site.endpoint()}, {"meters", line.value(QStringLiteral("meters"))}};
        QVERIFY(
            writeFile(site.file(QStringLiteral("site.json")), QJsonDocument(QJsonObject{{"lines", lines}}).toJson()));
        if (message.contains(QStringLiteral("（COM1）")) && lines[0].toObject().contains(QStringLiteral("modbus_tcp")))
            message.replace(QStringLiteral("（COM1）"), QStringLiteral("（%1）").arg(site.endpoint()));
        const Result r = site.run({"commission", "site.json"});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("请求未发送")), qPrintable(r.err));
        QCOMPARE(site.functions().size(), 0);
        // The audit reads the same plan the same way.
        const Result audit = site.run({"verify", "site.json"});
        QCOMPARE(audit.status, 2);
        QVERIFY2(audit.err.contains(message), qPrintable(audit.err));
    }

    // The command line names no line of a site: the plan does.
    void lineOptionsRefusedWithASite_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("--port") << QStringList{"--port", "1"};
        QTest::newRow("--speed") << QStringList{"--speed", "19200"};
        QTest::newRow("--tcp") << QStringList{"--tcp", "127.0.0.1:1"};
    }
    void lineOptionsRefusedWithASite()
    {
        QFETCH(QStringList, args);
        Site site;
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan()));
        const Result r = site.run(QStringList{"commission", "site.json"} + args);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QStringLiteral("不能再用 ") + args[0]), qPrintable(r.err));
        QCOMPARE(site.functions().size(), 0);
    }

    // The audit after commissioning: one setting changed on one meter since
    // is the one drift found; the others match; not one write is sent.
    void verifyFindsTheDrift()
    {
        Site site;
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan()));
        QCOMPARE(site.run({"commission", "site.json"}).status, 1);
        site.one.setRegister(2, regs::relayCommand(0), regs::cmdAlarm); // changed since
        site.clearLogs();
        const QString record = site.file(QStringLiteral("audit.json"));
        const Result r = site.run({"verify", "site.json", "--record", record});
        QCOMPARE(r.status, 1);
        QVERIFY(!site.functions().isEmpty());
        for (const int f : site.functions())
            QVERIFY2(!isWrite(f), qPrintable(QString::number(f)));
        const QJsonObject audit = QJsonDocument::fromJson(readFile(record)).object();
        QCOMPARE(audit.value(QStringLiteral("command")).toString(), QStringLiteral("verify"));
        QCOMPARE(outcomes(audit), (QStringList{"1/1 matched", "1/2 drifted", "1/3 matched", "2/1 matched",
                                               "2/2 incomplete", "2/3 no_answer", "3/1 matched", "3/2 matched"}));
        const QString drift = QStringLiteral("继电器1 控制方式：不一致（计划 上位机控制，模块 报警输出）");
        QVERIFY2(r.err.contains(QStringLiteral("线路 1（COM1）：地址 2：") + drift), qPrintable(r.err));
        QVERIFY2(r.out.contains(QStringLiteral("线路 1（COM1）：地址   2  T516  不一致（") + drift), qPrintable(r.out));
        // The drifted setting side by side in the record.
        const QJsonArray checks = meterOf(audit, 1, 2).value(QStringLiteral("checks")).toArray();
        QVERIFY(!checks.isEmpty());
        int differs = 0;
        for (const QJsonValue &c : checks) {
            const QJsonObject check = c.toObject();
            if (check.value(QStringLiteral("verdict")).toString() == u"differs") {
                ++differs;
                QCOMPARE(check.value(QStringLiteral("key")).toString(), QStringLiteral("relay1.command"));
                QCOMPARE(check.value(QStringLiteral("expected_text")).toString(), QStringLiteral("上位机控制"));
                QCOMPARE(check.value(QStringLiteral("found_text")).toString(), QStringLiteral("报警输出"));
            }
        }
        QCOMPARE(differs, 1);
        // Put right, the line audits clean.
        site.one.setRegister(2, regs::relayCommand(0), regs::cmdHost);
        QVERIFY(writeFile(site.file(QStringLiteral("one.json")),
                          R"({"line": {"port": 1, "timeout": 150}, "meters": [{"address": "1-3", "module": "t516",
                          "settings": "t516.json"}]})"));
        const Result clean = site.run({"verify", "one.json"});
        QCOMPARE(clean.status, 0);
        QVERIFY2(clean.out.contains(QStringLiteral("3 台：3 台一致")), qPrintable(clean.out));
    }

    // From a scan to a signed record and its audit: the site scanned, the
    // scan commissioned, the record audited; a setting changed afterwards is
    // found against what the record says the meter was left with.
    void fromAScanToTheAudit()
    {
        Site site;
        site.two.setFault(Fault::None);
        const Result scan =
            site.run({"scan", "--lines", QStringLiteral("port:1,port:2,modbus_tcp:%1").arg(site.endpoint()), "--speeds",
                      "9600", "--addresses", "1-3", "--scan-timeout", "50", "--json"});
        QCOMPARE(scan.status, 0);
        const QJsonArray lines = scan.json().value(QStringLiteral("lines")).toArray();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0].toObject().value(QStringLiteral("found")).toArray().size(), 3);
        QCOMPARE(lines[1].toObject().value(QStringLiteral("found")).toArray().size(), 2);
        QCOMPARE(lines[2].toObject().value(QStringLiteral("modbus_tcp")).toString(), site.endpoint());
        QVERIFY(writeFile(site.file(QStringLiteral("scan.json")), scan.out.toUtf8()));
        site.clearLogs();
        const Result done = site.run({"commission", "--from-scan", "scan.json", "--settings", "t516=t516.json",
                                      "--timeout", "150", "--record", "record.json"});
        QCOMPARE(done.status, 0);
        QVERIFY2(done.out.contains(QStringLiteral("线路 2（COM2）：2 台：1 台完成并核对，1 台已记录")),
                 qPrintable(done.out));
        site.clearLogs();
        const Result audit = site.run({"verify", "--from-record", "record.json", "--record", "audit.html"});
        QCOMPARE(audit.status, 0);
        QVERIFY2(audit.out.contains(QStringLiteral("验收记录已保存到 audit.html。")), qPrintable(audit.out));
        QVERIFY(readFile(site.file(QStringLiteral("audit.html"))).contains("验收记录"));

        site.three.setRegister(1, regs::analogUpper(0), 10000);
        site.clearLogs();
        const Result drift = site.run({"verify", "--from-record", "record.json", "--json"});
        QCOMPARE(drift.status, 1);
        for (const int f : site.functions())
            QVERIFY2(!isWrite(f), qPrintable(QString::number(f)));
        QCOMPARE(meterOf(drift.json(), 3, 1).value(QStringLiteral("result")).toString(), QStringLiteral("drifted"));
        QVERIFY2(drift.err.contains(QStringLiteral("不一致（记录 20，模块 10）")), qPrintable(drift.err));
    }

    // A line whose port goes away in the middle ends alone: its meter in
    // progress says so, the rest of it is not reached, the others are done.
    void aPortLostMidRun()
    {
        Site site;
        site.two.setPacing(19200);
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan()));
        QProcess p;
        p.setWorkingDirectory(site.dir.path());
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"commission", "site.json", "--json"});
        // Unplugged from here, not from the simulator's own thread: the
        // first write to line 2 seen ends its port.
        bool unplugged = false;
        while (!p.waitForFinished(2) && !unplugged) {
            for (const auto &f : site.two.frames()) {
                if (f.fromMaster && f.bytes.size() > 1 && f.bytes[1] == 16 && !unplugged) {
                    site.two.unplug();
                    unplugged = true;
                }
            }
        }
        const Result r = finish(p, 90000);
        QVERIFY(unplugged);
        QCOMPARE(r.status, 1);
        const QStringList all = outcomes(r.json());
        QCOMPARE(all.mid(0, 3), (QStringList{"1/1 done", "1/2 done", "1/3 done"}));
        QCOMPARE(all.mid(6), (QStringList{"3/1 done", "3/2 done"}));
        QCOMPARE(all.mid(3, 3), (QStringList{"2/1 write_failed", "2/2 not_reached", "2/3 not_reached"}));
        QVERIFY2(r.err.contains(QStringLiteral("线路 2（COM2）：")), qPrintable(r.err));
    }

    // On a terminal: a status row a line, rewritten in place, the result
    // lines written above the rows.
    void statusRowsOnATerminal()
    {
        Site site;
        site.one.setPacing(19200);
        QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan()));
        QProcess p;
        p.setWorkingDirectory(site.dir.path());
        // script(1) gives the program a pseudo-terminal for both outputs.
        p.start(QStringLiteral("script"),
                {"-qfec", QStringLiteral("%1 commission site.json").arg(HV52CTL_PROGRAM), "/dev/null"});
        const Result r = finish(p, 90000);
        QCOMPARE(r.status, 1);
        const QString screen = r.out;
        QVERIFY2(screen.contains(QStringLiteral("\033[3A\033[J")), "the three rows rewritten together");
        QVERIFY2(screen.contains(QStringLiteral("线路 1（COM1）：[2/3] 地址 2（T516）：写入设置并读回核对")),
                 qPrintable(screen.left(2000)));
        QVERIFY(screen.contains(QStringLiteral("线路 2（COM2）：地址   3  T516  无应答")));
        // The rows end as each line's summary.
        QVERIFY(screen.contains(QStringLiteral("线路 3（%1）：2 台：2 台完成并核对").arg(site.endpoint())));
    }

    // Faults aimed at one line never change another's outcomes: over random
    // faults on line 2, lines 1 and 3 are done every time, and line 2 never
    // reports done a meter whose writes were refused.
    void faultsOnOneLineStayThere()
    {
        const Fault faults[] = {Fault::Silent,    Fault::BadCrc,      Fault::Partial,
                                Fault::Exception, Fault::RefuseWrite, Fault::Slow};
        QRandomGenerator random(20261209);
        for (int round = 0; round < 3; ++round) {
            Site site;
            const Fault fault = faults[random.bounded(int(std::size(faults)))];
            const int count = fault == Fault::RefuseWrite ? -1 : int(random.bounded(1, 6));
            site.two.setSlowMs(400);
            site.two.setFault(fault, count, 1);
            QVERIFY(writeFile(site.file(QStringLiteral("site.json")), site.plan()));
            const Result r = site.run({"commission", "site.json", "--json"});
            const QString what = QStringLiteral("%1 x%2").arg(hv52sim::faultName(fault)).arg(count);
            QVERIFY2(r.status == 1, qPrintable(what));
            const QStringList all = outcomes(r.json());
            for (const QString &meter : all) {
                if (meter.startsWith(u'1') || meter.startsWith(u'3'))
                    QVERIFY2(meter.endsWith(QStringLiteral(" done")), qPrintable(what + u' ' + all.join(u',')));
            }
            if (fault == Fault::RefuseWrite)
                QVERIFY2(all.contains(QStringLiteral("2/1 write_failed")), qPrintable(what + u' ' + all.join(u',')));
        }
    }
};

QTEST_GUILESS_MAIN(SiteTest)
#include "tst_site.moc"
