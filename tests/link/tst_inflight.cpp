// The exchange in flight as an object: where it stands after each thing
// that can happen to it, and the monitor rows held back while a read is
// confirmed.
#include "exchange.h"
#include "heldrows.h"

#include <QTest>

using namespace hv52;
using Phase = Exchange::Phase;
Q_DECLARE_METATYPE(Phase)

namespace {

const QByteArray kRequest = frameRtu(1, readUnit(false, 0x0E42));
const QByteArray kAnswer = frameRtu(1, QByteArray("\x03\x02\x00\x65", 4));

} // namespace

class InFlightTest : public QObject
{
    Q_OBJECT
private slots:
    void phases_data()
    {
        QTest::addColumn<QString>("events"); // a: armed, s: sent, tN: N bytes of the answer, e: expired, c: cut
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<int>("outcome"); // -1: no verdict asked for
        QTest::newRow("armed, not sent") << "a" << Phase::Idle << -1;
        QTest::newRow("sent") << "a s" << Phase::Awaiting << -1;
        QTest::newRow("half an answer") << "a s t3" << Phase::Awaiting << -1;
        QTest::newRow("the whole answer") << "a s t3 t7" << Phase::Answered << int(Outcome::Valid);
        QTest::newRow("half an answer, then the timeout") << "a s t3 e" << Phase::Expired << int(Outcome::Incomplete);
        QTest::newRow("nothing, then the timeout") << "a s e" << Phase::Expired << int(Outcome::Timeout);
        QTest::newRow("cut while awaiting") << "a s c" << Phase::Cut << -1;
        QTest::newRow("a cut after the verdict changes nothing")
            << "a s t7 c" << Phase::Answered << int(Outcome::Valid);
        QTest::newRow("armed again: nothing received") << "a s t7 a" << Phase::Idle << -1;
    }
    void phases()
    {
        QFETCH(QString, events);
        QFETCH(int, outcome);
        Exchange x;
        x.prepare(kRequest);
        int given = 0;
        Verdict verdict;
        for (const QString &e : events.split(u' ')) {
            if (e == u"a") {
                x.arm(Framing::Rtu);
                given = 0;
            } else if (e == u"s") {
                x.begin(true, QTime(1, 2, 3), false, 0);
                x.sentOut();
            } else if (e.startsWith(u't')) {
                const int upTo = e.mid(1).toInt();
                if (x.take(kAnswer.mid(given, upTo - given)))
                    verdict = x.verdict();
                given = upTo;
            } else if (e == u"e") {
                verdict = x.expire({});
            } else if (e == u"c") {
                x.cut();
            }
        }
        QTEST(x.phase(), "phase");
        QCOMPARE(x.awaiting(), x.phase() == Phase::Awaiting);
        QCOMPARE(x.timedOut(), x.phase() == Phase::Expired);
        if (outcome >= 0)
            QCOMPARE(int(verdict.outcome), outcome);
        // What came is the exchange's once judged, not byte by byte.
        const bool judged = x.phase() == Phase::Answered || x.phase() == Phase::Expired;
        QCOMPARE(x.received(), judged ? kAnswer.left(given) : QByteArray());
        QCOMPARE(x.request(), kRequest);
        const ExchangeRecord row = x.row(1234, {Outcome::Aborted});
        QCOMPARE(row.request, kRequest);
        QCOMPARE(row.elapsedUs, qint64(1234));
    }

    // Rows held while a read is confirmed come out in order, the first
    // exchange's with what the confirmation made of it; stray rows keep
    // their bytes.
    void heldRows_data()
    {
        QTest::addColumn<int>("markRow");
        QTest::addColumn<QVector<int>>("outcomes"); // of the exchange rows, in order
        QTest::newRow("the first exchange marked late") << 0 << QVector<int>{int(Outcome::Late), int(Outcome::Valid)};
        QTest::newRow("a stray row is not marked") << 1 << QVector<int>{int(Outcome::Valid), int(Outcome::Valid)};
        QTest::newRow("no row") << -1 << QVector<int>{int(Outcome::Valid), int(Outcome::Valid)};
        QTest::newRow("past the rows") << 5 << QVector<int>{int(Outcome::Valid), int(Outcome::Valid)};
    }
    void heldRows()
    {
        QFETCH(int, markRow);
        QFETCH(QVector<int>, outcomes);
        HeldRows held;
        QCOMPARE(held.last(), -1);
        held.hold();
        held.add({QTime(), 1, kRequest, kAnswer, {}});
        held.addStray("\xff");
        held.add({QTime(), 2, kRequest, kAnswer, {}});
        QVERIFY(held.holding());
        QCOMPARE(held.last(), 2);
        held.mark(markRow, {Outcome::Late});
        const QVector<HeldRows::Row> rows = held.release();
        QVERIFY(!held.holding());
        QCOMPARE(held.last(), -1);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[1].stray, QByteArray("\xff"));
        QCOMPARE((QVector<int>{int(rows[0].record.verdict.outcome), int(rows[2].record.verdict.outcome)}), outcomes);
    }
};

QTEST_APPLESS_MAIN(InFlightTest)
#include "tst_inflight.moc"
