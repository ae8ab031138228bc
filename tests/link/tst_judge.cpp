// The judge's rule, row by row, in virtual time: each row a line behaviour
// (the module's answers as the line passes them), the reads asked, and what
// must come of them: each read's outcome, the requests sent, what the
// operation learnt. No port and no clock: milliseconds are the model's.
#include "linemodel.h"

#include <QTest>

using namespace hv52;
using namespace hv52model;

namespace {

constexpr int kTimeoutMs = 300;

// Three single registers holding different values, and a pair.
const QVector<Judge::Ask> kThree = {{0x0E42, false}, {0x0E45, false}, {0x0E80, false}};
const QHash<quint16, quint16> kValues = {{0x0E42, 101}, {0x0E45, 108}, {0x0E80, 115}, {0x0E81, 122}};

// One request's fate, as a row names it: "ok", "silent", "crc", "refuse",
// "late:MS" (its answer MS after the request), "copy:MS" (on time, and again
// MS later), "late:MS+copy:MS", "trail" (on time, two bytes of noise after).
Fate fateOf(const QString &word)
{
    Fate f;
    f.delayUs = 5000;
    for (const QString &part : word.split(u'+')) {
        const QString name = part.section(u':', 0, 0);
        const qint64 ms = part.section(u':', 1, 1).toLongLong();
        if (name == u"silent")
            f.drop = true;
        else if (name == u"crc")
            f.garble = true;
        else if (name == u"refuse")
            f.refuse = true;
        else if (name == u"late")
            f.delayUs = ms * 1000;
        else if (name == u"copy")
            f.copyLagUs = ms * 1000;
        else if (name == u"trail")
            f.trailing = QByteArray("\x00\xFF", 2);
    }
    return f;
}

// A read's outcome as a row writes it: the value for a valid read, or the
// outcome's own text ("超时无应答", "应答迟到", ...).
QString outcome(const Judge::Read &r)
{
    return r.ok() ? QString::number(r.value) : outcomeText(r.verdict);
}

struct Ran
{
    QStringList outcomes;
    int requests = 0;
    Run run;
    Line line;
};

// A line at 9600 bit/s.
Judge::Config lineConfig(int timeoutMs = kTimeoutMs)
{
    Judge::Config c;
    c.timeoutMs = timeoutMs;
    c.speed = 9600;
    return c;
}

Ran runScript(const QStringList &fates, const QVector<Judge::Ask> &asks, int timeoutMs = kTimeoutMs,
              const QHash<quint16, quint16> &regs = kValues)
{
    Ran ran;
    ran.line.regs = regs;
    ran.line.fate = [&fates](int n) { return n < fates.size() ? fateOf(fates[n]) : fateOf(QStringLiteral("ok")); };
    Judge judge;
    judge.startOperation(lineConfig(timeoutMs));
    ran.run = runSeries(judge, ran.line, asks);
    for (const Judge::Read &r : ran.run.results)
        ran.outcomes << outcome(r);
    ran.requests = ran.line.requests;
    return ran;
}

} // namespace

class JudgeTest : public QObject
{
    Q_OBJECT
private slots:
    // What the reads of a series come to, line behaviour by line behaviour.
    void series_data()
    {
        QTest::addColumn<QStringList>("fates");    // of the requests, in turn; "ok" after them
        QTest::addColumn<QStringList>("outcomes"); // of the three reads
        QTest::addColumn<int>("requests");
        QTest::newRow("a healthy line: one request a read") << QStringList{} << QStringList{"101", "108", "115"} << 3;
        QTest::newRow("silence, then each read after it read twice")
            << QStringList{"silent"} << QStringList{"超时无应答", "108", "115"} << 5;
        QTest::newRow("a bad CRC owes an answer as silence does")
            << QStringList{"crc"} << QStringList{"校验错误", "108", "115"} << 5;
        QTest::newRow("a refusal answered its request: nothing owed")
            << QStringList{"refuse"} << QStringList{"异常应答 02：非法数据地址", "108", "115"} << 3;
        QTest::newRow("an answer with noise after it answered: nothing owed")
            << QStringList{"trail"} << QStringList{"应答过长", "108", "115"} << 3;
        QTest::newRow("late into the quiet wait: named late, heard off the line")
            << QStringList{"late:320"} << QStringList{"应答迟到", "108", "115"} << 5;
        QTest::newRow("late past the quiet wait, into the next read's wait: that read disagrees, then agrees")
            << QStringList{"late:420"} << QStringList{"超时无应答", "108", "115"} << 6;
        QTest::newRow("late by twice the timeout, landing two reads on")
            << QStringList{"late:600"} << QStringList{"超时无应答", "108", "115"} << 6;
        QTest::newRow("each answer one request behind after the first")
            << QStringList{"late:350", "late:350", "late:350", "late:350", "late:350", "late:350", "late:350"}
            << QStringList{"应答迟到", "应答迟到", "应答迟到"} << 3;
        QTest::newRow("a copy of the first answer before the second's own, which then comes: read again")
            << QStringList{"copy:2"} << QStringList{"101", "108", "115"} << 7;
        QTest::newRow("every answer copied 30 ms later: the copies come after the series, one request a read")
            << QStringList{"copy:30", "copy:30", "copy:30", "copy:30", "copy:30", "copy:30", "copy:30", "copy:30"}
            << QStringList{"101", "108", "115"} << 3;
        // Issue of the hostile proxy: a copy of an earlier answer taken while
        // a read was awaited, and revoked; its own late answer then lands in
        // the next read's wait: that read must be confirmed.
        QTest::newRow("a copy taken, revoked; the displaced answer in the next wait")
            << QStringList{"copy:40", "late:330"} << QStringList{"101", "108", "115"} << 5;
        // A late answer and its copy 30 ms later must not agree into the
        // read whose wait they land in; with three answers owed, two that
        // agree cannot confirm it.
        QTest::newRow("a late answer and its copy 30 ms later, in one read's two waits")
            << QStringList{"silent", "late:560+copy:30"} << QStringList{"超时无应答", "超时无应答", "复读不一致"} << 4;
    }
    void series()
    {
        QFETCH(QStringList, fates);
        QFETCH(QStringList, outcomes);
        QFETCH(int, requests);
        const Ran ran = runScript(fates, kThree);
        QCOMPARE(ran.outcomes, outcomes);
        QCOMPARE(ran.requests, requests);
        // A read that failed shows no exchange of its own as valid.
        for (int i = 0; i < ran.run.results.size(); ++i) {
            if (ran.run.results[i].ok())
                continue;
            for (const quint64 id : ran.run.rowsOfRead.value(i))
                QVERIFY2(!ran.run.rows.value(id).valid(), qPrintable(QString::number(i)));
        }
    }

    // The quiet wait after a failed exchange grows with the lateness heard:
    // a module heard answering 150 ms past the response time keeps the next
    // request back until half again that lateness after the failed one.
    void quietWaitGrowsWithLateness_data()
    {
        QTest::addColumn<QStringList>("fates");
        QTest::addColumn<int>("gapMs"); // from the failed request to the next, at least
        QTest::newRow("silence: the guard time after the response time") << QStringList{"silent"} << kTimeoutMs + 50;
        QTest::newRow("late 320 ms: quiet as long as that (up to a quarter of the limit)")
            << QStringList{"late:320"} << kTimeoutMs + Judge::kQuietLimitMs / 4;
    }
    void quietWaitGrowsWithLateness()
    {
        QFETCH(QStringList, fates);
        QFETCH(int, gapMs);
        const Ran ran = runScript(fates + QStringList{"silent"}, kThree);
        QVERIFY(ran.line.sentAt.size() >= 3);
        // The second failure comes after lateness was heard: its quiet wait
        // covers the lateness; the first one's only the guard time.
        const qint64 afterFirst = ran.line.sentAt[1] - ran.line.sentAt[0];
        QVERIFY2(afterFirst >= qint64(kTimeoutMs + 50) * 1000, qPrintable(QString::number(afterFirst)));
        const qint64 afterSecond = ran.line.sentAt[2] - ran.line.sentAt[1];
        QVERIFY2(afterSecond >= qint64(gapMs) * 1000, qPrintable(QString::number(afterSecond)));
    }

    // The response time runs from the request: a read answered just inside
    // it is valid, just past it late, whatever came before.
    void responseTimeFromTheRequest_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QString>("first");
        QTest::newRow("just inside") << kTimeoutMs - 1 << "101";
        QTest::newRow("just past") << kTimeoutMs + 1 << "应答迟到";
    }
    void responseTimeFromTheRequest()
    {
        QFETCH(int, delayMs);
        QFETCH(QString, first);
        // The line is flushed and settled before the request: none of that
        // counts against the response time.
        Ran ran = runScript({QStringLiteral("late:%1").arg(delayMs)}, {{0x0E42, false}});
        QCOMPARE(ran.outcomes.value(0), first);
        const qint64 waited = ran.run.endUs - ran.line.sentAt[0];
        QVERIFY(waited >= qint64(std::min(delayMs, kTimeoutMs)) * 1000);
    }

    // A write is never repeated, whatever the line does; a read after a
    // write that went unanswered needs no second answer: the write's own
    // answer, late, cannot pass for a read's.
    void writesAreNeverRepeated()
    {
        Line line;
        line.regs = kValues;
        line.fate = [](int n) { return fateOf(n == 0 ? QStringLiteral("silent") : QStringLiteral("ok")); };
        Judge judge;
        Judge::Config c;
        c.timeoutMs = kTimeoutMs;
        judge.startOperation(c);
        judge.startWrite(0x0E80, 0x5050);
        runWrite(judge, line);
        QCOMPARE(judge.writeVerdict().outcome, Outcome::Timeout);
        QCOMPARE(line.requests, 1);
        const Run read = runSeries(judge, line, {{0x0E80, false}});
        QCOMPARE(read.results.value(0).value, quint32(0x5050));
        QCOMPARE(line.requests, 2);
    }

    // A register read, then written, then read back in one operation: a
    // late answer of the first read carries the value from before the write,
    // and must not pass for the read back, however it lands.
    void readBackAfterAWrite_data()
    {
        QTest::addColumn<QStringList>("fates"); // of the first read's requests, the write's, the read back's
        QTest::newRow("the first read's answer late, into the read back's wait before its own")
            << QStringList{"late:450", "late:60", "late:200"};
        QTest::newRow("the first read's answer late, past the read back") << QStringList{"late:700", "ok", "ok"};
        QTest::newRow("the first read late, into the write's wait") << QStringList{"late:360", "ok", "ok"};
        QTest::newRow("the first read answered, and copied into the read back")
            << QStringList{"ok+copy:40", "ok", "silent"};
    }
    void readBackAfterAWrite()
    {
        QFETCH(QStringList, fates);
        Line line;
        line.regs = kValues;
        line.fate = [&fates](int n) { return fateOf(n < fates.size() ? fates[n] : QStringLiteral("ok")); };
        Judge judge;
        judge.startOperation(lineConfig());
        runSeries(judge, line, {{0x0E80, false}});
        judge.startWrite(0x0E80, 0x5050);
        runWrite(judge, line);
        const Run back = runSeries(judge, line, {{0x0E80, false}});
        const Judge::Read &r = back.results.value(0);
        // The module holds what was written: the read back shows that or fails.
        QVERIFY2(!r.ok() || r.value == line.regs.value(0x0E80), qPrintable(QString::number(r.value)));
        QCOMPARE(line.regs.value(0x0E80), quint16(0x5050));
    }

    // A line that never goes quiet, and one that floods, end the operation
    // within the quiet limit: a failure, never a value.
    void lineNeverQuiet_data()
    {
        QTest::addColumn<int>("everyMs");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("failure");
        QTest::newRow("a byte every 10 ms") << 10 << 1 << int(LinkError::Kind::Noisy);
        QTest::newRow("a flood") << 1 << 200 << int(LinkError::Kind::Flooded);
    }
    void lineNeverQuiet()
    {
        QFETCH(int, everyMs);
        QFETCH(int, bytes);
        QFETCH(int, failure);
        Line line;
        line.regs = kValues;
        line.fate = [](int) { return fateOf(QStringLiteral("silent")); };
        for (qint64 t = 0; t < 10'000'000; t += everyMs * 1000)
            line.deliver(t, QByteArray(bytes, char(0x55)));
        Judge judge;
        Judge::Config c;
        c.timeoutMs = kTimeoutMs;
        judge.startOperation(c);
        const Run run = runSeries(judge, line, kThree);
        QVERIFY(run.failed);
        QVERIFY(run.results.isEmpty() || !run.results[0].ok());
        QCOMPARE(line.requests, 1);
        QVERIFY2(run.endUs <= qint64(kTimeoutMs + Judge::kQuietLimitMs) * 1000, qPrintable(QString::number(run.endUs)));
        judge.startWrite(0x0E80, 1); // the judge is whole for the next operation
        Q_UNUSED(failure);
    }

    // How late a module's own answers come is learnt once for the place: in
    // a later operation of the same module, an answer byte for byte the one
    // before and as late as its answers came then counts at once; another
    // module, or the same one at another place, is learnt anew, and the same
    // answer is doubted (its read confirmed).
    void answerTimeLearntForTheModule_data()
    {
        QTest::addColumn<int>("laterAddress");
        QTest::addColumn<bool>("newPlace");
        QTest::addColumn<int>("requests"); // of the later operation
        QTest::newRow("the same module: one request a read") << 1 << false << 2;
        QTest::newRow("another module on the line: confirmed") << 2 << false << 4;
        QTest::newRow("the same module at another place: confirmed") << 1 << true << 4;
    }
    void answerTimeLearntForTheModule()
    {
        QFETCH(int, laterAddress);
        QFETCH(bool, newPlace);
        QFETCH(int, requests);
        Judge judge;
        judge.newPlace();
        Judge::Config c = lineConfig();
        // First: answers 40 ms after their requests.
        Line first;
        first.regs = kValues;
        first.fate = [](int) { return fateOf(QStringLiteral("late:40")); };
        judge.startOperation(c);
        QCOMPARE(runSeries(judge, first, kThree).results.size(), 3);
        if (newPlace)
            judge.newPlace();
        // Later: two registers holding the same value, the first answered
        // in 20 ms, the second in 40 ms, as the module answered before.
        Line later;
        later.address = quint8(laterAddress);
        later.regs = {{0x0E42, 101}, {0x0E45, 101}};
        later.fate = [](int n) { return fateOf(n == 0 ? QStringLiteral("late:20") : QStringLiteral("late:40")); };
        c.address = quint8(laterAddress);
        judge.startOperation(c);
        const Run o = runSeries(judge, later, {{0x0E42, false}, {0x0E45, false}});
        QCOMPARE(o.results.size(), 2);
        QCOMPARE(outcome(o.results[0]), QStringLiteral("101"));
        QCOMPARE(outcome(o.results[1]), QStringLiteral("101"));
        QCOMPARE(later.requests, requests);
    }

    // A module at rest answering three registers of equal value, the third
    // answer later than the first two: up to an adapter's tick (16 ms) or a
    // quarter more it is the module's own, as a loaded laptop or a USB
    // adapter delays answers, and each read is one request; later, it may be
    // a copy standing in for a held answer, and the read is confirmed.
    void aLateAnswerOfEqualBytes_data()
    {
        QTest::addColumn<int>("thirdMs");
        QTest::addColumn<int>("requests");
        QTest::newRow("6 ms later than the first two: one request a read") << 29 << 3;
        QTest::newRow("16 ms later: one request a read") << 39 << 3;
        QTest::newRow("30 ms later: confirmed") << 53 << 5;
    }
    void aLateAnswerOfEqualBytes()
    {
        QFETCH(int, thirdMs);
        QFETCH(int, requests);
        const Ran ran = runScript({"late:23", "late:23", QStringLiteral("late:%1").arg(thirdMs)}, kThree, kTimeoutMs,
                                  {{0x0E42, 101}, {0x0E45, 101}, {0x0E80, 101}});
        QCOMPARE(ran.outcomes, (QStringList{"101", "101", "101"}));
        QCOMPARE(ran.requests, requests);
    }

    // What an operation learns of the line names it in the hints: the
    // module's lateness, the lag of the copies.
    void whatTheOperationLearns_data()
    {
        QTest::addColumn<QStringList>("fates");
        QTest::addColumn<bool>("late");
        QTest::addColumn<bool>("repeating");
        QTest::newRow("healthy") << QStringList{} << false << false;
        QTest::newRow("an answer 20 ms past the timeout") << QStringList{"late:320"} << true << false;
        QTest::newRow("copies 2 ms after each answer, before the next answer")
            << QStringList{"copy:2", "copy:2", "copy:2", "copy:2", "copy:2", "copy:2"} << false << true;
    }
    void whatTheOperationLearns()
    {
        QFETCH(QStringList, fates);
        QFETCH(bool, late);
        QFETCH(bool, repeating);
        Line line;
        line.regs = kValues;
        line.fate = [&fates](int n) { return n < fates.size() ? fateOf(fates[n]) : fateOf(QStringLiteral("ok")); };
        Judge judge;
        Judge::Config c;
        c.timeoutMs = kTimeoutMs;
        judge.startOperation(c);
        runSeries(judge, line, kThree);
        QCOMPARE(judge.lateMs() > kTimeoutMs, late);
        QCOMPARE(judge.repeating(), repeating);
        if (repeating)
            QVERIFY2(judge.repeatLagMs() >= 1 && judge.repeatLagMs() <= 5,
                     qPrintable(QString::number(judge.repeatLagMs())));
    }
};

QTEST_APPLESS_MAIN(JudgeTest)
#include "tst_judge.moc"
