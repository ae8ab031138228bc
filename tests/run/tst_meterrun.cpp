// The runner of meters and the kind probes in process, on a simulated bus:
// each meter's turn with the port open at its address and its result as the
// action left it, a port that will not open, the line's name; the kind each
// module answers as.
#include "harness.h"
#include "meterrun.h"
#include "steps.h"

#include "t516module.h"

#include <QtTest>

using namespace hv52run;
using hv52::MeterRecord;
using hv52sim::Module;

namespace {

hv52::Line lineOn(int port)
{
    hv52::Line line;
    line.port = port;
    line.timeoutMs = hv52test::kShortTimeoutMs;
    return line;
}

RunPlan planOf(const QList<int> &addresses)
{
    RunPlan plan;
    plan.command = QStringLiteral("read");
    for (const int a : addresses)
        plan.meters << MeterPlan{a, &hv52::t516Module(), false, {}, nullptr, {}, {}, {}};
    return plan;
}

// Reads input 1's count: Recorded when it answers, NoAnswer when not; the
// meters in `leave` are left as they were.
MeterAction probeAction(const QList<int> &leave, QList<int> *seen)
{
    return [leave, seen](MeterTurn &turn) {
        *seen << turn.plan.address;
        if (leave.contains(turn.plan.address))
            return;
        const hv52::Point *p = hv52::t516Module().point(QStringLiteral("input1.count"));
        const hv52::ReadResult r = turn.session.link().readRegister(p->address, p->pair);
        turn.record.result = r.ok() ? MeterRecord::Result::Recorded : MeterRecord::Result::NoAnswer;
        if (!r.ok())
            turn.say(QStringLiteral("模块无应答。"));
    };
}

// A run's words as the caller receives them: nothing goes anywhere else.
struct Told : hv52::RunOutput
{
    QStringList messages, steps;
    void message(const QString &text) override { messages << text; }
    void step(int, const QString &where, const QString &text) override { steps << where + text; }
};

} // namespace

class TestMeterRun : public QObject
{
    Q_OBJECT

private slots:
    void eachMeterItsTurn_data()
    {
        QTest::addColumn<QList<int>>("modules");
        QTest::addColumn<QList<int>>("meters");
        QTest::addColumn<QList<int>>("leave");
        QTest::addColumn<QStringList>("results");
        QTest::newRow("every meter answers") << QList<int>{1, 2, 3} << QList<int>{1, 2, 3} << QList<int>{}
                                             << QStringList{"recorded", "recorded", "recorded"};
        QTest::newRow("a dead meter does not stop the others")
            << QList<int>{1, 3} << QList<int>{1, 2, 3} << QList<int>{}
            << QStringList{"recorded", "no_answer", "recorded"};
        QTest::newRow("in the plan's order")
            << QList<int>{4, 9} << QList<int>{9, 4} << QList<int>{} << QStringList{"recorded", "recorded"};
        QTest::newRow("a meter the action leaves is stopped")
            << QList<int>{1, 2} << QList<int>{1, 2} << QList<int>{2} << QStringList{"recorded", "stopped"};
    }
    void eachMeterItsTurn()
    {
        QFETCH(QList<int>, modules);
        QFETCH(QList<int>, meters);
        QFETCH(QList<int>, leave);
        QFETCH(QStringList, results);
        hv52test::SimPort port(Module::T516, 1, uint8_t(modules.first()));
        for (int i = 1; i < modules.size(); ++i)
            port.sim.addModule(Module::T516, uint8_t(modules[i]));
        QList<int> seen, told;
        Told out;
        const LineResult run = runLine(lineOn(port.port()), planOf(meters), probeAction(leave, &seen), out,
                                       [&told](const MeterRecord &m) { told << m.address; });
        QCOMPARE(seen, meters);
        QCOMPARE(told, meters);
        QVERIFY(run.anyOpened);
        QVERIFY(run.portFailure.isEmpty());
        QCOMPARE(run.record.meters.size(), meters.size());
        QStringList got;
        for (const MeterRecord &m : run.record.meters)
            got << hv52::resultKey(m.result);
        QCOMPARE(got, results);
        for (int i = 0; i < meters.size(); ++i) {
            QCOMPARE(run.record.meters[i].address, meters[i]);
            const bool said = !run.record.meters[i].failures.isEmpty();
            QCOMPARE(said, results[i] == u"no_answer");
            // Each meter's message reaches the caller's output with its address.
            const QString message = QStringLiteral("地址 %1：模块无应答。").arg(meters[i]);
            QCOMPARE(out.messages.contains(message), said);
        }
        QCOMPARE(run.record.line, QStringLiteral("COM1"));
        QCOMPARE(run.record.command, QStringLiteral("read"));
    }

    void portThatWillNotOpen()
    {
        hv52test::SimPort port(Module::T516, 1, 1); // the port directory, with nothing on port 7
        QList<int> seen;
        Told out;
        const LineResult run = runLine(lineOn(7), planOf({1, 2, 3}), probeAction({}, &seen), out);
        QVERIFY(seen.isEmpty());
        QVERIFY(!run.anyOpened);
        QVERIFY(!run.portFailure.isEmpty());
        QCOMPARE(run.record.stopped, run.portFailure);
        QCOMPARE(run.record.meters.size(), 3);
        for (const MeterRecord &m : run.record.meters)
            QCOMPARE(m.result, MeterRecord::Result::NotReached);
        QCOMPARE(run.record.meters[0].failures, QStringList{run.portFailure});
        // Said once, at the caller's output: the error as a sentence.
        QCOMPARE(out.messages, QStringList{run.portFailure + QStringLiteral("。")});
    }

    void kindOnTheLine_data()
    {
        QTest::addColumn<int>("module");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("kind");
        QTest::newRow("t516") << int(Module::T516) << 1 << "t516";
        QTest::newRow("t528") << int(Module::T528) << 1 << "t528";
        QTest::newRow("t540") << int(Module::T540) << 1 << "t540";
        QTest::newRow("nobody at the address") << int(Module::T516) << 5 << "";
    }
    void kindOnTheLine()
    {
        QFETCH(int, module);
        QFETCH(int, address);
        QFETCH(QString, kind);
        hv52test::SimPort port(Module(module), 1, 1);
        Told out;
        Session s(lineOn(port.port()), QStringLiteral("read"), address, out);
        QString named;
        const int status = s.run([&] {
            const hv52::ModuleKind *k = kindOnLine(s.link());
            named = k ? k->name : QString();
            return int(Done);
        });
        QCOMPARE(status, int(Done));
        QCOMPARE(named, kind);
    }
};

QTEST_GUILESS_MAIN(TestMeterRun)
#include "tst_meterrun.moc"
