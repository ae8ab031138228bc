// A value as JSON and its literal: what read --json, the write report and
// the record's JSON print for each kind of register value, as the literal
// text the values were printed with before they were QJsonValues.
#include "jsonvalue.h"
#include "t516module.h"

#include <QtTest>

using namespace hv52;

class TestJsonValue : public QObject
{
    Q_OBJECT

private slots:
    void literalOfAPointValue_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<uint>("raw");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QString>("literal");
        QTest::newRow("a count") << "input1.count" << 70000u << 1 << "70000";
        QTest::newRow("the largest count") << "input1.count" << 4294967295u << 1 << "4294967295";
        QTest::newRow("tenths") << "input1.on_time" << 1234u << 1 << "123.4";
        QTest::newRow("tenths, whole") << "input1.on_time" << 1230u << 1 << "123";
        QTest::newRow("tenths, large") << "input1.on_time" << 4294967295u << 1 << "429496729.5";
        QTest::newRow("tenths, a million") << "input1.on_time" << 10000000u << 1 << "1000000";
        QTest::newRow("hundredths") << "analog1.value" << 5u << 1 << "0.05";
        QTest::newRow("a limit, whole") << "analog1.upper" << 420u << 1 << "420";
        QTest::newRow("a limit in thousandths") << "analog1.lower" << 1u << 1000 << "0.001";
        QTest::newRow("a limit in tenths") << "analog1.lower" << 4205u << 10 << "420.5";
        QTest::newRow("zero") << "analog1.lower" << 0u << 100 << "0";
        QTest::newRow("a state") << "input1.state" << 0x5050u << 1 << "\"ON\"";
        QTest::newRow("a relay command") << "relay1.command" << 0x5050u << 1 << "\"控制继电器动作\"";
        QTest::newRow("a signal type") << "analog1.type" << 0u << 1 << "\"4-20 mA\"";
    }
    void literalOfAPointValue()
    {
        QFETCH(QString, key);
        QFETCH(uint, raw);
        QFETCH(int, scale);
        QFETCH(QString, literal);
        const Point *p = t516Module().point(key);
        QVERIFY2(p, qPrintable(key));
        const QString text = displayText(*p, raw, scale).value_or(QString::number(raw));
        QCOMPARE(jsonText(jsonLiteral(*p, raw, text)), literal);
    }

    // A list value that is no entry of its list is its number.
    void registerValueNotInItsList_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<uint>("raw");
        QTest::addColumn<QString>("literal");
        QTest::newRow("a command without a text") << "relay1.command" << 7u << "7";
        QTest::newRow("a signal type beyond its list") << "analog1.type" << 9u << "9";
        QTest::newRow("a source beyond its list") << "analog1.source" << 30u << "30";
        QTest::newRow("a listed source") << "analog1.source" << 9u << "\"AB线电压\"";
    }
    void registerValueNotInItsList()
    {
        QFETCH(QString, key);
        QFETCH(uint, raw);
        QFETCH(QString, literal);
        const Point *p = t516Module().point(key);
        QVERIFY2(p, qPrintable(key));
        const QString text = displayText(*p, raw).value_or(QString::number(raw));
        QCOMPARE(jsonText(registerJson(*p, quint16(raw), text)), literal);
    }

    void literalOfAText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("literal");
        QTest::newRow("plain") << "t516"
                               << "\"t516\"";
        QTest::newRow("quotes and a backslash") << "a\"b\\c"
                                                << "\"a\\\"b\\\\c\"";
        QTest::newRow("a line end") << "a\nb"
                                    << "\"a\\nb\"";
        QTest::newRow("Chinese") << "超时无应答"
                                 << "\"超时无应答\"";
    }
    void literalOfAText()
    {
        QFETCH(QString, text);
        QFETCH(QString, literal);
        QCOMPARE(jsonString(text), literal);
        QCOMPARE(jsonText(QJsonValue()), QStringLiteral("null"));
    }
};

QTEST_GUILESS_MAIN(TestJsonValue)
#include "tst_jsonvalue.moc"
