// Which answers a fault takes, and what it makes of them, without a line.
#include "master.h"
#include "sim/faults.h"

#include <QSet>

using namespace simtest;
using hv52sim::Delivery;
using hv52sim::Fault;
using hv52sim::FaultPlan;
using Sizes = QList<int>;
Q_DECLARE_METATYPE(hv52sim::Fault)

namespace {

const Bytes kRead = readRequest(1, regs::inputCount(0), 2);
const Bytes kReadAnswer = withCrc({1, 3, 4, 0, 1, 0x11, 0x70});

} // namespace

class TestFaultPlan : public QObject
{
    Q_OBJECT
private slots:
    void names_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("name");
        QTest::newRow("none") << Fault::None << "none";
        QTest::newRow("silent") << Fault::Silent << "silent";
        QTest::newRow("bad-crc") << Fault::BadCrc << "bad-crc";
        QTest::newRow("held") << Fault::Held << "held";
        QTest::newRow("refuse-write") << Fault::RefuseWrite << "refuse-write";
    }

    void names()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, name);
        QCOMPARE(QString(hv52sim::faultName(fault)), name);
        Fault parsed = Fault::None;
        QVERIFY(hv52sim::parseFault(name.toStdString(), &parsed));
        QCOMPARE(parsed, fault);
        QVERIFY(!hv52sim::parseFault(name.toUpper().toStdString() + "x", &parsed));
    }

    // Every fault has a name of its own that reads back as that fault.
    void namesRoundTrip()
    {
        QSet<QString> seen;
        for (int i = int(Fault::None); i <= int(Fault::RefuseWrite); ++i) {
            const QString name = hv52sim::faultName(Fault(i));
            QVERIFY2(name != "?" && !seen.contains(name), qPrintable(name));
            seen << name;
            Fault parsed = Fault::None;
            QVERIFY(hv52sim::parseFault(name.toStdString(), &parsed));
            QCOMPARE(int(parsed), i);
        }
        QCOMPARE(QString(hv52sim::faultName(Fault(int(Fault::RefuseWrite) + 1))), QString("?"));
    }

    // Three requests in a row under one fault setting: which answers carry it,
    // and what fault() says after each.
    void take_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("faultAddress");
        QTest::addColumn<int>("requestAddress");
        QTest::addColumn<bool>("answered"); // the line has an answer
        QTest::addColumn<bool>("refused");  // a module refused the write
        QTest::addColumn<QList<Fault>>("carried");
        QTest::addColumn<Fault>("left");
        const Fault S = Fault::Silent, N = Fault::None;
        QTest::newRow("none") << N << -1 << 0 << 1 << true << false << QList<Fault>{N, N, N} << N;
        QTest::newRow("every answer") << S << -1 << 0 << 1 << true << false << QList<Fault>{S, S, S} << S;
        QTest::newRow("the next two") << S << 2 << 0 << 1 << true << false << QList<Fault>{S, S, N} << N;
        QTest::newRow("count 0 is none") << S << 0 << 0 << 1 << true << false << QList<Fault>{N, N, N} << N;
        QTest::newRow("its own module") << S << 1 << 7 << 7 << true << false << QList<Fault>{S, N, N} << N;
        QTest::newRow("another module's: kept") << S << 1 << 7 << 1 << true << false << QList<Fault>{N, N, N} << S;
        QTest::newRow("no answer: kept") << S << 1 << 0 << 1 << false << false << QList<Fault>{N, N, N} << S;
        QTest::newRow("refusal counts refused writes")
            << Fault::RefuseWrite << 2 << 0 << 1 << true << true << QList<Fault>{N, N, N} << N;
        QTest::newRow("refusal ignores answered reads")
            << Fault::RefuseWrite << 2 << 0 << 1 << true << false << QList<Fault>{N, N, N} << Fault::RefuseWrite;
    }

    void take()
    {
        QFETCH(Fault, fault);
        QFETCH(int, count);
        QFETCH(int, faultAddress);
        QFETCH(int, requestAddress);
        QFETCH(bool, answered);
        QFETCH(bool, refused);
        QFETCH(QList<Fault>, carried);
        QFETCH(Fault, left);
        FaultPlan plan;
        plan.set(fault, count, uint8_t(faultAddress));
        const Bytes request = readRequest(uint8_t(requestAddress), regs::inputCount(0), 2);
        for (Fault expected : carried) {
            Bytes a = answered ? kReadAnswer : Bytes{};
            QCOMPARE(plan.take(request, a, refused).fault, expected);
        }
        QCOMPARE(plan.fault(), left);
        QCOMPARE(int(plan.address()), faultAddress);
    }

    void refuseAt_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("refuseAt");
        QTest::newRow("no fault") << Fault::None << -1 << 0 << -1;
        QTest::newRow("another fault") << Fault::Silent << -1 << 0 << -1;
        QTest::newRow("every module") << Fault::RefuseWrite << -1 << 0 << 0;
        QTest::newRow("one module") << Fault::RefuseWrite << 3 << 5 << 5;
        QTest::newRow("count 0") << Fault::RefuseWrite << 0 << 5 << -1;
    }

    void refuseAt()
    {
        QFETCH(Fault, fault);
        QFETCH(int, count);
        QFETCH(int, address);
        QFETCH(int, refuseAt);
        FaultPlan plan;
        plan.set(fault, count, uint8_t(address));
        QCOMPARE(plan.refuseAt(), refuseAt);
    }

    // How the faulted answer goes out, with the settings made for it.
    void delivery_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("address"); // of the answer
        QTest::newRow("clean") << Fault::None << 1 << 0 << 0 << 1;
        QTest::newRow("split") << Fault::Split << 4 << 15 << 0 << 1;
        QTest::newRow("slow") << Fault::Slow << 1 << 0 << 250 << 1;
        QTest::newRow("other address") << Fault::OtherAddress << 1 << 0 << 0 << 9;
    }

    void delivery()
    {
        QFETCH(Fault, fault);
        QFETCH(int, pieces);
        QFETCH(int, gapMs);
        QFETCH(int, delayMs);
        QFETCH(int, address);
        FaultPlan plan;
        plan.setSplit(4, 15);
        plan.setSlowMs(250);
        plan.setOtherAddress(9);
        plan.setHeld(-5, 30);
        plan.set(fault, 1, 0);
        Bytes a = kReadAnswer;
        const Delivery how = plan.take(kRead, a, false);
        QCOMPARE(how.fault, fault);
        QCOMPARE(how.pieces, pieces);
        QCOMPARE(how.gapMs, gapMs);
        QCOMPARE(how.delayMs, delayMs);
        QCOMPARE(how.heldMs, 0); // never negative
        QCOMPARE(how.followMs, 30);
        QCOMPARE(int(a[0]), address);
    }

    // The address an other-address answer carries: the one set, else the
    // answering module's + 1, wrapping past 247.
    void otherAddress_data()
    {
        QTest::addColumn<int>("set"); // -1: none set
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("default 1 -> 2") << -1 << 1 << 2;
        QTest::newRow("default 246 -> 247") << -1 << 246 << 247;
        QTest::newRow("default 247 -> 1") << -1 << 247 << 1;
        QTest::newRow("set 9") << 9 << 1 << 9;
        QTest::newRow("set to its own") << 4 << 4 << 4;
    }

    void otherAddress()
    {
        QFETCH(int, set);
        QFETCH(int, from);
        QFETCH(int, to);
        FaultPlan plan;
        if (set >= 0)
            plan.setOtherAddress(uint8_t(set));
        plan.set(Fault::OtherAddress, 1, 0);
        Bytes a = withCrc({uint8_t(from), 3, 2, 0, 0});
        QCOMPARE(plan.take(readRequest(uint8_t(from), regs::inputState(0), 1), a, false).fault, Fault::OtherAddress);
        QCOMPARE(int(a[0]), to);
    }

    void held()
    {
        FaultPlan plan;
        QVERIFY(plan.takeHeld().empty());
        plan.hold(kReadAnswer);
        QCOMPARE(plan.takeHeld(), kReadAnswer);
        QVERIFY(plan.takeHeld().empty()); // given out once
    }

    void mangle_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<Bytes>("answer");
        QTest::newRow("none") << Fault::None << kReadAnswer;
        QTest::newRow("split keeps the bytes") << Fault::Split << kReadAnswer;
        QTest::newRow("slow keeps the bytes") << Fault::Slow << kReadAnswer;
        QTest::newRow("bad-crc") << Fault::BadCrc << Bytes{1, 3, 4, 0, 1, 0x11, 0x70, 0xA6, 0xB8};
        QTest::newRow("partial") << Fault::Partial << Bytes{1, 3, 4};
        QTest::newRow("exception") << Fault::Exception << Bytes{0x01, 0x83, 0x04, 0x40, 0xF3};
        QTest::newRow("extra-bytes") << Fault::ExtraBytes << cat(kReadAnswer, {0x00, 0xFF});
        QTest::newRow("other-function") << Fault::OtherFunction << withCrc({1, 4, 4, 0, 1, 0x11, 0x70});
    }

    void mangle()
    {
        QFETCH(Fault, fault);
        QFETCH(Bytes, answer);
        Bytes a = kReadAnswer;
        hv52sim::mangle(fault, kRead, a);
        QCOMPARE(a, answer);
    }

    // The other address is set by take(); mangle() gives it its CRC.
    void mangleOtherAddress()
    {
        Bytes a = kReadAnswer;
        a[0] = 2;
        hv52sim::mangle(Fault::OtherAddress, kRead, a);
        QCOMPARE(a, withCrc({2, 3, 4, 0, 1, 0x11, 0x70}));
    }

    void pieceLength_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<Sizes>("lengths");
        QTest::newRow("one piece") << 9 << 1 << Sizes{9};
        QTest::newRow("even") << 9 << 3 << Sizes{3, 3, 3};
        QTest::newRow("first pieces longer") << 11 << 3 << Sizes{4, 4, 3};
        QTest::newRow("a byte each") << 5 << 5 << Sizes{1, 1, 1, 1, 1};
    }

    void pieceLength()
    {
        QFETCH(int, size);
        QFETCH(int, pieces);
        QFETCH(Sizes, lengths);
        Sizes got;
        for (int i = 0; i < pieces; ++i)
            got << int(hv52sim::pieceLength(size_t(size), pieces, i));
        QCOMPARE(got, lengths);
    }
};

QTEST_GUILESS_MAIN(TestFaultPlan)
#include "test_faultplan.moc"
