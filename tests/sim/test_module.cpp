// The three modules' registers as a master sees them: which exist, relay
// commands, reset codes, settings, start values and the demo.
#include "master.h"

#include <QTest>

#include <thread>

using namespace simtest;
using hv52sim::Module;
using hv52sim::Simulator;
namespace regs = hv52sim::regs;

Q_DECLARE_METATYPE(hv52sim::Module)

namespace {

uint32_t be32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// Every counter of the module set to a distinct non-zero value.
void fillCounters(Simulator& sim)
{
    const auto info = hv52sim::moduleInfo(sim.module());
    for (int k = 0; k < info.relays; ++k) sim.setRegister32(regs::relayCount(k), 100000u + unsigned(k));
    for (int n = 0; n < info.inputs; ++n) {
        sim.setRegister32(regs::inputCount(n), 200000u + unsigned(n));
        sim.setRegister32(regs::inputOnTime(n), 300000u + unsigned(n));
    }
}

}  // namespace

class TestModule : public QObject {
    Q_OBJECT
private slots:
    void registerMap_data();
    void registerMap();
    void resetRegisterReadsZero();
    void relayCommands_data();
    void relayCommands();
    void resetCodes_data();
    void resetCodes();
    void refusedResetCodes_data();
    void refusedResetCodes();
    void settingsAreStored();
    void startValuesShowSomething();
    void demoStepsAreConsistent();
    void demoRunsOnItsOwn();
};

void TestModule::registerMap_data()
{
    QTest::addColumn<Module>("module");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("mapped");

    for (Module m : {Module::T516, Module::T528}) {
        const bool analog = m == Module::T516;
        const std::string n = hv52sim::moduleName(m);
        auto row = [&](const char* what, int first, int count, bool mapped) {
            QTest::newRow((n + " " + what).c_str()) << m << first << count << mapped;
        };
        row("relays", regs::relayCount(0), 6, true);
        row("after relays", regs::relayState(1) + 1, 1, false);
        row("inputs", regs::inputCount(0), 6, true);
        row("input 2", regs::inputCount(2), 1, false);
        row("ON times", regs::inputOnTime(0), 4, true);
        row("ON time 2", regs::inputOnTime(2), 1, false);
        row("analog values", regs::analogValue(0), 3, analog);
        row("after analog values", regs::analogValue(3), 1, false);
        row("relay commands", regs::relayCommand(0), 2, true);
        row("after relay commands", regs::relayCommand(2), 1, false);
        row("input modes", regs::inputMode(0), 2, true);
        row("input mode 2", regs::inputMode(2), 1, false);
        row("analog config", regs::analogSignal(0), 12, analog);
        row("after analog config", regs::analogUpper(2) + 1, 1, false);
    }
    auto row = [&](const char* what, int first, int count, bool mapped) {
        QTest::newRow((std::string("t540 ") + what).c_str()) << Module::T540 << first << count << mapped;
    };
    row("relay counts", regs::relayCount(0), 2, false);
    row("relay commands", regs::relayCommand(0), 1, false);
    row("inputs", regs::inputCount(0), 21, true);
    row("after inputs", regs::inputState(6) + 1, 1, false);
    row("ON times", regs::inputOnTime(0), 14, true);
    row("after ON times", regs::inputOnTime(7), 1, false);
    row("input modes", regs::inputMode(0), 7, true);
    row("after input modes", regs::inputMode(7), 1, false);
    row("analog values", regs::analogValue(0), 1, false);
    row("analog config", regs::analogSignal(0), 1, false);
}

// Mapped blocks read back exactly what was stored; anything else is refused.
void TestModule::registerMap()
{
    QFETCH(Module, module);
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(bool, mapped);
    Rig rig(module);
    QVERIFY2(rig.ok(), rig.error.c_str());

    Bytes expected{1, 3, uint8_t(2 * count)};
    for (int i = 0; i < count; ++i) {
        const uint16_t v = uint16_t(0xA500 + i * 7);
        rig.sim.setRegister(uint16_t(first + i), v);
        expected.push_back(uint8_t(v >> 8));
        expected.push_back(uint8_t(v));
    }
    const Bytes request = readRequest(1, uint16_t(first), uint16_t(count));
    if (mapped)
        QCOMPARE(rig.port->transact(request, expected.size() + 2), withCrc(expected));
    else
        QCOMPARE(rig.port->transact(request, 5), exceptionAnswer(1, 3, 2));
}

void TestModule::resetRegisterReadsZero()
{
    for (Module m : {Module::T516, Module::T540, Module::T528}) {
        Rig rig(m);
        QVERIFY2(rig.ok(), rig.error.c_str());
        QCOMPARE(rig.port->transact(readRequest(1, regs::reset, 1), 7), withCrc({1, 3, 2, 0, 0}));
        const uint16_t code = m == Module::T540 ? regs::resetInputs : regs::resetRelays;
        QCOMPARE(rig.port->transact(writeRequest(1, regs::reset, {code}), 8), writeAnswer(1, regs::reset, 1));
        QCOMPARE(rig.port->transact(readRequest(1, regs::reset, 1), 7), withCrc({1, 3, 2, 0, 0}));
    }
}

void TestModule::relayCommands_data()
{
    QTest::addColumn<Module>("module");
    QTest::addColumn<int>("relay");
    QTest::newRow("t516 relay 1") << Module::T516 << 0;
    QTest::newRow("t516 relay 2") << Module::T516 << 1;
    QTest::newRow("t528 relay 1") << Module::T528 << 0;
    QTest::newRow("t528 relay 2") << Module::T528 << 1;
}

void TestModule::relayCommands()
{
    QFETCH(Module, module);
    QFETCH(int, relay);
    Rig rig(module);
    QVERIFY2(rig.ok(), rig.error.c_str());
    const int other = 1 - relay;
    rig.sim.setRegister32(regs::relayCount(relay), 0xFFFF);  // the increment carries into the high half
    rig.sim.setRegister(regs::relayState(relay), regs::off);
    rig.sim.setRegister32(regs::relayCount(other), 7);
    rig.sim.setRegister(regs::relayState(other), regs::off);

    // Reads relay count, state and command of `relay` through the line.
    auto readRelay = [&](uint32_t* count, uint16_t* state, uint16_t* command) {
        const Bytes a = rig.port->transact(readRequest(1, regs::relayCount(relay), 3), 11);
        const Bytes c = rig.port->transact(readRequest(1, regs::relayCommand(relay), 1), 7);
        if (a.size() != 11 || c.size() != 7) return false;
        *count = be32(Bytes{a[3], a[4], a[5], a[6]}, 0);
        *state = uint16_t(a[7] << 8 | a[8]);
        *command = uint16_t(c[3] << 8 | c[4]);
        return true;
    };
    auto command = [&](uint16_t value) {
        return rig.port->transact(writeRequest(1, regs::relayCommand(relay), {value}), 8) ==
               writeAnswer(1, regs::relayCommand(relay), 1);
    };
    uint32_t count = 0;
    uint16_t state = 0, cmd = 0;

    QVERIFY(command(regs::cmdOperate));
    QVERIFY(readRelay(&count, &state, &cmd));
    QCOMPARE(count, 0x10000u);
    QCOMPARE(state, regs::on);
    QCOMPARE(cmd, regs::cmdOperate);

    QVERIFY(command(regs::cmdRestore));
    QVERIFY(readRelay(&count, &state, &cmd));
    QCOMPARE(count, 0x10000u);
    QCOMPARE(state, regs::off);
    QCOMPARE(cmd, regs::cmdRestore);

    for (uint16_t mode : {regs::cmdHost, regs::cmdAlarm}) {
        QVERIFY(command(mode));
        QVERIFY(readRelay(&count, &state, &cmd));
        QCOMPARE(count, 0x10000u);
        QCOMPARE(state, regs::off);
        QCOMPARE(cmd, mode);
    }

    QVERIFY(command(regs::cmdOperate));
    QVERIFY(readRelay(&count, &state, &cmd));
    QCOMPARE(count, 0x10001u);

    // The other relay is left alone.
    QCOMPARE(rig.sim.reg32(regs::relayCount(other)), 7u);
    QCOMPARE(rig.sim.reg(regs::relayState(other)), regs::off);
}

void TestModule::resetCodes_data()
{
    QTest::addColumn<Module>("module");
    QTest::addColumn<int>("code");
    QTest::addColumn<QList<int>>("clearedRelays");
    QTest::addColumn<QList<int>>("clearedInputs");

    QTest::newRow("t516 relay 1") << Module::T516 << int(regs::resetRelay1) << QList<int>{0} << QList<int>{};
    QTest::newRow("t516 relay 2") << Module::T516 << int(regs::resetRelay2) << QList<int>{1} << QList<int>{};
    QTest::newRow("t516 both relays") << Module::T516 << int(regs::resetRelays) << QList<int>{0, 1} << QList<int>{};
    QTest::newRow("t516 input 1") << Module::T516 << int(regs::resetInput(0)) << QList<int>{} << QList<int>{0};
    QTest::newRow("t516 input 2") << Module::T516 << int(regs::resetInput(1)) << QList<int>{} << QList<int>{1};
    QTest::newRow("t516 all inputs") << Module::T516 << int(regs::resetInputs) << QList<int>{} << QList<int>{0, 1};
    QTest::newRow("t528 both relays") << Module::T528 << int(regs::resetRelays) << QList<int>{0, 1} << QList<int>{};
    QTest::newRow("t528 relay 2") << Module::T528 << int(regs::resetRelay2) << QList<int>{1} << QList<int>{};
    QTest::newRow("t528 all inputs") << Module::T528 << int(regs::resetInputs) << QList<int>{} << QList<int>{0, 1};
    QTest::newRow("t540 input 4") << Module::T540 << int(regs::resetInput(3)) << QList<int>{} << QList<int>{3};
    QTest::newRow("t540 input 7") << Module::T540 << int(regs::resetInput(6)) << QList<int>{} << QList<int>{6};
    QTest::newRow("t540 all inputs") << Module::T540 << int(regs::resetInputs) << QList<int>{}
                                     << QList<int>{0, 1, 2, 3, 4, 5, 6};
}

// Exactly the named counters go to zero; input states are not counters.
void TestModule::resetCodes()
{
    QFETCH(Module, module);
    QFETCH(int, code);
    QFETCH(QList<int>, clearedRelays);
    QFETCH(QList<int>, clearedInputs);
    Rig rig(module);
    QVERIFY2(rig.ok(), rig.error.c_str());
    fillCounters(rig.sim);
    const auto info = hv52sim::moduleInfo(module);
    for (int n = 0; n < info.inputs; ++n) rig.sim.setRegister(regs::inputState(n), regs::on);

    QCOMPARE(rig.port->transact(writeRequest(1, regs::reset, {uint16_t(code)}), 8),
             writeAnswer(1, regs::reset, 1));

    for (int k = 0; k < info.relays; ++k)
        QCOMPARE(rig.sim.reg32(regs::relayCount(k)), clearedRelays.contains(k) ? 0u : 100000u + unsigned(k));
    for (int n = 0; n < info.inputs; ++n) {
        const bool cleared = clearedInputs.contains(n);
        QCOMPARE(rig.sim.reg32(regs::inputCount(n)), cleared ? 0u : 200000u + unsigned(n));
        QCOMPARE(rig.sim.reg32(regs::inputOnTime(n)), cleared ? 0u : 300000u + unsigned(n));
        QCOMPARE(rig.sim.reg(regs::inputState(n)), regs::on);
    }
}

void TestModule::refusedResetCodes_data()
{
    QTest::addColumn<Module>("module");
    QTest::addColumn<int>("code");
    QTest::newRow("t540 relay 1") << Module::T540 << int(regs::resetRelay1);
    QTest::newRow("t540 both relays") << Module::T540 << int(regs::resetRelays);
    QTest::newRow("t540 input 8") << Module::T540 << int(regs::resetInput(7));
    QTest::newRow("t528 input 3") << Module::T528 << int(regs::resetInput(2));
    QTest::newRow("t516 0x6005") << Module::T516 << 0x6005;
    QTest::newRow("t516 0x0001") << Module::T516 << 0x0001;
}

void TestModule::refusedResetCodes()
{
    QFETCH(Module, module);
    QFETCH(int, code);
    Rig rig(module);
    QVERIFY2(rig.ok(), rig.error.c_str());
    fillCounters(rig.sim);
    QCOMPARE(rig.port->transact(writeRequest(1, regs::reset, {uint16_t(code)}), 5), exceptionAnswer(1, 16, 3));
    const auto info = hv52sim::moduleInfo(module);
    for (int k = 0; k < info.relays; ++k) QCOMPARE(rig.sim.reg32(regs::relayCount(k)), 100000u + unsigned(k));
    for (int n = 0; n < info.inputs; ++n) {
        QCOMPARE(rig.sim.reg32(regs::inputCount(n)), 200000u + unsigned(n));
        QCOMPARE(rig.sim.reg32(regs::inputOnTime(n)), 300000u + unsigned(n));
    }
}

// Writable settings keep what was written, and a refused value keeps the old one.
void TestModule::settingsAreStored()
{
    Rig rig(Module::T516);
    QVERIFY2(rig.ok(), rig.error.c_str());
    auto write = [&](uint16_t reg, uint16_t v, size_t answerSize) {
        return rig.port->transact(writeRequest(1, reg, {v}), answerSize);
    };
    auto read = [&](uint16_t reg) {
        const Bytes a = rig.port->transact(readRequest(1, reg, 1), 7);
        return a.size() == 7 ? int(a[3] << 8 | a[4]) : -1;
    };

    QCOMPARE(write(regs::inputMode(1), 1, 8), writeAnswer(1, regs::inputMode(1), 1));
    QCOMPARE(read(regs::inputMode(1)), 1);
    QCOMPARE(write(regs::inputMode(1), 2, 5), exceptionAnswer(1, 16, 3));
    QCOMPARE(read(regs::inputMode(1)), 1);

    QCOMPARE(write(regs::analogSource(2), 29, 8), writeAnswer(1, regs::analogSource(2), 1));
    QCOMPARE(read(regs::analogSource(2)), 29);
    QCOMPARE(write(regs::analogSource(2), 30, 5), exceptionAnswer(1, 16, 3));
    QCOMPARE(read(regs::analogSource(2)), 29);

    QCOMPARE(write(regs::analogSignal(2), 1, 8), writeAnswer(1, regs::analogSignal(2), 1));
    QCOMPARE(read(regs::analogSignal(2)), 1);
    QCOMPARE(write(regs::analogLower(1), 0, 8), writeAnswer(1, regs::analogLower(1), 1));
    QCOMPARE(read(regs::analogLower(1)), 0);
    QCOMPARE(write(regs::analogUpper(1), 65535, 8), writeAnswer(1, regs::analogUpper(1), 1));
    QCOMPARE(read(regs::analogUpper(1)), 65535);
}

// A first poll of a fresh module must show numbers, not zeros.
void TestModule::startValuesShowSomething()
{
    for (Module m : {Module::T516, Module::T540, Module::T528}) {
        Simulator sim(m);
        const auto info = hv52sim::moduleInfo(m);
        for (int k = 0; k < info.relays; ++k) QVERIFY(sim.reg32(regs::relayCount(k)) > 0);
        for (int n = 0; n < info.inputs; ++n) {
            QVERIFY(sim.reg32(regs::inputCount(n)) > 0);
            QVERIFY(sim.reg32(regs::inputOnTime(n)) > 0);
        }
        for (int k = 0; k < info.analogOutputs; ++k) {
            QVERIFY(sim.reg(regs::analogValue(k)) >= 400);
            QVERIFY(sim.reg(regs::analogValue(k)) <= 2000);
        }
    }
}

// Over several steps every input moves; a count grows by its OFF->ON
// changes, an ON time by one second (10 tenths) per step spent ON.
void TestModule::demoStepsAreConsistent()
{
    Simulator sim(Module::T540);
    const int inputs = hv52sim::moduleInfo(Module::T540).inputs;
    std::vector<uint32_t> count0, time0;
    std::vector<int> rises(size_t(inputs), 0), onSteps(size_t(inputs), 0), toggles(size_t(inputs), 0);
    for (int n = 0; n < inputs; ++n) {
        count0.push_back(sim.reg32(regs::inputCount(n)));
        time0.push_back(sim.reg32(regs::inputOnTime(n)));
    }
    const int steps = 2 * inputs;
    for (int s = 0; s < steps; ++s) {
        std::vector<bool> before;
        for (int n = 0; n < inputs; ++n) before.push_back(sim.reg(regs::inputState(n)) == regs::on);
        sim.demoStep();
        for (int n = 0; n < inputs; ++n) {
            const uint16_t st = sim.reg(regs::inputState(n));
            QVERIFY(st == regs::on || st == regs::off);
            const bool now = st == regs::on;
            if (now != before[size_t(n)]) ++toggles[size_t(n)];
            if (now && !before[size_t(n)]) ++rises[size_t(n)];
            if (before[size_t(n)]) ++onSteps[size_t(n)];
        }
    }
    for (int n = 0; n < inputs; ++n) {
        QVERIFY(toggles[size_t(n)] > 0);
        QCOMPARE(sim.reg32(regs::inputCount(n)) - count0[size_t(n)], uint32_t(rises[size_t(n)]));
        QCOMPARE(sim.reg32(regs::inputOnTime(n)) - time0[size_t(n)], uint32_t(10 * onSteps[size_t(n)]));
    }
}

void TestModule::demoRunsOnItsOwn()
{
    Rig rig(Module::T516);
    QVERIFY2(rig.ok(), rig.error.c_str());
    const uint32_t before = rig.sim.reg32(regs::inputOnTime(0)) + rig.sim.reg32(regs::inputOnTime(1));
    rig.sim.setDemo(true);
    bool moved = false;
    for (int i = 0; i < 100 && !moved; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        moved = rig.sim.reg32(regs::inputOnTime(0)) + rig.sim.reg32(regs::inputOnTime(1)) != before;
    }
    QVERIFY(moved);
}

QTEST_GUILESS_MAIN(TestModule)
#include "test_module.moc"
