// Several modules on one line: each address answers from its own registers
// by its own kind, faults hit the module they target, broadcasts reach all.
#include "master.h"

#include <QStringList>

using namespace simtest;
using hv52sim::Fault;
using hv52sim::Module;
using Addresses = QList<int>;
Q_DECLARE_METATYPE(hv52sim::Fault)
Q_DECLARE_METATYPE(hv52sim::Module)

namespace {

const uint8_t kAddresses[] = {1, 2, 3, 4};

// The line t516@1 t516@2 t528@3 t540@4 behind the rig's first module; input
// 1's count is 1000 * address, so an answer shows whose registers it holds.
bool addLine(hv52sim::Simulator &sim)
{
    bool ok = sim.addModule(Module::T516, 2) && sim.addModule(Module::T528, 3) && sim.addModule(Module::T540, 4);
    for (uint8_t a : kAddresses)
        ok = ok && sim.setRegister32(a, regs::inputCount(0), 1000u * a);
    return ok;
}

Bytes readAnswer(uint8_t addr, std::initializer_list<uint16_t> values)
{
    Bytes b{addr, 3, uint8_t(2 * values.size())};
    for (uint16_t v : values)
        b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    return withCrc(b);
}

Bytes countRequest(uint8_t addr)
{
    return readRequest(addr, regs::inputCount(0), 2);
}

Bytes countAnswer(uint8_t addr)
{
    return readAnswer(addr, {0, uint16_t(1000 * addr)});
}

// What a fault leaves of an answer.
Bytes faulted(Fault f, Bytes a)
{
    switch (f) {
    case Fault::Silent:
        return {};
    case Fault::Partial:
        a.resize(3);
        return a;
    case Fault::BadCrc:
        a.back() ^= 0xFF;
        return a;
    default:
        return a;
    }
}

} // namespace

class TestBus : public QObject
{
    Q_OBJECT
private slots:
    void addModule_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("added");
        QTest::newRow("free") << 5 << true;
        QTest::newRow("highest") << 247 << true;
        QTest::newRow("the first module's") << 1 << false;
        QTest::newRow("an added module's") << 3 << false;
        QTest::newRow("broadcast") << 0 << false;
        QTest::newRow("above 247") << 248 << false;
    }

    // A refused module leaves the line as it was.
    void addModule()
    {
        QFETCH(int, address);
        QFETCH(bool, added);
        hv52sim::Simulator sim(Module::T516);
        QVERIFY(sim.addModule(Module::T528, 3));
        QCOMPARE(sim.addModule(Module::T540, uint8_t(address)), added);
        const auto line = sim.modules();
        QCOMPARE(line.size(), size_t(added ? 3 : 2));
        QCOMPARE(line[0].address, uint8_t(1));
        QCOMPARE(line[0].module, Module::T516);
        QCOMPARE(line[1].address, uint8_t(3));
        QCOMPARE(line[1].module, Module::T528);
        if (added) {
            QCOMPARE(line[2].address, uint8_t(address));
            QCOMPARE(line[2].module, Module::T540);
        }
    }

    // Registers by address: the single-address calls keep to the first
    // module, an address nobody has reads 0 and takes nothing.
    void registersByAddress()
    {
        hv52sim::Simulator sim(Module::T516, 7);
        QVERIFY(sim.addModule(Module::T540, 8));
        sim.setRegister(regs::inputMode(0), 1);
        sim.setRegister32(regs::inputCount(0), 123456);
        QVERIFY(sim.setRegister32(8, regs::inputCount(0), 654321));
        QCOMPARE(sim.reg(7, regs::inputMode(0)), uint16_t(1));
        QCOMPARE(sim.reg(8, regs::inputMode(0)), uint16_t(0));
        QCOMPARE(sim.reg32(7, regs::inputCount(0)), 123456u);
        QCOMPARE(sim.reg32(regs::inputCount(0)), 123456u);
        QCOMPARE(sim.reg32(8, regs::inputCount(0)), 654321u);
        QVERIFY(!sim.setRegister(9, regs::inputMode(0), 1));
        QVERIFY(!sim.setRegister32(9, regs::inputCount(0), 1));
        QCOMPARE(sim.reg(9, regs::inputMode(0)), uint16_t(0));
        QCOMPARE(sim.module(), Module::T516);
        QCOMPARE(sim.address(), uint8_t(7));
    }

    void answersByAddress_data()
    {
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<Bytes>("answer"); // empty: no answer
        for (uint8_t a : kAddresses)
            QTest::addRow("input count at %d", a) << countRequest(a) << countAnswer(a);
        QTest::newRow("t540@4 input 7 mode") << readRequest(4, regs::inputMode(6), 1) << readAnswer(4, {0});
        QTest::newRow("t516@2 analog value") << readRequest(2, regs::analogValue(0), 1) << readAnswer(2, {1200});
        QTest::newRow("t528@3 refuses analog values")
            << readRequest(3, regs::analogValue(0), 1) << exceptionAnswer(3, 2, 3);
        QTest::newRow("t540@4 refuses relays") << readRequest(4, regs::relayCount(0), 2) << exceptionAnswer(3, 2, 4);
        QTest::newRow("t516@1 refuses input 3") << readRequest(1, regs::inputMode(2), 1) << exceptionAnswer(3, 2, 1);
        QTest::newRow("t528@3 refuses an analog write")
            << writeRequest(3, regs::analogSource(0), {2}) << exceptionAnswer(16, 2, 3);
        QTest::newRow("nobody at 9") << countRequest(9) << Bytes{};
        QTest::newRow("nobody at 247") << countRequest(247) << Bytes{};
    }

    // Each request is followed by a read at 1, whose answer shows that
    // exactly the expected bytes came before it.
    void answersByAddress()
    {
        QFETCH(Bytes, request);
        QFETCH(Bytes, answer);
        RIG(rig);
        QVERIFY(addLine(rig.sim));
        QVERIFY(rig.port->send(request) && rig.port->send(countRequest(1)));
        QCOMPARE(rig.port->read(answer.size() + countAnswer(1).size()), cat(answer, countAnswer(1)));
    }

    void writesStayWithTheirModule_data()
    {
        QTest::addColumn<int>("address");
        for (uint8_t a : kAddresses)
            QTest::addRow("at %d", a) << int(a);
    }

    void writesStayWithTheirModule()
    {
        QFETCH(int, address);
        RIG(rig);
        QVERIFY(addLine(rig.sim));
        const auto to = uint8_t(address);
        QCOMPARE(rig.port->transact(writeRequest(to, regs::inputMode(1), {1}), 8),
                 writeAnswer(to, regs::inputMode(1), 1));
        QCOMPARE(rig.port->transact(readRequest(to, regs::inputMode(1), 1), 7), readAnswer(to, {1}));
        for (uint8_t a : kAddresses)
            QCOMPARE(rig.sim.reg(a, regs::inputMode(1)), uint16_t(a == to ? 1 : 0));
    }

    void broadcast_data()
    {
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<uint16_t>("reg");
        QTest::addColumn<uint16_t>("value");
        QTest::addColumn<Addresses>("reached");
        QTest::newRow("input mode: every module")
            << writeRequest(0, regs::inputMode(0), {1}) << regs::inputMode(0) << uint16_t(1) << Addresses{1, 2, 3, 4};
        QTest::newRow("input 7 mode: the t540")
            << writeRequest(0, regs::inputMode(6), {1}) << regs::inputMode(6) << uint16_t(1) << Addresses{4};
        QTest::newRow("relay command: all but the t540")
            << writeRequest(0, regs::relayCommand(1), {regs::cmdRestore}) << regs::relayCommand(1) << regs::cmdRestore
            << Addresses{1, 2, 3};
        QTest::newRow("analog source: the t516s")
            << writeRequest(0, regs::analogSource(2), {9}) << regs::analogSource(2) << uint16_t(9) << Addresses{1, 2};
        QTest::newRow("a value no module takes")
            << writeRequest(0, regs::inputMode(0), {2}) << regs::inputMode(0) << uint16_t(2) << Addresses{};
    }

    // Unanswered: the read after it gets the first bytes back.
    void broadcast()
    {
        QFETCH(Bytes, request);
        QFETCH(uint16_t, reg);
        QFETCH(uint16_t, value);
        QFETCH(Addresses, reached);
        RIG(rig);
        QVERIFY(addLine(rig.sim));
        QVERIFY(rig.port->send(request) && rig.port->send(countRequest(2)));
        QCOMPARE(rig.port->read(countAnswer(2).size()), countAnswer(2));
        for (uint8_t a : kAddresses)
            QCOMPARE(rig.sim.reg(a, reg) == value, reached.contains(a));
    }

    // Requests to four modules in one go: answered one after the other in
    // the order asked, every frame in the line's log.
    void oneAnswerAtATime()
    {
        RIG(rig);
        QVERIFY(addLine(rig.sim));
        rig.sim.setPacing(115200);
        Bytes requests, answers;
        for (uint8_t a : {3, 1, 4, 2}) {
            requests = cat(requests, countRequest(a));
            answers = cat(answers, countAnswer(a));
        }
        QVERIFY(rig.port->send(requests));
        QCOMPARE(rig.port->read(answers.size()), answers);
        const auto frames = rig.sim.frames();
        QCOMPARE(frames.size(), size_t(8));
        int i = 0;
        for (uint8_t a : {3, 1, 4, 2}) {
            QCOMPARE(frames[i].fromMaster, true);
            QCOMPARE(frames[i++].bytes, countRequest(a));
            QCOMPARE(frames[i].fromMaster, false);
            QCOMPARE(frames[i++].bytes, countAnswer(a));
        }
        for (size_t k = 3; k < frames.size(); k += 2)
            QVERIFY(frames[k].time >= frames[k - 2].time);
    }

    void targetedFaults_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("count");
        // Reads of input counts, in order; "!" marks an answer the fault changes.
        QTest::addColumn<QString>("steps");
        QTest::newRow("dead meter at 2") << Fault::Silent << 2 << -1 << "1 2! 3 2! 4 1";
        QTest::newRow("one lost answer of 2 waits for 2") << Fault::Silent << 2 << 1 << "1 3 4 2! 2 1";
        QTest::newRow("every module") << Fault::Silent << 0 << 2 << "3! 1! 2 4";
        QTest::newRow("partial at 3") << Fault::Partial << 3 << 2 << "3! 1 3! 3";
        QTest::newRow("bad crc at 4") << Fault::BadCrc << 4 << -1 << "4! 1 2 4!";
        QTest::newRow("target not on the line") << Fault::Silent << 9 << -1 << "1 2 3 4";
    }

    void targetedFaults()
    {
        QFETCH(Fault, fault);
        QFETCH(int, target);
        QFETCH(int, count);
        QFETCH(QString, steps);
        RIG(rig);
        QVERIFY(addLine(rig.sim));
        rig.sim.setFault(fault, count, uint8_t(target));
        QCOMPARE(rig.sim.faultAddress(), uint8_t(target));
        Bytes requests, answers;
        int faultedSteps = 0;
        for (const QString &step : steps.split(' ')) {
            const auto a = uint8_t(step.left(1).toInt());
            const bool hit = step.endsWith('!');
            faultedSteps += hit;
            requests = cat(requests, countRequest(a));
            answers = cat(answers, hit ? faulted(fault, countAnswer(a)) : countAnswer(a));
        }
        // The read at 1 after them all shows that nothing more came.
        QVERIFY(rig.port->send(cat(requests, countRequest(1))));
        QCOMPARE(rig.port->read(answers.size() + countAnswer(1).size()), cat(answers, countAnswer(1)));
        QCOMPARE(rig.sim.fault(), count > 0 && faultedSteps == count ? Fault::None : fault);
    }

    void refuseWrite_data()
    {
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("count");
        // wA: write input 2's mode 1 at A; rA: read it; b: the same write as a
        // broadcast; "!" marks a refused write.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<Addresses>("changed"); // where the mode ends as 1
        QTest::newRow("at 3, reads answered") << 3 << -1 << "w3! r3 w1 r3 w3! w4" << Addresses{1, 4};
        QTest::newRow("one write; reads do not count") << 2 << 1 << "r2 r2 w2! r2 w2 r2" << Addresses{2};
        QTest::newRow("every module") << 0 << -1 << "w1! w2! w3! w4! r4" << Addresses{};
        QTest::newRow("broadcast: all but 3") << 3 << -1 << "b r3 w3!" << Addresses{1, 2, 4};
        QTest::newRow("a refused broadcast counts") << 3 << 1 << "b! w3" << Addresses{1, 2, 3, 4};
        QTest::newRow("broadcast: every module refuses") << 0 << -1 << "b! r1" << Addresses{};
    }

    // A refused write gets exception 04 and changes nothing.
    void refuseWrite()
    {
        QFETCH(int, target);
        QFETCH(int, count);
        QFETCH(QString, steps);
        QFETCH(Addresses, changed);
        Fault named;
        QVERIFY(hv52sim::parseFault("refuse-write", &named) && named == Fault::RefuseWrite);
        QCOMPARE(hv52sim::faultName(Fault::RefuseWrite), "refuse-write");
        RIG(rig);
        QVERIFY(addLine(rig.sim));
        rig.sim.setFault(Fault::RefuseWrite, count, uint8_t(target));
        const uint16_t reg = regs::inputMode(1);
        for (const QString &step : steps.split(' ')) {
            const auto a = uint8_t(step.mid(1, 1).toInt());
            const bool refused = step.endsWith('!');
            if (step.startsWith('r')) {
                const Bytes answer = readAnswer(a, {rig.sim.reg(a, reg)});
                QCOMPARE(rig.port->transact(readRequest(a, reg, 1), answer.size()), answer);
            } else if (step.startsWith('b')) {
                QVERIFY(rig.port->send(writeRequest(0, reg, {1})) && rig.port->send(countRequest(1)));
                QCOMPARE(rig.port->read(countAnswer(1).size()), countAnswer(1));
            } else {
                const Bytes answer = refused ? exceptionAnswer(16, 4, a) : writeAnswer(a, reg, 1);
                QCOMPARE(rig.port->transact(writeRequest(a, reg, {1}), answer.size()), answer);
            }
        }
        for (uint8_t a : kAddresses)
            QCOMPARE(rig.sim.reg(a, reg) == 1, changed.contains(a));
    }

    // Once a step, every module's inputs move, each by its own kind.
    void demoStepsEveryModule()
    {
        hv52sim::Simulator sim(Module::T516, 10);
        QVERIFY(sim.addModule(Module::T540, 20));
        QVERIFY(sim.addModule(Module::T528, 30));
        auto onTimes = [&](uint8_t a, int inputs) {
            uint32_t sum = 0;
            for (int n = 0; n < inputs; ++n)
                sum += sim.reg32(a, regs::inputOnTime(n));
            return sum;
        };
        const uint32_t before[] = {onTimes(10, 2), onTimes(20, 7), onTimes(30, 2)};
        const uint16_t analog = sim.reg(10, regs::analogValue(0));
        sim.demoStep();
        sim.demoStep();
        QVERIFY(onTimes(10, 2) > before[0]);
        QVERIFY(onTimes(20, 7) > before[1]);
        QVERIFY(onTimes(30, 2) > before[2]);
        QCOMPARE(sim.reg(10, regs::analogValue(0)), uint16_t(analog + 50));
    }
};

QTEST_GUILESS_MAIN(TestBus)
#include "test_bus.moc"
