// The line times pacing computes: the silence that ends a frame, and the
// earliest moment an answer may leave. Arithmetic only; no clock is read.
#include "sim/pacing.h"

#include <QTest>

using hv52sim::Pacing;
using Ns = qint64;

class TestPacing : public QObject
{
    Q_OBJECT
private slots:
    void silence_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<Ns>("silence");
        QTest::newRow("off: the fixed value") << 0 << Ns(1750000);
        QTest::newRow("negative counts as off") << -9600 << Ns(1750000);
        QTest::newRow("1200: 3.5 characters") << 1200 << Ns(29166666);
        QTest::newRow("9600: 3.5 characters") << 9600 << Ns(3645833);
        QTest::newRow("19200: 3.5 characters") << 19200 << Ns(1822916);
        QTest::newRow("38400: never below 1.75 ms") << 38400 << Ns(1750000);
        QTest::newRow("115200: never below 1.75 ms") << 115200 << Ns(1750000);
    }

    void silence()
    {
        QFETCH(int, baud);
        QFETCH(Ns, silence);
        Pacing p;
        p.set(baud, 0);
        QCOMPARE(Ns(std::chrono::nanoseconds(p.silence()).count()), silence);
        QCOMPARE(p.baud(), std::max(0, baud));
    }

    void due_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("turnaroundUs");
        QTest::addColumn<int>("requestSize");
        QTest::addColumn<int>("answerSize");
        QTest::addColumn<Ns>("after"); // past the time it counts from
        QTest::newRow("off") << 0 << 0 << 8 << 9 << Ns(0);
        QTest::newRow("off ignores the turnaround") << 0 << 500 << 8 << 9 << Ns(0);
        // (8 + 3.5 + 9 + 3.5) characters of 10 bits
        QTest::newRow("read at 9600") << 9600 << 0 << 8 << 9 << Ns(25000000);
        QTest::newRow("read at 9600, turnaround") << 9600 << 500 << 8 << 9 << Ns(25500000);
        QTest::newRow("read at 19200") << 19200 << 0 << 8 << 9 << Ns(12500000);
        QTest::newRow("negative turnaround counts as 0") << 19200 << -300 << 8 << 9 << Ns(12500000);
        // (11 + 3.5 + 8 + 3.5) * 10 bits
        QTest::newRow("write of one register at 115200") << 115200 << 0 << 11 << 8 << Ns(2256944);
        QTest::newRow("exception at 1200") << 1200 << 0 << 8 << 5 << Ns(166666666);
    }

    void due()
    {
        QFETCH(int, baud);
        QFETCH(int, turnaroundUs);
        QFETCH(int, requestSize);
        QFETCH(int, answerSize);
        QFETCH(Ns, after);
        Pacing p;
        p.set(baud, turnaroundUs);
        const Pacing::Clock::time_point from{std::chrono::seconds(1000)};
        const auto due = p.due(from, size_t(requestSize), size_t(answerSize));
        QCOMPARE(Ns(std::chrono::nanoseconds(due - from).count()), after);
    }
};

QTEST_GUILESS_MAIN(TestPacing)
#include "test_pacing.moc"
