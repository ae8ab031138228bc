// What the buttons of cfg_t528 do against the simulated module: the twelve
// reads of the poll, the relay and input-mode writes, the reset, and the
// indices that do nothing.
#include "frm_t528.h"
#include "toolrig.h"

#include <QApplication>

using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

using Rig = ToolRig<frm_T528>;

const QString kDone = QStringLiteral("召测数据，完成！");
const QList<int> kCells = {13, 14, 15, 16, 17, 18, 19, 20, 21, 22};

} // namespace

class OperationsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void poll()
    {
        Rig rig(Module::T528);
        rig.port.sim.setRegister32(regs::inputOnTime(0), 1234);
        rig.port.sim.setRegister32(regs::relayCount(1), 0xFFFFFFFF);
        rig.port.sim.setRegister(regs::relayCommand(1), regs::cmdHost);
        rig.press(frm_T528::kReadButton);

        QStringList expected;
        for (int n = 0; n < 2; ++n) {
            expected << readFrame(regs::inputCount(n), true) << readFrame(regs::inputState(n), false)
                     << readFrame(regs::inputOnTime(n), true);
        }
        expected << "01 03 0E 20 00 02 C7 29" << "01 03 0E 22 00 01 26 E8" << "01 03 0E 80 00 01 87 0A";
        expected << readFrame(regs::relayCount(1), true) << readFrame(regs::relayState(1), false)
                 << readFrame(regs::relayCommand(1), false);
        QCOMPARE(rig.port.requests(), expected);

        const QStringList cells = {"70000", "ON", "123.4", "1234", "OFF", "1800", "1520", "动作", "4294967295", "恢复"};
        for (int i = 0; i < kCells.size(); ++i)
            QCOMPARE(rig.cell(kCells[i]), cells[i]);
        QCOMPARE(rig.window.Combo1(2)->currentText(), QStringLiteral("控制继电器动作"));
        QCOMPARE(rig.window.Combo1(3)->currentText(), QStringLiteral("上位机控制"));
        QCOMPARE(rig.messages.shown, QStringList{kDone});
        for (int i : kCells)
            QVERIFY(!hv52::ToolWindow::isMarkedFailed(rig.window.Label1(i)));
    }

    void noModule()
    {
        Rig rig(Module::T528);
        rig.port.sim.setFault(Fault::Silent);
        rig.press(frm_T528::kReadButton);

        QCOMPARE(int(rig.port.sim.requestCount()), 12);
        const QStringList cells = {"0", "OFF", "0", "0", "OFF", "0", "0", "恢复", "0", "恢复"};
        for (int i = 0; i < kCells.size(); ++i) {
            QCOMPARE(rig.cell(kCells[i]), cells[i]);
            QVERIFY(hv52::ToolWindow::isMarkedFailed(rig.window.Label1(kCells[i])));
        }
        for (int i : {2, 3}) {
            QCOMPARE(rig.window.Combo1(i)->currentText(), QStringLiteral("报警输出"));
            QVERIFY(hv52::ToolWindow::isMarkedFailed(rig.window.Combo1(i)));
        }
        QCOMPARE(rig.messages.shown, QStringList{kDone + QStringLiteral("\n12 次读取中有 12 次失败。")});
    }

    void writes_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text"); // relay text, or the input-mode item
        QTest::addColumn<QString>("frame");
        QTest::newRow("relay 1 operate") << 2 << "控制继电器动作" << "01 10 0E 80 00 01 02 50 50 6A 6C";
        QTest::newRow("relay 2 restore") << 3 << "控制继电器恢复" << "01 10 0E 81 00 01 02 30 30 43 95";
        QTest::newRow("relay 2 operate") << 3 << "控制继电器动作" << writeFrame(0x0E81, 0x5050);
        QTest::newRow("relay 1 restore") << 2 << "控制继电器恢复" << writeFrame(0x0E80, 0x3030);
        QTest::newRow("relay 1 typed host control") << 2 << "上位机控制" << writeFrame(0x0E80, 1);
        QTest::newRow("relay 1 unknown text") << 2 << "动作" << writeFrame(0x0E80, 0);
        QTest::newRow("input 1 with time stamp") << 0 << "带时标的ON/OFF输入" << "01 10 0E 8A 00 01 02 00 00 56 FA";
        QTest::newRow("input 2 without time stamp") << 1 << "不带时标的ON/OFF输入" << writeFrame(0x0E8B, 1);
    }
    void writes()
    {
        QFETCH(int, button);
        QFETCH(QString, text);
        QFETCH(QString, frame);
        Rig rig(Module::T528);
        rig.choose(rig.window.Combo1(button), text);
        rig.press(button);
        QCOMPARE(rig.port.requests(), QStringList{frame});
        QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("设置成功！")});
    }

    void unconfirmedWrite()
    {
        Rig rig(Module::T528);
        rig.port.sim.setFault(Fault::Silent);
        rig.press(2);
        QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("设置失败！")});
    }

    void reset_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("frame");
        QTest::newRow("relay 1") << 0 << "01 10 0B 00 00 01 02 60 03 74 91";
        QTest::newRow("relay 2") << 1 << writeFrame(0x0B00, 0x6004);
        QTest::newRow("all relays") << 2 << "01 10 0B 00 00 01 02 6F FF 71 20";
        QTest::newRow("input 1") << 3 << writeFrame(0x0B00, 0x6010);
        QTest::newRow("input 2") << 4 << writeFrame(0x0B00, 0x6011);
        QTest::newRow("all inputs") << 5 << writeFrame(0x0B00, 0x601F);
    }
    void reset()
    {
        QFETCH(int, item);
        QFETCH(QString, frame);
        Rig rig(Module::T528);
        rig.window.Combo2()->setCurrentIndex(item);
        rig.pressReset();
        QCOMPARE(rig.port.requests(), QStringList{frame});
        QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("复位成功!")});
    }

    void resetUnconfirmedOrWithoutEntry()
    {
        Rig rig(Module::T528);
        rig.port.sim.setFault(Fault::BadCrc, 1);
        rig.pressReset();
        QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("复位失败!")});

        rig.messages.clear();
        rig.port.sim.clearLog();
        rig.choose(rig.window.Combo2(), QStringLiteral("继电器"));
        rig.pressReset();
        QCOMPARE(int(rig.port.sim.requestCount()), 0);
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("复位项目“继电器”不是列表中的选项，复位命令未发送。")});
    }

    void otherIndexDoesNothing_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("5") << 5;
        QTest::newRow("7") << 7;
        QTest::newRow("-1") << -1;
    }
    void otherIndexDoesNothing()
    {
        QFETCH(int, index);
        Rig rig(Module::T528);
        bool opened = false;
        QObject::connect(&rig.window.link().MSComm1, &QSerialPort::aboutToClose, [&] { opened = true; });
        rig.window.Command1_Click(index);
        QVERIFY(opened); // the port was opened, and closed again
        QVERIFY(!rig.window.link().MSComm1.isOpen());
        QCOMPARE(int(rig.port.sim.requestCount()), 0);
        QCOMPARE(rig.messages.shown, QStringList());
    }
};

QTEST_MAIN(OperationsTest)
#include "tst_operations.moc"
