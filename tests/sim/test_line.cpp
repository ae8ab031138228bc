// The modules on one line without a port: which module a frame reaches,
// what a broadcast and a refusal do, and the log of frames that passed.
#include "master.h"
#include "sim/bus.h"
#include "sim/framelog.h"

using namespace simtest;
using hv52sim::Bus;
using hv52sim::Frame;
using hv52sim::FrameLog;
using hv52sim::Module;
using Addresses = QList<int>;

namespace {

// t516@1, t528@3, t540@4; input 1's count is 1000 * address.
Bus line()
{
    Bus bus(Module::T516, 1);
    bus.add(Module::T528, 3);
    bus.add(Module::T540, 4);
    for (uint8_t a : {1, 3, 4})
        bus.at(a)->set32(regs::inputCount(0), 1000u * a);
    return bus;
}

Bytes countAnswer(uint8_t a)
{
    const uint16_t v = uint16_t(1000 * a);
    return withCrc({a, 3, 4, 0, 0, uint8_t(v >> 8), uint8_t(v)});
}

} // namespace

class TestLine : public QObject
{
    Q_OBJECT
private slots:
    // Addresses tried one after another on a line of t516@1: the modules it
    // then holds, in the order added.
    void add_data()
    {
        QTest::addColumn<Addresses>("tried");
        QTest::addColumn<Addresses>("held");
        QTest::newRow("free ones, any order") << Addresses{9, 2, 247} << Addresses{1, 9, 2, 247};
        QTest::newRow("each once") << Addresses{5, 5, 1} << Addresses{1, 5};
        QTest::newRow("outside 1..247") << Addresses{0, 248, 255, 3} << Addresses{1, 3};
    }

    void add()
    {
        QFETCH(Addresses, tried);
        QFETCH(Addresses, held);
        Bus bus(Module::T516, 1);
        for (int a : tried)
            bus.add(Module::T528, uint8_t(a));
        Addresses got;
        for (const hv52sim::BusModule &m : bus.modules()) {
            got << m.address;
            QCOMPARE(bus.at(m.address)->address, m.address);
            QCOMPARE(m.module, m.address == 1 ? Module::T516 : Module::T528);
        }
        QCOMPARE(got, held);
        QVERIFY(!bus.at(0));
    }

    void answer_data()
    {
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<Bytes>("answer");
        const Bytes toThree = readRequest(3, regs::inputCount(0), 2);
        Bytes badCrc = toThree;
        badCrc.back() ^= 1;
        QTest::newRow("first module") << readRequest(1, regs::inputCount(0), 2) << countAnswer(1);
        QTest::newRow("third on the line") << toThree << countAnswer(3);
        QTest::newRow("T540 at 4") << readRequest(4, regs::inputCount(0), 2) << countAnswer(4);
        QTest::newRow("nobody at 2") << readRequest(2, regs::inputCount(0), 2) << Bytes{};
        QTest::newRow("bad CRC") << badCrc << Bytes{};
        QTest::newRow("too short") << Bytes{3, 3, 0} << Bytes{};
        QTest::newRow("broadcast read") << readRequest(0, regs::inputCount(0), 2) << Bytes{};
        // the T540 has no analog output
        QTest::newRow("by the module's kind") << readRequest(4, regs::analogValue(0), 1) << exceptionAnswer(3, 2, 4);
    }

    void answer()
    {
        QFETCH(Bytes, request);
        QFETCH(Bytes, answer);
        Bus bus = line();
        bool refused = true;
        QCOMPARE(bus.answer(request, -1, &refused), answer);
        QVERIFY(!refused);
    }

    // A write of relay 1's command to operate; T540 has no relay and
    // refuses it silently in a broadcast.
    void writes_data()
    {
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("refuseAt");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<Addresses>("operated");
        QTest::newRow("one module") << 3 << -1 << false << Addresses{3};
        QTest::newRow("broadcast") << 0 << -1 << false << Addresses{1, 3};
        QTest::newRow("refused by its module") << 3 << 3 << true << Addresses{};
        QTest::newRow("refused by every module") << 1 << 0 << true << Addresses{};
        QTest::newRow("refused elsewhere") << 3 << 1 << false << Addresses{3};
        QTest::newRow("broadcast, one refusing") << 0 << 1 << true << Addresses{3};
    }

    void writes()
    {
        QFETCH(int, to);
        QFETCH(int, refuseAt);
        QFETCH(bool, refused);
        QFETCH(Addresses, operated);
        Bus bus = line();
        for (uint8_t a : {1, 3})
            bus.at(a)->values[regs::relayCommand(0)] = regs::cmdHost;
        bool got = !refused;
        const Bytes a =
            bus.answer(writeRequest(uint8_t(to), regs::relayCommand(0), {regs::cmdOperate}), refuseAt, &got);
        QCOMPARE(got, refused);
        if (to == 0)
            QVERIFY(a.empty());
        else
            QCOMPARE(a, refused ? exceptionAnswer(16, 4, uint8_t(to))
                                : writeAnswer(uint8_t(to), regs::relayCommand(0), 1));
        Addresses now;
        for (uint8_t m : {1, 3})
            if (bus.at(m)->values[regs::relayCommand(0)] == regs::cmdOperate)
                now << m;
        QCOMPARE(now, operated);
    }

    // Demo steps count for the whole line: each module's input 1 toggles
    // on every step.
    void demoStep()
    {
        Bus bus = line();
        const uint16_t before = bus.at(4)->values[regs::inputState(0)];
        bus.demoStep();
        QVERIFY(bus.at(4)->values[regs::inputState(0)] != before);
        bus.demoStep();
        QCOMPARE(bus.at(4)->values[regs::inputState(0)], before);
    }

    void logCapacity_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("added"); // request, answer, request, ...
        QTest::addColumn<int>("kept");
        QTest::addColumn<int>("requests");
        QTest::newRow("unlimited") << 0 << 5 << 5 << 3;
        QTest::newRow("under the capacity") << 10 << 5 << 5 << 3;
        QTest::newRow("oldest dropped") << 2 << 5 << 2 << 3;
    }

    void logCapacity()
    {
        QFETCH(int, capacity);
        QFETCH(int, added);
        QFETCH(int, kept);
        QFETCH(int, requests);
        FrameLog log;
        log.setCapacity(size_t(capacity));
        for (int i = 0; i < added; ++i)
            log.add(Frame{i % 2 == 0, Bytes{uint8_t(i)}, {}});
        const std::vector<Frame> frames = log.frames();
        QCOMPARE(int(frames.size()), kept);
        QCOMPARE(int(frames.back().bytes[0]), added - 1);
        QCOMPARE(int(log.requests()), requests); // dropped frames still counted
        QVERIFY(log.waitForRequests(size_t(requests), 0));
        log.clear();
        QVERIFY(log.frames().empty());
        QCOMPARE(int(log.requests()), 0);
    }

    // Lowering the capacity drops the oldest at once.
    void logCapacityLowered()
    {
        FrameLog log;
        for (int i = 0; i < 4; ++i)
            log.add(Frame{false, Bytes{uint8_t(i)}, {}});
        log.setCapacity(1);
        QCOMPARE(int(log.frames().size()), 1);
        QCOMPARE(int(log.frames().front().bytes[0]), 3);
    }
};

QTEST_GUILESS_MAIN(TestLine)
#include "test_line.moc"
