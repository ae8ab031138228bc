// cfg_t528 through its real window against the simulated module: the twelve
// reads of the poll, the relay and input-mode writes, the reset, and the
// button indices that do nothing.
#include "frm_t528.h"
#include "toolbench.h"

#include <QSerialPort>

using namespace hv52test;
using hv52sim::Fault;
namespace regs = hv52sim::regs;

namespace {
using Rig = Bench<frm_T528, hv52sim::Module::T528>;
const QString kDone = QStringLiteral("召测数据，完成！");
} // namespace

class T528Test : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startUp()
    {
        Rig rig;
        QCOMPARE(rig.window.windowTitle(), QStringLiteral("HV52T528扩展模块"));
        QVERIFY(!rig.window.Frame1(2) && !rig.window.Combo1(4) && !rig.window.Label1(27)); // no analog group
        for (int i = 13; i <= 22; ++i)
            QVERIFY(rig.cell(i).isEmpty());
        for (int i = -1; i <= 3; ++i)
            QCOMPARE(rig.box(i)->currentIndex(), 0);
        // The relay commands shown are no module state yet; the reset list
        // and the hidden input modes are commands to choose.
        QCOMPARE(rig.unread(), (QStringList{"C2", "C3"}));
        QCOMPARE(rig.marks(), QStringList());
    }

    // No module: the twelve reads in order, each control at its failure text
    // and marked; then a good poll clears the marks.
    void noModule()
    {
        Rig rig;
        rig.port.sim.setFault(Fault::Silent);
        rig.poll();
        QStringList frames;
        for (int n = 0; n < 2; ++n)
            frames << readFrame(regs::inputCount(n), 2) << readFrame(regs::inputState(n), 1)
                   << readFrame(regs::inputOnTime(n), 2);
        frames << "01 03 0E 20 00 02 C7 29"
               << "01 03 0E 22 00 01 26 E8"
               << "01 03 0E 80 00 01 87 0A";
        frames << readFrame(regs::relayCount(1), 2) << readFrame(regs::relayState(1), 1)
               << readFrame(regs::relayCommand(1), 1);
        QCOMPARE(rig.requests(), frames);

        const QStringList cells = {"0", "OFF", "0", "0", "OFF", "0", "0", "恢复", "0", "恢复"};
        QStringList marks;
        for (int i = 0; i < cells.size(); ++i) {
            QCOMPARE(rig.cell(13 + i), cells[i]);
            marks << QStringLiteral("L%1").arg(13 + i);
        }
        QCOMPARE(rig.window.Combo1(2)->currentText(), QStringLiteral("报警输出"));
        QCOMPARE(rig.window.Combo1(3)->currentText(), QStringLiteral("报警输出"));
        QCOMPARE(rig.marks(), marks << "C2"
                                    << "C3");
        QCOMPARE(
            rig.messages.shown,
            QStringList{kDone + QStringLiteral("\n12 次读取中有 12 次失败。\n超时无应答 12 次\n") + silenceHint()});

        rig.messages.clear();
        rig.port.sim.setFault(Fault::None, 0);
        rig.poll();
        QCOMPARE(rig.marks(), QStringList());
        QCOMPARE(rig.window.Combo1(2)->currentText(), QStringLiteral("控制继电器动作"));
        QCOMPARE(rig.messages.shown, QStringList{kDone});
    }

    void operation_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<int>("button"); // -1: reset
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("message");
        using E = QList<Entry>;
        const QString set = QStringLiteral("设置成功！"), reset = QStringLiteral("复位成功!");
        QTest::newRow("relay 1 operate") << E{{2, "控制继电器动作"}} << 2 << "01 10 0E 80 00 01 02 50 50 6A 6C" << set;
        // A relay's box as the window started: no command was read or chosen.
        const auto neverPolled = [](int relay) {
            return QStringLiteral("继电器%1 控制方式：显示的值不是从模块读到的（尚未召测），设置未发送。"
                                  "请先召测，或在该框中选择一个值。")
                .arg(relay);
        };
        QTest::newRow("relay 1 as started") << E{} << 2 << QString() << neverPolled(1);
        QTest::newRow("relay 2 as started, relay 1 chosen")
            << E{{2, "控制继电器动作"}} << 3 << QString() << neverPolled(2);
        QTest::newRow("relay 2 restore") << E{{3, "控制继电器恢复"}} << 3 << "01 10 0E 81 00 01 02 30 30 43 95" << set;
        QTest::newRow("relay 2 operate") << E{{3, "控制继电器动作"}} << 3 << writeFrame(0x0E81, 0x5050) << set;
        QTest::newRow("relay 1 typed host control") << E{{2, "上位机控制"}} << 2 << writeFrame(0x0E80, 1) << set;
        // A text that is no command is refused; it used to write alarm output.
        QTest::newRow("relay 1 unknown text") << E{{2, "动作"}} << 2 << QString()
                                              << "继电器1 控制方式“动作”不是控制方式（应为报警输出、上位机控制、"
                                                 "控制继电器动作、控制继电器恢复），设置未发送。";
        QTest::newRow("input 2 without time stamp")
            << E{{1, "不带时标的ON/OFF输入"}} << 1 << writeFrame(0x0E8B, 1) << set;
        QTest::newRow("reset relay 1") << E{{-1, "继电器输出M-R1计数器"}} << -1 << "01 10 0B 00 00 01 02 60 03 74 91"
                                       << reset;
        QTest::newRow("reset relay 2") << E{{-1, "继电器输出M-R2计数器"}} << -1 << writeFrame(0x0B00, 0x6004) << reset;
        QTest::newRow("reset all relays")
            << E{{-1, "所有继电器输出计数器"}} << -1 << "01 10 0B 00 00 01 02 6F FF 71 20" << reset;
        QTest::newRow("reset input 1") << E{{-1, "数字量输入M-S1计数器及ON持续时间"}} << -1
                                       << writeFrame(0x0B00, 0x6010) << reset;
        QTest::newRow("reset input 2") << E{{-1, "数字量输入M-S2计数器及ON持续时间"}} << -1
                                       << writeFrame(0x0B00, 0x6011) << reset;
        QTest::newRow("reset all inputs")
            << E{{-1, "所有数字量输入计数器及ON持续时间"}} << -1 << writeFrame(0x0B00, 0x601F) << reset;
        QTest::newRow("reset typed") << E{{-1, "全部继电器"}} << -1 << QString()
                                     << "复位项目“全部继电器”不是列表中的选项，复位命令未发送。";
    }
    void operation()
    {
        QFETCH(QList<Entry>, entries);
        QFETCH(int, button);
        QFETCH(QString, frame);
        QFETCH(QString, message);
        Rig rig;
        rig.operate(entries, button);
        QCOMPARE(rig.requests(), frame.isEmpty() ? QStringList() : QStringList{frame});
        QCOMPARE(rig.messages.shown, QStringList{message});
    }

    // A poll on a dead line, then the operator presses a relay's set button
    // on a healthy line: the alarm output shown for the failed read is not
    // written back; choosing a command is.
    void noPlaceholderWrittenBack()
    {
        Rig rig;
        rig.port.sim.setFault(Fault::Silent);
        rig.poll();
        rig.port.sim.setFault(Fault::None, 0);
        rig.port.sim.clearLog();
        rig.messages.clear();
        rig.press(2);
        QCOMPARE(rig.sent(), 0);
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("继电器1 控制方式：显示的值来自一次失败的读取，不是模块中的值，"
                                            "设置未发送。请重新召测，或在该框中选择一个值。")});
        QCOMPARE(rig.port.sim.reg(regs::relayCommand(0)), regs::cmdOperate);
        rig.operate({{2, QStringLiteral("控制继电器恢复")}}, 2);
        QCOMPARE(rig.requests(), QStringList{writeFrame(0x0E80, 0x3030)});
        QCOMPARE(rig.marks(),
                 QStringList({"L13", "L14", "L15", "L16", "L17", "L18", "L19", "L20", "L21", "L22", "C3"}));
    }

    // A good poll, then one whose port is missing: every control it would
    // fill is marked, and the relay command shown is not written back.
    void failedOpenThenSet()
    {
        Rig rig;
        rig.poll();
        rig.port.sim.unplug();
        rig.messages.clear();
        rig.poll();
        QCOMPARE(rig.messages.shown.size(), 1);
        QStringList all;
        for (int i = 13; i <= 22; ++i)
            all << QStringLiteral("L%1").arg(i);
        QCOMPARE(rig.unread(), all << "C2"
                                   << "C3");
        QCOMPARE(rig.cell(13), QStringLiteral("70000"));
        QVERIFY(rig.port.sim.replug());
        rig.port.sim.clearLog();
        rig.messages.clear();
        rig.press(2);
        QCOMPARE(rig.sent(), 0);
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("继电器1 控制方式：显示的值不是本次召测读到的（串口未能打开），设置未发送。"
                                            "请重新召测，或在该框中选择一个值。")});
        rig.operate({{2, QStringLiteral("控制继电器恢复")}}, 2);
        QCOMPARE(rig.requests(), QStringList{writeFrame(0x0E80, 0x3030)});
    }

    // Missing arguments are named as missing, and nothing is sent.
    void missingArguments_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("message");
        QTest::newRow("none") << ""
                              << "命令行缺少总线地址（第1个参数），请求未发送。";
        QTest::newRow("address only") << "1"
                                      << "命令行缺少串口号（第2个参数），无法打开串口。";
        QTest::newRow("no speed") << "1 1"
                                  << "命令行缺少波特率（第3个参数），无法打开串口 COM1。";
        QTest::newRow("broadcast") << "0 1 9600"
                                   << "总线地址 0 是广播地址，不能用于通讯（应为 1～247），请求未发送。";
        QTest::newRow("reserved") << "248 1 9600"
                                  << "总线地址 248 无效（应为 1～247），请求未发送。";
    }
    void missingArguments()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, message);
        Rig rig;
        rig.window.Form_Load(commandLine);
        rig.poll();
        rig.press(2);
        QCOMPARE(rig.messages.shown, (QStringList{message, message}));
        QCOMPARE(rig.sent(), 0);
        QVERIFY(!rig.window.link().isPortOpen());
    }

    // Any index outside 0..4 opens and closes the port and does nothing else.
    void otherIndexDoesNothing_data()
    {
        QTest::addColumn<int>("index");
        for (int index : {-1, 5, 7})
            QTest::addRow("%d", index) << index;
    }
    void otherIndexDoesNothing()
    {
        QFETCH(int, index);
        Rig rig;
        bool closed = false;
        QObject::connect(&rig.window.link(), &hv52::Link::portClosed, [&] { closed = true; });
        rig.window.Command1_Click(index);
        QVERIFY(closed);
        QVERIFY(!rig.window.link().isPortOpen());
        QCOMPARE(rig.sent(), 0);
        QCOMPARE(rig.messages.shown, QStringList());
    }
};

QTEST_MAIN(T528Test)
#include "tst_t528.moc"
