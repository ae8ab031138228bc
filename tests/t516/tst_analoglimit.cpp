// The limit as typed for an analog output, turned into its register value,
// on its own: accepted texts, refused texts, and a randomised comparison with
// exact decimal arithmetic.
#include "analoglimit.h"
#include "linkerror.h"

#include <QRandomGenerator>
#include <QTest>

using hv52::limitRegisterValue;

namespace {

const QString kField = QStringLiteral("输出1下限参数值");

// The refusal text, or an empty text when the limit was accepted.
QString refusal(const QString &text, int scale, int *value = nullptr)
{
    try {
        const int v = limitRegisterValue(kField, text, scale);
        if (value)
            *value = v;
        return QString();
    } catch (const hv52::LinkError &e) {
        return e.text();
    }
}

} // namespace

class AnalogLimitTest : public QObject
{
    Q_OBJECT
private slots:
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("scale");
        QTest::addColumn<int>("value");
        QTest::newRow("current 5") << "5" << 1000 << 5000;
        QTest::newRow("voltage 220") << "220" << 10 << 2200;
        QTest::newRow("frequency 50") << "50" << 100 << 5000;
        QTest::newRow("2.5 to even 2") << "2.5" << 1 << 2;
        QTest::newRow("3.5 to even 4") << "3.5" << 1 << 4;
        QTest::newRow("0.5 to even 0") << "0.5" << 1 << 0;
        QTest::newRow("half after scaling, to even 4") << "0.0045" << 1000 << 4;
        QTest::newRow("half after scaling, to even 6") << "0.0055" << 1000 << 6;
        QTest::newRow("small negative rounds to 0") << "-0.4" << 1 << 0;
        QTest::newRow("blanks around") << " \t12 " << 1 << 12;
        QTest::newRow("point first") << ".5" << 1000 << 500;
        QTest::newRow("point last") << "5." << 10 << 50;
        QTest::newRow("largest") << "65.535" << 1000 << 65535;
        // Decimal halves a binary double misses: 4.985 is stored as 4.98500000000000032.
        QTest::newRow("4.985 x 100 is a half, to even") << "4.985" << 100 << 498;
        QTest::newRow("0.285 x 100 is a half, to even") << "0.285" << 100 << 28;
        QTest::newRow("a digit past the half rounds up") << "4.98501" << 100 << 499;
        QTest::newRow("carry into a new digit") << "9.9999" << 1000 << 10000;
    }
    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(int, scale);
        QFETCH(int, value);
        int got = -1;
        QCOMPARE(refusal(text, scale, &got), QString());
        QCOMPARE(got, value);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QString>("message");
        const QString notNumber = QStringLiteral("输出1下限参数值“%1”不是数字，设置未发送。");
        QTest::newRow("empty") << "" << 1 << "输出1下限参数值为空，设置未发送。";
        QTest::newRow("letters") << "abc" << 1 << notNumber.arg("abc");
        QTest::newRow("exponent") << "1e3" << 1 << notNumber.arg("1e3");
        QTest::newRow("not a number") << "nan" << 1 << notNumber.arg("nan");
        QTest::newRow("decimal comma") << "1,5" << 1 << notNumber.arg("1,5");
        QTest::newRow("full-width digit") << "５" << 1 << notNumber.arg("５");
        QTest::newRow("point alone") << "." << 1 << notNumber.arg(".");
        QTest::newRow("current 70") << "70" << 1000 << "输出1下限参数值 70 × 1000 = 70000 超出 0～65535，设置未发送。";
        QTest::newRow("power factor -0.5") << "-0.5" << 1000 << "输出1下限参数值 -0.5 × 1000 = -500 超出 0～65535，设置未发送。";
        QTest::newRow("half above the top, to even") << "65535.5" << 1 << "输出1下限参数值 65535.5 × 1 = 65536 超出 0～65535，设置未发送。";
        QTest::newRow("beyond 32 bits") << "99999999999" << 10 << "输出1下限参数值 99999999999 × 10 = 999999999990 超出 0～65535，设置未发送。";
    }
    void refused()
    {
        QFETCH(QString, text);
        QFETCH(int, scale);
        QFETCH(QString, message);
        QCOMPARE(refusal(text, scale), message);
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

            int got = -1;
            const QString refused = refusal(text, scale, &got);
            if (exact > 65535) {
                QVERIFY2(!refused.isEmpty(), qPrintable(text));
            } else {
                QVERIFY2(refused.isEmpty(), qPrintable(text + " " + refused));
                QVERIFY2(got == exact, qPrintable(QStringLiteral("%1 × %2: %3, not %4").arg(text).arg(scale).arg(got).arg(exact)));
            }
        }
    }
};

QTEST_MAIN(AnalogLimitTest)
#include "tst_analoglimit.moc"
