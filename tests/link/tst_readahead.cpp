// The read sent ahead in a poll, apart from the line: it goes only when
// named, when the line allows and when its go-on agrees; the read that
// claims it learns why sending it failed; one never claimed is known dropped.
#include "readahead.h"

#include <QTest>
#include <stdexcept>

using namespace hv52;

class ReadAheadTest : public QObject
{
    Q_OBJECT
private slots:
    void take_data()
    {
        QTest::addColumn<bool>("named");
        QTest::addColumn<bool>("lineAllows");
        QTest::addColumn<int>("goOnAbove"); // -1: no go-on; else goes on when the value is above
        QTest::addColumn<bool>("taken");
        QTest::newRow("named, line healthy") << true << true << -1 << true;
        QTest::newRow("nothing named") << false << true << -1 << false;
        QTest::newRow("line not healthy") << true << false << -1 << false;
        QTest::newRow("go-on agrees") << true << true << 5 << true;
        QTest::newRow("go-on declines") << true << true << 50 << false;
    }
    void take()
    {
        QFETCH(bool, named);
        QFETCH(bool, lineAllows);
        QFETCH(int, goOnAbove);
        QFETCH(bool, taken);
        ReadAhead a;
        int asked = 0;
        if (named)
            a.name(
                0x0E45, true,
                goOnAbove < 0 ? ReadAhead::GoOn() : [&](quint32 v) { return ++asked, v > quint32(goOnAbove); });
        ReadAhead::Read read;
        QCOMPARE(a.take(10, lineAllows, &read), taken);
        if (taken) {
            QCOMPARE(read.reg, quint16(0x0E45));
            QVERIFY(read.pair);
        }
        // The go-on is asked only when the line allows; the name holds once.
        QCOMPARE(asked, named && lineAllows && goOnAbove >= 0 ? 1 : 0);
        QVERIFY(!a.named());
        QVERIFY(!a.take(10, true, &read));
    }

    // A user's poll: a read goes ahead, the next read claims it or another
    // register is read (the one ahead is claimed first), or the operation
    // ends with it unclaimed.
    void inFlight_data()
    {
        QTest::addColumn<bool>("sendFails");
        QTest::addColumn<bool>("claimed");
        QTest::newRow("claimed") << false << true;
        QTest::newRow("claimed after sending failed") << true << true;
        QTest::newRow("dropped at the end") << false << false;
        QTest::newRow("dropped after sending failed") << true << false;
    }
    void inFlight()
    {
        QFETCH(bool, sendFails);
        QFETCH(bool, claimed);
        ReadAhead a;
        a.name(0x0E42, false);
        ReadAhead::Read read;
        QVERIFY(a.take(1, true, &read));
        a.sent(read);
        a.keepStray("\x01\x02");
        if (sendFails)
            a.failed(std::make_exception_ptr(std::runtime_error("port lost")));
        QVERIFY(a.inFlight());
        QVERIFY(a.isFor(0x0E42, false));
        QVERIFY(!a.isFor(0x0E42, true) && !a.isFor(0x0E43, false));
        QCOMPARE(a.failedToSend(), sendFails);
        if (claimed) {
            bool threw = false;
            try {
                a.claim();
            } catch (const std::runtime_error &e) {
                threw = QByteArray(e.what()) == "port lost";
            }
            QCOMPARE(threw, sendFails);
            QVERIFY(!a.failedToSend()); // told once
            QVERIFY(!a.drop());
        } else {
            QVERIFY(a.drop());
            QCOMPARE(a.failedToSend(), sendFails); // the link words the drop by it
        }
        QVERIFY(!a.inFlight());
        QCOMPARE(a.takeStray(), QByteArray("\x01\x02"));
        QVERIFY(a.takeStray().isEmpty());
    }

    // The line brought more than was asked: it did not go after all.
    void unsentAndReset()
    {
        ReadAhead a;
        a.sent({0x0E42, false});
        a.unsent();
        QVERIFY(!a.inFlight() && !a.drop());
        a.name(1, false);
        a.sent({0x0E42, false});
        a.failed(std::make_exception_ptr(std::runtime_error("x")));
        a.reset();
        QVERIFY(!a.inFlight() && !a.named() && !a.failedToSend());
    }
};

QTEST_APPLESS_MAIN(ReadAheadTest)
#include "tst_readahead.moc"
