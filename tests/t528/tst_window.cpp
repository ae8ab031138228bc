// The cfg_t528 window at start-up: the input and relay groups of the T516
// window with the same indices, its own top row and size, no analog outputs.
#include "frm_t528.h"
#include "toolrig.h"

#include <QApplication>
#include <QGroupBox>
#include <QScreen>

using namespace hv52test;
using hv52sim::Module;

namespace {

QRect twips(int left, int top, int width, int height)
{
    const double scale = QGuiApplication::primaryScreen()->logicalDotsPerInch() / 96.0;
    const auto px = [scale](int t) { return qRound(t / 15.0 * scale); };
    return QRect(px(left), px(top), px(width), px(height));
}

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startUp()
    {
        ToolRig<frm_T528> rig(Module::T528);
        const frm_T528 &w = rig.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("HV52T528扩展模块"));
        QCOMPARE(w.Label1(12)->text(), QStringLiteral("HV52T528扩展模块"));
        QCOMPARE(w.size(), twips(0, 0, 9885, 4635).size());
        QCOMPARE(w.minimumSize(), w.maximumSize());
        for (int i = 13; i <= 22; ++i)
            QVERIFY(w.Label1(i)->text().isEmpty());
        for (int i = 0; i <= 3; ++i)
            QCOMPARE(w.Combo1(i)->currentIndex(), 0);
        QCOMPARE(w.Combo1(3)->currentText(), QStringLiteral("控制继电器动作"));
        QCOMPARE(w.Combo2()->currentIndex(), 0);
        QCOMPARE(w.Combo2()->count(), 6);
        QVERIFY(w.Label1(4)->isHidden());
        QVERIFY(w.Combo1(1)->isHidden());
        QVERIFY(w.Command1(0)->isHidden());
        QVERIFY(w.Command1(3)->isVisible());
        // Nothing of the analog group.
        QVERIFY(!w.Frame1(2));
        QVERIFY(!w.Combo1(4));
        QVERIFY(!w.Command1(5));
        QVERIFY(!w.Label1(27));
    }

    void fixedPlaces()
    {
        frm_T528 w;
        QCOMPARE(w.Combo2()->geometry(), twips(4170, 90, 3315, 300));
        QCOMPARE(w.Command2()->geometry(), twips(7530, 60, 1005, 375));
        QCOMPARE(w.Command1(4)->geometry(), twips(8790, 60, 1065, 375));
        QCOMPARE(w.Command1(4)->text(), QStringLiteral("召测"));
        QCOMPARE(w.Frame1(0)->geometry(), twips(60, 540, 9765, 1815));
        QCOMPARE(w.Frame1(1)->geometry(), twips(60, 2610, 9765, 1815));
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
