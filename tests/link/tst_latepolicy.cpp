// What the link does about answers that may be another request's, decided
// apart from any port: the quiet wait after a failure, the quiet time after
// an answer in doubt, which failures are lateness, and which reads a repeated
// answer revokes.
#include "dataunit.h"
#include "latepolicy.h"

#include <QTest>

using namespace hv52;

namespace {

QByteArray answer(quint16 value, quint8 address = 1)
{
    return frameRtu(address, QByteArray("\x03\x02", 2) + char(value >> 8) + char(value & 0xFF));
}

const QByteArray kRequest = frameRtu(1, readUnit(false, 0x0E42));

// A policy that has heard an answer and its copy `lagMs` later.
void hearRepeat(LatePolicy &p, int lagMs)
{
    p.heard(answer(7), 1000);
    QVERIFY(p.heardBefore(answer(7), 1000 + lagMs));
}

} // namespace

class LatePolicyTest : public QObject
{
    Q_OBJECT
private slots:
    void quietWait_data()
    {
        QTest::addColumn<int>("lateMs");
        QTest::addColumn<int>("repeatLagMs");
        QTest::addColumn<bool>("fixedGuard");
        QTest::addColumn<int>("overrideMs");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("quietMs");
        QTest::addColumn<int>("coverUntil");
        QTest::addColumn<int>("limitMs");
        // guard 50 throughout
        QTest::newRow("healthy: the guard time") << 0 << 0 << false << 0 << 9600 << 50 << 0 << 1000;
        QTest::newRow("late 300 ms: as long as late, covering half again")
            << 300 << 0 << false << 0 << 9600 << 300 << 464 << 1664;
        QTest::newRow("late 30 ms: never below the guard") << 30 << 0 << false << 0 << 9600 << 50 << 59 << 1000;
        QTest::newRow("late, speed unknown: no answer length") << 300 << 0 << false << 0 << 0 << 300 << 450 << 1650;
        QTest::newRow("a bus scan's fixed guard ignores lateness") << 300 << 0 << true << 0 << 9600 << 50 << 0 << 1000;
        QTest::newRow("an override alone") << 300 << 40 << false << 20 << 9600 << 20 << 0 << 1000;
        QTest::newRow("repeats 80 ms apart: half again") << 0 << 80 << false << 0 << 9600 << 120 << 0 << 1000;
        QTest::newRow("repeats 10 ms apart: the guard") << 0 << 10 << false << 0 << 9600 << 50 << 0 << 1000;
        QTest::newRow("very late: the limit grows past the cover")
            << 2000 << 0 << false << 0 << 9600 << 2000 << 3014 << 3014 + 8000;
    }
    void quietWait()
    {
        QFETCH(int, lateMs);
        QFETCH(int, repeatLagMs);
        QFETCH(bool, fixedGuard);
        QFETCH(int, overrideMs);
        QFETCH(int, speed);
        LatePolicy p;
        if (repeatLagMs > 0)
            hearRepeat(p, repeatLagMs);
        p.noteLate(lateMs);
        const LatePolicy::Quiet q = p.quietWait(50, fixedGuard, overrideMs, speed);
        QTEST(q.quietMs, "quietMs");
        QTEST(int(q.coverUntil), "coverUntil");
        QTEST(q.limitMs, "limitMs");
    }

    void afterAnswerQuiet_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("repeatLagMs");
        QTest::addColumn<int>("quietMs");
        QTest::newRow("9600: the 20 ms floor") << 9600 << 0 << 20;
        QTest::newRow("1200: the longest answer") << 1200 << 0 << 105;
        QTest::newRow("a repeating line: half again its lag") << 9600 << 60 << 90;
        QTest::newRow("speed unknown") << 0 << 0 << 20;
    }
    void afterAnswerQuiet()
    {
        QFETCH(int, speed);
        QFETCH(int, repeatLagMs);
        LatePolicy p;
        if (repeatLagMs > 0)
            hearRepeat(p, repeatLagMs);
        QTEST(p.afterAnswerQuietMs(speed), "quietMs");
    }

    void spoiledByLateness_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("late");
        QTest::addColumn<bool>("anotherAfter");
        QTest::addColumn<bool>("spoiled");
        QTest::newRow("timeout, module on time") << int(Outcome::Timeout) << false << false << false;
        QTest::newRow("timeout, module late") << int(Outcome::Timeout) << true << false << true;
        QTest::newRow("wrong length, module late") << int(Outcome::WrongLength) << true << false << true;
        QTest::newRow("echo mismatch, module late") << int(Outcome::EchoMismatch) << true << false << true;
        QTest::newRow("two answers back to back") << int(Outcome::TooLong) << false << true << true;
        QTest::newRow("an answer with noise after it") << int(Outcome::TooLong) << false << false << false;
        QTest::newRow("bad CRC is damage, late or not") << int(Outcome::BadCrc) << true << false << false;
        QTest::newRow("a refusal is an answer") << int(Outcome::Exception) << true << false << false;
        QTest::newRow("another module") << int(Outcome::WrongAddress) << true << false << false;
    }
    void spoiledByLateness()
    {
        QFETCH(int, outcome);
        QFETCH(bool, late);
        QFETCH(bool, anotherAfter);
        LatePolicy p;
        if (late)
            p.noteLate(120);
        QTEST(p.spoiledByLateness({Outcome(outcome)}, anotherAfter), "spoiled");
    }

    // The lag between an answer and its copy is measured only when the
    // original is recent: equal answers of other registers tell none.
    void repeatLag_data()
    {
        QTest::addColumn<int>("between"); // answers heard between the original and the copy
        QTest::addColumn<int>("lagMs");
        QTest::addColumn<int>("measured");
        QTest::newRow("the answer before") << 0 << 30 << 30;
        QTest::newRow("three answers back") << 3 << 30 << 30;
        QTest::newRow("four answers back: another register's") << 4 << 30 << 0;
        QTest::newRow("later than any repeat is measured") << 0 << 201 << 0;
    }
    void repeatLag()
    {
        QFETCH(int, between);
        QFETCH(int, lagMs);
        LatePolicy p;
        p.heard(answer(7), 0);
        for (int i = 0; i < between; ++i)
            p.heard(answer(quint16(100 + i)), 0);
        QVERIFY(p.heardBefore(answer(7), lagMs));
        QVERIFY(!p.heardBefore(answer(8), lagMs));
        QTEST(p.repeatLagMs(), "measured");
    }

    // A read that took an answer heard before holds only while no answer
    // beyond those asked for comes; one that comes revokes it and every read
    // after it, and only those.
    void revocation_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QVector<int>>("revoked"); // reads 1..5
        QTest::addColumn<bool>("repeating");
        // r: read n takes answer(n) (a new answer); R: takes an answer heard
        // before; x: an unexplained answer; b: balanced; s: a silence;
        // u: an exchange failed (unsure); f: the read sent after a failure.
        QTest::newRow("repeated then unexplained") << "r1 R2 r3 x" << QVector<int>{2, 3} << true;
        QTest::newRow("no repeat: the line repeats, nothing revoked") << "r1 r2 r3 x" << QVector<int>{} << true;
        QTest::newRow("balanced before the copy came") << "r1 R2 r3 b x" << QVector<int>{} << true;
        QTest::newRow("after a silence: lateness, not repetition") << "s r1 R2 r3 x" << QVector<int>{} << false;
        QTest::newRow("while unsure reads are confirmed instead") << "u r1 R2 x" << QVector<int>{} << true;
        QTest::newRow("sent after a failure") << "r1 fR2 x" << QVector<int>{} << true;
        QTest::newRow("once the line repeats, reads are not put at risk")
            << "r1 R2 x r3 R4 r5 x" << QVector<int>{2} << true;
    }
    void revocation()
    {
        QFETCH(QString, steps);
        QFETCH(QVector<int>, revoked);
        LatePolicy p;
        p.startOperation(0);
        quint32 serial = 0;
        for (QString step : steps.split(u' ')) {
            const bool afterFailure = step.startsWith(u'f');
            if (afterFailure)
                step.remove(0, 1);
            const QChar c = step.at(0);
            if (c == u'r' || c == u'R') {
                ++serial;
                const QByteArray a = c == u'R' ? answer(1) : answer(quint16(step.mid(1).toInt()));
                const bool repeats = p.heardBefore(a);
                p.provisional(serial, repeats, afterFailure);
                p.heard(a, serial * 10);
            } else if (c == u'x') {
                p.unexplained(answer(999), 1, serial * 10, serial * 10, serial);
            } else if (c == u'b') {
                p.balanced(serial);
            } else if (c == u's') {
                p.noteSilence();
            } else if (c == u'u') {
                p.setUnsure(true);
            }
        }
        QVector<int> found;
        for (quint32 s = 1; s <= 5; ++s)
            if (p.revoked(s))
                found << int(s);
        QCOMPARE(found, revoked);
        QTEST(p.repeating(), "repeating");
    }

    // Bytes with the request's own answer among them: that one is not
    // beyond what was asked; another module's answers are not looked at.
    void ownAnswerIsNotExtra_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("repeating");
        QTest::newRow("its own answer alone") << answer(5) << false;
        QTest::newRow("its own answer and another") << answer(5) + answer(6) << true;
        QTest::newRow("another module's answers") << answer(5, 2) + answer(6, 2) << false;
        QTest::newRow("noise") << QByteArray("\x01\x03\x02\x00", 4) << false;
    }
    void ownAnswerIsNotExtra()
    {
        QFETCH(QByteArray, bytes);
        LatePolicy p;
        p.unexplained(bytes, 1, 0, 0, 1, kRequest);
        QTEST(p.repeating(), "repeating");
    }

    // What belongs to an operation ends with it; whether the line repeats
    // answers belongs to the place.
    void operationAndPlace()
    {
        LatePolicy p;
        hearRepeat(p, 40);
        p.noteLate(300);
        p.setUnsure(true);
        p.noteSilence();
        p.setRepeating();
        p.noteAnswerTime(8000);
        p.startOperation(10);
        QCOMPARE(p.lateMs(), 0);
        QVERIFY(!p.unsure() && !p.silenceSeen());
        QVERIFY(!p.heardBefore(answer(7)));
        QCOMPARE(p.balanceWindowUs(), qint64(500));
        QVERIFY(p.repeating());
        QCOMPARE(p.repeatLagMs(), 40);
        p.newPlace();
        QVERIFY(!p.repeating());
        QCOMPARE(p.repeatLagMs(), 0);
    }
};

QTEST_APPLESS_MAIN(LatePolicyTest)
#include "tst_latepolicy.moc"
