// The limit as typed for an analog output turned into its register value:
// accepted and refused texts, and a randomised comparison with exact decimal
// arithmetic.
#include "analoglimit.h"
#include "linkerror.h"

#include <QRandomGenerator>
#include <QTest>

using hv52::limitRegisterValue;

namespace {

// The register value as text, or the refusal text.
QString outcome(const QString &text, int scale)
{
    try {
        return QString::number(limitRegisterValue(QStringLiteral("输出1下限参数值"), text, scale));
    } catch (const hv52::LinkError &e) {
        return e.text();
    }
}

} // namespace

class AnalogLimitTest : public QObject
{
    Q_OBJECT
private slots:
    void conversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("current 5") << "5" << 1000 << "5000";
        QTest::newRow("voltage 220") << "220" << 10 << "2200";
        QTest::newRow("frequency 50") << "50" << 100 << "5000";
        QTest::newRow("2.5 to even 2") << "2.5" << 1 << "2";
        QTest::newRow("3.5 to even 4") << "3.5" << 1 << "4";
        QTest::newRow("0.5 to even 0") << "0.5" << 1 << "0";
        QTest::newRow("half after scaling, to even 4") << "0.0045" << 1000 << "4";
        QTest::newRow("half after scaling, to even 6") << "0.0055" << 1000 << "6";
        QTest::newRow("small negative rounds to 0") << "-0.4" << 1 << "0";
        QTest::newRow("blanks around") << " \t12 " << 1 << "12";
        QTest::newRow("point first") << ".5" << 1000 << "500";
        QTest::newRow("point last") << "5." << 10 << "50";
        QTest::newRow("largest") << "65.535" << 1000 << "65535";
        // Decimal halves a binary double misses: 4.985 is stored as 4.98500000000000032.
        QTest::newRow("4.985 x 100 is a half, to even") << "4.985" << 100 << "498";
        QTest::newRow("0.285 x 100 is a half, to even") << "0.285" << 100 << "28";
        QTest::newRow("a digit past the half rounds up") << "4.98501" << 100 << "499";
        QTest::newRow("carry into a new digit") << "9.9999" << 1000 << "10000";

        const QString notNumber = QStringLiteral("输出1下限参数值“%1”不是数字，设置未发送。");
        const QString outside = QStringLiteral("输出1下限参数值 %1 超出 0～65535，设置未发送。");
        QTest::newRow("empty") << "" << 1 << "输出1下限参数值为空，设置未发送。";
        for (const char *text : {"abc", "1e3", "nan", "1,5", "５", "."})
            QTest::addRow("not a number: %s", text)
                << QString::fromUtf8(text) << 1 << notNumber.arg(QString::fromUtf8(text));
        QTest::newRow("current 70") << "70" << 1000 << outside.arg("70 × 1000 = 70000");
        QTest::newRow("power factor -0.5") << "-0.5" << 1000 << outside.arg("-0.5 × 1000 = -500");
        QTest::newRow("half above the top, to even") << "65535.5" << 1 << outside.arg("65535.5 × 1 = 65536");
        QTest::newRow("beyond 32 bits") << "99999999999" << 10 << outside.arg("99999999999 × 10 = 999999999990");
    }
    void conversion()
    {
        QFETCH(QString, text);
        QFETCH(int, scale);
        QFETCH(QString, outcome);
        QCOMPARE(::outcome(text, scale), outcome);
    }

    // Random limits with up to three decimals at every scale, against the
    // exact result of integer arithmetic (half to even).
    void matchesExactArithmetic()
    {
        QRandomGenerator random(20560);
        const int scales[] = {1, 10, 100, 1000};
        for (int i = 0; i < 50000; ++i) {
            const int decimals = int(random.bounded(4));
            qint64 power = 1;
            for (int d = 0; d < decimals; ++d)
                power *= 10;
            const qint64 digits = random.bounded(qint64(70000) * power); // the typed number × 10^decimals
            const int scale = scales[random.bounded(4)];
            QString text = QString::number(digits / power);
            if (decimals > 0)
                text += u'.' + QString::number(digits % power).rightJustified(decimals, u'0');

            // digits × scale / power, rounded half to even.
            const qint64 numerator = digits * scale;
            qint64 exact = numerator / power;
            const qint64 rest = numerator % power;
            if (2 * rest > power || (2 * rest == power && exact % 2 == 1))
                ++exact;

            const QString got = outcome(text, scale);
            const QString want = exact > 65535 ? QStringLiteral("超出") : QString::number(exact);
            QVERIFY2(exact > 65535 ? got.contains(want) : got == want,
                     qPrintable(QStringLiteral("%1 × %2: %3, not %4").arg(text).arg(scale).arg(got, want)));
        }
    }
};

QTEST_MAIN(AnalogLimitTest)
#include "tst_analoglimit.moc"
