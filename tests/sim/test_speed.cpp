// The listening speed: a module answers only a master at its own line speed.
#include "master.h"

using namespace simtest;
using hv52sim::Module;
using hv52sim::Simulator;

namespace {
speed_t code(int baud)
{
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    }
    return B0;
}
} // namespace

class TestSpeed : public QObject
{
    Q_OBJECT
private slots:
    void answeredAtItsSpeedOnly_data()
    {
        QTest::addColumn<int>("master"); // 0: the port left at the pseudo-terminal's 38400
        QTest::addColumn<int>("listen"); // 0: any
        QTest::addColumn<bool>("answered");
        QTest::newRow("any speed, 1200") << 1200 << 0 << true;
        QTest::newRow("any speed, 115200") << 115200 << 0 << true;
        QTest::newRow("1200 at 1200") << 1200 << 1200 << true;
        QTest::newRow("9600 at 9600") << 9600 << 9600 << true;
        QTest::newRow("19200 at 19200") << 19200 << 19200 << true;
        QTest::newRow("57600 at 57600") << 57600 << 57600 << true;
        QTest::newRow("115200 at 115200") << 115200 << 115200 << true;
        QTest::newRow("unset at 38400") << 0 << 38400 << true;
        QTest::newRow("19200 to 9600") << 19200 << 9600 << false;
        QTest::newRow("9600 to 19200") << 9600 << 19200 << false;
        QTest::newRow("4800 to 2400") << 4800 << 2400 << false;
        QTest::newRow("115200 to 57600") << 115200 << 57600 << false;
        QTest::newRow("unset to 9600") << 0 << 9600 << false;
    }

    // A write at the master's speed, then a read at the module's own speed:
    // the read's answer must come first when the write went unheard, and the
    // write must have changed nothing; both requests are logged either way.
    void answeredAtItsSpeedOnly()
    {
        QFETCH(int, master);
        QFETCH(int, listen);
        QFETCH(bool, answered);
        RIG(rig);
        QVERIFY(rig.sim.setListenSpeed(listen));
        QCOMPARE(rig.sim.listenSpeed(), listen);
        if (master)
            QVERIFY(rig.port->setSpeed(code(master)));
        QCOMPARE(rig.sim.lineSpeed(), master ? master : 38400);

        const Bytes write = writeRequest(1, regs::inputMode(0), {1});
        QVERIFY(rig.port->send(write));
        // The speed counts as the bytes arrive, so it changes only once they have.
        QVERIFY(rig.sim.waitForRequests(1, 3000));
        if (listen)
            QVERIFY(rig.port->setSpeed(code(listen)));
        QVERIFY(rig.port->send(kRequest));
        const Bytes written = writeAnswer(1, regs::inputMode(0), 1);
        QCOMPARE(rig.port->read((answered ? written.size() : 0) + kAnswer.size()),
                 answered ? cat(written, kAnswer) : kAnswer);
        QCOMPARE(rig.sim.reg(regs::inputMode(0)), uint16_t(answered ? 1 : 0));

        std::vector<Bytes> logged;
        for (const auto &f : rig.sim.frames())
            logged.push_back(f.bytes);
        const std::vector<Bytes> expected = answered ? std::vector<Bytes>{write, written, kRequest, kAnswer}
                                                     : std::vector<Bytes>{write, kRequest, kAnswer};
        QVERIFY(logged == expected);
    }

    void speedsOutsideTheListAreRefused()
    {
        Simulator sim(Module::T528);
        QCOMPARE(sim.lineSpeed(), 0); // no line yet
        QVERIFY(sim.setListenSpeed(9600));
        for (int baud : {-1, 300, 600, 14400, 28800, 230400}) {
            QVERIFY2(!sim.setListenSpeed(baud), std::to_string(baud).c_str());
            QCOMPARE(sim.listenSpeed(), 9600);
        }
        QVERIFY(sim.setListenSpeed(0));
        QCOMPARE(sim.listenSpeed(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSpeed)
#include "test_speed.moc"
