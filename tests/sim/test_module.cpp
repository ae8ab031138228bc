// The three modules' registers as a master sees them: the map, relay
// commands, reset codes, start values and the demo.
#include "master.h"

using namespace simtest;
using hv52sim::Module;
Q_DECLARE_METATYPE(hv52sim::Module)

// Relays, inputs and analog outputs of each module.
static const struct
{
    Module module;
    int relays, inputs, analogs;
} kModules[] = {{Module::T516, 2, 2, 3}, {Module::T540, 0, 7, 0}, {Module::T528, 2, 2, 0}};

class TestModule : public QObject
{
    Q_OBJECT
private slots:
    void registerMap_data()
    {
        QTest::addColumn<Module>("module");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count"); // 0: the module has none
        for (const auto &m : kModules) {
            auto row = [&](const char *what, int first, int count) {
                QTest::addRow("%s %s", hv52sim::moduleName(m.module), what) << m.module << first << count;
            };
            row("relays", regs::relayCount(0), 3 * m.relays);
            row("inputs", regs::inputCount(0), 3 * m.inputs);
            row("ON times", regs::inputOnTime(0), 2 * m.inputs);
            row("analog values", regs::analogValue(0), m.analogs);
            row("relay commands", regs::relayCommand(0), m.relays);
            row("input modes", regs::inputMode(0), m.inputs);
            row("analog config", regs::analogSignal(0), 4 * m.analogs);
        }
    }

    // A block reads back what was stored, in order; the register after it is refused.
    void registerMap()
    {
        QFETCH(Module, module);
        QFETCH(int, first);
        QFETCH(int, count);
        RIG(rig, module);
        Bytes expected{1, 3, uint8_t(2 * count)};
        for (int i = 0; i < count; ++i) {
            const uint16_t v = uint16_t(0xA500 + 7 * i);
            rig.sim.setRegister(uint16_t(first + i), v);
            expected.insert(expected.end(), {uint8_t(v >> 8), uint8_t(v)});
        }
        if (count > 0)
            QCOMPARE(rig.port->transact(readRequest(1, uint16_t(first), uint16_t(count)), expected.size() + 2),
                     withCrc(expected));
        QCOMPARE(rig.port->transact(readRequest(1, uint16_t(first + count), 1), 5), exceptionAnswer(3, 2));
    }

    void relayCommands_data()
    {
        QTest::addColumn<Module>("module");
        QTest::addColumn<int>("relay");
        for (Module m : {Module::T516, Module::T528})
            for (int k : {0, 1})
                QTest::addRow("%s relay %d", hv52sim::moduleName(m), k + 1) << m << k;
    }

    // Operate sets the state and counts; restore releases; host and alarm
    // change neither. The other relay is left alone.
    void relayCommands()
    {
        QFETCH(Module, module);
        QFETCH(int, relay);
        RIG(rig, module);
        rig.sim.setRegister32(regs::relayCount(relay), 0xFFFF); // the increment carries into the high half
        rig.sim.setRegister(regs::relayState(relay), regs::off);
        rig.sim.setRegister32(regs::relayCount(1 - relay), 7);
        rig.sim.setRegister(regs::relayState(1 - relay), regs::off);
        const struct
        {
            uint16_t command;
            uint32_t count;
            uint16_t state;
        } steps[] = {{regs::cmdOperate, 0x10000, regs::on},
                     {regs::cmdHost, 0x10000, regs::on},
                     {regs::cmdAlarm, 0x10000, regs::on},
                     {regs::cmdRestore, 0x10000, regs::off},
                     {regs::cmdOperate, 0x10001, regs::on}};
        for (const auto &s : steps) {
            QCOMPARE(rig.port->transact(writeRequest(1, regs::relayCommand(relay), {s.command}), 8),
                     writeAnswer(1, regs::relayCommand(relay), 1));
            QCOMPARE(rig.sim.reg(regs::relayCommand(relay)), s.command);
            QCOMPARE(rig.sim.reg32(regs::relayCount(relay)), s.count);
            QCOMPARE(rig.sim.reg(regs::relayState(relay)), s.state);
        }
        QCOMPARE(rig.sim.reg32(regs::relayCount(1 - relay)), 7u);
        QCOMPARE(rig.sim.reg(regs::relayState(1 - relay)), regs::off);
    }

    void resetCodes_data()
    {
        QTest::addColumn<Module>("module");
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<int>>("relays"); // cleared; none at all: the code is refused
        QTest::addColumn<QList<int>>("inputs");
        auto row = [](Module m, int code, QList<int> relays, QList<int> inputs) {
            QTest::addRow("%s 0x%X", hv52sim::moduleName(m), code) << m << code << relays << inputs;
        };
        row(Module::T516, regs::resetRelay1, {0}, {});
        row(Module::T516, regs::resetRelay2, {1}, {});
        row(Module::T516, regs::resetRelays, {0, 1}, {});
        row(Module::T516, regs::resetInput(0), {}, {0});
        row(Module::T516, regs::resetInput(1), {}, {1});
        row(Module::T516, regs::resetInputs, {}, {0, 1});
        row(Module::T516, 0x6005, {}, {});
        row(Module::T528, regs::resetRelays, {0, 1}, {});
        row(Module::T528, regs::resetRelay2, {1}, {});
        row(Module::T528, regs::resetInputs, {}, {0, 1});
        row(Module::T528, regs::resetInput(2), {}, {});
        row(Module::T540, regs::resetInput(3), {}, {3});
        row(Module::T540, regs::resetInput(6), {}, {6});
        row(Module::T540, regs::resetInputs, {}, {0, 1, 2, 3, 4, 5, 6});
        row(Module::T540, regs::resetInput(7), {}, {});
        row(Module::T540, regs::resetRelay1, {}, {});
    }

    // Exactly the named counters (and ON times) go to zero; input states are not
    // counters, and the reset register keeps reading 0.
    void resetCodes()
    {
        QFETCH(Module, module);
        QFETCH(int, code);
        QFETCH(QList<int>, relays);
        QFETCH(QList<int>, inputs);
        RIG(rig, module);
        for (int k = 0; k < 2; ++k)
            rig.sim.setRegister32(regs::relayCount(k), 100u + k);
        for (int n = 0; n < 7; ++n) {
            rig.sim.setRegister32(regs::inputCount(n), 200u + n);
            rig.sim.setRegister32(regs::inputOnTime(n), 300u + n);
            rig.sim.setRegister(regs::inputState(n), regs::on);
        }
        const bool accepted = !relays.isEmpty() || !inputs.isEmpty();
        QCOMPARE(rig.port->transact(writeRequest(1, regs::reset, {uint16_t(code)}), accepted ? 8 : 5),
                 accepted ? writeAnswer(1, regs::reset, 1) : exceptionAnswer(16, 3));
        QCOMPARE(rig.port->transact(readRequest(1, regs::reset, 1), 7), withCrc({1, 3, 2, 0, 0}));
        for (int k = 0; k < 2; ++k)
            QCOMPARE(rig.sim.reg32(regs::relayCount(k)), relays.contains(k) ? 0u : 100u + k);
        for (int n = 0; n < 7; ++n) {
            const uint32_t kept = inputs.contains(n) ? 0 : 1;
            QCOMPARE(rig.sim.reg32(regs::inputCount(n)), kept * (200u + n));
            QCOMPARE(rig.sim.reg32(regs::inputOnTime(n)), kept * (300u + n));
            QCOMPARE(rig.sim.reg(regs::inputState(n)), regs::on);
        }
    }

    // A fresh module shows numbers, not zeros. Each demo step (run by the
    // service thread once a second) toggles inputs; a count grows by the OFF->ON
    // changes, an ON time by 10 tenths per step spent ON.
    void startValuesAndDemo()
    {
        for (const auto &m : kModules) {
            hv52sim::Simulator sim(m.module);
            for (int k = 0; k < m.relays; ++k)
                QVERIFY(sim.reg32(regs::relayCount(k)) > 0);
            for (int n = 0; n < m.inputs; ++n)
                QVERIFY(sim.reg32(regs::inputCount(n)) > 0 && sim.reg32(regs::inputOnTime(n)) > 0);
            for (int k = 0; k < m.analogs; ++k) // 4..20 mA
                QVERIFY(sim.reg(regs::analogValue(k)) >= 400 && sim.reg(regs::analogValue(k)) <= 2000);
        }

        hv52sim::Simulator sim(Module::T540);
        for (int n = 0; n < 7; ++n) {
            uint32_t count = sim.reg32(regs::inputCount(n)), onTime = sim.reg32(regs::inputOnTime(n));
            int toggles = 0;
            for (int step = 0; step < 14; ++step) {
                const bool was = sim.reg(regs::inputState(n)) == regs::on;
                sim.demoStep();
                const uint16_t state = sim.reg(regs::inputState(n));
                QVERIFY(state == regs::on || state == regs::off);
                toggles += (state == regs::on) != was;
                count += state == regs::on && !was;
                onTime += was ? 10 : 0;
            }
            QVERIFY(toggles > 0);
            QCOMPARE(sim.reg32(regs::inputCount(n)), count);
            QCOMPARE(sim.reg32(regs::inputOnTime(n)), onTime);
        }

        RIG(rig);
        auto onTimes = [&] { return rig.sim.reg32(regs::inputOnTime(0)) + rig.sim.reg32(regs::inputOnTime(1)); };
        const uint32_t before = onTimes();
        rig.sim.setDemo(true);
        QTRY_VERIFY_WITH_TIMEOUT(onTimes() != before, 5000);
    }
};

QTEST_GUILESS_MAIN(TestModule)
#include "test_module.moc"
