// cfg_t516 through its real window against the simulated module: start-up,
// the 27-read poll, the set buttons and the reset, frame for frame.
#include "frm_t516.h"
#include "linemonitor.h"
#include "record.h"
#include "recordparts.h"
#include "toolbench.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

using namespace hv52test;
using hv52sim::Fault;
namespace regs = hv52sim::regs;

namespace {

using Rig = Bench<frm_T516, hv52sim::Module::T516>;

const QString kDone = QStringLiteral("召测数据，完成！");
const QString kSet = QStringLiteral("设置成功！");
const QString kReset = QStringLiteral("复位成功!");
const QList<int> kCells = {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 27, 28, 29};

// The 27 reads of a poll, in order.
QStringList pollFrames()
{
    QStringList f;
    for (int n = 0; n < 2; ++n)
        f << readFrame(regs::inputCount(n), 2) << readFrame(regs::inputState(n), 1)
          << readFrame(regs::inputOnTime(n), 2);
    for (int k = 0; k < 2; ++k)
        f << readFrame(regs::relayCount(k), 2) << readFrame(regs::relayState(k), 1)
          << readFrame(regs::relayCommand(k), 1);
    for (const auto reg : {regs::analogValue, regs::analogSignal, regs::analogSource}) {
        for (int k = 0; k < 3; ++k)
            f << readFrame(reg(k), 1);
    }
    for (int k = 0; k < 3; ++k)
        f << readFrame(regs::analogLower(k), 1) << readFrame(regs::analogUpper(k), 1);
    return f;
}

// Every control a T516 poll fills, as Bench::unread() lists them.
QStringList pollControls()
{
    QStringList out;
    for (int i : kCells)
        out << QStringLiteral("L%1").arg(i);
    for (int i = 2; i <= 15; ++i)
        out << QStringLiteral("C%1").arg(i);
    return out;
}

// The refusal of a set button whose control shows a start-up value.
QString neverPolled(const char *control, const char *action = "选择")
{
    return QStringLiteral("%1：显示的值不是从模块读到的（尚未召测），设置未发送。请先召测，或在该框中%2一个值。")
        .arg(QString::fromUtf8(control), QString::fromUtf8(action));
}

// The four writes of analog output k: type, source, lower, upper.
QStringList analog(int k, QList<int> values)
{
    QStringList f;
    for (int i = 0; i < 4; ++i)
        f << writeFrame(quint16(regs::analogSignal(k) + i), quint16(values[i]));
    return f;
}

// The module's own value of a point, as the simulator holds it.
quint32 moduleValue(const hv52sim::Simulator &sim, const hv52::Point &point)
{
    if (!point.pair)
        return sim.reg(point.address);
    return quint32(sim.reg(point.address)) << 16 | sim.reg(quint16(point.address + 1));
}

// Saves the window's commissioning record through its context menu entry,
// the save dialog answered with `path`. Returns the name the dialog offered.
QString saveThroughMenu(Rig &rig, const QString &path)
{
    QString offered;
    rig.window.setRecordFileChooser([&offered, path](const QString &suggested) {
        offered = suggested;
        return path;
    });
    rig.window.saveRecordAction()->trigger();
    return offered;
}

// The record's one module, as the JSON file has it; empty when the file
// is not JSON with one module.
QJsonObject savedMeter(const QString &path, QJsonObject *root = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject top = QJsonDocument::fromJson(file.readAll()).object();
    if (root)
        *root = top;
    const QJsonArray meters = top.value(QStringLiteral("meters")).toArray();
    return meters.size() == 1 ? meters.first().toObject() : QJsonObject();
}

// A write of the record as "key=written text:outcome[:reason]".
QString writeLine(const hv52::WrittenValue &w)
{
    QString line = QStringLiteral("%1=%2:%3").arg(w.key, w.writtenText, hv52::outcomeKey(w.outcome));
    if (!w.reason.isEmpty())
        line += u':' + w.reason;
    return line;
}

} // namespace

class T516Test : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void startUp()
    {
        Rig rig;
        const frm_T516 &w = rig.window;
        QCOMPARE(w.windowTitle(), QStringLiteral("HV52T516扩展模块"));
        for (int i : kCells)
            QVERIFY(rig.cell(i).isEmpty());
        for (int i = -1; i <= 9; ++i)
            QCOMPARE(rig.box(i)->currentIndex(), 0);
        for (int i = 10; i <= 15; ++i)
            QCOMPARE(w.Combo1(i)->currentText(), QStringLiteral("0"));
        // The input-mode column is switched off.
        QVERIFY(w.Label1(4)->isHidden() && w.Combo1(0)->isHidden() && w.Command1(1)->isHidden());
        QVERIFY(w.Command1(2)->isVisible() && w.Command1(7)->isVisible());
        QCOMPARE(rig.sent(), 0);
        // The relay and analog lists and the limits show no module state
        // yet: marked, the reset list not.
        QStringList startValues;
        for (int i = 2; i <= 15; ++i)
            startValues << QStringLiteral("C%1").arg(i);
        QCOMPARE(rig.unread(), startValues);
        QCOMPARE(rig.marks(), QStringList());
        QCOMPARE(hv52::ControlMarks::markOf(w.Combo2()), hv52::Mark::None);
        QCOMPARE(w.Combo1(3)->toolTip(), QStringLiteral("尚未召测：这里显示的是初始内容，不是模块中的值。"));

        // A typed text is no list entry, and Enter adds none.
        for (int combo : {-1, 2, 7}) {
            QComboBox *box = rig.box(combo);
            const int count = box->count();
            rig.choose({combo, QStringLiteral("手动")});
            QTest::keyClick(box->lineEdit(), Qt::Key_Return);
            QCOMPARE(box->currentIndex(), -1);
            QCOMPARE(box->currentText(), QStringLiteral("手动"));
            QCOMPARE(box->count(), count);
        }
    }

    // Good, silent, good again: failure texts and marks come and go.
    void marksFollowEachPoll()
    {
        Rig rig;
        const QString cellStyle = rig.window.Label1(13)->styleSheet();
        rig.poll();
        QCOMPARE(rig.requests(), pollFrames());
        QCOMPARE(rig.messages.shown, QStringList{kDone});
        QCOMPARE(rig.marks(), QStringList());
        QCOMPARE(rig.unread(), QStringList());
        const QString limitStyle = rig.window.Combo1(10)->styleSheet();

        rig.messages.clear();
        rig.port.sim.setFault(Fault::Silent);
        rig.poll();
        const QStringList cells = {"0", "OFF", "0", "0", "OFF", "0", "0", "恢复", "0", "恢复", "0", "0", "0"};
        for (int i = 0; i < kCells.size(); ++i)
            QCOMPARE(rig.cell(kCells[i]), cells[i]);
        for (int i = 2; i <= 15; ++i) {
            const QString text = i <= 3 ? QStringLiteral("报警输出") : i <= 9 ? rig.box(i)->itemText(0) : "0";
            QCOMPARE(rig.box(i)->currentText(), text);
        }
        QStringList marks;
        for (int i : kCells)
            marks << QStringLiteral("L%1").arg(i);
        for (int i = 2; i <= 15; ++i)
            marks << QStringLiteral("C%1").arg(i);
        QCOMPARE(rig.marks(), marks);
        QCOMPARE(
            rig.messages.shown,
            QStringList{kDone + QStringLiteral("\n27 次读取中有 27 次失败。\n超时无应答 27 次\n") + silenceHint()});

        rig.messages.clear();
        rig.port.sim.setFault(Fault::None, 0);
        rig.poll();
        QCOMPARE(rig.marks(), QStringList());
        QCOMPARE(rig.messages.shown, QStringList{kDone});
        QCOMPARE(rig.window.Label1(13)->styleSheet(), cellStyle);
        QCOMPARE(rig.window.Combo1(10)->styleSheet(), limitStyle);
    }

    void oneFailedReadMarksItsControl_data()
    {
        QTest::addColumn<int>("step"); // 1-based read left unanswered
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("marks");
        QTest::newRow("input 1 ON time") << 3 << "L15"
                                         << "0" << QStringList{"L15"};
        QTest::newRow("relay 1 state") << 8 << "L20"
                                       << "恢复" << QStringList{"L20"};
        // The limits of that output are shown in the unit of a source that
        // was not read: they carry the failure mark too.
        QTest::newRow("output 2 source") << 20 << "C8"
                                         << "平均电流" << QStringList{"C8", "C11", "C14"};
        QTest::newRow("output 3 upper limit") << 27 << "C15"
                                              << "0" << QStringList{"C15"};
    }
    void oneFailedReadMarksItsControl()
    {
        QFETCH(int, step);
        QFETCH(QString, target);
        QFETCH(QString, text);
        QFETCH(QStringList, marks);
        Rig rig;
        rig.failRequest(step);
        rig.poll();
        QCOMPARE(rig.shown(target), text);
        QCOMPARE(rig.marks(), marks);
        QCOMPARE(rig.messages.shown,
                 QStringList{kDone + QStringLiteral("\n27 次读取中有 1 次失败。\n超时无应答 1 次")});
    }

    // A poll that went wrong, then what the operator does next: nothing is
    // written that the operator did not choose or that was not read back.
    void afterAPoll_data()
    {
        QTest::addColumn<int>("failStep"); // read whose answer is broken; -1 all, 0 none
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("endsEarly"); // output 1's signal type reads back as 2
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<int>("button");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("message");
        using E = QList<Entry>;
        const int silent = int(Fault::Silent), badCrc = int(Fault::BadCrc);
        const auto failed = [](const char *control, const char *action) {
            return QStringLiteral(
                       "%1：显示的值来自一次失败的读取，不是模块中的值，设置未发送。请重新召测，或在该框中%2一个值。")
                .arg(QString::fromUtf8(control), QString::fromUtf8(action));
        };
        const auto notRead = [](const char *control) {
            return QStringLiteral(
                       "%1：显示的值不是本次召测读到的（召测提前结束），设置未发送。请重新召测，或在该框中选择一个值。")
                .arg(QString::fromUtf8(control));
        };
        const QString unitUnknown =
            QStringLiteral("输出1 下限参数值：显示的值按一次读取失败的参数选择换算，单位不可信，"
                           "设置未发送。请重新召测，或在该框中输入一个值。");

        QTest::newRow("dead line, relay 1")
            << -1 << silent << false << E{} << 2 << QStringList() << failed("继电器1 控制方式", "选择");
        QTest::newRow("dead line, relay 1 chosen") << -1 << silent << false << E{{2, "控制继电器恢复"}} << 2
                                                   << QStringList{writeFrame(0x0E80, 0x3030)} << kSet;
        QTest::newRow("dead line, output 2")
            << -1 << silent << false << E{} << 6 << QStringList() << failed("输出2 信号类型", "选择");
        QTest::newRow("dead line, reset still goes")
            << -1 << silent << false << E{} << -1 << QStringList{writeFrame(0x0B00, 0x6003)} << kReset;
        QTest::newRow("relay 2 command lost")
            << 12 << badCrc << false << E{} << 3 << QStringList() << failed("继电器2 控制方式", "选择");
        QTest::newRow("relay 2 command lost, relay 1 fine")
            << 12 << badCrc << false << E{} << 2 << QStringList{writeFrame(0x0E80, 0x5050)} << kSet;
        QTest::newRow("source lost") << 19 << badCrc << false << E{} << 5 << QStringList()
                                     << failed("输出1 参数选择", "选择");
        QTest::newRow("source lost, source chosen")
            << 19 << badCrc << false << E{{7, "A相电流"}} << 5 << QStringList() << unitUnknown;
        QTest::newRow("source lost, source chosen, limits typed")
            << 19 << badCrc << false << E{{7, "A相电流"}, {10, "4"}, {13, "20"}} << 5 << analog(0, {0, 1, 4000, 20000})
            << kSet;
        QTest::newRow("source lost, output 2 fine")
            << 19 << badCrc << false << E{} << 6 << analog(1, {0, 2, 0, 10000}) << kSet;
        QTest::newRow("ended early, output 3")
            << 0 << silent << true << E{} << 7 << QStringList() << notRead("输出3 信号类型");
        QTest::newRow("ended early, relay 1 was read")
            << 0 << silent << true << E{} << 2 << QStringList{writeFrame(0x0E80, 0x5050)} << kSet;

        // Typed text selects no entry, however it matches: a prefix and
        // focus moving on (a completer would have finished it) or the whole
        // text of an entry.
        QTest::newRow("reset, typed prefix") << 0 << silent << false << E{{-1, "数", true}} << -1 << QStringList()
                                             << "复位项目“数”不是列表中的选项，复位命令未发送。";
        QTest::newRow("reset, typed prefix 所") << 0 << silent << false << E{{-1, "所", true}} << -1 << QStringList()
                                                << "复位项目“所”不是列表中的选项，复位命令未发送。";
        QTest::newRow("reset, whole entry typed")
            << 0 << silent << false << E{{-1, "所有继电器输出计数器", true}} << -1 << QStringList()
            << "复位项目“所有继电器输出计数器”不是列表中的选项，复位命令未发送。";
        QTest::newRow("relay, typed prefix") << 0 << silent << false << E{{2, "控", true}} << 2 << QStringList()
                                             << "继电器1 控制方式“控”不是控制方式（应为报警输出、上位机控制、"
                                                "控制继电器动作、控制继电器恢复），设置未发送。";
        QTest::newRow("source, typed prefix") << 0 << silent << false << E{{9, "频", true}} << 7 << QStringList()
                                              << "输出3参数选择“频”不是列表中的选项，设置未发送。";
        QTest::newRow("signal type, typed prefix") << 0 << silent << false << E{{4, "0", true}} << 5 << QStringList()
                                                   << "输出1信号类型“0”不是列表中的选项，设置未发送。";
    }
    void afterAPoll()
    {
        QFETCH(int, failStep);
        QFETCH(int, fault);
        QFETCH(bool, endsEarly);
        QFETCH(QList<Entry>, entries);
        QFETCH(int, button);
        QFETCH(QStringList, frames);
        QFETCH(QString, message);
        Rig rig;
        if (failStep < 0)
            rig.port.sim.setFault(Fault(fault));
        else if (failStep > 0)
            rig.failRequest(failStep, Fault(fault));
        if (endsEarly)
            rig.port.sim.setRegister(regs::analogSignal(0), 2);
        rig.poll();
        rig.port.sim.setFault(Fault::None, 0);
        rig.port.sim.onFrame({});
        rig.port.sim.clearLog();
        rig.messages.clear();

        rig.operate(entries, button);
        QCOMPARE(rig.requests(), frames);
        QCOMPARE(rig.messages.shown, QStringList{message});
    }

    // A fresh window, no poll: a set button whose controls still show their
    // start-up values sends nothing and names the control; choosing or
    // typing a value takes the mark off, and the next press sends it. The
    // reset list is a command, not module state: it goes at once.
    void freshWindowSendsOnlyChosenValues_data()
    {
        QTest::addColumn<QList<Entry>>("first");
        QTest::addColumn<int>("button");
        QTest::addColumn<QStringList>("firstFrames");
        QTest::addColumn<QString>("firstMessage");
        QTest::addColumn<QList<Entry>>("then");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("message");
        using E = QList<Entry>;
        const QString typeA = QStringLiteral("4-20 mA"), typeV = QStringLiteral("0- 5 V");
        QTest::newRow("relay 1, then chosen")
            << E{} << 2 << QStringList() << neverPolled("继电器1 控制方式") << E{{2, "控制继电器动作"}}
            << QStringList{writeFrame(0x0E80, 0x5050)} << kSet;
        QTest::newRow("relay 2, then typed")
            << E{} << 3 << QStringList() << neverPolled("继电器2 控制方式") << E{{3, "上位机控制", true}}
            << QStringList{writeFrame(0x0E81, 1)} << kSet;
        QTest::newRow("relay 2 chosen, relay 1 still refused")
            << E{{3, "控制继电器恢复"}} << 2 << QStringList() << neverPolled("继电器1 控制方式")
            << E{{2, "控制继电器恢复"}} << QStringList{writeFrame(0x0E80, 0x3030)} << kSet;
        QTest::newRow("output 1, then the whole row")
            << E{} << 5 << QStringList() << neverPolled("输出1 信号类型")
            << E{{4, typeA}, {7, "A相电流"}, {10, "0"}, {13, "10"}} << analog(0, {0, 1, 0, 10000}) << kSet;
        QTest::newRow("output 1, signal type only")
            << E{{4, typeV}} << 5 << QStringList() << neverPolled("输出1 参数选择")
            << E{{7, "频率"}, {10, "45"}, {13, "55"}} << analog(0, {1, 28, 4500, 5500}) << kSet;
        QTest::newRow("output 2, limits left")
            << E{{5, typeA}, {8, "频率"}} << 6 << QStringList() << neverPolled("输出2 下限参数值", "输入")
            << E{{11, "45"}, {14, "55"}} << analog(1, {0, 28, 4500, 5500}) << kSet;
        QTest::newRow("output 3, upper left")
            << E{{6, typeA}, {9, "频率"}, {12, "45"}} << 7 << QStringList() << neverPolled("输出3 上限参数值", "输入")
            << E{{15, "0"}} << analog(2, {0, 28, 4500, 0}) << kSet;
        QTest::newRow("reset goes at once") << E{} << -1 << QStringList{writeFrame(0x0B00, 0x6003)} << kReset << E{}
                                            << QStringList{writeFrame(0x0B00, 0x6003)} << kReset;
    }
    void freshWindowSendsOnlyChosenValues()
    {
        QFETCH(QList<Entry>, first);
        QFETCH(int, button);
        QFETCH(QStringList, firstFrames);
        QFETCH(QString, firstMessage);
        QFETCH(QList<Entry>, then);
        QFETCH(QStringList, frames);
        QFETCH(QString, message);
        Rig rig;
        rig.operate(first, button);
        QCOMPARE(rig.requests(), firstFrames);
        QCOMPARE(rig.messages.shown, QStringList{firstMessage});
        rig.port.sim.clearLog();
        rig.messages.clear();
        rig.operate(then, button);
        QCOMPARE(rig.requests(), frames);
        QCOMPARE(rig.messages.shown, QStringList{message});
    }

    // A good poll, then one that cannot open the port: nothing the window
    // shows comes from that poll, so every control is marked, a set button
    // refuses what it was not given anew, and a good poll takes the marks off.
    void failedOpenMarksWhatIsShown_data()
    {
        QTest::addColumn<QString>("device");
        QTest::newRow("device missing") << "missing";
        QTest::newRow("device busy") << "busy";
    }
    void failedOpenMarksWhatIsShown()
    {
        QFETCH(QString, device);
        Rig rig;
        rig.port.sim.setRegister(regs::relayCommand(1), 0);
        rig.poll();
        QCOMPARE(rig.unread(), QStringList());
        std::unique_ptr<QSerialPort> holder;
        if (device == "missing") {
            rig.port.sim.unplug();
        } else {
            holder = std::make_unique<QSerialPort>(rig.port.linkPath());
            QVERIFY(holder->open(QIODevice::ReadWrite));
        }
        rig.messages.clear();
        rig.poll();
        QCOMPARE(rig.messages.shown.size(), 1);
        QVERIFY2(rig.messages.last().contains(QStringLiteral("COM1")), qPrintable(rig.messages.last()));
        QCOMPARE(rig.unread(), pollControls());
        QCOMPARE(rig.marks(), QStringList());
        // The values of the poll before are still there, marked.
        QCOMPARE(rig.cell(13), QStringLiteral("70000"));
        QCOMPARE(rig.shown("C3"), QStringLiteral("报警输出"));
        QCOMPARE(rig.window.Label1(13)->toolTip(),
                 QStringLiteral("本次召测未读到：串口未能打开，这里显示的是之前的内容。"));

        holder.reset();
        if (device == "missing")
            QVERIFY(rig.port.sim.replug());
        rig.port.sim.clearLog();
        rig.messages.clear();
        rig.press(3);
        QCOMPARE(rig.requests(), QStringList());
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("继电器2 控制方式：显示的值不是本次召测读到的（串口未能打开），设置未发送。"
                                            "请重新召测，或在该框中选择一个值。")});
        rig.operate({{3, QStringLiteral("控制继电器恢复")}}, 3);
        QCOMPARE(rig.requests(), QStringList{writeFrame(0x0E81, 0x3030)});
        rig.poll();
        QCOMPARE(rig.unread(), QStringList());
        QCOMPARE(rig.shown("C3"), QStringLiteral("控制继电器恢复"));
    }

    // A poll that ends early marks every control it did not reach, apart
    // from a failed read; the next full poll takes the marks off.
    void earlyEndMarksWhatWasNotReached()
    {
        Rig rig;
        rig.port.sim.setRegister(regs::analogSignal(1), 2);
        rig.poll();
        QStringList unread{"C5", "C6"};
        for (int i = 7; i <= 15; ++i)
            unread << QStringLiteral("C%1").arg(i);
        // The order of the poll: signal types 2 and 3, sources, limits.
        std::sort(unread.begin(), unread.end(),
                  [](const QString &a, const QString &b) { return a.mid(1).toInt() < b.mid(1).toInt(); });
        QCOMPARE(rig.unread(), unread);
        QCOMPARE(rig.marks(), QStringList());
        QCOMPARE(rig.window.Combo1(5)->toolTip(),
                 QStringLiteral("本次召测未读到：召测提前结束，这里显示的是之前的内容。"));

        rig.port.sim.setRegister(regs::analogSignal(1), 1);
        rig.poll();
        QCOMPARE(rig.unread(), QStringList());
        QCOMPARE(rig.window.Combo1(5)->currentText(), QStringLiteral("0- 5 V"));
    }

    // An answer that comes after its read timed out, of the same shape as
    // the next read's, is not taken for that read's answer.
    void lateAnswerIsNotTheNextOne_data()
    {
        QTest::addColumn<int>("step"); // the slow read; the next has the same shape
        QTest::addColumn<QString>("late");
        QTest::addColumn<QString>("next");
        QTest::addColumn<QString>("shown");
        QTest::newRow("output 1 value, then output 2's") << 13 << "L27"
                                                         << "L28"
                                                         << "16";
        QTest::newRow("input 1 ON time, then input 2's count") << 3 << "L15"
                                                               << "L16"
                                                               << "1234";
        QTest::newRow("lower limit, then upper") << 22 << "C10"
                                                 << "C13"
                                                 << "10";
    }
    void lateAnswerIsNotTheNextOne()
    {
        QFETCH(int, step);
        QFETCH(QString, late);
        QFETCH(QString, next);
        QFETCH(QString, shown);
        Rig rig;
        // Lands 30 ms after its timeout, while the next read would wait.
        rig.port.sim.setSlowMs(kShortTimeoutMs + 30);
        rig.failRequest(step, Fault::Slow);
        rig.poll();
        QCOMPARE(rig.marks(), QStringList{late});
        QCOMPARE(rig.shown(next), shown);
        // The reads after the failed one are confirmed: each read again at
        // least once while its late answer may still come, three requests
        // at most. (Fewer once it can no longer come, more where two
        // registers hold equal values and one answer might be the other's.)
        const int after = 27 - step - 1;
        QVERIFY2(rig.sent() > 27 && rig.sent() <= step + 1 + 3 * after, qPrintable(QString::number(rig.sent())));
        // The answer heard after its time names the read: it came late.
        QCOMPARE(rig.messages.shown, QStringList{kDone + QStringLiteral("\n27 次读取中有 1 次失败。\n应答迟到 1 次")});
    }

    // Esc ends a poll at once, sends nothing more and says how far it got
    // and why the reads so far failed; also while the operator looks at the
    // line monitor. A setting is not stopped by it.
    void escapeStopsAPoll_data()
    {
        QTest::addColumn<int>("answered"); // reads answered before the line goes dead
        QTest::addColumn<int>("stopAt");   // Esc while this read (1-based) waits
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<bool>("monitor"); // Esc in the line monitor, which has the focus
        QTest::addColumn<QString>("message");
        const int real = hv52::Link::kResponseTimeoutMs;
        QTest::newRow("dead from the start") << 0 << 1 << real << false << "召测已中止：27 次读取中已完成 0 次。";
        QTest::newRow("dead after two reads") << 2 << 3 << real << false << "召测已中止：27 次读取中已完成 2 次。";
        QTest::newRow("two reads unanswered")
            << 0 << 3 << kShortTimeoutMs << false << "召测已中止：27 次读取中已完成 2 次（超时无应答 2 次）。";
        QTest::newRow("in the monitor, dead after two reads")
            << 2 << 3 << real << true << "召测已中止：27 次读取中已完成 2 次。";
        QTest::newRow("in the monitor, two reads unanswered")
            << 0 << 3 << kShortTimeoutMs << true << "召测已中止：27 次读取中已完成 2 次（超时无应答 2 次）。";
    }
    void escapeStopsAPoll()
    {
        QFETCH(int, answered);
        QFETCH(int, stopAt);
        QFETCH(int, timeoutMs);
        QFETCH(bool, monitor);
        QFETCH(QString, message);
        Rig rig(timeoutMs);
        int requests = 0;
        rig.port.sim.onFrame([&](const hv52sim::Frame &f) {
            if (f.fromMaster && ++requests == answered + 1)
                rig.port.sim.setFault(Fault::Silent);
        });
        QWidget *focus = &rig.window;
        if (monitor) {
            hv52::LineMonitorWindow *shown = hv52::LineMonitor::of(&rig.window)->open();
            QVERIFY(QTest::qWaitForWindowActive(shown));
            shown->table()->setFocus();
            focus = shown->table();
        }
        // Esc once the read `stopAt` is out and waits for its answer.
        int sent = 0;
        connect(&rig.window.link(), &hv52::Link::requestSent, &rig.window, [&] {
            if (++sent == stopAt)
                QTimer::singleShot(0, focus, [focus] { QTest::keyClick(focus, Qt::Key_Escape); });
        });
        rig.poll();
        QTest::qWait(100);
        rig.port.sim.onFrame({});
        QCOMPARE(rig.sent(), stopAt);
        QCOMPARE(rig.messages.shown, QStringList{message});
        QVERIFY(!rig.window.link().isPortOpen());
        QCOMPARE(rig.unread().size(), 27 - (stopAt - 1));
        QCOMPARE(rig.marks().size(), stopAt - 1 - answered);
        if (answered > 0)
            QCOMPARE(rig.cell(13), QStringLiteral("70000"));

        // The next poll runs in full.
        rig.port.sim.setFault(Fault::None, 0);
        rig.messages.clear();
        rig.poll();
        QCOMPARE(rig.messages.shown, QStringList{kDone});
        QCOMPARE(rig.unread(), QStringList());
    }

    void escapeDoesNotStopASetting()
    {
        Rig rig;
        rig.port.sim.setFault(Fault::Silent);
        for (const Entry &e : QList<Entry>{{4, "4-20 mA"}, {7, "平均电流"}, {10, "0"}, {13, "0"}})
            rig.choose(e);
        QTimer::singleShot(50, &rig.window, [&] { QTest::keyClick(&rig.window, Qt::Key_Escape); });
        rig.press(5);
        QCOMPARE(rig.sent(), 4);
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("设置失败！\n输出1 信号类型：超时无应答\n") + silenceHint()});
    }

    // Why a poll's reads failed, counted by reason; an exception answer ends
    // its read at once.
    void reasonsOfAPoll()
    {
        Rig rig(hv52::Link::kResponseTimeoutMs);
        int requests = 0;
        rig.port.sim.onFrame([&](const hv52sim::Frame &f) {
            if (!f.fromMaster)
                return;
            ++requests;
            if (requests == 2 || requests == 5)
                rig.port.sim.setFault(Fault::Exception, 1);
            else if (requests == 7)
                rig.port.sim.setFault(Fault::BadCrc, 1);
        });
        qint64 longestUs = 0;
        connect(&rig.window.link(), &hv52::Link::exchanged, this,
                [&](const hv52::ExchangeRecord &r) { longestUs = std::max(longestUs, r.elapsedUs); });
        rig.poll();
        rig.port.sim.onFrame({});
        // Three failures, none of which waited out the 1000 ms.
        QVERIFY2(longestUs < 1000 * 1000, qPrintable(QString::number(longestUs)));
        QCOMPARE(rig.messages.shown,
                 QStringList{kDone + QStringLiteral("\n27 次读取中有 3 次失败。\n异常应答 2 次，校验错误 1 次")});
        QCOMPARE(rig.window.Label1(14)->toolTip(),
                 QStringLiteral("读取失败（异常应答 04：从站设备故障）：这里显示的不是读回的值。"));
    }

    void display_data()
    {
        QTest::addColumn<QVector<Reg>>("regs");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("text");
        using R = QVector<Reg>;
        QTest::newRow("input count 70000") << R{r32(regs::inputCount(0), 70000)} << "L13"
                                           << "70000";
        QTest::newRow("input count, no sign") << R{r32(regs::inputCount(1), 0xFFFFFFFF)} << "L16"
                                              << "4294967295";
        QTest::newRow("relay count, no sign") << R{r32(regs::relayCount(1), 0xFFFFFFFF)} << "L21"
                                              << "4294967295";
        QTest::newRow("state 0x5050") << R{r16(regs::inputState(0), 0x5050)} << "L14"
                                      << "ON";
        QTest::newRow("state 1") << R{r16(regs::inputState(0), 1)} << "L14"
                                 << "OFF";
        QTest::newRow("state 0x5051") << R{r16(regs::inputState(1), 0x5051)} << "L17"
                                      << "OFF";
        QTest::newRow("relay state 0x3030") << R{r16(regs::relayState(0), 0x3030)} << "L20"
                                            << "恢复";
        QTest::newRow("ON time 7") << R{r32(regs::inputOnTime(0), 7)} << "L15"
                                   << "0.7";
        QTest::newRow("value 1234") << R{r16(regs::analogValue(0), 1234)} << "L27"
                                    << "12.34";
        QTest::newRow("value 2000") << R{r16(regs::analogValue(0), 2000)} << "L27"
                                    << "20";
        QTest::newRow("command 0x3030") << R{r16(regs::relayCommand(0), 0x3030)} << "C2"
                                        << "控制继电器恢复";
        QTest::newRow("command 1") << R{r16(regs::relayCommand(0), 1)} << "C2"
                                   << "上位机控制";
        QTest::newRow("command 7, no text") << R{r16(regs::relayCommand(1), 7)} << "C3"
                                            << "7";
        QTest::newRow("signal type 1") << R{r16(regs::analogSignal(1), 1)} << "C5"
                                       << "0- 5 V";
        QTest::newRow("source 29") << R{r16(regs::analogSource(2), 29)} << "C9"
                                   << "关闭报警";
        QTest::newRow("code 28, lower 4500")
            << R{r16(regs::analogSource(1), 28), r16(regs::analogLower(1), 4500)} << "C11"
            << "45";
        QTest::newRow("code 24, lower 500")
            << R{r16(regs::analogSource(1), 24), r16(regs::analogLower(1), 500)} << "C11"
            << "0.5";
        QTest::newRow("code 5, upper 2200")
            << R{r16(regs::analogSource(0), 5), r16(regs::analogUpper(0), 2200)} << "C13"
            << "220";
        QTest::newRow("code 12, upper 3000")
            << R{r16(regs::analogSource(2), 12), r16(regs::analogUpper(2), 3000)} << "C15"
            << "300";
        QTest::newRow("code 13, upper 3000")
            << R{r16(regs::analogSource(2), 13), r16(regs::analogUpper(2), 3000)} << "C15"
            << "3000";
    }
    void display()
    {
        QFETCH(QVector<Reg>, regs);
        QFETCH(QString, target);
        QFETCH(QString, text);
        Rig rig;
        rig.load(regs);
        rig.poll();
        QCOMPARE(rig.shown(target), text);
        QCOMPARE(rig.marks(), QStringList());
    }

    void noListPositionEndsPoll_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("message");
        QTest::newRow("signal type 2") << int(regs::analogSignal(0)) << 2 << 16
                                       << "读回的输出1信号类型 2 不是列表中的选项（应为 0～1），召测中止。";
        QTest::newRow("source 30") << int(regs::analogSource(2)) << 30 << 21
                                   << "读回的输出3参数选择 30 不是列表中的选项（应为 0～29），召测中止。";
    }
    void noListPositionEndsPoll()
    {
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(int, sent);
        QFETCH(QString, message);
        Rig rig;
        rig.port.sim.setRegister(quint16(reg), quint16(value));
        rig.window.Combo1(9)->setCurrentIndex(5);
        for (int i = 10; i <= 15; ++i)
            rig.window.Combo1(i)->setEditText(QStringLiteral("old"));
        rig.poll();
        QCOMPARE(rig.sent(), sent);
        QCOMPARE(rig.messages.shown, QStringList{message});
        // Filled before the stop; the last source list and the limits not.
        QCOMPARE(rig.cell(13), QStringLiteral("70000"));
        QCOMPARE(rig.window.Combo1(2)->currentText(), QStringLiteral("控制继电器动作"));
        QCOMPARE(rig.cell(29), QStringLiteral("20"));
        QCOMPARE(rig.window.Combo1(9)->currentIndex(), 5);
        for (int i = 10; i <= 15; ++i)
            QCOMPARE(rig.window.Combo1(i)->currentText(), QStringLiteral("old"));
    }

    // What the operator puts in the lists, the button, the frames sent, the message.
    void operation_data()
    {
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<int>("button"); // -1: reset
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("message");
        using E = QList<Entry>;
        const QString typeA = QStringLiteral("4-20 mA"), typeV = QStringLiteral("0- 5 V");

        QTest::newRow("relay 1 operate") << E{{2, "控制继电器动作"}} << 2
                                         << QStringList{"01 10 0E 80 00 01 02 50 50 6A 6C"} << kSet;
        QTest::newRow("relay 2 restore") << E{{3, "控制继电器恢复"}} << 3
                                         << QStringList{"01 10 0E 81 00 01 02 30 30 43 95"} << kSet;
        QTest::newRow("relay typed host control")
            << E{{2, "上位机控制"}} << 2 << QStringList{writeFrame(0x0E80, 1)} << kSet;
        QTest::newRow("relay host control and a blank")
            << E{{2, "上位机控制 "}} << 2 << QStringList()
            << "继电器1 控制方式“上位机控制 "
               "”不是控制方式（应为报警输出、上位机控制、控制继电器动作、控制继电器恢复），设置未发送。";
        QTest::newRow("input 1 with time stamp")
            << E{{0, "带时标的ON/OFF输入"}} << 0 << QStringList{"01 10 0E 8A 00 01 02 00 00 56 FA"} << kSet;
        QTest::newRow("input 2 without time stamp")
            << E{{1, "不带时标的ON/OFF输入"}} << 1 << QStringList{writeFrame(0x0E8B, 1)} << kSet;
        QTest::newRow("input 2 typed mode")
            << E{{1, "ON/OFF"}} << 1 << QStringList() << "输入2的输入方式“ON/OFF”不是列表中的选项，设置未发送。";

        QTest::newRow("output 1 current")
            << E{{4, typeA}, {7, "A相电流"}, {10, "0"}, {13, "5"}} << 5 << analog(0, {0, 1, 0, 5000}) << kSet;
        QTest::newRow("output 2 frequency")
            << E{{5, typeV}, {8, "频率"}, {11, "45"}, {14, "55"}} << 6 << analog(1, {1, 28, 4500, 5500}) << kSet;
        // The whole row of output k as the operator fills it in a fresh
        // window: each of its four controls chosen or typed.
        const auto row = [&](int k, const QString &type, const char *source, const char *lower, const char *upper) {
            return E{{4 + k, type}, {7 + k, source}, {10 + k, lower}, {13 + k, upper}};
        };
        QTest::newRow("output 3 code 12")
            << row(2, typeA, "总有功功率", "0", "300") << 7 << analog(2, {0, 12, 0, 3000}) << kSet;
        QTest::newRow("output 3 code 13")
            << row(2, typeA, "A相有功功率", "0", "300") << 7 << analog(2, {0, 13, 0, 300}) << kSet;
        QTest::newRow("halves to even") << row(0, typeA, "A相有功功率", "2.5", "3.5") << 5 << analog(0, {0, 13, 2, 4})
                                        << kSet;
        QTest::newRow("voltage") << row(1, typeA, "AB线电压", "0", "220") << 6 << analog(1, {0, 9, 0, 2200}) << kSet;
        QTest::newRow("power factor") << row(2, typeA, "C相功率因数", "0.5", "1") << 7 << analog(2, {0, 27, 500, 1000})
                                      << kSet;
        // A bad row sends nothing, not even the good values before it.
        QTest::newRow("empty lower") << row(0, typeA, "A相电流", "", "5") << 5 << QStringList()
                                     << "输出1下限参数值为空，设置未发送。";
        QTest::newRow("letters") << row(0, typeA, "A相电流", "abc", "5") << 5 << QStringList()
                                 << "输出1下限参数值“abc”不是数字，设置未发送。";
        QTest::newRow("negative power factor") << row(1, typeA, "总功率因数", "-0.5", "1") << 6 << QStringList()
                                               << "输出2下限参数值 -0.5 × 1000 = -500 超出 0～65535，设置未发送。";
        QTest::newRow("70 for a current") << row(0, typeA, "A相电流", "0", "70") << 5 << QStringList()
                                          << "输出1上限参数值 70 × 1000 = 70000 超出 0～65535，设置未发送。";
        QTest::newRow("typed source") << row(2, typeA, "电流", "0", "1") << 7 << QStringList()
                                      << "输出3参数选择“电流”不是列表中的选项，设置未发送。";

        const QStringList resets = {"继电器输出M-R1计数器",
                                    "继电器输出M-R2计数器",
                                    "所有继电器输出计数器",
                                    "数字量输入M-S1计数器及ON持续时间",
                                    "数字量输入M-S2计数器及ON持续时间",
                                    "所有数字量输入计数器及ON持续时间"};
        const QStringList codes = {"01 10 0B 00 00 01 02 60 03 74 91", writeFrame(0x0B00, 0x6004),
                                   "01 10 0B 00 00 01 02 6F FF 71 20", writeFrame(0x0B00, 0x6010),
                                   writeFrame(0x0B00, 0x6011),         writeFrame(0x0B00, 0x601F)};
        for (int i = 0; i < resets.size(); ++i)
            QTest::newRow(qPrintable(resets[i])) << E{{-1, resets[i]}} << -1 << QStringList{codes[i]} << kReset;
        QTest::newRow("reset typed") << E{{-1, "全部"}} << -1 << QStringList()
                                     << "复位项目“全部”不是列表中的选项，复位命令未发送。";
    }
    void operation()
    {
        QFETCH(QList<Entry>, entries);
        QFETCH(int, button);
        QFETCH(QStringList, frames);
        QFETCH(QString, message);
        Rig rig;
        rig.operate(entries, button);
        QCOMPARE(rig.requests(), frames);
        QCOMPARE(rig.messages.shown, QStringList{message});
        QVERIFY(!rig.window.link().isPortOpen());
    }

    // Settings and resets show at the next poll, not before.
    void effectsShowAtNextPoll()
    {
        Rig rig;
        rig.port.sim.setRegister(regs::relayState(0), regs::off);
        rig.poll();
        QCOMPARE(rig.cell(19), QStringLiteral("1520"));
        rig.choose({2, QStringLiteral("控制继电器动作")});
        rig.press(2);
        rig.choose({-1, QStringLiteral("所有继电器输出计数器")});
        rig.press(-1);
        QCOMPARE(rig.messages.shown, (QStringList{kDone, kSet, kReset}));
        QCOMPARE(rig.cell(20), QStringLiteral("恢复"));
        QCOMPARE(rig.cell(19), QStringLiteral("1520"));
        rig.poll();
        QCOMPARE(rig.cell(20), QStringLiteral("动作"));
        QCOMPARE(rig.cell(19), QStringLiteral("0"));
        QCOMPARE(rig.cell(21), QStringLiteral("0"));
        QCOMPARE(rig.cell(13), QStringLiteral("70000"));
    }

    // What the operator does in sequence: a poll with one read lost, a relay
    // set, two lists changed on screen and never sent, then the commissioning
    // record saved as JSON from the context menu.
    void recordOfPollAndSet()
    {
        Rig rig;
        QTemporaryDir dir;
        rig.port.sim.setRegister(regs::relayCommand(1), regs::cmdRestore);
        rig.failRequest(3); // input 1 ON time goes unanswered
        rig.poll();
        rig.port.sim.onFrame({});
        QMap<QString, quint32> truth;
        for (const hv52::Point &point : rig.window.module().poll)
            truth.insert(point.key, moduleValue(rig.port.sim, point));

        const QDateTime pressed = QDateTime::currentDateTime();
        rig.operate({{2, QStringLiteral("控制继电器动作")}}, 2);
        const QDateTime answered = QDateTime::currentDateTime();
        rig.choose({3, QStringLiteral("上位机控制")});
        rig.choose({7, QStringLiteral("频率")});
        const QString path = dir.filePath(QStringLiteral("记录.json"));
        saveThroughMenu(rig, path);
        QCOMPARE(rig.messages.shown, (QStringList{kDone + QStringLiteral("\n27 次读取中有 1 次失败。\n超时无应答 1 次"),
                                                  kSet, QStringLiteral("调试记录已保存到 ") + path}));

        // The window's own account: the failed read has its reason and no
        // value; every other value is the module's, not what the lists show now.
        const hv52::WindowRecord &done = rig.window.operations();
        QVERIFY(done.hasPoll());
        QVERIFY(done.pollTime() <= pressed);
        QCOMPARE(done.poll().size(), 27);
        for (const hv52::Value &v : done.poll()) {
            if (v.point->key == QLatin1String("input1.on_time")) {
                QVERIFY(!v.ok);
                QCOMPARE(v.failure, QStringLiteral("超时无应答"));
            } else {
                QVERIFY2(v.ok, qPrintable(v.point->key));
                QCOMPARE(v.raw, truth.value(v.point->key));
            }
        }
        const hv52::Value &relay2 = done.poll()[11];
        QCOMPARE(relay2.point->key, QStringLiteral("relay2.command"));
        QCOMPARE(relay2.text, QStringLiteral("控制继电器恢复"));
        QCOMPARE(done.writes().size(), 1);
        const hv52::WrittenValue &set = done.writes().first();
        QCOMPARE(writeLine(set), QStringLiteral("relay1.command=控制继电器动作:acknowledged"));
        QCOMPARE(set.written, regs::cmdOperate);
        QVERIFY(set.time >= pressed && set.time <= answered);

        // The file says the same.
        QJsonObject root;
        const QJsonObject meter = savedMeter(path, &root);
        QVERIFY(!meter.isEmpty());
        QCOMPARE(root.value("tool").toString(), QStringLiteral("cfg_t516"));
        QCOMPARE(root.value("command").toString(), QStringLiteral("window"));
        QCOMPARE(root.value("line").toString(), QStringLiteral("COM1"));
        QCOMPARE(root.value("speed").toInt(), 9600);
        QVERIFY(!root.value("version").toString().isEmpty());
        QCOMPARE(meter.value("address").toInt(), 1);
        QCOMPARE(meter.value("result").toString(), QStringLiteral("read_failed"));
        const QJsonObject before = meter.value("before").toObject();
        const QJsonObject values = before.value("values").toObject();
        const QJsonObject failures = before.value("failures").toObject();
        QCOMPARE(failures.keys(), QStringList{"input1.on_time"});
        QCOMPARE(failures.value("input1.on_time").toString(), QStringLiteral("超时无应答"));
        QVERIFY(values.value("input1.on_time").isNull());
        for (const hv52::Value &v : done.poll()) {
            if (v.ok)
                QCOMPARE(values.value(v.point->key), v.json);
        }
        const QJsonArray writes = meter.value("writes").toArray();
        QCOMPARE(writes.size(), 1);
        const QJsonObject written = writes.first().toObject();
        QCOMPARE(written.value("key").toString(), QStringLiteral("relay1.command"));
        QCOMPARE(written.value("outcome").toString(), QStringLiteral("acknowledged"));
        const QDateTime time = QDateTime::fromString(written.value("time").toString(), Qt::ISODateWithMs);
        QVERIFY(time.isValid());
        QVERIFY(qAbs(time.msecsTo(set.time)) < 1000);
    }

    // Saved before any poll, with Ctrl+S: the record says no poll was made;
    // a set refused before anything was sent is no write.
    void recordBeforeAnyPoll()
    {
        Rig rig;
        QTemporaryDir dir;
        rig.press(2);
        QCOMPARE(rig.sent(), 0);
        QCOMPARE(rig.messages.shown, QStringList{neverPolled("继电器1 控制方式")});

        // The context menu has it beside the line monitor, Ctrl+S beside.
        QStringList menu;
        for (const QAction *action : rig.window.actions())
            menu << action->text();
        QCOMPARE(menu, (QStringList{"通讯监视…", "保存调试记录…"}));
        QCOMPARE(rig.window.contextMenuPolicy(), Qt::ActionsContextMenu);
        QCOMPARE(rig.window.saveRecordAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));

        const QString path = dir.filePath(QStringLiteral("记录.json"));
        QString offered;
        rig.window.setRecordFileChooser([&offered, path](const QString &suggested) {
            offered = suggested;
            return path;
        });
        rig.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.window));
        QTest::keyClick(&rig.window, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(QRegularExpression(QStringLiteral("^调试记录-T516-地址1-\\d{8}-\\d{4}\\.html$"))
                     .match(QFileInfo(offered).fileName())
                     .hasMatch(),
                 qPrintable(offered));
        QCOMPARE(rig.messages.last(), QStringLiteral("调试记录已保存到 ") + path);

        const hv52::RunRecord record = rig.window.commissioningRecord();
        QCOMPARE(record.meters.size(), 1);
        const hv52::MeterRecord &m = record.meters.first();
        QVERIFY(!m.hasBefore);
        QVERIFY(m.before.isEmpty() && m.writes.isEmpty());
        QCOMPARE(m.result, hv52::MeterRecord::Result::NotReached);
        QCOMPARE(m.detail, QStringLiteral("本窗口尚未召测"));

        const QJsonObject meter = savedMeter(path);
        QVERIFY(!meter.isEmpty());
        QVERIFY(meter.value("before").isNull());
        QCOMPARE(meter.value("result").toString(), QStringLiteral("not_reached"));
        QCOMPARE(meter.value("detail").toString(), QStringLiteral("本窗口尚未召测"));
        QVERIFY(meter.value("writes").toArray().isEmpty());
    }

    // Each format the dialog offers takes the window's record whole: the
    // failed read with its reason and the set.
    void recordInEachFormat_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("html") << "记录.html";
        QTest::newRow("csv") << "记录.csv";
        QTest::newRow("json") << "记录.json";
    }
    void recordInEachFormat()
    {
        QFETCH(QString, name);
        Rig rig;
        QTemporaryDir dir;
        rig.failRequest(8); // relay 1 state
        rig.poll();
        rig.operate({{2, QStringLiteral("控制继电器恢复")}}, 2);
        const QString path = dir.filePath(name);
        saveThroughMenu(rig, path);
        QCOMPARE(rig.messages.last(), QStringLiteral("调试记录已保存到 ") + path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (const char *expected : {"超时无应答", "控制继电器恢复", "t516"})
            QVERIFY2(text.contains(QString::fromUtf8(expected), Qt::CaseInsensitive), expected);
    }

    // Ctrl+S during a poll does nothing: the poll's outcome is not in yet.
    void noSaveDuringAPoll()
    {
        Rig rig;
        rig.port.sim.setFault(Fault::Silent, 2);
        int asked = 0;
        rig.window.setRecordFileChooser([&asked](const QString &) {
            ++asked;
            return QString();
        });
        connect(&rig.window.link(), &hv52::Link::requestSent, &rig.window,
                [&rig] { rig.window.saveRecordAction()->trigger(); });
        rig.poll();
        QVERIFY(rig.sent() >= 27);
        QCOMPARE(asked, 0);
        rig.window.saveRecordAction()->trigger();
        QCOMPARE(asked, 1);
    }

    // A poll as the record keeps it: which values failed and why, and the
    // module's result.
    void recordOfAPoll_data()
    {
        QTest::addColumn<int>("failStep");         // read left unanswered; -1 all, 0 none
        QTest::addColumn<bool>("endsEarly");       // output 1's signal type reads back as 2
        QTest::addColumn<QStringList>("failures"); // key=reason
        QTest::addColumn<int>("result");
        using Result = hv52::MeterRecord::Result;
        QTest::newRow("all read") << 0 << false << QStringList() << int(Result::Recorded);
        QTest::newRow("relay 2 state lost")
            << 11 << false << QStringList{"relay2.state=超时无应答"} << int(Result::ReadFailed);
        QStringList dead, rest;
        for (const hv52::Point &point : hv52::t516Module().poll) {
            dead << point.key + QStringLiteral("=超时无应答");
            if (dead.size() == 16)
                rest << point.key + QStringLiteral("=读回的输出1信号类型 2 不是列表中的选项（应为 0～1），召测中止。");
            else if (dead.size() > 16)
                rest << point.key + QStringLiteral("=召测中止，未读取");
        }
        QTest::newRow("dead line") << -1 << false << dead << int(Result::NoAnswer);
        QTest::newRow("ended at a list position") << 0 << true << rest << int(Result::ReadFailed);
    }
    void recordOfAPoll()
    {
        QFETCH(int, failStep);
        QFETCH(bool, endsEarly);
        QFETCH(QStringList, failures);
        QFETCH(int, result);
        Rig rig;
        if (failStep < 0)
            rig.port.sim.setFault(Fault::Silent);
        else if (failStep > 0)
            rig.failRequest(failStep);
        if (endsEarly)
            rig.port.sim.setRegister(regs::analogSignal(0), 2);
        rig.poll();
        const hv52::MeterRecord m = rig.window.commissioningRecord().meters.first();
        QVERIFY(m.hasBefore);
        QCOMPARE(m.before.size(), 27);
        QStringList failed;
        for (const hv52::Value &v : m.before) {
            if (!v.ok)
                failed << v.point->key + u'=' + v.failure;
        }
        QCOMPARE(failed, failures);
        QCOMPARE(int(m.result), result);
    }

    // The operations after a poll as the record keeps them: what went out,
    // each with its outcome; a set refused before sending is none.
    void recordOfWrites_data()
    {
        QTest::addColumn<int>("failStep"); // write left unanswered; -1 all, 0 none
        QTest::addColumn<QList<Entry>>("entries");
        QTest::addColumn<int>("button");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<int>("result");
        using E = QList<Entry>;
        using Result = hv52::MeterRecord::Result;
        QTest::newRow("relay set") << 0 << E{{2, "控制继电器恢复"}} << 2
                                   << QStringList{"relay1.command=控制继电器恢复:acknowledged"}
                                   << int(Result::Recorded);
        QTest::newRow("relay set unanswered")
            << -1 << E{{3, "控制继电器动作"}} << 3
            << QStringList{"relay2.command=控制继电器动作:write_failed:超时无应答"} << int(Result::WriteFailed);
        QTest::newRow("relay typed, refused") << 0 << E{{2, "控", true}} << 2 << QStringList() << int(Result::Recorded);
        // The limits are in the unit of the source written with them.
        QTest::newRow("analog row, source unanswered")
            << 2 << E{{4, "4-20 mA"}, {7, "频率"}, {10, "45"}, {13, "55"}} << 5
            << QStringList{"analog1.type=4-20 mA:acknowledged", "analog1.source=频率:write_failed:超时无应答",
                           "analog1.lower=45:acknowledged", "analog1.upper=55:acknowledged"}
            << int(Result::WriteFailed);
        QTest::newRow("reset") << 0 << E{{-1, "所有继电器输出计数器"}} << -1
                               << QStringList{"reset=所有继电器输出计数器:acknowledged"} << int(Result::Recorded);
    }
    void recordOfWrites()
    {
        QFETCH(int, failStep);
        QFETCH(QList<Entry>, entries);
        QFETCH(int, button);
        QFETCH(QStringList, writes);
        QFETCH(int, result);
        Rig rig;
        rig.poll();
        if (failStep < 0)
            rig.port.sim.setFault(Fault::Silent);
        else if (failStep > 0)
            rig.failRequest(failStep);
        const QDateTime pressed = QDateTime::currentDateTime();
        rig.operate(entries, button);
        const QDateTime answered = QDateTime::currentDateTime();
        const hv52::MeterRecord m = rig.window.commissioningRecord().meters.first();
        QStringList lines;
        for (const hv52::WrittenValue &w : m.writes) {
            lines << writeLine(w);
            QVERIFY(w.time >= pressed && w.time <= answered);
        }
        QCOMPARE(lines, writes);
        QCOMPARE(int(m.result), result);
        // The poll before is kept as it was read.
        QVERIFY(m.hasBefore);
        QVERIFY(std::all_of(m.before.begin(), m.before.end(), [](const hv52::Value &v) { return v.ok; }));
    }

    // Which poll the record calls before and which after, over what an
    // operator does in sequence: before is the last poll before the first
    // write, after the poll after the last write (none when a write followed
    // it); a set refused before sending writes nothing.
    void recordBeforeAndAfter_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("before"); // the poll (1, 2, ...) the record calls before; 0: none
        QTest::addColumn<int>("after");
        const auto steps = [](const char *s) { return QString::fromLatin1(s).split(u' '); };
        QTest::newRow("poll, set, poll") << steps("poll relay poll") << 1 << 2;
        QTest::newRow("poll, two sets, poll, reset") << steps("poll relay analog poll reset") << 1 << 0;
        QTest::newRow("two polls, set, two polls") << steps("poll poll relay poll poll") << 2 << 4;
        QTest::newRow("set first, then poll") << steps("relay poll") << 0 << 1;
        QTest::newRow("refused set between polls") << steps("poll refused poll") << 2 << 0;
        QTest::newRow("poll, set, poll, set, poll") << steps("poll relay poll analog poll") << 1 << 3;
    }
    void recordBeforeAndAfter()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, before);
        QFETCH(int, after);
        Rig rig;
        QVector<QPair<QDateTime, QDateTime>> polls;
        for (const QString &step : steps) {
            QTest::qWait(3); // the polls' times apart to the millisecond
            if (step == QLatin1String("poll")) {
                const QDateTime started = QDateTime::currentDateTime();
                rig.poll();
                polls << qMakePair(started, QDateTime::currentDateTime());
            } else if (step == QLatin1String("relay")) {
                rig.operate({{2, QStringLiteral("控制继电器动作")}}, 2);
            } else if (step == QLatin1String("analog")) {
                rig.operate({{4, QStringLiteral("4-20 mA")}, {7, QStringLiteral("频率")}, {10, "45"}, {13, "55"}}, 5);
            } else if (step == QLatin1String("reset")) {
                rig.operate({{-1, QStringLiteral("所有继电器输出计数器")}}, -1);
            } else {
                rig.operate({{2, QStringLiteral("控"), true}}, 2);
            }
        }
        const auto within = [&](const QDateTime &time, int poll) {
            return time >= polls[poll - 1].first && time <= polls[poll - 1].second;
        };
        const hv52::RunRecord record = rig.window.commissioningRecord();
        const hv52::MeterRecord &m = record.meters.first();
        QCOMPARE(m.hasBefore, before > 0);
        QCOMPARE(m.hasAfter, after > 0);
        if (before > 0)
            QVERIFY2(within(m.beforeTime, before), qPrintable(m.beforeTime.toString(Qt::ISODateWithMs)));
        if (after > 0) {
            QVERIFY2(within(m.afterTime, after), qPrintable(m.afterTime.toString(Qt::ISODateWithMs)));
            // The poll after reads what was written.
            const auto relay = std::find_if(m.after.begin(), m.after.end(), [](const hv52::Value &v) {
                return v.point->key == QLatin1String("relay1.command");
            });
            QVERIFY(relay != m.after.end() && relay->ok);
            QCOMPARE(relay->text, QStringLiteral("控制继电器动作"));
        }
        // The page says the same, and names the window's command in Chinese.
        const QString page = QString::fromUtf8(hv52::recordHtml(record));
        if (before > 0)
            QVERIFY(page.contains(QStringLiteral("调试前召测于 ") + hv52::recordparts::displayTime(m.beforeTime)));
        QVERIFY(page.contains(QStringLiteral("调试窗口")));
        QVERIFY(!page.contains(QStringLiteral(">window<")));
    }

    // A record that cannot be written: a message naming the file and why,
    // never a success, and no file left behind, whole or half.
    void recordNotSaved_data()
    {
        QTest::addColumn<QString>("path"); // {dir}: an empty folder of the test's own
        QTest::newRow("a folder") << "{dir}";
        QTest::newRow("a missing folder") << "{dir}/无此目录/记录.json";
        QTest::newRow("no known format") << "{dir}/记录.txt";
        QTest::newRow("full device") << "/dev/full";
    }
    void recordNotSaved()
    {
        QFETCH(QString, path);
        QTemporaryDir dir;
        path.replace(QStringLiteral("{dir}"), dir.path());
        Rig rig;
        rig.poll();
        rig.messages.clear();
        saveThroughMenu(rig, path);
        QCOMPARE(rig.messages.shown.size(), 1);
        const QString text = rig.messages.last();
        QVERIFY2(text.startsWith(QStringLiteral("调试记录未保存。\n")), qPrintable(text));
        QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("已保存")));
        QVERIFY(!rig.window.saveRecordTo(path));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    void unansweredWrites()
    {
        // The real response time still ends a write to a silent module.
        Rig rig(hv52::Link::kResponseTimeoutMs);
        QCOMPARE(rig.window.link().responseTimeout(), 1000);
        rig.port.sim.setFault(Fault::Silent);
        rig.operate({{2, QStringLiteral("控制继电器动作")}}, 2);
        QCOMPARE(rig.messages.shown,
                 QStringList{QStringLiteral("设置失败！\n继电器1 控制方式：超时无应答\n") + silenceHint()});

        rig.window.link().setResponseTimeout(kShortTimeoutMs);
        rig.press(-1);
        QCOMPARE(rig.messages.last(),
                 QStringLiteral("复位失败!\n复位 继电器输出M-R1计数器：超时无应答\n") + silenceHint());

        // An unanswered signal type does not stop the other three writes.
        rig.port.sim.clearLog();
        rig.port.sim.setFault(Fault::Silent, 1);
        rig.operate({{5, "4-20 mA"}, {8, "平均电流"}, {11, "0"}, {14, "55"}}, 6);
        QCOMPARE(rig.sent(), 4);
        QCOMPARE(rig.port.sim.reg(regs::analogUpper(1)), quint16(55000));
        // Only the first write went unanswered: no hint about a dead module.
        QCOMPARE(rig.messages.last(), QStringLiteral("设置失败！\n输出2 信号类型：超时无应答"));
    }
};

QTEST_MAIN(T516Test)
#include "tst_t516.moc"
