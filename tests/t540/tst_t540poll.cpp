// The read-all poll of cfg_t540 ("召测"), against a simulated T540.
#include "t540bench.h"

using t540test::Bench;
using hv52sim::Fault;

namespace {

const QString kDone = QStringLiteral("召测数据，完成！");

QString doneWithFailures(int failed)
{
    return kDone + QStringLiteral("\n21 次读取中有 %1 次失败。").arg(failed);
}

struct Reg
{
    quint16 address;
    quint16 value;
};

} // namespace

Q_DECLARE_METATYPE(QVector<Reg>)
Q_DECLARE_METATYPE(Fault)

class TestT540Poll : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void readsInOrder()
    {
        Bench bench;
        bench.poll();

        // From the module's register table: count (2), state (1), ON time (2) per input.
        const QVector<QPair<quint16, int>> reads = {
            {0x0E40, 2}, {0x0E42, 1}, {0x0E5E, 2}, {0x0E43, 2}, {0x0E45, 1}, {0x0E60, 2},
            {0x0E46, 2}, {0x0E48, 1}, {0x0E62, 2}, {0x0E49, 2}, {0x0E4B, 1}, {0x0E64, 2},
            {0x0E4C, 2}, {0x0E4E, 1}, {0x0E66, 2}, {0x0E4F, 2}, {0x0E51, 1}, {0x0E68, 2},
            {0x0E52, 2}, {0x0E54, 1}, {0x0E6A, 2},
        };
        QStringList expected;
        for (const auto &[reg, count] : reads)
            expected << t540test::readFrame(reg, count);
        const QStringList sent = bench.sim.requests();
        QCOMPARE(sent, expected);
        QCOMPARE(sent.at(0), QStringLiteral("01 03 0E 40 00 02 C7 37"));
        QCOMPARE(sent.at(1), QStringLiteral("01 03 0E 42 00 01 26 F6"));
        QCOMPARE(sent.at(20), QStringLiteral("01 03 0E 6A 00 02 E6 FF"));
        QCOMPARE(bench.messages.shown, QStringList{kDone});
    }

    // Distinct values in every input show which cell each read lands in.
    void everyInputInItsRow()
    {
        Bench bench;
        for (int n = 0; n < 7; ++n) {
            bench.sim.sim.setRegister32(hv52sim::regs::inputCount(n), 100 + n);
            bench.sim.sim.setRegister(hv52sim::regs::inputState(n), n == 2 || n == 6 ? 0x5050 : 0);
            bench.sim.sim.setRegister32(hv52sim::regs::inputOnTime(n), 10 * n + 1);
        }
        bench.poll();
        const QStringList cells = {
            "100", "OFF", "0.1", "101", "OFF", "1.1", "102", "ON",  "2.1", "103", "OFF",
            "3.1", "104", "OFF", "4.1", "105", "OFF", "5.1", "106", "ON",  "6.1",
        };
        for (int i = 0; i < cells.size(); ++i) {
            QCOMPARE(bench.cell(13 + i), cells[i]);
            QVERIFY(!bench.marked(13 + i));
        }
    }

    void conversions_data()
    {
        QTest::addColumn<QVector<Reg>>("regs");
        QTest::addColumn<int>("cell");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ON time 0000 04D2") << QVector<Reg>{{0x0E5E, 0}, {0x0E5F, 0x04D2}} << 15 << "123.4";
        QTest::newRow("ON time 0001 0000") << QVector<Reg>{{0x0E6A, 1}, {0x0E6B, 0}} << 33 << "6553.6";
        QTest::newRow("ON time 50") << QVector<Reg>{{0x0E62, 0}, {0x0E63, 50}} << 21 << "5";
        QTest::newRow("ON time 5") << QVector<Reg>{{0x0E64, 0}, {0x0E65, 5}} << 24 << "0.5";
        QTest::newRow("ON time 0") << QVector<Reg>{{0x0E66, 0}, {0x0E67, 0}} << 27 << "0";
        QTest::newRow("ON time FFFF FFFF") << QVector<Reg>{{0x0E68, 0xFFFF}, {0x0E69, 0xFFFF}} << 30 << "429496729.5";
        QTest::newRow("count 0001 0000") << QVector<Reg>{{0x0E49, 1}, {0x0E4A, 0}} << 22 << "65536";
        QTest::newRow("count FFFF FFFF") << QVector<Reg>{{0x0E52, 0xFFFF}, {0x0E53, 0xFFFF}} << 31 << "4294967295";
        QTest::newRow("count 0") << QVector<Reg>{{0x0E43, 0}, {0x0E44, 0}} << 16 << "0";
        QTest::newRow("state 20560") << QVector<Reg>{{0x0E42, 20560}} << 14 << "ON";
        QTest::newRow("state 0") << QVector<Reg>{{0x0E45, 0}} << 17 << "OFF";
        QTest::newRow("state 1") << QVector<Reg>{{0x0E48, 1}} << 20 << "OFF";
        QTest::newRow("state 20561") << QVector<Reg>{{0x0E4E, 20561}} << 26 << "OFF";
        QTest::newRow("state 65535") << QVector<Reg>{{0x0E54, 65535}} << 32 << "OFF";
        QTest::newRow("state 20560 input 6") << QVector<Reg>{{0x0E51, 20560}} << 29 << "ON";
    }
    void conversions()
    {
        QFETCH(QVector<Reg>, regs);
        QFETCH(int, cell);
        QFETCH(QString, shown);
        Bench bench;
        for (const Reg &r : regs)
            bench.sim.sim.setRegister(r.address, r.value);
        bench.poll();
        QCOMPARE(bench.cell(cell), shown);
        QVERIFY(!bench.marked(cell)); // a true zero is no failed read
        QCOMPARE(bench.messages.shown, QStringList{kDone});
    }

    void silentModule()
    {
        Bench bench;
        bench.sim.sim.setFault(Fault::Silent);
        bench.poll();
        QCOMPARE(bench.sent(), size_t(21));
        for (int k = 1; k <= 7; ++k) {
            const int count = 10 + 3 * k;
            QCOMPARE(bench.cell(count), QStringLiteral("0"));
            QCOMPARE(bench.cell(count + 1), QStringLiteral("OFF"));
            QCOMPARE(bench.cell(count + 2), QStringLiteral("0"));
            for (int c = count; c < count + 3; ++c)
                QVERIFY(bench.marked(c));
        }
        QCOMPARE(bench.messages.shown, QStringList{doneWithFailures(21)});
        QCOMPARE(bench.window.link().failureCount(), qint16(21));
    }

    // Answers that must not be taken for a value fail only their own read.
    void badFirstAnswer_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<bool>("fails");
        QTest::newRow("silent") << Fault::Silent << true;
        QTest::newRow("bad CRC") << Fault::BadCrc << true;
        QTest::newRow("partial") << Fault::Partial << true;
        QTest::newRow("exception") << Fault::Exception << true;
        QTest::newRow("split answer") << Fault::Split << false;
    }
    void badFirstAnswer()
    {
        QFETCH(Fault, fault);
        QFETCH(bool, fails);
        Bench bench;
        bench.sim.sim.setRegister32(hv52sim::regs::inputCount(0), 70000);
        bench.sim.sim.setFault(fault, 1);
        bench.poll();
        QCOMPARE(bench.cell(13), fails ? QStringLiteral("0") : QStringLiteral("70000"));
        QCOMPARE(bench.marked(13), fails);
        for (int c = 14; c <= 33; ++c)
            QVERIFY(!bench.marked(c));
        QCOMPARE(bench.sent(), size_t(21));
        QCOMPARE(bench.messages.shown, QStringList{fails ? doneWithFailures(1) : kDone});
    }

    // A good poll after a partly failed one clears the marks it left.
    void marksClearedByNextPoll()
    {
        Bench bench;
        bench.sim.sim.setFault(Fault::Silent, 2);
        bench.poll();
        QVERIFY(bench.marked(13) && bench.marked(14) && !bench.marked(15));
        QCOMPARE(bench.messages.last(), doneWithFailures(2));
        bench.poll();
        QVERIFY(!bench.marked(13) && !bench.marked(14));
        QCOMPARE(bench.messages.last(), kDone);
    }

    void portCannotOpen()
    {
        Bench bench(QStringLiteral("1 9 9600")); // nothing behind port 9
        bench.poll();
        QCOMPARE(bench.sent(), size_t(0));
        QCOMPARE(bench.messages.shown.size(), 1);
        QVERIFY(bench.messages.last().contains(QStringLiteral("COM9")));
        QVERIFY(bench.cell(13).isEmpty());
        QCOMPARE(bench.window.link().failureCount(), qint16(0));
        QVERIFY(!bench.window.link().MSComm1.isOpen());
    }
};

QTEST_MAIN(TestT540Poll)
#include "tst_t540poll.moc"
