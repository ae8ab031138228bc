// The read-all poll of cfg_t516 through the real window against the simulated
// module: the 27 reads, what each cell and list shows, failure marks, and the
// poll ended by a read-back that is no list position.
#include "frm_t516.h"
#include "toolrig.h"

#include <QApplication>

using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

using Rig = ToolRig<frm_T516>;

const QString kDone = QStringLiteral("召测数据，完成！");

// Value cells and lists a poll fills.
const QList<int> kCells = {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 27, 28, 29};
const QList<int> kLists = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// "L13" is Label1(13)'s text, "C11" Combo1(11)'s text.
QString shown(const frm_T516 &w, const QString &target)
{
    const int index = target.mid(1).toInt();
    return target.startsWith(u'L') ? w.Label1(index)->text() : w.Combo1(index)->currentText();
}

QStringList markedControls(const frm_T516 &w)
{
    QStringList marked;
    for (int i : kCells) {
        if (hv52::ToolWindow::isMarkedFailed(w.Label1(i)))
            marked << QStringLiteral("L%1").arg(i);
    }
    for (int i : kLists) {
        if (hv52::ToolWindow::isMarkedFailed(w.Combo1(i)))
            marked << QStringLiteral("C%1").arg(i);
    }
    return marked;
}

} // namespace

class PollTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void readsInOrder()
    {
        Rig rig(Module::T516);
        rig.press(frm_T516::kReadButton);
        QStringList expected;
        for (int n = 0; n < 2; ++n) {
            expected << readFrame(regs::inputCount(n), true) << readFrame(regs::inputState(n), false)
                     << readFrame(regs::inputOnTime(n), true);
        }
        for (int k = 0; k < 2; ++k) {
            expected << readFrame(regs::relayCount(k), true) << readFrame(regs::relayState(k), false)
                     << readFrame(regs::relayCommand(k), false);
        }
        for (int k = 0; k < 3; ++k)
            expected << readFrame(regs::analogValue(k), false);
        for (int k = 0; k < 3; ++k)
            expected << readFrame(regs::analogSignal(k), false);
        for (int k = 0; k < 3; ++k)
            expected << readFrame(regs::analogSource(k), false);
        for (int k = 0; k < 3; ++k)
            expected << readFrame(regs::analogLower(k), false) << readFrame(regs::analogUpper(k), false);
        QCOMPARE(expected.size(), 27);
        QCOMPARE(rig.port.requests(), expected);
        QCOMPARE(rig.messages.shown, QStringList{kDone});
        QCOMPARE(markedControls(rig.window), QStringList());
    }

    void silentModuleShowsFailureTexts()
    {
        Rig rig(Module::T516);
        // A good poll first, so every failure text replaces a real value.
        rig.press(frm_T516::kReadButton);
        QCOMPARE(rig.cell(19), QStringLiteral("1520"));
        QCOMPARE(rig.window.Combo1(8)->currentIndex(), 2);

        rig.messages.clear();
        rig.port.sim.setFault(Fault::Silent);
        rig.press(frm_T516::kReadButton);

        const QStringList cells = {"0", "OFF", "0", "0", "OFF", "0", "0", "恢复", "0", "恢复", "0", "0", "0"};
        for (int i = 0; i < kCells.size(); ++i)
            QCOMPARE(rig.cell(kCells[i]), cells[i]);
        QCOMPARE(rig.window.Combo1(2)->currentText(), QStringLiteral("报警输出"));
        QCOMPARE(rig.window.Combo1(3)->currentText(), QStringLiteral("报警输出"));
        for (int i = 4; i <= 9; ++i)
            QCOMPARE(rig.window.Combo1(i)->currentIndex(), 0);
        for (int i = 10; i <= 15; ++i)
            QCOMPARE(rig.window.Combo1(i)->currentText(), QStringLiteral("0"));

        QCOMPARE(markedControls(rig.window).size(), kCells.size() + kLists.size());
        QCOMPARE(rig.messages.shown, QStringList{kDone + QStringLiteral("\n27 次读取中有 27 次失败。")});
    }

    void marksFollowEachPoll()
    {
        Rig rig(Module::T516);
        const QString cellStyle = rig.window.Label1(13)->styleSheet();
        const QString limitStyle = rig.window.Combo1(10)->styleSheet();
        rig.press(frm_T516::kReadButton);
        QCOMPARE(markedControls(rig.window), QStringList());

        rig.messages.clear();
        rig.port.sim.setFault(Fault::Silent);
        rig.press(frm_T516::kReadButton);
        QCOMPARE(markedControls(rig.window).size(), kCells.size() + kLists.size());

        // The module comes back with a changed relay: the cell shows it, unmarked.
        rig.messages.clear();
        rig.port.sim.setFault(Fault::None, 0);
        rig.port.sim.setRegister(regs::relayState(1), regs::on);
        rig.press(frm_T516::kReadButton);
        QCOMPARE(markedControls(rig.window), QStringList());
        QCOMPARE(rig.cell(22), QStringLiteral("动作"));
        QCOMPARE(rig.messages.shown, QStringList{kDone});
        // Unmarked controls look as they did before (a limit box keeps its
        // hidden drop-down button).
        QCOMPARE(rig.window.Label1(13)->styleSheet(), cellStyle);
        QCOMPARE(rig.window.Combo1(10)->styleSheet(), limitStyle);
    }

    void oneFailedReadMarksItsCellOnly_data()
    {
        QTest::addColumn<int>("step"); // 1-based read that fails
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("text");
        QTest::newRow("input 1 count") << 1 << "L13" << "0";
        QTest::newRow("relay 1 state") << 8 << "L20" << "恢复";
        QTest::newRow("output 2 source") << 20 << "C8" << "平均电流";
        QTest::newRow("output 3 upper limit") << 27 << "C15" << "0";
    }
    void oneFailedReadMarksItsCellOnly()
    {
        QFETCH(int, step);
        QFETCH(QString, target);
        QFETCH(QString, text);
        Rig rig(Module::T516);
        // The module leaves exactly that request unanswered: a fault set while
        // a request is logged applies to its own answer.
        int requests = 0;
        rig.port.sim.onFrame([&](const hv52sim::Frame &f) {
            if (f.fromMaster && ++requests == step)
                rig.port.sim.setFault(Fault::Silent, 1);
        });
        rig.press(frm_T516::kReadButton);
        rig.port.sim.onFrame({});

        QCOMPARE(shown(rig.window, target), text);
        QCOMPARE(markedControls(rig.window), QStringList{target});
        QCOMPARE(rig.messages.shown, QStringList{kDone + QStringLiteral("\n27 次读取中有 1 次失败。")});
    }

    void display_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<bool>("pair");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<int>("sourceReg"); // 0: the source keeps its start value
        QTest::addColumn<int>("sourceCode");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("text");

        const int none = 0;
        QTest::newRow("input 1 count 70000") << int(regs::inputCount(0)) << true << 70000u << none << 0 << "L13" << "70000";
        QTest::newRow("input 2 count, no sign") << int(regs::inputCount(1)) << true << 0xFFFFFFFFu << none << 0 << "L16" << "4294967295";
        QTest::newRow("relay 2 count, no sign") << int(regs::relayCount(1)) << true << 0xFFFFFFFFu << none << 0 << "L21" << "4294967295";
        QTest::newRow("input 1 state 0x5050") << int(regs::inputState(0)) << false << 0x5050u << none << 0 << "L14" << "ON";
        QTest::newRow("input 1 state 0") << int(regs::inputState(0)) << false << 0u << none << 0 << "L14" << "OFF";
        QTest::newRow("input 1 state 1") << int(regs::inputState(0)) << false << 1u << none << 0 << "L14" << "OFF";
        QTest::newRow("input 2 state 0xFFFF") << int(regs::inputState(1)) << false << 0xFFFFu << none << 0 << "L17" << "OFF";
        QTest::newRow("input 2 state 0x5051") << int(regs::inputState(1)) << false << 0x5051u << none << 0 << "L17" << "OFF";
        QTest::newRow("relay 1 state 0x5050") << int(regs::relayState(0)) << false << 0x5050u << none << 0 << "L20" << "动作";
        QTest::newRow("relay 1 state 0x3030") << int(regs::relayState(0)) << false << 0x3030u << none << 0 << "L20" << "恢复";
        QTest::newRow("input 1 ON time 7") << int(regs::inputOnTime(0)) << true << 7u << none << 0 << "L15" << "0.7";
        QTest::newRow("input 2 ON time 0") << int(regs::inputOnTime(1)) << true << 0u << none << 0 << "L18" << "0";
        QTest::newRow("input 2 ON time 1234") << int(regs::inputOnTime(1)) << true << 1234u << none << 0 << "L18" << "123.4";
        QTest::newRow("input 1 ON time all ones") << int(regs::inputOnTime(0)) << true << 0xFFFFFFFFu << none << 0 << "L15" << "429496729.5";
        QTest::newRow("output 1 value 1234") << int(regs::analogValue(0)) << false << 1234u << none << 0 << "L27" << "12.34";
        QTest::newRow("output 1 value 2000") << int(regs::analogValue(0)) << false << 2000u << none << 0 << "L27" << "20";
        QTest::newRow("output 3 value 5") << int(regs::analogValue(2)) << false << 5u << none << 0 << "L29" << "0.05";
        QTest::newRow("relay 1 command 0x3030") << int(regs::relayCommand(0)) << false << 0x3030u << none << 0 << "C2" << "控制继电器恢复";
        QTest::newRow("relay 1 command 1") << int(regs::relayCommand(0)) << false << 1u << none << 0 << "C2" << "上位机控制";
        QTest::newRow("relay 2 command 0x5050") << int(regs::relayCommand(1)) << false << 0x5050u << none << 0 << "C3" << "控制继电器动作";
        QTest::newRow("relay 2 command 0") << int(regs::relayCommand(1)) << false << 0u << none << 0 << "C3" << "报警输出";
        QTest::newRow("relay 2 command 7, no text") << int(regs::relayCommand(1)) << false << 7u << none << 0 << "C3" << "7";
        QTest::newRow("output 2 signal type 1") << int(regs::analogSignal(1)) << false << 1u << none << 0 << "C5" << "0- 5 V";
        QTest::newRow("output 3 source 29") << int(regs::analogSource(2)) << false << 29u << none << 0 << "C9" << "关闭报警";
        QTest::newRow("code 28, lower 4500") << int(regs::analogLower(1)) << false << 4500u << int(regs::analogSource(1)) << 28 << "C11" << "45";
        QTest::newRow("code 24, lower 500") << int(regs::analogLower(1)) << false << 500u << int(regs::analogSource(1)) << 24 << "C11" << "0.5";
        QTest::newRow("code 12, upper 3000") << int(regs::analogUpper(2)) << false << 3000u << int(regs::analogSource(2)) << 12 << "C15" << "300";
        QTest::newRow("code 13, upper 3000") << int(regs::analogUpper(2)) << false << 3000u << int(regs::analogSource(2)) << 13 << "C15" << "3000";
        QTest::newRow("code 29, upper 3000") << int(regs::analogUpper(2)) << false << 3000u << int(regs::analogSource(2)) << 29 << "C15" << "3000";
        QTest::newRow("code 0, lower 5") << int(regs::analogLower(0)) << false << 5u << int(regs::analogSource(0)) << 0 << "C10" << "0.005";
        QTest::newRow("code 5, upper 2200") << int(regs::analogUpper(0)) << false << 2200u << int(regs::analogSource(0)) << 5 << "C13" << "220";
    }
    void display()
    {
        QFETCH(int, reg);
        QFETCH(bool, pair);
        QFETCH(quint32, value);
        QFETCH(int, sourceReg);
        QFETCH(int, sourceCode);
        QFETCH(QString, target);
        QFETCH(QString, text);
        Rig rig(Module::T516);
        if (pair)
            rig.port.sim.setRegister32(quint16(reg), value);
        else
            rig.port.sim.setRegister(quint16(reg), quint16(value));
        if (sourceReg)
            rig.port.sim.setRegister(quint16(sourceReg), quint16(sourceCode));
        rig.press(frm_T516::kReadButton);
        QCOMPARE(shown(rig.window, target), text);
        QCOMPARE(markedControls(rig.window), QStringList());
        QCOMPARE(rig.messages.shown, QStringList{kDone});
    }

    void noListPositionEndsPoll_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<quint16>("value");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("message");
        QTest::newRow("output 1 signal type 2") << int(regs::analogSignal(0)) << quint16(2) << 16
                                                << "读回的输出1信号类型 2 不是列表中的选项（应为 0～1），召测中止。";
        QTest::newRow("output 1 signal type 32768") << int(regs::analogSignal(0)) << quint16(32768) << 16
                                                    << "读回的输出1信号类型 32768 不是列表中的选项（应为 0～1），召测中止。";
        QTest::newRow("output 3 source 30") << int(regs::analogSource(2)) << quint16(30) << 21
                                            << "读回的输出3参数选择 30 不是列表中的选项（应为 0～29），召测中止。";
    }
    void noListPositionEndsPoll()
    {
        QFETCH(int, reg);
        QFETCH(quint16, value);
        QFETCH(int, sent);
        QFETCH(QString, message);
        Rig rig(Module::T516);
        rig.port.sim.setRegister(quint16(reg), value);
        // Marks on the lists and limits that the stopped poll must leave alone.
        rig.window.Combo1(9)->setCurrentIndex(5);
        for (int i = 10; i <= 15; ++i)
            rig.window.Combo1(i)->setEditText(QStringLiteral("old"));

        rig.press(frm_T516::kReadButton);

        QCOMPARE(int(rig.port.sim.requestCount()), sent);
        QCOMPARE(rig.messages.shown, QStringList{message});
        // Written before the stop: inputs, relays and present values.
        QCOMPARE(rig.cell(13), QStringLiteral("70000"));
        QCOMPARE(rig.cell(19), QStringLiteral("1520"));
        QCOMPARE(rig.window.Combo1(2)->currentText(), QStringLiteral("控制继电器动作"));
        QCOMPARE(rig.cell(29), QStringLiteral("20"));
        // Not reached: the last source list and every limit.
        QCOMPARE(rig.window.Combo1(9)->currentIndex(), 5);
        for (int i = 10; i <= 15; ++i)
            QCOMPARE(rig.window.Combo1(i)->currentText(), QStringLiteral("old"));
        QVERIFY(!rig.window.link().MSComm1.isOpen());
    }
};

QTEST_MAIN(PollTest)
#include "tst_poll.moc"
