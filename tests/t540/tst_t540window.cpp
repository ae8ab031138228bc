// The cfg_t540 window as the operator first sees it.
#include "t540bench.h"

#include <QGroupBox>
#include <QScreen>

using t540test::Bench;

class TestT540Window : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startUp()
    {
        Bench bench;
        frm_T540 &w = bench.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("HV52T540扩展模块"));
        QCOMPARE(w.Label1(12)->text(), QStringLiteral("HV52T540扩展模块"));
        QCOMPARE(w.Frame1(0)->title(), QStringLiteral("数字量输入"));
        QVERIFY(!w.Frame1(1));
        QCOMPARE(w.Command1(7)->text(), QStringLiteral("召测"));
        QCOMPARE(w.Command2()->text(), QStringLiteral("复位"));
        QVERIFY(w.Command1(7)->isVisible() && w.Command2()->isVisible());

        // Header captions left to right, the set column's last.
        const QStringList headers = {"名称", "输入次数", "输入状态", "输入ON时间", "设置"};
        for (int c = 0; c < headers.size(); ++c) {
            QCOMPARE(w.Label1(c)->text(), headers[c]);
            if (c > 0)
                QVERIFY(w.Label1(c)->x() > w.Label1(c - 1)->geometry().right());
        }

        for (int cell = 13; cell <= 33; ++cell)
            QVERIFY2(bench.cell(cell).isEmpty(), qPrintable(QStringLiteral("Label1(%1)").arg(cell)));

        // The input-mode column is switched off, but its lists start on their first entry.
        QVERIFY(w.Label1(4)->isHidden());
        for (int i = 0; i < 7; ++i) {
            QVERIFY(w.Combo1(i)->isHidden() && w.Command1(i)->isHidden());
            QCOMPARE(w.Combo1(i)->currentIndex(), 0);
            QCOMPARE(w.Combo1(i)->currentText(), QStringLiteral("带时标的ON/OFF输入"));
            QCOMPARE(w.Combo1(i)->count(), 2);
            QCOMPARE(w.Command1(i)->text(), QStringLiteral("设置"));
        }

        QStringList resets;
        for (int k = 1; k <= 7; ++k)
            resets << QStringLiteral("数字量输入M-S%1计数器及ON持续时间").arg(k);
        resets << QStringLiteral("所有数字量输入计数器及ON持续时间");
        QStringList items;
        for (int i = 0; i < w.Combo2()->count(); ++i)
            items << w.Combo2()->itemText(i);
        QCOMPARE(items, resets);
        QCOMPARE(w.Combo2()->currentIndex(), 0);
        QCOMPARE(w.Combo2()->currentText(), resets.first());

        QCOMPARE(bench.sent(), size_t(0)); // start-up leaves the port alone
    }

    void size()
    {
        Bench bench;
        const double pxPerTwip = bench.window.screen()->logicalDotsPerInch() / 96.0 / 15.0;
        QCOMPARE(bench.window.width(), qRound(9885 * pxPerTwip));
        QCOMPARE(bench.window.height(), qRound(4725 * pxPerTwip));
    }

    // Each input's caption and cells share one row under the right headers,
    // and the rows run down the frame in input order, 420-450 twips apart.
    void rows_data()
    {
        QTest::addColumn<int>("k");
        for (int k = 1; k <= 7; ++k)
            QTest::addRow("input %d", k) << k;
    }
    void rows()
    {
        QFETCH(int, k);
        Bench bench;
        const frm_T540 &w = bench.window;
        const QLabel *caption = w.Label1(4 + k);
        QCOMPARE(caption->text(), QStringLiteral("输入%1").arg(k));
        QCOMPARE(caption->parentWidget(), w.Frame1(0));
        for (int column = 1; column <= 3; ++column) {
            const QLabel *cell = w.Label1(9 + 3 * k + column);
            const QLabel *header = w.Label1(column);
            QCOMPARE(cell->parentWidget(), w.Frame1(0));
            QCOMPARE(cell->y(), caption->y());
            QVERIFY(cell->y() > header->y());
            QVERIFY2(cell->geometry().center().x() > header->x()
                         && cell->geometry().center().x() < header->geometry().right(),
                     "cell not under its header");
        }

        const double pxPerTwip = w.screen()->logicalDotsPerInch() / 96.0 / 15.0;
        if (k == 1) {
            QCOMPARE(caption->y(), qRound(840 * pxPerTwip));
        } else {
            const int pitch = caption->y() - w.Label1(3 + k)->y();
            QVERIFY2(pitch >= qFloor(420 * pxPerTwip) && pitch <= qCeil(450 * pxPerTwip),
                     qPrintable(QString::number(pitch)));
        }
        QVERIFY(w.Frame1(0)->rect().contains(w.Label1(9 + 3 * k + 3)->geometry()));
    }
};

QTEST_MAIN(TestT540Window)
#include "tst_t540window.moc"
