// Injected faults and pacing: the bytes each one puts on the line.
#include "master.h"

#include <mutex>

using namespace simtest;
using hv52sim::Fault;
using Sizes = QList<int>;
Q_DECLARE_METATYPE(hv52sim::Fault)

class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void faultBytes_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Bytes>("answer"); // the faulted answer to kRequest
        QTest::addColumn<Sizes>("writes"); // its sizes, write by write
        QTest::newRow("silent") << Fault::Silent << Bytes{} << Sizes{};
        QTest::newRow("bad-crc") << Fault::BadCrc << Bytes{1, 3, 4, 0, 1, 0x11, 0x70, 0xA6, 0xB8} << Sizes{9};
        QTest::newRow("partial") << Fault::Partial << Bytes{1, 3, 4} << Sizes{3};
        QTest::newRow("exception") << Fault::Exception << Bytes{0x01, 0x83, 0x04, 0x40, 0xF3} << Sizes{5};
        QTest::newRow("extra-bytes") << Fault::ExtraBytes << cat(kAnswer, {0x00, 0xFF}) << Sizes{11};
        QTest::newRow("split") << Fault::Split << kAnswer << Sizes{3, 3, 3};
        QTest::newRow("slow") << Fault::Slow << kAnswer << Sizes{9};
        // by default the module's address + 1
        QTest::newRow("other-address") << Fault::OtherAddress << withCrc({2, 3, 4, 0, 1, 0x11, 0x70}) << Sizes{9};
        QTest::newRow("other-function") << Fault::OtherFunction << withCrc({1, 4, 4, 0, 1, 0x11, 0x70}) << Sizes{9};
    }

    // Two requests, the first answer faulted: the module answers in order, so the
    // clean second answer shows exactly where the faulted one ended.
    void faultBytes()
    {
        QFETCH(Fault, fault);
        QFETCH(Bytes, answer);
        QFETCH(Sizes, writes);
        Fault named; // --fault takes the row's name
        QVERIFY(hv52sim::parseFault(QTest::currentDataTag(), &named) && named == fault);
        std::mutex mu;
        Sizes written; // declared before the rig: outlives its service thread
        RIG(rig);
        rig.sim.onWrite([&](const Bytes &b) {
            std::lock_guard<std::mutex> lk(mu);
            written << int(b.size());
        });
        rig.sim.setSplit(3, 1);
        rig.sim.setSlowMs(100);
        rig.sim.setFault(fault, 1);
        QVERIFY(rig.port->send(kRequest) && rig.port->send(kRequest));
        QCOMPARE(rig.port->read(answer.size() + kAnswer.size()), cat(answer, kAnswer));
        QCOMPARE(rig.sim.fault(), Fault::None);
        {
            std::lock_guard<std::mutex> lk(mu); // the faulted answer's writes are done by now
            QCOMPARE(written.mid(0, writes.size()), writes);
        }
        const auto frames = rig.sim.frames();
        if (fault == Fault::Slow)
            QVERIFY(frames[1].time - frames[0].time >= std::chrono::milliseconds(100));
    }

    // Count N: the next N answers; -1: all; None or 0: none. Ignored requests
    // use none up.
    void faultCounts()
    {
        RIG(rig);
        const Bytes partial(kAnswer.begin(), kAnswer.begin() + 3);
        rig.sim.setFault(Fault::Partial, 2);
        QVERIFY(rig.port->send(readRequest(9, regs::inputCount(0), 2)));
        for (int i = 0; i < 3; ++i)
            QVERIFY(rig.port->send(kRequest));
        QCOMPARE(rig.port->read(15), cat(cat(partial, partial), kAnswer));

        rig.sim.setFault(Fault::Partial, -1);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rig.port->transact(kRequest, 3), partial);
        QCOMPARE(rig.sim.fault(), Fault::Partial);
        rig.sim.setFault(Fault::None);
        QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
        rig.sim.setFault(Fault::Partial, 0);
        QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
        // An exception fault keeps the request's function code.
        rig.sim.setFault(Fault::Exception, 1);
        QCOMPARE(rig.port->transact(writeRequest(1, regs::inputMode(0), {1}), 5), exceptionAnswer(16, 4));
    }

    // Only the lower bound; hv52sim_pacing_bench measures the accuracy.
    void pacingIsALowerBound()
    {
        RIG(rig);
        rig.sim.setPacing(19200, 700);
        QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
        rig.sim.setFault(Fault::Partial, 1);
        QCOMPARE(rig.port->transact(kRequest, 3), Bytes(kAnswer.begin(), kAnswer.begin() + 3));
        const auto f = rig.sim.frames();
        QCOMPARE(f.size(), size_t(4));
        using us = std::chrono::microseconds;
        // (8 + 3.5 + 9 + 3.5) characters of 10 bits at 19200 bit/s, plus turnaround
        QVERIFY(f[1].time - f[0].time >= us(12500 + 700));
        // a partial answer is paced by its own 3 bytes
        QVERIFY(f[3].time - f[2].time >= us(9375 + 700));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
