// The set buttons of cfg_t516 through the real window against the simulated
// module: relay commands, input modes and the analog outputs, frame for frame.
#include "frm_t516.h"
#include "toolrig.h"

#include <QApplication>

using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

using Rig = ToolRig<frm_T516>;

const QString kSuccess = QStringLiteral("设置成功！");
const QString kFailure = QStringLiteral("设置失败！");

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void relayCommand_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text"); // picked when it is an item, typed otherwise
        QTest::addColumn<QString>("frame");
        QTest::newRow("relay 1 operate") << 2 << "控制继电器动作" << "01 10 0E 80 00 01 02 50 50 6A 6C";
        QTest::newRow("relay 2 restore") << 3 << "控制继电器恢复" << "01 10 0E 81 00 01 02 30 30 43 95";
        QTest::newRow("relay 1 typed host control") << 2 << "上位机控制" << writeFrame(0x0E80, 1);
        QTest::newRow("relay 1 host control and a blank") << 2 << "上位机控制 " << writeFrame(0x0E80, 0);
        QTest::newRow("relay 2 typed alarm output") << 3 << "报警输出" << writeFrame(0x0E81, 0);
        QTest::newRow("relay 2 misspelt") << 3 << "控制继电器动做" << writeFrame(0x0E81, 0);
        QTest::newRow("relay 1 empty") << 2 << "" << writeFrame(0x0E80, 0);
    }
    void relayCommand()
    {
        QFETCH(int, button);
        QFETCH(QString, text);
        QFETCH(QString, frame);
        Rig rig(Module::T516);
        rig.choose(rig.window.Combo1(button), text);
        rig.press(button);
        QCOMPARE(rig.port.requests(), QStringList{frame});
        QCOMPARE(rig.messages.shown, QStringList{kSuccess});
    }

    void inputMode_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("frame");
        QTest::newRow("input 1 with time stamp") << 0 << 0 << "01 10 0E 8A 00 01 02 00 00 56 FA";
        QTest::newRow("input 1 without time stamp") << 0 << 1 << writeFrame(0x0E8A, 1);
        QTest::newRow("input 2 without time stamp") << 1 << 1 << writeFrame(0x0E8B, 1);
        QTest::newRow("input 2 with time stamp") << 1 << 0 << writeFrame(0x0E8B, 0);
    }
    void inputMode()
    {
        QFETCH(int, input);
        QFETCH(int, item);
        QFETCH(QString, frame);
        Rig rig(Module::T516);
        rig.window.Combo1(input)->setCurrentIndex(item);
        rig.press(input);
        QCOMPARE(rig.port.requests(), QStringList{frame});
        QCOMPARE(rig.port.sim.reg(regs::inputMode(input)), quint16(item));
        QCOMPARE(rig.messages.shown, QStringList{kSuccess});
    }

    void inputModeWithoutEntrySendsNothing()
    {
        Rig rig(Module::T516);
        rig.window.Combo1(1)->setCurrentIndex(-1);
        rig.window.Combo1(1)->setEditText(QStringLiteral("ON/OFF"));
        rig.press(1);
        QCOMPARE(int(rig.port.sim.requestCount()), 0);
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("输入2的输入方式“ON/OFF”不是列表中的选项，设置未发送。")});
    }

    void unconfirmedWrite()
    {
        Rig rig(Module::T516);
        rig.port.sim.setFault(Fault::Exception); // never reaches the answer length
        rig.press(3);
        QCOMPARE(int(rig.port.sim.requestCount()), 1);
        QCOMPARE(rig.messages.shown, QStringList{kFailure});
    }

    void silentModuleWithRealTimeout()
    {
        // The real response time: the write still ends, as a failure.
        Rig rig(Module::T516, hv52::Link::kResponseTimeoutMs);
        QCOMPARE(rig.window.link().responseTimeout(), 1000);
        rig.port.sim.setFault(Fault::Silent);
        rig.press(2);
        QCOMPARE(int(rig.port.sim.requestCount()), 1);
        QCOMPARE(rig.messages.shown, QStringList{kFailure});
    }

    void relayShowsAtNextPoll()
    {
        Rig rig(Module::T516);
        rig.port.sim.setRegister(regs::relayState(0), regs::off);
        rig.choose(rig.window.Combo1(2), QStringLiteral("控制继电器动作"));
        rig.press(2);
        QCOMPARE(rig.cell(20), QString()); // a setting changes no cell
        rig.press(frm_T516::kReadButton);
        QCOMPARE(rig.cell(20), QStringLiteral("动作"));
        QCOMPARE(rig.window.Combo1(2)->currentText(), QStringLiteral("控制继电器动作"));
    }

    void analogOutput_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("lower");
        QTest::addColumn<QString>("upper");
        QTest::addColumn<QList<int>>("written"); // type, source, lower, upper
        QTest::newRow("output 1 current 0 to 5") << 0 << "4-20 mA" << "A相电流" << "0" << "5" << QList<int>{0, 1, 0, 5000};
        QTest::newRow("output 2 frequency 45 to 55") << 1 << "0- 5 V" << "频率" << "45" << "55" << QList<int>{1, 28, 4500, 5500};
        QTest::newRow("output 3 total active power") << 2 << "4-20 mA" << "总有功功率" << "0" << "300" << QList<int>{0, 12, 0, 3000};
        QTest::newRow("output 3 phase A active power") << 2 << "4-20 mA" << "A相有功功率" << "0" << "300" << QList<int>{0, 13, 0, 300};
        QTest::newRow("halves to even") << 0 << "4-20 mA" << "A相有功功率" << "2.5" << "3.5" << QList<int>{0, 13, 2, 4};
        QTest::newRow("voltage") << 1 << "0- 5 V" << "AB线电压" << "0" << "220" << QList<int>{1, 9, 0, 2200};
        QTest::newRow("power factor") << 2 << "0- 5 V" << "C相功率因数" << "0.5" << "1" << QList<int>{1, 27, 500, 1000};
        QTest::newRow("blanks around limits") << 0 << "4-20 mA" << "平均电流" << " 1.5 " << "\t2" << QList<int>{0, 0, 1500, 2000};
        QTest::newRow("largest limit") << 0 << "4-20 mA" << "关闭报警" << "0" << "65535" << QList<int>{0, 29, 0, 65535};
    }
    void analogOutput()
    {
        QFETCH(int, output);
        QFETCH(QString, type);
        QFETCH(QString, source);
        QFETCH(QString, lower);
        QFETCH(QString, upper);
        QFETCH(QList<int>, written);
        Rig rig(Module::T516);
        rig.choose(rig.window.Combo1(4 + output), type);
        rig.choose(rig.window.Combo1(7 + output), source);
        rig.window.Combo1(10 + output)->setEditText(lower);
        rig.window.Combo1(13 + output)->setEditText(upper);
        rig.press(5 + output);

        const quint16 block = quint16(regs::analogSignal(output));
        QStringList frames;
        for (int i = 0; i < 4; ++i) {
            frames << writeFrame(quint16(block + i), quint16(written[i]));
            QCOMPARE(int(rig.port.sim.reg(quint16(block + i))), written[i]);
        }
        QCOMPARE(rig.port.requests(), frames);
        QCOMPARE(rig.messages.shown, QStringList{kSuccess});
    }

    void failedWriteDoesNotStopTheOthers()
    {
        Rig rig(Module::T516);
        rig.choose(rig.window.Combo1(8), QStringLiteral("频率"));
        rig.window.Combo1(11)->setEditText(QStringLiteral("45"));
        rig.window.Combo1(14)->setEditText(QStringLiteral("55"));
        rig.port.sim.setFault(Fault::Silent, 1); // the signal type goes unanswered
        rig.press(6);
        QCOMPARE(int(rig.port.sim.requestCount()), 4);
        QCOMPARE(rig.port.sim.reg(regs::analogUpper(1)), quint16(5500));
        QCOMPARE(rig.messages.shown, QStringList{kFailure});
    }

    void badRowSendsNothing_data()
    {
        QTest::addColumn<int>("output");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("lower");
        QTest::addColumn<QString>("upper");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty lower") << 0 << "4-20 mA" << "A相电流" << "" << "5"
                                     << "输出1下限参数值为空，设置未发送。";
        QTest::newRow("blank upper") << 0 << "4-20 mA" << "A相电流" << "0" << "  "
                                     << "输出1上限参数值为空，设置未发送。";
        QTest::newRow("letters") << 0 << "4-20 mA" << "A相电流" << "abc" << "5"
                                 << "输出1下限参数值“abc”不是数字，设置未发送。";
        QTest::newRow("negative power factor") << 1 << "4-20 mA" << "总功率因数" << "-0.5" << "1"
                                               << "输出2下限参数值 -0.5 × 1000 = -500 超出 0～65535，设置未发送。";
        QTest::newRow("70 for a current") << 0 << "4-20 mA" << "A相电流" << "0" << "70"
                                          << "输出1上限参数值 70 × 1000 = 70000 超出 0～65535，设置未发送。";
        QTest::newRow("bad upper after a good lower") << 2 << "0- 5 V" << "频率" << "45" << "5x"
                                                      << "输出3上限参数值“5x”不是数字，设置未发送。";
        QTest::newRow("typed signal type") << 1 << "4-20mA" << "频率" << "45" << "55"
                                           << "输出2信号类型“4-20mA”不是列表中的选项，设置未发送。";
        QTest::newRow("typed source") << 2 << "0- 5 V" << "电流" << "0" << "5"
                                      << "输出3参数选择“电流”不是列表中的选项，设置未发送。";
    }
    void badRowSendsNothing()
    {
        QFETCH(int, output);
        QFETCH(QString, type);
        QFETCH(QString, source);
        QFETCH(QString, lower);
        QFETCH(QString, upper);
        QFETCH(QString, message);
        Rig rig(Module::T516);
        const quint16 block = quint16(regs::analogSignal(output));
        QList<quint16> before;
        for (int i = 0; i < 4; ++i)
            before << rig.port.sim.reg(quint16(block + i));
        rig.choose(rig.window.Combo1(4 + output), type);
        rig.choose(rig.window.Combo1(7 + output), source);
        rig.window.Combo1(10 + output)->setEditText(lower);
        rig.window.Combo1(13 + output)->setEditText(upper);
        rig.press(5 + output);

        QCOMPARE(int(rig.port.sim.requestCount()), 0);
        QCOMPARE(rig.messages.shown, QStringList{message});
        for (int i = 0; i < 4; ++i)
            QCOMPARE(rig.port.sim.reg(quint16(block + i)), before[i]);
        QVERIFY(!rig.window.link().MSComm1.isOpen());
    }
};

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
