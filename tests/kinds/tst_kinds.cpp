// The one list of module kinds: each kind is told apart from every other by
// the probes, and the names that messages and the help text use.
#include "kinds.h"

#include <QTest>

using namespace hv52;

class KindsTest : public QObject
{
    Q_OBJECT
private slots:
    // What each kind answers to the probes, from its own definition, names it
    // and no other kind: a kind added with a pattern of another's fails here.
    void probesTellEveryKindApart_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVector<bool>>("answers");
        QTest::newRow("t516") << "t516" << QVector<bool>{false, true, true};
        QTest::newRow("t540") << "t540" << QVector<bool>{true, false, false};
        QTest::newRow("t528") << "t528" << QVector<bool>{false, true, false};
        QTest::newRow("answers everything") << "" << QVector<bool>{true, true, true};
        QTest::newRow("refuses everything") << "" << QVector<bool>{false, false, false};
        QTest::newRow("too few answers") << "" << QVector<bool>{false, true};
    }
    void probesTellEveryKindApart()
    {
        QFETCH(QString, name);
        QFETCH(QVector<bool>, answers);
        const ModuleKind *kind = kindAnswering(answers);
        QCOMPARE(kind ? kind->name : QString(), name);
        if (!kind)
            return;
        // The same pattern follows from the definition itself.
        QVector<bool> fromDefinition;
        for (const KindProbe &p : kindProbes()) {
            const Point *point = kind->def().point(p.key);
            fromDefinition << (point != nullptr);
            if (point)
                QCOMPARE(point->address, p.address);
        }
        QCOMPARE(fromDefinition, answers);
    }

    void names()
    {
        QCOMPARE(kindNames(), QStringLiteral("t516、t540 或 t528"));
        QVERIFY(moduleKind(QStringLiteral("t528")));
        QVERIFY(!moduleKind(QStringLiteral("T528"))); // as typed: lower case only
        QVERIFY(!moduleKind(QString()));
        for (const ModuleKind &kind : moduleKinds())
            QCOMPARE(kind.def().name, kind.name);
    }
};

QTEST_GUILESS_MAIN(KindsTest)
#include "tst_kinds.moc"
