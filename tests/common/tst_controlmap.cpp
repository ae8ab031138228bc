// The control map: the indices every tool gives its inputs and relays, and
// a window's own entries beside them.
#include "controlmap.h"

#include <QTest>

using hv52::ControlMap;
using hv52::Target;

class ControlMapTest : public QObject
{
    Q_OBJECT
private slots:
    void inputsAndRelays_data()
    {
        QTest::addColumn<int>("inputs");
        QTest::addColumn<int>("relays");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("found");
        QTest::addColumn<bool>("list");
        QTest::addColumn<int>("index");
        const auto cell = [](const char *name, int inputs, int relays, const char *key, int index) {
            QTest::newRow(name) << inputs << relays << QString::fromLatin1(key) << true << false << index;
        };
        const auto list = [](const char *name, int inputs, int relays, const char *key, int index) {
            QTest::newRow(name) << inputs << relays << QString::fromLatin1(key) << true << true << index;
        };
        const auto none = [](const char *name, int inputs, int relays, const char *key) {
            QTest::newRow(name) << inputs << relays << QString::fromLatin1(key) << false << false << 0;
        };
        cell("input 1 count", 2, 2, "input1.count", 13);
        cell("input 1 state", 2, 2, "input1.state", 14);
        cell("input 1 ON time", 2, 2, "input1.on_time", 15);
        cell("input 2 count", 2, 2, "input2.count", 16);
        cell("input 2 ON time", 2, 2, "input2.on_time", 18);
        list("input 1 mode", 2, 2, "input1.mode", 0);
        list("input 2 mode", 2, 2, "input2.mode", 1);
        cell("relay 1 count", 2, 2, "relay1.count", 19);
        cell("relay 1 state", 2, 2, "relay1.state", 20);
        cell("relay 2 count", 2, 2, "relay2.count", 21);
        cell("relay 2 state", 2, 2, "relay2.state", 22);
        list("relay 1 command", 2, 2, "relay1.command", 2);
        list("relay 2 command", 2, 2, "relay2.command", 3);
        none("no third input of two", 2, 2, "input3.count");
        none("no third relay of two", 2, 2, "relay3.command");
        none("an analog output is the window's own", 2, 2, "analog1.value");
        cell("seven inputs: the last count", 7, 0, "input7.count", 31);
        cell("seven inputs: the last ON time", 7, 0, "input7.on_time", 33);
        list("seven inputs: the last mode", 7, 0, "input7.mode", 6);
        none("seven inputs, no relay", 7, 0, "relay1.count");
        none("a key of no point", 2, 2, "input1");
    }
    void inputsAndRelays()
    {
        QFETCH(int, inputs);
        QFETCH(int, relays);
        QFETCH(QString, key);
        QFETCH(bool, found);
        QFETCH(bool, list);
        QFETCH(int, index);
        const std::optional<Target> target = ControlMap::inputsAndRelays(inputs, relays).find(key);
        QCOMPARE(target.has_value(), found);
        if (!target)
            return;
        QCOMPARE(target->kind, list ? Target::List : Target::Cell);
        QCOMPARE(target->index, index);
    }

    // What a window adds sits beside the shared entries; the same key added
    // again takes the new control.
    void addedEntries_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("index");
        QTest::newRow("added") << "analog1.value" << 27;
        QTest::newRow("shared, untouched") << "relay1.count" << 19;
        QTest::newRow("added twice: the later") << "analog2.type" << 5;
    }
    void addedEntries()
    {
        QFETCH(QString, key);
        QFETCH(int, index);
        ControlMap map = ControlMap::inputsAndRelays(2, 2);
        map.add(QStringLiteral("analog1.value"), {Target::Cell, 27});
        map.add(QStringLiteral("analog2.type"), {Target::List, 9});
        map.add(QStringLiteral("analog2.type"), {Target::List, 5});
        const std::optional<Target> target = map.find(key);
        QVERIFY(target);
        QCOMPARE(target->index, index);
    }
};

QTEST_APPLESS_MAIN(ControlMapTest)
#include "tst_controlmap.moc"
