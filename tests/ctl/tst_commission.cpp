// A line of meters commissioned with hv52ctl, run as a program against a
// simulated bus of modules on one pseudo-terminal: each meter's outcome,
// the exit status, the record, a plan refused before anything is sent, a
// scan that seeds the plan, a signal or a closed output in the middle of the
// run, and a record that would overwrite the run's own input.
#include "closedpipe.h"
#include "harness.h"
#include "programrun.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>

#include <atomic>
#include <csignal>
#include <memory>

using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

// The line of a switchboard: six addresses, one of them without a module.
//   1, 2, 6: T516; 3: a T528 where a T516 is expected; 4: a T516 that
//   refuses writes; 5: nobody (a dead meter).
struct Line
{
    Line() : port(Module::T516, 1, 1)
    {
        port.sim.addModule(Module::T516, 2);
        port.sim.addModule(Module::T528, 3);
        port.sim.addModule(Module::T516, 4);
        port.sim.addModule(Module::T516, 6);
        port.sim.setFault(Fault::RefuseWrite, -1, 4);
        for (const uint8_t a : {1, 2, 3, 4, 6})
            port.sim.setRegister(a, regs::relayCommand(0), regs::cmdAlarm);
    }
    QString file(const QString &name) const { return port.dir.filePath(name); }
    Result run(QStringList args, int timeoutMs = 60000) const
    {
        QProcess p;
        p.start(QStringLiteral(HV52CTL_PROGRAM), args);
        return finish(p, timeoutMs);
    }
    // Run from the line's folder, as an operator in it types relative names.
    Result runHere(QStringList args) const
    {
        QProcess p;
        p.setWorkingDirectory(port.dir.path());
        p.start(QStringLiteral(HV52CTL_PROGRAM), args);
        return finish(p, 60000);
    }
    int requestsTo(uint8_t address) const
    {
        int n = 0;
        for (const auto &f : port.sim.frames())
            n += f.fromMaster && !f.bytes.empty() && f.bytes[0] == address ? 1 : 0;
        return n;
    }
    SimPort port;
};

// Relay 1 on host control, analog output 1 as 4-20 mA of source 3 from 0 to
// 20 (register 20000, its scale is 1000): what the line is commissioned with.
const QByteArray kSettings = R"({"module": "t516", "relay1.command": "host", "analog1.type": "4-20 mA",
"analog1.source": 3, "analog1.lower": 0, "analog1.upper": 20})";

QJsonObject meterAt(const QJsonObject &report, int address)
{
    for (const QJsonValue &m : report.value(QStringLiteral("meters")).toArray()) {
        if (m.toObject().value(QStringLiteral("address")).toInt() == address)
            return m.toObject();
    }
    return {};
}

} // namespace

class CommissionTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("LANG", "C.UTF-8"); }

    // The whole line from a plan: a meter that fails never stops the run,
    // each gets its own outcome, nothing reaches a module of another kind,
    // and the record says it all.
    void aLineWithItsFaults()
    {
        Line line;
        QVERIFY(writeFile(line.file(QStringLiteral("t516.json")), kSettings));
        QVERIFY(writeFile(line.file(QStringLiteral("plan.json")), R"({
  "site": "一号配电室", "operator": "张工",
  "line": {"port": 1, "speed": 9600, "timeout": 120},
  "meters": [{"address": "1-6", "module": "t516", "settings": "t516.json"}]
})"));
        const QString record = line.file(QStringLiteral("记录.json"));
        const Result r = line.run({"commission", line.file(QStringLiteral("plan.json")), "--json", "--record", record});
        QCOMPARE(r.status, 1);
        const QJsonObject report = r.json();
        QCOMPARE(report.value(QStringLiteral("meters")).toArray().size(), 6);
        const struct
        {
            int address;
            const char *result;
        } expected[] = {{1, "done"},         {2, "done"},      {3, "incomplete"},
                        {4, "write_failed"}, {5, "no_answer"}, {6, "done"}};
        for (const auto &e : expected) {
            const QJsonObject m = meterAt(report, e.address);
            QVERIFY2(
                m.value(QStringLiteral("result")).toString() == QLatin1String(e.result),
                qPrintable(
                    QStringLiteral("address %1: %2").arg(e.address).arg(QString::fromUtf8(QJsonDocument(m).toJson()))));
        }
        QCOMPARE(meterAt(report, 3).value(QStringLiteral("detail")).toString(), QStringLiteral("是 T528，不是 T516"));
        QCOMPARE(report.value(QStringLiteral("summary")).toString(),
                 QStringLiteral("6 台：3 台完成并核对，1 台无应答（地址 5），1 台寄存器不全（地址 3：是 T528，不是 "
                                "T516），1 台写入未完成（地址 4：继电器1 控制方式：写入失败）"));
        // Written where it should be, nothing where it should not.
        for (const uint8_t a : {1, 2, 6}) {
            QCOMPARE(line.port.sim.reg(a, regs::relayCommand(0)), regs::cmdHost);
            QCOMPARE(line.port.sim.reg(a, regs::analogUpper(0)), uint16_t(20000));
        }
        for (const uint8_t a : {3, 4})
            QCOMPARE(line.port.sim.reg(a, regs::relayCommand(0)), regs::cmdAlarm);
        // A dead meter costs three requests: the fail-fast rule.
        QCOMPARE(line.requestsTo(5), 3);
        // Each meter polled before and after, the failures named.
        const QJsonObject done = meterAt(report, 1);
        QCOMPARE(done.value(QStringLiteral("after"))
                     .toObject()
                     .value(QStringLiteral("values"))
                     .toObject()
                     .value(QStringLiteral("relay1.command")),
                 QJsonValue(QStringLiteral("上位机控制")));
        QCOMPARE(meterAt(report, 4)
                     .value(QStringLiteral("writes"))
                     .toArray()
                     .first()
                     .toObject()
                     .value(QStringLiteral("outcome")),
                 QJsonValue(QStringLiteral("write_failed")));
        // Its analog output's first write refused ends the group: the rest
        // is not sent, and the record holds what the module then has.
        int writesTo4 = 0;
        for (const auto &f : line.port.sim.frames())
            writesTo4 += f.fromMaster && f.bytes.size() > 1 && f.bytes[0] == 4 && f.bytes[1] == 16 ? 1 : 0;
        QCOMPARE(writesTo4, 2); // relay 1, analog 1's type
        for (const QJsonValue &w : meterAt(report, 4).value(QStringLiteral("writes")).toArray()) {
            const QJsonObject v = w.toObject();
            const QString key = v.value(QStringLiteral("key")).toString();
            const bool sent = key == u"relay1.command" || key == u"analog1.type";
            QVERIFY2(v.value(QStringLiteral("outcome")).toString() == (sent ? u"write_failed" : u"not_sent"),
                     qPrintable(key));
            QVERIFY2(!v.value(QStringLiteral("read_back")).isNull(), qPrintable(key));
            if (key == u"relay1.command")
                QCOMPARE(v.value(QStringLiteral("read_back")), QJsonValue(QStringLiteral("报警输出")));
        }
        QVERIFY(meterAt(report, 5)
                    .value(QStringLiteral("before"))
                    .toObject()
                    .value(QStringLiteral("failures"))
                    .toObject()
                    .size()
                == 27);
        // The record file holds the report printed.
        QCOMPARE(QJsonDocument::fromJson(readFile(record)).object(), report);
        QVERIFY2(r.err.contains(QStringLiteral("地址 5：模块无应答")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("地址 3：寄存器不全（是 T528，不是 T516），未写入任何值")),
                 qPrintable(r.err));
    }

    // The same line without --json: one result line a meter and the summary;
    // the record in the other formats.
    void resultLinesAndRecordFormats()
    {
        Line line;
        QVERIFY(writeFile(line.file(QStringLiteral("t516.json")), kSettings));
        const QString html = line.file(QStringLiteral("record.html"));
        const Result r = line.run({"--port", "1", "--timeout", "120", "--address", "1,2,5", "apply", "t516",
                                   line.file(QStringLiteral("t516.json")), "--record", html, "--site", "一号配电室"});
        QCOMPARE(r.status, 1);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        QVERIFY2(lines[0].startsWith(QStringLiteral("地址   1  T516  完成并核对")), qPrintable(lines[0]));
        QVERIFY2(lines[2].startsWith(QStringLiteral("地址   5  T516  无应答")), qPrintable(lines[2]));
        QCOMPARE(lines[3], QStringLiteral("3 台：2 台完成并核对，1 台无应答（地址 5）"));
        QCOMPARE(lines[4], QStringLiteral("调试记录已保存到 %1。").arg(html));
        const QString page = QString::fromUtf8(readFile(html));
        QVERIFY(page.contains(QStringLiteral("一号配电室")));
        QVERIFY(page.contains(QStringLiteral("验收人")));
        QVERIFY(!page.contains(QStringLiteral("<script")));
    }

    // Several addresses for read, set and reset: one meter after the other.
    void multiAddressCommands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("summary");
        QTest::newRow("read two") << QStringList{"--address", "1-2", "read", "t516"} << 0
                                  << QStringLiteral("2 台：2 台已记录");
        QTest::newRow("read one of another kind")
            << QStringList{"--address", "2-3", "read", "t516"} << 1
            << QStringLiteral("2 台：1 台已记录，1 台寄存器不全（地址 3：是 T528，不是 T516）");
        QTest::newRow("set relay on two") << QStringList{"--address", "1,6", "set", "t516", "relay", "1", "host"} << 0
                                          << QStringLiteral("2 台：2 台完成并核对");
        QTest::newRow("set on a T528, with a record")
            << QStringList{"--address", "3", "--record", "%dir/r.csv", "set", "t528", "relay", "1", "host"} << 0
            << QStringLiteral("1 台：1 台完成并核对");
        QTest::newRow("reset on a refusing meter")
            << QStringList{"--address", "1,4", "reset", "t516", "1"} << 1
            << QStringLiteral("2 台：1 台完成并核对，1 台写入未完成（地址 4：复位 继电器输出M-R1计数器：写入失败）");
    }
    void multiAddressCommands()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, summary);
        Line line;
        args.replaceInStrings(QStringLiteral("%dir"), line.port.dir.path());
        const Result r = line.run(QStringList{"--port", "1", "--timeout", "120"} + args);
        QVERIFY2(r.status == status, qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains(summary + u'\n'), qPrintable(r.out));
        if (args.contains(QStringLiteral("host"))) {
            const int first = args[args.indexOf(QStringLiteral("--address")) + 1].left(1).toInt();
            QCOMPARE(line.port.sim.reg(uint8_t(first), regs::relayCommand(0)), regs::cmdHost);
        }
        if (args.contains(QStringLiteral("--record"))) {
            const QByteArray csv = readFile(line.file(QStringLiteral("r.csv")));
            QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
            QVERIFY(csv.contains("relay1.command"));
        }
    }

    // A plan with any error is refused whole before the first exchange.
    void planRefusedBeforeAnyExchange_data()
    {
        QTest::addColumn<QByteArray>("plan");
        QTest::addColumn<QString>("message");
        const QByteArray line = R"("line": {"port": 1, "timeout": 120})";
        QTest::newRow("not JSON") << QByteArray("{\"meters\": [") << QStringLiteral("不是有效的 JSON");
        QTest::newRow("unknown entry") << "{" + line + R"(, "meter": []})" << QStringLiteral("未知条目“meter”");
        QTest::newRow("no meters") << "{" + line + R"(, "meters": []})" << QStringLiteral("meters 应为非空的列表");
        QTest::newRow("address twice")
            << "{" + line + R"(, "meters": [{"address": "1-3", "module": "t516"}, {"address": 3, "module": "t528"}]})"
            << QStringLiteral("地址 3 已在");
        QTest::newRow("broadcast address")
            << "{" + line + R"(, "meters": [{"address": "0-2", "module": "t516"}]})" << QStringLiteral("广播地址 0");
        QTest::newRow("unknown kind") << "{" + line + R"(, "meters": [{"address": 1, "module": "t517"}]})"
                                      << QStringLiteral("模块“t517”未知");
        QTest::newRow("bad value in the last meter")
            << "{" + line + R"(, "meters": [{"address": 1, "module": "t516", "settings": {"relay1.command": "host"}},
                                     {"address": 2, "module": "t516", "settings": {"relay2.command": "开"}}]})"
            << QStringLiteral("不是控制方式");
        QTest::newRow("missing settings file")
            << "{" + line + R"(, "meters": [{"address": 1, "module": "t516", "settings": "nowhere.json"}]})"
            << QStringLiteral("nowhere.json");
        QTest::newRow("another kind's setting")
            << "{" + line + R"(, "meters": [{"address": 3, "module": "t528", "settings": {"analog1.upper": 5}}]})"
            << QStringLiteral("analog1.upper");
        QTest::newRow("speed no module has")
            << QByteArray(R"({"line": {"port": 1, "speed": 9601}, "meters": [{"address": 1, "module": "t516"}]})")
            << QStringLiteral("不是模块的波特率");
        QTest::newRow("two places for the line") << QByteArray(
            R"({"line": {"port": 1, "device": "/dev/ttyS0"}, "meters": [{"address": 1, "module": "t516"}]})")
                                                 << QStringLiteral("只能给出一个");
        QTest::newRow("no line at all") << QByteArray(R"({"meters": [{"address": 1, "module": "t516"}]})")
                                        << QStringLiteral("缺少线路");
    }
    void planRefusedBeforeAnyExchange()
    {
        QFETCH(QByteArray, plan);
        QFETCH(QString, message);
        Line line;
        const QString file = line.file(QStringLiteral("plan.json"));
        QVERIFY(writeFile(file, plan));
        const Result r = line.run({"commission", file, "--record", line.file(QStringLiteral("r.html"))});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(message) && r.err.contains(QStringLiteral("请求未发送")), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(line.port.sim.requestCount(), size_t(0));
        QVERIFY(!QFile::exists(line.file(QStringLiteral("r.html"))));
    }

    // A record that cannot be written is found out before the run, or, when
    // the disk fills during it, reported and never called saved.
    void recordThatCannotBeWritten_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("no known format") << "%dir/r.txt" << 2 << QStringLiteral("扩展名无效");
        QTest::newRow("a folder") << "%dir/x.html" << 2 << QStringLiteral("是目录");
        QTest::newRow("no such folder") << "%dir/none/r.html" << 2 << QStringLiteral("不存在");
        QTest::newRow("full filesystem") << "%full/r.json" << 1 << QStringLiteral("磁盘空间不足");
    }
    void recordThatCannotBeWritten()
    {
        QFETCH(QString, record);
        QFETCH(int, status);
        QFETCH(QString, message);
        Line line;
        QVERIFY(QDir().mkpath(line.file(QStringLiteral("x.html"))));
        const QString full = line.file(QStringLiteral("full"));
        bool mounted = false;
        if (record.startsWith(QStringLiteral("%full"))) {
            QVERIFY(QDir().mkpath(full));
            mounted = QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", full}) == 0;
            if (!mounted)
                QSKIP("a tmpfs cannot be mounted here (needs root)");
            QVERIFY(writeFile(full + QStringLiteral("/r.json"), "old"));
            QFile filler(full + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(1024, 'x');
            while (filler.write(block) == block.size()) {}
        }
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                QProcess::execute(QStringLiteral("umount"), {full});
        });
        record.replace(QStringLiteral("%dir"), line.port.dir.path()).replace(QStringLiteral("%full"), full);
        const Result r =
            line.run({"--port", "1", "--timeout", "120", "--address", "1-2", "read", "t516", "--record", record});
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!r.out.contains(QStringLiteral("已保存")));
        if (status == 2)
            QCOMPARE(line.port.sim.requestCount(), size_t(0));
        if (mounted)
            QCOMPARE(readFile(record), QByteArray("old"));
    }

    // scan --json seeds a plan: every meter found, settings by kind.
    void scanSeedsThePlan()
    {
        SimPort port(Module::T516, 1, 1);
        port.sim.addModule(Module::T528, 2);
        port.sim.addModule(Module::T540, 3);
        const QString dir = port.dir.path();
        QProcess scan;
        scan.start(QStringLiteral(HV52CTL_PROGRAM),
                   {"--port", "1", "scan", "--speeds", "9600", "--addresses", "1-4", "--json"});
        const Result found = finish(scan, 60000);
        QCOMPARE(found.status, 0);
        QVERIFY(writeFile(dir + QStringLiteral("/scan.json"), found.out.toUtf8()));
        QVERIFY(writeFile(dir + QStringLiteral("/a.json"), R"({"module": "t516", "relay2.command": "operate"})"));
        QVERIFY(writeFile(dir + QStringLiteral("/b.json"), R"({"module": "t528", "relay1.command": "host"})"));
        QProcess p;
        p.start(QStringLiteral(HV52CTL_PROGRAM),
                {"--port", "1", "--timeout", "120", "commission", "--from-scan", dir + QStringLiteral("/scan.json"),
                 "--settings", QStringLiteral("t516=%1/a.json,t528=%1/b.json").arg(dir), "--json"});
        const Result r = finish(p, 60000);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QJsonObject report = r.json();
        QCOMPARE(report.value(QStringLiteral("summary")).toString(),
                 QStringLiteral("3 台：2 台完成并核对，1 台已记录"));
        QCOMPARE(meterAt(report, 3).value(QStringLiteral("module")).toString(), QStringLiteral("t540"));
        QCOMPARE(port.sim.reg(1, regs::relayCommand(1)), regs::cmdOperate);
        QCOMPARE(port.sim.reg(2, regs::relayCommand(0)), regs::cmdHost);
    }

    // SIGTERM in the middle of the line: the analog group in progress is
    // finished, no meter after it is touched, and the record is written with
    // what was done.
    void signalEndsTheRunWithItsRecord()
    {
        Line line;
        line.port.sim.setPacing(19200);
        QVERIFY(writeFile(line.file(QStringLiteral("t516.json")), kSettings));
        const QString record = line.file(QStringLiteral("r.json"));
        const auto analog = [&] {
            QList<uint16_t> now;
            for (const uint16_t reg :
                 {regs::analogSignal(0), regs::analogSource(0), regs::analogLower(0), regs::analogUpper(0)})
                now << line.port.sim.reg(2, reg);
            return now;
        };
        const QList<uint16_t> before = analog();
        QProcess p;
        auto pid = std::make_shared<std::atomic<qint64>>(0);
        // The first write to meter 2: the signal lands in the middle of its work.
        line.port.sim.onFrame([pid](const hv52sim::Frame &f) {
            if (f.fromMaster && f.bytes.size() > 2 && f.bytes[0] == 2 && f.bytes[1] == 16 && *pid > 0)
                ::kill(pid_t(pid->load()), SIGTERM);
        });
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"--port", "1", "--timeout", "120", "--address", "1-6", "apply",
                                                  "t516", line.file(QStringLiteral("t516.json")), "--record", record});
        QVERIFY(p.waitForStarted());
        *pid = p.processId();
        const Result r = finish(p, 60000);
        line.port.sim.onFrame({});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("已中断（SIGTERM）")), qPrintable(r.err));
        // The meter's line says it once.
        QVERIFY2(r.out.contains(QStringLiteral("T516  已中断（SIGTERM）  用时")), qPrintable(r.out));
        QVERIFY2(!r.out.contains(QStringLiteral("已中断（已中断")), qPrintable(r.out));
        const QJsonObject report = QJsonDocument::fromJson(readFile(record)).object();
        QCOMPARE(meterAt(report, 1).value(QStringLiteral("result")).toString(), QStringLiteral("done"));
        QCOMPARE(meterAt(report, 2).value(QStringLiteral("result")).toString(), QStringLiteral("stopped"));
        for (const int a : {3, 4, 5, 6}) {
            QCOMPARE(meterAt(report, a).value(QStringLiteral("result")).toString(), QStringLiteral("not_reached"));
            QCOMPARE(line.requestsTo(uint8_t(a)), 0);
        }
        // Meter 2's analog group is whole: all four written or none.
        const QList<uint16_t> after = analog();
        QVERIFY2(after == before || after == (QList<uint16_t>{0, 3, 0, 20000}),
                 qPrintable(QStringLiteral("%1 %2 %3 %4").arg(after[0]).arg(after[1]).arg(after[2]).arg(after[3])));
        QCOMPARE(report.value(QStringLiteral("stopped")).toString(), QStringLiteral("已中断（SIGTERM）"));
    }

    // A run interrupted in the middle of a meter, then audited from its
    // record: the meter is expected to hold what was written and
    // acknowledged, not the values before the run.
    void interruptedRunAuditedByWhatItKnows()
    {
        Line line;
        line.port.sim.setPacing(19200);
        QVERIFY(writeFile(line.file(QStringLiteral("t516.json")), kSettings));
        const QString record = line.file(QStringLiteral("r.json"));
        QProcess p;
        auto pid = std::make_shared<std::atomic<qint64>>(0);
        auto writes = std::make_shared<int>(0);
        // Meter 2's third write: relay 1 and two of its analog output's.
        line.port.sim.onFrame([pid, writes](const hv52sim::Frame &f) {
            if (f.fromMaster && f.bytes.size() > 2 && f.bytes[0] == 2 && f.bytes[1] == 16 && ++*writes == 3)
                ::kill(pid_t(pid->load()), SIGTERM);
        });
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"--port", "1", "--timeout", "120", "--address", "1-2", "apply",
                                                  "t516", line.file(QStringLiteral("t516.json")), "--record", record});
        QVERIFY(p.waitForStarted());
        *pid = p.processId();
        QCOMPARE(finish(p, 60000).status, 1);
        line.port.sim.onFrame({});
        const QJsonObject stopped = meterAt(QJsonDocument::fromJson(readFile(record)).object(), 2);
        QCOMPARE(stopped.value(QStringLiteral("result")).toString(), QStringLiteral("stopped"));
        QCOMPARE(line.port.sim.reg(2, regs::relayCommand(0)), regs::cmdHost);

        const Result audit = line.run({"--timeout", "120", "verify", "--from-record", record, "--json"});
        // An audit prints a site's report, its one line first.
        const QJsonObject m = meterAt(audit.json().value(QStringLiteral("lines")).toArray().first().toObject(), 2);
        QVERIFY2(m.value(QStringLiteral("result")).toString() == u"matched", qPrintable(audit.out + audit.err));
        QCOMPARE(audit.status, 0);
    }

    // The kind recorded must be the kind found: a T516 answers every
    // register of a T528's poll, and is not taken for one.
    void auditFindsTheKindRecorded()
    {
        Line line;
        const QString record = line.file(QStringLiteral("t528.json"));
        QVERIFY(writeFile(record, R"({"command": "commission", "place": {"port": 1}, "timeout_ms": 120,
"meters": [{"address": 1, "module": "t528", "result_text": "完成并核对",
  "after": {"values": {"relay1.command": "报警输出", "relay2.command": "报警输出"}}}]})"));
        const Result audit = line.run({"verify", "--from-record", record, "--json"});
        QCOMPARE(audit.status, 1);
        const QJsonObject m = meterAt(audit.json().value(QStringLiteral("lines")).toArray().first().toObject(), 1);
        QCOMPARE(m.value(QStringLiteral("result")).toString(), QStringLiteral("incomplete"));
        QCOMPARE(m.value(QStringLiteral("detail")).toString(), QStringLiteral("是 T516，不是 T528"));
    }

    // A key given twice in one object, at any depth of a plan, of a settings
    // file or of a scan read back, is refused with its path and both lines:
    // JSON readers keep the last one and would commission another meter.
    void keyGivenTwiceAtAnyDepth_data()
    {
        QTest::addColumn<QByteArray>("plan");     // empty: commission --from-scan scan.json
        QTest::addColumn<QByteArray>("settings"); // s.json
        QTest::addColumn<QByteArray>("scan");     // scan.json
        QTest::addColumn<QString>("message");     // empty: accepted, meter 1 commissioned
        const QByteArray meter = R"({"address": 1, "module": "t516"})";
        const QByteArray good = R"({"module": "t516", "relay1.command": "host"})";
        const QByteArray scan = R"({"found": [{"speed": 9600, "address": 1, "module": "t516"}], "late": []})";
        QTest::newRow("line.port") << "{\"line\": {\"port\": 99,\n\"port\": 1, \"timeout\": 120},\n\"meters\": ["
                                          + meter + "]}"
                                   << good << scan
                                   << QStringLiteral("计划 plan.json：条目“line.port”出现两次（第 1 行和第 2 行）");
        QTest::newRow("a top-level key")
            << "{\"site\": \"一号\",\n\"line\": {\"port\": 1},\n\"site\": \"二号\", \"meters\": [" + meter + "]}"
            << good << scan << QStringLiteral("条目“site”出现两次（第 1 行和第 3 行）");
        QTest::newRow("the first meter's address")
            << QByteArray("{\"line\": {\"port\": 1},\n\"meters\": [{\"address\": 5,\n\"address\": 1, "
                          "\"module\": \"t516\"}]}")
            << good << scan << QStringLiteral("条目“meters[1].address”出现两次（第 2 行和第 3 行）");
        QTest::newRow("the second meter's module")
            << QByteArray("{\"line\": {\"port\": 1}, \"meters\": [{\"address\": 2, \"module\": \"t516\"},\n"
                          "{\"address\": 1, \"module\": \"t528\", \"module\": \"t516\"}]}")
            << good << scan << QStringLiteral("条目“meters[2].module”出现两次（第 2 行和第 2 行）");
        QTest::newRow("inline settings")
            << QByteArray("{\"line\": {\"port\": 1}, \"meters\": [{\"address\": 1, \"module\": \"t516\",\n"
                          "\"settings\": {\"relay1.command\": \"host\",\n\"relay1.command\": \"alarm\"}}]}")
            << good << scan << QStringLiteral("条目“meters[1].settings.relay1.command”出现两次（第 2 行和第 3 行）");
        QTest::newRow("a settings file the plan names")
            << QByteArray(
                   R"({"line": {"port": 1}, "meters": [{"address": 1, "module": "t516", "settings": "s.json"}]})")
            << QByteArray("{\"module\": \"t516\", \"relay1.command\": \"host\",\n\"relay1.command\": \"alarm\"}")
            << scan << QStringLiteral("s.json：条目“relay1.command”出现两次（第 1 行和第 2 行）");
        QTest::newRow("a scan read back")
            << QByteArray() << good
            << QByteArray("{\"found\": [{\"speed\": 9600, \"address\": 1,\n"
                          "\"module\": \"t516\", \"address\": 2}], \"late\": []}")
            << QStringLiteral("扫描结果 scan.json：条目“found[1].address”出现两次（第 1 行和第 2 行）");
        QTest::newRow("a --settings file of the scan")
            << QByteArray() << QByteArray(R"({"module": "t516", "module": "t516", "relay1.command": "host"})") << scan
            << QStringLiteral("s.json：条目“module”出现两次（第 1 行和第 1 行）");
        // The same keys in sibling objects are no key given twice.
        QTest::newRow("the same keys in two meters")
            << QByteArray(R"({"line": {"port": 1, "timeout": 120}, "meters": [{"address": 1, "module": "t516",
                "settings": {"relay1.command": "host"}}, {"address": 2, "module": "t516", "settings": "s.json"}]})")
            << good << scan << QString();
    }
    void keyGivenTwiceAtAnyDepth()
    {
        QFETCH(QByteArray, plan);
        QFETCH(QByteArray, settings);
        QFETCH(QByteArray, scan);
        QFETCH(QString, message);
        Line line;
        QVERIFY(writeFile(line.file(QStringLiteral("s.json")), settings));
        QVERIFY(writeFile(line.file(QStringLiteral("scan.json")), scan));
        QVERIFY(writeFile(line.file(QStringLiteral("plan.json")), plan));
        const Result r = plan.isEmpty() ? line.runHere({"--port", "1", "--timeout", "120", "commission", "--from-scan",
                                                        "scan.json", "--settings", "t516=s.json"})
                                        : line.runHere({"commission", "plan.json"});
        if (message.isEmpty()) {
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QCOMPARE(line.port.sim.reg(1, regs::relayCommand(0)), regs::cmdHost);
            return;
        }
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(message) && r.err.contains(QStringLiteral("请求未发送")), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QCOMPARE(line.port.sim.requestCount(), size_t(0));
    }

    // A record named as one of the run's input files, under whatever name,
    // is refused before anything is sent, and every input is left as it was;
    // any other file takes the record.
    void recordOverItsOwnInput_data()
    {
        QTest::addColumn<QStringList>("args"); // run in the line's folder
        QTest::addColumn<QString>("link");     // "symlink NAME TARGET", "hard NAME TARGET", or empty
        QTest::addColumn<QString>("input");    // the input named in the message; empty: accepted
        const QStringList plan = {"commission", "plan.json", "--record"};
        const QStringList apply = {"--port", "1", "--timeout", "120", "apply", "t516", "t516.json", "--record"};
        const QStringList scan = {"--port",    "1",          "--timeout",      "120",     "commission", "--from-scan",
                                  "scan.json", "--settings", "t516=t516.json", "--record"};
        QTest::newRow("the plan itself") << plan + QStringList{"plan.json"} << QString() << "plan.json";
        QTest::newRow("a settings file of the plan") << plan + QStringList{"t516.json"} << QString() << "t516.json";
        QTest::newRow("the plan as ./") << plan + QStringList{"./plan.json"} << QString() << "plan.json";
        QTest::newRow("the settings through ../")
            << plan + QStringList{"../%name/t516.json"} << QString() << "t516.json";
        QTest::newRow("the plan by its full path") << plan + QStringList{"%dir/plan.json"} << QString() << "plan.json";
        QTest::newRow("a symbolic link to the settings")
            << plan + QStringList{"link.json"} << "symlink link.json t516.json"
            << "t516.json";
        QTest::newRow("a hard link to the plan") << plan + QStringList{"copy.json"} << "hard copy.json plan.json"
                                                 << "plan.json";
        QTest::newRow("apply's settings file") << apply + QStringList{"t516.json"} << QString() << "t516.json";
        QTest::newRow("the scan read back") << scan + QStringList{"scan.json"} << QString() << "scan.json";
        QTest::newRow("a --settings file of the scan") << scan + QStringList{"./t516.json"} << QString() << "t516.json";
        QTest::newRow("another file") << plan + QStringList{"record.json"} << QString() << QString();
        QTest::newRow("a symbolic link to another file")
            << plan + QStringList{"link.json"} << "symlink link.json record.json" << QString();
    }
    void recordOverItsOwnInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, link);
        QFETCH(QString, input);
        Line line;
        const QString dir = line.port.dir.path();
        const QByteArray plan = R"({"line": {"port": 1, "timeout": 120},
"meters": [{"address": 1, "module": "t516", "settings": "t516.json"}]})";
        const QByteArray scan = R"({"found": [{"speed": 9600, "address": 1, "module": "t516"}], "late": []})";
        const QHash<QString, QByteArray> inputs = {{"plan.json", plan}, {"t516.json", kSettings}, {"scan.json", scan}};
        for (auto it = inputs.begin(); it != inputs.end(); ++it)
            QVERIFY(writeFile(line.file(it.key()), it.value()));
        const QStringList made = link.split(u' ', Qt::SkipEmptyParts);
        if (made.value(0) == u"symlink")
            QVERIFY(QFile::link(made[2], line.file(made[1])));
        else if (made.value(0) == u"hard")
            QCOMPARE(::link(qPrintable(line.file(made[2])), qPrintable(line.file(made[1]))), 0);
        args.replaceInStrings(QStringLiteral("%dir"), dir)
            .replaceInStrings(QStringLiteral("%name"), QFileInfo(dir).fileName());
        const Result r = line.runHere(args);
        for (auto it = inputs.begin(); it != inputs.end(); ++it)
            QVERIFY2(readFile(line.file(it.key())) == it.value(), qPrintable(it.key()));
        if (input.isEmpty()) {
            QVERIFY2(r.status == 0, qPrintable(r.err));
            QCOMPARE(QJsonDocument::fromJson(readFile(line.file(QStringLiteral("record.json"))))
                         .object()
                         .value(QStringLiteral("summary"))
                         .toString(),
                     QStringLiteral("1 台：1 台完成并核对"));
            return;
        }
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QStringLiteral("--record 的 %1 与输入文件 ").arg(args.last()))
                     && r.err.contains(QStringLiteral("%1 是同一个文件（记录会覆盖它），请求未发送。").arg(input)),
                 qPrintable(r.err));
        QCOMPARE(line.port.sim.requestCount(), size_t(0));
    }

    // A reader that leaves (| head -1) or an output that fails (a full
    // disk) stops the line as a signal does: the meter in progress ends at
    // its next stopping point, no meter after it is touched, the record
    // holds what was done, and the status is 1.
    void closedOutputEndsTheRunWithItsRecord_data()
    {
        QTest::addColumn<int>("lines"); // the reader leaves after these lines; -1: output to a full disk
        QTest::addColumn<bool>("json");
        QTest::addColumn<QString>("stopped");
        QTest::newRow("| head -1") << 1 << false << QStringLiteral("已中断（标准输出已关闭）");
        QTest::newRow("> /dev/full") << -1 << false << QStringLiteral("已中断（无法写入标准输出）");
        QTest::newRow("--json, the reader gone at once") << 0 << true << QStringLiteral("已中断（标准输出已关闭）");
    }
    void closedOutputEndsTheRunWithItsRecord()
    {
        QFETCH(int, lines);
        QFETCH(bool, json);
        QFETCH(QString, stopped);
        Line line;
        line.port.sim.setPacing(19200);
        QVERIFY(writeFile(line.file(QStringLiteral("t516.json")), kSettings));
        const QString record = line.file(QStringLiteral("r.json"));
        // Every meter answers, so the response time costs nothing on a healthy
        // line; a short one failed meter 1's reads when a sanitized build ran
        // beside the heavy tests.
        QStringList args = {"--port",   "1",         "--timeout",
                            "1000",     "--address", "1,2,6",
                            "apply",    "t516",      line.file(QStringLiteral("t516.json")),
                            "--record", record};
        if (json)
            args << "--json";
        Result r;
        if (lines < 0) {
            QProcess p;
            p.setStandardOutputFile(QStringLiteral("/dev/full"));
            p.start(QStringLiteral(HV52CTL_PROGRAM), args);
            r = finish(p, 60000);
        } else {
            const ClosedPipeRun run = runWithOutputClosed(QStringLiteral(HV52CTL_PROGRAM), args, lines);
            r.status = run.status;
            r.err = run.err;
        }
        QCOMPARE(r.status, 1); // not killed by SIGPIPE
        QVERIFY2(r.err.contains(stopped + QStringLiteral("：调试未完成，其余的表计未进行。")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("调试记录已保存到 %1。").arg(record)), qPrintable(r.err));
        const QJsonObject report = QJsonDocument::fromJson(readFile(record)).object();
        QCOMPARE(report.value(QStringLiteral("stopped")).toString(), stopped);
        const QString first = meterAt(report, 1).value(QStringLiteral("result")).toString();
        if (lines != 0) {
            // Its line was printed (or tried): meter 1 was done and verified.
            QVERIFY2(first == u"done", QJsonDocument(meterAt(report, 1)).toJson().constData());
            for (const QJsonValue &w : meterAt(report, 1).value(QStringLiteral("writes")).toArray())
                QCOMPARE(w.toObject().value(QStringLiteral("outcome")).toString(), QStringLiteral("verified"));
            QCOMPARE(line.port.sim.reg(1, regs::relayCommand(0)), regs::cmdHost);
        } else {
            QVERIFY2(first == u"stopped" || first == u"not_reached", qPrintable(first));
        }
        QCOMPARE(meterAt(report, 6).value(QStringLiteral("result")).toString(), QStringLiteral("not_reached"));
        QCOMPARE(line.requestsTo(6), 0);
    }
};

QTEST_GUILESS_MAIN(CommissionTest)
#include "tst_commission.moc"
