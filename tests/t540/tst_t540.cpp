// cfg_t540 through its real window against a simulated T540: start-up, the
// 21-read poll, input-mode settings, counter resets and the continue question.
#include "frm_t540.h"
#include "toolbench.h"

#include <QSerialPort>

using namespace hv52test;
using hv52sim::Fault;
namespace regs = hv52sim::regs;

namespace {

using Rig = Bench<frm_T540, hv52sim::Module::T540>;

const QString kDone = QStringLiteral("召测数据，完成！");
const QString kSetOk = QStringLiteral("设置成功！");
const QString kSetFailed = QStringLiteral("设置失败！");
const QString kResetOk = QStringLiteral("复位成功!");
const QString kResetFailed = QStringLiteral("复位失败!");
constexpr int kSetting = 0; // input 1's mode button
constexpr int kReset = -1;

// The reason line of a write the continue question's Cancel kept back.
const QString kKeptBack = QStringLiteral("\n输入1 输入方式：已取消，未发送");

QString question(int failures)
{
    return QStringLiteral("通讯失败：%1次,继续吗？").arg(failures);
}

} // namespace

class T540Test : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startUp()
    {
        Rig rig;
        const frm_T540 &w = rig.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("HV52T540扩展模块"));
        for (int cell = 13; cell <= 33; ++cell)
            QVERIFY(rig.cell(cell).isEmpty());
        // The input-mode column is switched off; its lists start on their first entry.
        QVERIFY(w.Label1(4)->isHidden());
        for (int i = 0; i < 7; ++i) {
            QVERIFY(w.Combo1(i)->isHidden() && w.Command1(i)->isHidden());
            QCOMPARE(w.Combo1(i)->currentText(), QStringLiteral("带时标的ON/OFF输入"));
        }
        QCOMPARE(w.Combo2()->currentIndex(), 0);
        QVERIFY(w.Command1(7)->isVisible() && w.Command2()->isVisible());
        QCOMPARE(rig.sent(), 0);
        // The T540 window shows no module state before a poll: its lists are
        // commands to choose (input modes, reset), nothing is marked.
        QCOMPARE(rig.unread(), QStringList());
    }

    // A good poll, then one that cannot open the port (the device gone, or
    // held by another program): every cell of the poll before is marked as
    // not read in this one, until a good poll.
    void failedOpenMarksTheCells_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::newRow("device missing") << false;
        QTest::newRow("device busy") << true;
    }
    void failedOpenMarksTheCells()
    {
        QFETCH(bool, busy);
        Rig rig;
        rig.poll();
        std::unique_ptr<QSerialPort> holder;
        if (busy) {
            holder = std::make_unique<QSerialPort>(rig.port.linkPath());
            QVERIFY(holder->open(QIODevice::ReadWrite));
        } else {
            rig.port.sim.unplug();
        }
        rig.poll();
        QStringList cells;
        for (int cell = 13; cell <= 33; ++cell)
            cells << QStringLiteral("L%1").arg(cell);
        QCOMPARE(rig.unread(), cells);
        QCOMPARE(rig.cell(13), QStringLiteral("70000"));
        holder.reset();
        if (!busy)
            QVERIFY(rig.port.sim.replug());
        rig.poll();
        QCOMPARE(rig.unread(), QStringList());
    }

    // Good, silent, good again: the 21 reads in order, failure texts and marks.
    void poll()
    {
        Rig rig;
        rig.poll();
        // Count (2 registers), state (1), ON time (2) per input.
        QStringList frames;
        for (int n = 0; n < 7; ++n)
            frames << readFrame(regs::inputCount(n), 2) << readFrame(regs::inputState(n), 1)
                   << readFrame(regs::inputOnTime(n), 2);
        QCOMPARE(rig.requests(), frames);
        QCOMPARE(frames.at(0), QStringLiteral("01 03 0E 40 00 02 C7 37"));
        QCOMPARE(frames.at(1), QStringLiteral("01 03 0E 42 00 01 26 F6"));
        QCOMPARE(frames.at(20), QStringLiteral("01 03 0E 6A 00 02 E6 FF"));
        QCOMPARE(rig.messages.shown, QStringList{kDone});
        QCOMPARE(rig.marks(), QStringList());

        rig.messages.clear();
        rig.port.sim.setFault(Fault::Silent);
        rig.poll();
        QStringList marks;
        for (int cell = 13; cell <= 33; ++cell) {
            QCOMPARE(rig.cell(cell), cell % 3 == 2 ? QStringLiteral("OFF") : QStringLiteral("0"));
            marks << QStringLiteral("L%1").arg(cell);
        }
        QCOMPARE(rig.marks(), marks);
        QCOMPARE(
            rig.messages.shown,
            QStringList{kDone + QStringLiteral("\n21 次读取中有 21 次失败。\n超时无应答 21 次\n") + silenceHint()});

        rig.messages.clear();
        rig.port.sim.setFault(Fault::None, 0);
        rig.poll();
        QCOMPARE(rig.marks(), QStringList());
        QCOMPARE(rig.messages.shown, QStringList{kDone});
    }

    void conversions_data()
    {
        QTest::addColumn<QVector<Reg>>("regs");
        QTest::addColumn<int>("cell");
        QTest::addColumn<QString>("shown");
        using R = QVector<Reg>;
        QTest::newRow("ON time 0000 04D2") << R{r16(0x0E5E, 0), r16(0x0E5F, 0x04D2)} << 15 << "123.4";
        QTest::newRow("ON time 0001 0000") << R{r16(0x0E6A, 1), r16(0x0E6B, 0)} << 33 << "6553.6";
        QTest::newRow("ON time 0") << R{r32(0x0E66, 0)} << 27 << "0";
        QTest::newRow("count 0001 0000") << R{r16(0x0E49, 1), r16(0x0E4A, 0)} << 22 << "65536";
        QTest::newRow("count FFFF FFFF") << R{r32(0x0E52, 0xFFFFFFFF)} << 31 << "4294967295";
        QTest::newRow("state 0x5050") << R{r16(0x0E42, 0x5050)} << 14 << "ON";
        QTest::newRow("state 0x5050, input 6") << R{r16(0x0E51, 0x5050)} << 29 << "ON";
        QTest::newRow("state 1") << R{r16(0x0E48, 1)} << 20 << "OFF";
        QTest::newRow("state 0x5051") << R{r16(0x0E4E, 0x5051)} << 26 << "OFF";
    }
    void conversions()
    {
        QFETCH(QVector<Reg>, regs);
        QFETCH(int, cell);
        QFETCH(QString, shown);
        Rig rig;
        rig.load(regs);
        rig.poll();
        QCOMPARE(rig.cell(cell), shown);
        QCOMPARE(rig.marks(), QStringList()); // a true zero is no failed read
    }

    void operation_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("message");
        using E = QList<Entry>;
        const QString noTimeStamp = QStringLiteral("不带时标的ON/OFF输入");
        QTest::newRow("input 1 mode 0") << E{{0, "带时标的ON/OFF输入"}} << 0 << writeFrame(0x0E8A, 0) << kSetOk;
        QTest::newRow("input 3 mode 1") << E{{2, noTimeStamp}} << 2 << "01 10 0E 8C 00 01 02 00 01 97 5C" << kSetOk;
        QTest::newRow("input 7 mode 1") << E{{6, noTimeStamp}} << 6 << writeFrame(0x0E90, 1) << kSetOk;
        for (int i = 0; i < 7; ++i) {
            QTest::addRow("reset input %d", i + 1)
                << E{{-1, QStringLiteral("数字量输入M-S%1计数器及ON持续时间").arg(i + 1)}} << kReset
                << writeFrame(0x0B00, quint16(0x6010 + i)) << kResetOk;
        }
        QTest::newRow("reset all inputs")
            << E{{-1, "所有数字量输入计数器及ON持续时间"}} << kReset << "01 10 0B 00 00 01 02 60 1F 75 58" << kResetOk;
        // No list entry, or no list at all: nothing is sent.
        QTest::newRow("typed mode") << E{{0, "ON/OFF"}} << 0 << QString()
                                    << "输入1的输入方式“ON/OFF”不是列表中的选项，设置未发送。";
        QTest::newRow("typed reset") << E{{-1, "x"}} << kReset << QString()
                                     << "复位项目“x”不是列表中的选项，复位命令未发送。";
        QTest::newRow("button 8") << E{} << 8 << QString() << "没有第8号设置按钮，设置未发送。";
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
        QVERIFY(!rig.window.link().isPortOpen());
    }

    // The cells keep the last poll's values until the operator polls again.
    void resetLeavesCells()
    {
        Rig rig;
        rig.port.sim.setRegister32(regs::inputOnTime(0), 1234);
        rig.poll();
        rig.press(kReset);
        QCOMPARE(rig.messages.last(), kResetOk);
        QCOMPARE(rig.cell(13), QStringLiteral("70000"));
        QCOMPARE(rig.cell(15), QStringLiteral("123.4"));
        rig.poll();
        QCOMPARE(rig.cell(13), QStringLiteral("0"));
        QCOMPARE(rig.cell(15), QStringLiteral("0"));
    }

    // Five failures, by writes or by a poll, make the next write ask first.
    void continueQuestion_data()
    {
        QTest::addColumn<bool>("failByPoll");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("settings failed, OK") << false << kSetting << true << kSetOk;
        QTest::newRow("settings failed, Cancel") << false << kSetting << false << kSetFailed + kKeptBack;
        QTest::newRow("poll failed, reset OK") << true << kReset << true << kResetOk;
        QTest::newRow("poll failed, reset Cancel")
            << true << kReset << false
            << kResetFailed + QStringLiteral("\n复位 数字量输入M-S1计数器及ON持续时间：已取消，未发送");
    }
    void continueQuestion()
    {
        QFETCH(bool, failByPoll);
        QFETCH(int, button);
        QFETCH(bool, answer);
        QFETCH(QString, shown);
        Rig rig;
        rig.port.sim.setFault(Fault::Silent, 5);
        if (failByPoll)
            rig.poll();
        for (int i = 0; !failByPoll && i < 5; ++i)
            rig.press(kSetting);
        QCOMPARE(rig.failures(), qint16(5));
        QVERIFY(!rig.messages.asked.contains(true));

        rig.messages.clear();
        rig.messages.answers = {answer};
        const int before = rig.sent();
        rig.press(button);
        QCOMPARE(rig.messages.shown, (QStringList{question(5), shown}));
        QCOMPARE(rig.messages.asked, (QList<bool>{true, false}));
        QCOMPARE(rig.sent(), before + (answer ? 1 : 0));
    }

    // With OK every time, the question comes at 5 and 11 failures and each write goes out.
    void questionAtFiveAndEleven()
    {
        Rig rig;
        rig.port.sim.setFault(Fault::Silent);
        for (int i = 0; i < 12; ++i)
            rig.press(i % 2 ? kReset : kSetting);
        QCOMPARE(rig.sent(), 12);
        QStringList questions;
        for (int i = 0; i < rig.messages.shown.size(); ++i) {
            if (rig.messages.asked[i])
                questions << rig.messages.shown[i];
        }
        QCOMPARE(questions, (QStringList{question(5), question(11)}));
    }

    // After Cancel, writes stay refused through good polls; a failed read lifts it.
    void cancelHoldsUntilFailedRead()
    {
        Rig rig;
        rig.port.sim.setFault(Fault::Silent, 5);
        for (int i = 0; i < 5; ++i)
            rig.press(kReset);
        rig.messages.answers = {false};
        rig.press(kSetting);

        rig.messages.clear();
        rig.poll(); // every read answered
        const int afterPoll = rig.sent();
        rig.press(kSetting);
        rig.press(kReset);
        QCOMPARE(rig.sent(), afterPoll);
        QCOMPARE(
            rig.messages.shown,
            (QStringList{kDone, kSetFailed + kKeptBack,
                         kResetFailed + QStringLiteral("\n复位 数字量输入M-S1计数器及ON持续时间：已取消，未发送")}));
        QVERIFY(!rig.messages.asked.contains(true));

        rig.port.sim.setFault(Fault::Silent, 1);
        rig.poll();
        rig.messages.clear();
        const int before = rig.sent();
        rig.press(kSetting);
        QCOMPARE(rig.sent(), before + 1);
        QCOMPARE(rig.messages.shown, QStringList{kSetOk});
    }
};

QTEST_MAIN(T540Test)
#include "tst_t540.moc"
