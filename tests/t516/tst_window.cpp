// The cfg_t516 window as the operator first sees it: controls by index, their
// texts and lists, the layout's fixed places, and the editable lists.
#include "frm_t516.h"
#include "toolrig.h"

#include <QApplication>
#include <QGroupBox>
#include <QScreen>

using namespace hv52test;
using hv52sim::Module;

namespace {

using Rig = ToolRig<frm_T516>;

// Twips to pixels as the window lays them out.
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

    void beforeStartUp()
    {
        frm_T516 w;
        QCOMPARE(w.Combo2()->currentText(), QStringLiteral("所有数字量输入计数器及ON持续时间"));
        QCOMPARE(w.Combo1(0)->currentText(), QStringLiteral("不带时标的ON/OFF输入"));
        QCOMPARE(w.Combo1(2)->currentText(), QStringLiteral("控制继电器恢复"));
        QCOMPARE(w.Combo1(8)->currentText(), QStringLiteral("A相视在功率"));
    }

    void afterStartUp()
    {
        Rig rig(Module::T516);
        const frm_T516 &w = rig.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("HV52T516扩展模块"));
        QCOMPARE(w.size(), twips(0, 0, 9885, 7020).size());
        QCOMPARE(w.minimumSize(), w.maximumSize());
        for (int i : {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 27, 28, 29})
            QVERIFY2(w.Label1(i)->text().isEmpty(), qPrintable(QString::number(i)));
        for (int i = 0; i <= 9; ++i)
            QCOMPARE(w.Combo1(i)->currentIndex(), 0);
        QCOMPARE(w.Combo1(4)->currentText(), QStringLiteral("4-20 mA"));
        QCOMPARE(w.Combo1(7)->currentText(), QStringLiteral("平均电流"));
        QCOMPARE(w.Combo2()->currentIndex(), 0);
        for (int i = 10; i <= 15; ++i) {
            QCOMPARE(w.Combo1(i)->currentText(), QStringLiteral("0"));
            QCOMPARE(w.Combo1(i)->count(), 0);
        }
        // The input-mode column is switched off; everything else is there.
        QVERIFY(w.Label1(4)->isHidden());
        for (int i : {0, 1}) {
            QVERIFY(w.Combo1(i)->isHidden());
            QVERIFY(w.Command1(i)->isHidden());
        }
        for (int i = 2; i <= 7; ++i)
            QVERIFY(w.Command1(i)->isVisible());
        QVERIFY(w.Command2()->isVisible());
        QCOMPARE(int(rig.port.sim.requestCount()), 0); // start-up leaves the port alone
    }

    void captions_data()
    {
        QTest::addColumn<int>("label");
        QTest::addColumn<QString>("text");
        const QList<QPair<int, const char *>> rows = {
            {0, "名称"},     {1, "输入次数"},   {2, "输入状态"},   {3, "输入ON时间"}, {4, "设置"},
            {5, "输入1"},    {6, "输入2"},      {7, "名称"},       {8, "输出状态"},   {9, "输出次数"},
            {10, "控制方式"}, {11, "继电器1"},   {12, "HV52T516扩展模块"},           {23, "输出3"},
            {24, "参数选择"}, {25, "输出1"},     {26, "输出2"},     {30, "信号类型"},  {31, "下限参数值"},
            {32, "上限参数值"}, {33, "继电器2"}, {34, "控制"},      {35, "名称"},      {36, "输出值 (mA)"},
        };
        for (const auto &row : rows)
            QTest::addRow("Label1(%d)", row.first) << row.first << QString::fromUtf8(row.second);
    }
    void captions()
    {
        QFETCH(int, label);
        QFETCH(QString, text);
        frm_T516 w;
        QVERIFY(w.Label1(label));
        QCOMPARE(w.Label1(label)->text(), text);
    }

    void buttonsFramesAndLists()
    {
        frm_T516 w;
        QCOMPARE(w.Command1(4)->text(), QStringLiteral("召测"));
        QCOMPARE(w.Command2()->text(), QStringLiteral("复位"));
        for (int i = 0; i <= 7; ++i) {
            if (i != 4)
                QCOMPARE(w.Command1(i)->text(), QStringLiteral("设置"));
        }
        QCOMPARE(w.Frame1(0)->title(), QStringLiteral("数字量输入"));
        QCOMPARE(w.Frame1(1)->title(), QStringLiteral("数字量输出"));
        QCOMPARE(w.Frame1(2)->title(), QStringLiteral("模拟量输出"));

        const auto items = [](const QComboBox *box) {
            QStringList out;
            for (int i = 0; i < box->count(); ++i)
                out << box->itemText(i);
            return out;
        };
        QCOMPARE(items(w.Combo2()),
                 QStringList({"继电器输出M-R1计数器", "继电器输出M-R2计数器", "所有继电器输出计数器",
                              "数字量输入M-S1计数器及ON持续时间", "数字量输入M-S2计数器及ON持续时间",
                              "所有数字量输入计数器及ON持续时间"}));
        QCOMPARE(items(w.Combo1(1)), QStringList({"带时标的ON/OFF输入", "不带时标的ON/OFF输入"}));
        QCOMPARE(items(w.Combo1(3)), QStringList({"控制继电器动作", "控制继电器恢复"}));
        QCOMPARE(items(w.Combo1(6)), QStringList({"4-20 mA", "0- 5 V"}));
        const QStringList sources = items(w.Combo1(9));
        QCOMPARE(sources.size(), 30);
        QCOMPARE(sources.at(12), QStringLiteral("总有功功率"));
        QCOMPARE(sources.at(24), QStringLiteral("总功率因数"));
        QCOMPARE(sources.at(28), QStringLiteral("频率"));
        QCOMPARE(sources.at(29), QStringLiteral("关闭报警"));
        QCOMPARE(items(w.Combo1(7)), sources);
    }

    void fixedPlaces()
    {
        frm_T516 w;
        QCOMPARE(w.Label1(12)->geometry(), twips(60, 0, 4605, 495));
        QCOMPARE(w.Combo2()->geometry(), twips(4140, 120, 3315, 300));
        QCOMPARE(w.Command2()->geometry(), twips(7500, 90, 1005, 375));
        QCOMPARE(w.Command1(4)->geometry(), twips(8760, 90, 1065, 375));
        QCOMPARE(w.Frame1(0)->geometry(), twips(60, 540, 9765, 1815));
        QCOMPARE(w.Frame1(1)->geometry(), twips(60, 2610, 9765, 1815));
        QCOMPARE(w.Frame1(2)->geometry(), twips(60, 4680, 9765, 2175));
        // Every control of a group lies inside it.
        for (int f = 0; f < 3; ++f) {
            const QRect inside(QPoint(0, 0), w.Frame1(f)->size());
            for (QWidget *child : w.Frame1(f)->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
                QVERIFY2(inside.contains(child->geometry()), qPrintable(child->objectName()));
        }
    }

    void typingLeavesNoEntry_data()
    {
        QTest::addColumn<int>("combo"); // -1 for Combo2
        QTest::newRow("reset list") << -1;
        QTest::newRow("relay 1 command") << 2;
        QTest::newRow("output 1 source") << 7;
    }
    void typingLeavesNoEntry()
    {
        QFETCH(int, combo);
        Rig rig(Module::T516);
        QComboBox *box = combo < 0 ? rig.window.Combo2() : rig.window.Combo1(combo);
        const int count = box->count();
        box->lineEdit()->selectAll();
        typeText(box->lineEdit(), QStringLiteral("手动"));
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), QStringLiteral("手动"));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(box->count(), count);
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), QStringLiteral("手动"));
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
