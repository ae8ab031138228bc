// Every operation of the three tools against a module on a bad line: each
// fault of the simulator, an unplugged, a missing and a busy device. For each
// the outcome the operator must see, the port closed afterwards, no stray
// message, and the next press against a healthy module fully correct.
#include "controlmarks.h"
#include "frm_t516.h"
#include "frm_t528.h"
#include "frm_t540.h"
#include "harness.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTimer>
#include <memory>

using namespace hv52test;
using hv52::ControlMarks;
using hv52::ToolWindow;
using hv52sim::Fault;
using hv52sim::Module;

namespace {

constexpr int kTimeoutMs = 40;

struct Tool
{
    const char *name;
    Module module;
    ToolWindow *(*make)();
    int readButton;
    int reads;
    QVector<int> settings; // Command1 indices of the set buttons
    int inputs;
    bool relays;
    int analogOutputs;
};

const Tool kTools[] = {
    {"t516",
     Module::T516,
     [] { return static_cast<ToolWindow *>(new frm_T516); },
     4,
     27,
     {0, 1, 2, 3, 5, 6, 7},
     2,
     true,
     3},
    {"t528", Module::T528, [] { return static_cast<ToolWindow *>(new frm_T528); }, 4, 12, {0, 1, 2, 3}, 2, true, 0},
    {"t540",
     Module::T540,
     [] { return static_cast<ToolWindow *>(new frm_T540); },
     7,
     21,
     {0, 1, 2, 3, 4, 5, 6},
     7,
     false,
     0},
};

enum class Line {
    Silent,
    BadCrc,
    Partial,
    Exception,
    ExtraBytes,
    SplitShort,
    SplitLong,
    SlowShort,
    SlowLong,
    OtherAddress,
    OtherFunction,
    Unplugged,
    Missing,
    Busy
};

const struct
{
    Line line;
    const char *name;
} kLines[] = {
    {Line::Silent, "silent"},
    {Line::BadCrc, "bad crc"},
    {Line::Partial, "partial answer"},
    {Line::Exception, "exception answer"},
    {Line::ExtraBytes, "extra trailing bytes"},
    {Line::SplitShort, "split, gaps shorter than the timeout"},
    {Line::SplitLong, "split, gap longer than the timeout"},
    {Line::SlowShort, "slow within the timeout"},
    {Line::SlowLong, "first answer after the timeout"},
    {Line::OtherAddress, "another address"},
    {Line::OtherFunction, "another function"},
    {Line::Unplugged, "unplugged during the operation"},
    {Line::Missing, "device missing"},
    {Line::Busy, "device busy"},
};

enum class Outcome {
    Good,
    Failed,
    SomeFailed,
    Error
};

// Why each failed exchange failed, as the outcome messages name it.
QString reasonOf(Line line)
{
    switch (line) {
    case Line::Silent:
        return QStringLiteral("超时无应答");
    // An answer, or its end, heard after the response time: the module is
    // there but slow, and the bytes may belong to the next request.
    case Line::SlowLong:
    case Line::SplitLong:
        return QStringLiteral("应答迟到");
    case Line::BadCrc:
        return QStringLiteral("校验错误");
    // An intact answer with bytes after it: the module did answer.
    case Line::ExtraBytes:
        return QStringLiteral("应答过长");
    case Line::Partial:
        return QStringLiteral("应答不完整");
    case Line::Exception:
        return QStringLiteral("异常应答 04：从站设备故障");
    case Line::OtherAddress:
        return QStringLiteral("地址不符");
    case Line::OtherFunction:
        return QStringLiteral("功能码不符");
    default:
        return QString();
    }
}

// What the operator must be told, by line.
Outcome outcomeOf(Line line)
{
    switch (line) {
    case Line::SplitShort:
    case Line::SlowShort:
        return Outcome::Good;
    case Line::SlowLong:
        return Outcome::SomeFailed;
    case Line::Unplugged:
    case Line::Missing:
    case Line::Busy:
        return Outcome::Error;
    default:
        return Outcome::Failed;
    }
}

// One press: -1 the poll, -2 the reset, otherwise a set button.
void press(ToolWindow &w, const Tool &tool, int op)
{
    if (op == -1)
        w.Command1_Click(tool.readButton);
    else if (op == -2)
        w.Command2_Click();
    else
        w.Command1_Click(op);
}

// The operator takes every value shown as it stands: each list entry chosen
// again, each limit typed again. A fresh window's values are no module state
// until then, and a set button refuses them.
void chooseShown(ToolWindow &w)
{
    for (QComboBox *box : w.findChildren<QComboBox *>()) {
        if (box == w.Combo2() || !box->isVisible())
            continue;
        if (box->count() > 0) {
            box->setCurrentIndex(std::max(0, box->currentIndex()));
            emit box->activated(box->currentIndex());
        } else {
            const QString text = box->currentText();
            box->lineEdit()->clear();
            QTest::keyClicks(box->lineEdit(), text);
        }
    }
}

// The value cells of a tool with what the module holds, as the window must
// show them after a good read.
QList<QPair<int, QString>> expectedCells(const Tool &tool, const hv52sim::Simulator &sim)
{
    namespace r = hv52sim::regs;
    QList<QPair<int, QString>> cells;
    for (int n = 0; n < tool.inputs; ++n) {
        cells.append({13 + 3 * n, QString::number(sim.reg32(r::inputCount(n)))});
        cells.append({14 + 3 * n, sim.reg(r::inputState(n)) == r::on ? "ON" : "OFF"});
        cells.append({15 + 3 * n, hv52::dividedText(QString::number(sim.reg32(r::inputOnTime(n))), 10)});
    }
    if (tool.relays) {
        for (int k = 0; k < 2; ++k) {
            cells.append({19 + 2 * k, QString::number(sim.reg32(r::relayCount(k)))});
            cells.append({20 + 2 * k, sim.reg(r::relayState(k)) == r::on ? "动作" : "恢复"});
        }
    }
    for (int k = 0; k < tool.analogOutputs; ++k)
        cells.append({27 + k, hv52::dividedText(QString::number(sim.reg(r::analogValue(k))), 100)});
    return cells;
}

// Distinct values in every cell, so a value shown in the wrong cell is seen.
void fillModule(const Tool &tool, hv52sim::Simulator &sim)
{
    namespace r = hv52sim::regs;
    for (int n = 0; n < tool.inputs; ++n) {
        sim.setRegister32(r::inputCount(n), 70000 + 1000 * n);
        sim.setRegister(r::inputState(n), n % 2 ? 1 : r::on);
        sim.setRegister32(r::inputOnTime(n), 1234 + 10 * n);
    }
    if (tool.relays) {
        sim.setRegister32(r::relayCount(0), 1520);
        sim.setRegister32(r::relayCount(1), 37);
        sim.setRegister(r::relayState(0), r::on);
        sim.setRegister(r::relayState(1), 0);
    }
    for (int k = 0; k < tool.analogOutputs; ++k)
        sim.setRegister(r::analogValue(k), quint16(1234 + 100 * k));
}

// Until the module has sent nothing for a while (at most a few seconds).
void waitForQuiet(const hv52sim::Simulator &sim)
{
    QElapsedTimer clock;
    clock.start();
    size_t frames = sim.frames().size();
    do {
        QTest::qWait(kTimeoutMs * 3);
        const size_t now = sim.frames().size();
        if (now == frames)
            return;
        frames = now;
    } while (clock.elapsed() < 5000);
}

// A tool's window on a module of its own filled with distinct values, its
// message boxes caught.
struct Rig
{
    Rig(const Tool &tool, int timeoutMs) : port(tool.module), window(tool.make())
    {
        fillModule(tool, port.sim);
        window->link().setResponseTimeout(timeoutMs);
        messages.attach(*window);
        window->Form_Load(commandLine(port));
        window->show();
    }
    SimPort port;
    Messages messages; // outlives the window that calls it
    std::unique_ptr<ToolWindow> window;
};

QString goodText(int op)
{
    if (op == -1)
        return QStringLiteral("召测数据，完成！");
    return op == -2 ? QStringLiteral("复位成功!") : QStringLiteral("设置成功！");
}

} // namespace

class FaultMatrixTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    void operation_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("line");
        for (int t = 0; t < int(std::size(kTools)); ++t) {
            QVector<int> ops = {-1, -2};
            ops += kTools[t].settings;
            for (int op : ops) {
                const QString opName = op == -1   ? QStringLiteral("poll")
                                       : op == -2 ? QStringLiteral("reset")
                                                  : QStringLiteral("set %1").arg(op);
                for (const auto &l : kLines) {
                    QTest::addRow("%s %s, %s", kTools[t].name, qPrintable(opName), l.name) << t << op << int(l.line);
                }
            }
        }
    }

    void operation()
    {
        QFETCH(int, tool);
        QFETCH(int, op);
        QFETCH(int, line);
        const Tool &t = kTools[tool];
        const Line l = Line(line);

        Rig rig(t, kTimeoutMs);
        SimPort &port = rig.port;
        Messages &messages = rig.messages;
        std::unique_ptr<ToolWindow> &w = rig.window;

        std::unique_ptr<QSerialPort> holder;
        QTimer unplugger;
        switch (l) {
        case Line::Silent:
            port.sim.setFault(Fault::Silent);
            break;
        case Line::BadCrc:
            port.sim.setFault(Fault::BadCrc);
            break;
        case Line::Partial:
            port.sim.setFault(Fault::Partial);
            break;
        case Line::Exception:
            port.sim.setFault(Fault::Exception);
            break;
        case Line::ExtraBytes:
            port.sim.setFault(Fault::ExtraBytes);
            break;
        case Line::OtherAddress:
            port.sim.setFault(Fault::OtherAddress);
            break;
        case Line::OtherFunction:
            port.sim.setFault(Fault::OtherFunction);
            break;
        case Line::SplitShort:
            port.sim.setSplit(3, kTimeoutMs / 8);
            port.sim.setFault(Fault::Split);
            break;
        case Line::SplitLong:
            // The rest lands 20 ms into the 50 ms quiet wait after the timeout.
            port.sim.setSplit(2, kTimeoutMs * 3 / 2);
            port.sim.setFault(Fault::Split);
            break;
        case Line::SlowShort:
            port.sim.setSlowMs(kTimeoutMs / 4);
            port.sim.setFault(Fault::Slow);
            break;
        case Line::SlowLong:
            // Only the first answer is late: it arrives while the next
            // request waits for its own answer.
            port.sim.setSlowMs(kTimeoutMs * 3 / 2);
            port.sim.setFault(Fault::Slow, 1);
            break;
        case Line::Unplugged:
            port.sim.setFault(Fault::Silent);
            unplugger.setInterval(1);
            connect(&unplugger, &QTimer::timeout, [&] {
                if (port.sim.requestCount() > 0) {
                    unplugger.stop();
                    port.sim.unplug();
                }
            });
            unplugger.start();
            break;
        case Line::Missing:
            port.sim.unplug();
            break;
        case Line::Busy:
            holder = std::make_unique<QSerialPort>(port.linkPath());
            QVERIFY(holder->open(QIODevice::ReadWrite));
            break;
        }

        if (op >= 0)
            chooseShown(*w);
        press(*w, t, op);

        QVERIFY(!w->link().isBusy());
        QVERIFY2(!w->link().isPortOpen(), "port left open");
        QVERIFY2(!messages.asked.contains(true), "unexpected question");
        QCOMPARE(messages.shown.size(), 1);
        const QString text = messages.shown.first();
        switch (outcomeOf(l)) {
        case Outcome::Good:
            QCOMPARE(text, goodText(op));
            break;
        case Outcome::Failed:
        case Outcome::SomeFailed: {
            // The first line as always, then why: the count by reason for a
            // poll, the first failed write for a setting or reset, and the
            // hint when nothing answered at all.
            const QStringList lines = text.split(u'\n');
            const QString reason = reasonOf(l);
            // With answers due in 40 ms, a loaded machine sometimes answers
            // late: such a read fails as a timeout, whatever the line's fault.
            const QString late = QStringLiteral("超时无应答");
            // A split answer's rest that a loaded machine hears only after the
            // quiet wait leaves its own exchange incomplete and spoils the next.
            const QStringList excused =
                l == Line::SplitLong ? QStringList{late, QStringLiteral("应答不完整"), QStringLiteral("校验错误")}
                                     : QStringList{late};
            const auto fits = [&](const QString &text) {
                return std::any_of(excused.begin(), excused.end(), [&](const QString &e) { return text.endsWith(e); });
            };
            // A late answer is an answer: no hint that nothing answered.
            const bool dead = l == Line::Silent;
            if (op == -1) {
                QCOMPARE(lines.value(0), QStringLiteral("召测数据，完成！"));
                if (outcomeOf(l) == Outcome::Failed) {
                    QCOMPARE(lines.value(1), QStringLiteral("%1 次读取中有 %1 次失败。").arg(t.reads));
                    const QString counted = l == Line::Exception ? QStringLiteral("异常应答") : reason;
                    int total = 0;
                    for (const QString &part : lines.value(2).split(QStringLiteral("，"))) {
                        const QString why = part.section(u' ', 0, -3);
                        QVERIFY2(why == counted || excused.contains(why), qPrintable(text));
                        total += part.section(u' ', -2, -2).toInt();
                    }
                    QCOMPARE(total, t.reads);
                    for (const auto &cell : expectedCells(t, port.sim)) {
                        QLabel *label = w->Label1(cell.first);
                        QVERIFY2(ControlMarks::isMarkedFailed(label), qPrintable(QString::number(cell.first)));
                        QVERIFY2(label->toolTip().contains(reason)
                                     || std::any_of(excused.begin(), excused.end(),
                                                    [&](const QString &e) { return label->toolTip().contains(e); }),
                                 qPrintable(label->toolTip()));
                    }
                } else {
                    QVERIFY2(lines.value(2).startsWith(reason + u' '), qPrintable(text));
                }
            } else {
                QCOMPARE(lines.value(0), op == -2 ? QStringLiteral("复位失败!") : QStringLiteral("设置失败！"));
                QVERIFY2(lines.value(1).endsWith(QStringLiteral("：") + reason) || fits(lines.value(1)),
                         qPrintable(text));
            }
            if (dead) {
                QCOMPARE(lines.size(), op == -1 ? 4 : 3);
                QVERIFY2(lines.last().startsWith(QStringLiteral("模块无应答：请检查总线地址 1、串口 COM1")),
                         qPrintable(text));
            } else {
                QVERIFY2(!text.contains(QStringLiteral("模块无应答")) || lines.value(1).endsWith(late),
                         qPrintable(text));
            }
            break;
        }
        case Outcome::Error: {
            const char *why = l == Line::Unplugged ? "通讯中断" : l == Line::Missing ? "设备不存在" : "占用";
            QVERIFY2(text.contains(QString::fromUtf8(why)) && text.contains(QStringLiteral("COM1")), qPrintable(text));
            break;
        }
        }
        // Whatever failed, no cell shows a value that is not its own.
        if (op == -1) {
            for (const auto &cell : expectedCells(t, port.sim)) {
                QLabel *label = w->Label1(cell.first);
                if (!ControlMarks::isMarkedFailed(label) && !label->text().isEmpty())
                    QCOMPARE(label->text(), cell.second);
            }
        }

        // The line heals: the device is back, the holder lets go, and the
        // module works off what it still had queued before the next press.
        holder.reset();
        if (l == Line::Unplugged || l == Line::Missing)
            QVERIFY(port.sim.replug());
        port.sim.setFault(Fault::None, 0);
        // (A split answer's tail may still be on its way on a loaded
        // machine: the next press must find the line quiet.)
        if (l == Line::SplitLong || l == Line::SlowLong || l == Line::SplitShort)
            waitForQuiet(port.sim);
        port.sim.clearLog();
        messages.clear();

        press(*w, t, op);
        QCOMPARE(messages.shown, QStringList{goodText(op)});
        QVERIFY(!w->link().isPortOpen());
        if (op == -1) {
            QCOMPARE(port.sim.requestCount(), size_t(t.reads));
            for (const auto &cell : expectedCells(t, port.sim)) {
                QCOMPARE(w->Label1(cell.first)->text(), cell.second);
                QVERIFY(!ControlMarks::isMarkedFailed(w->Label1(cell.first)));
            }
        }
    }

    // Clicks on every button during a running poll are ignored.
    void clicksDuringAPollAreIgnored_data()
    {
        QTest::addColumn<int>("tool");
        for (int t = 0; t < int(std::size(kTools)); ++t)
            QTest::newRow(kTools[t].name) << t;
    }
    void clicksDuringAPollAreIgnored()
    {
        QFETCH(int, tool);
        const Tool &t = kTools[tool];
        // A response time well above the slow answers: a loaded machine must
        // not turn one into a timeout, whose second reads would change the count.
        Rig rig(t, 5 * kTimeoutMs);
        SimPort &port = rig.port;
        Messages &messages = rig.messages;
        std::unique_ptr<ToolWindow> &w = rig.window;
        // A slow module keeps the poll waiting long enough to click around.
        port.sim.setSlowMs(kTimeoutMs / 2);
        port.sim.setFault(Fault::Slow);

        int clicks = 0;
        QTimer clicker;
        clicker.setInterval(5);
        connect(&clicker, &QTimer::timeout, [&] {
            QList<QPushButton *> buttons = {w->Command2()};
            for (int i = 0; i <= 7; ++i) {
                if (QPushButton *b = w->Command1(i); b && b->isVisible())
                    buttons << b;
            }
            for (QPushButton *b : buttons) {
                QTest::mouseClick(b, Qt::LeftButton);
                ++clicks;
            }
        });
        clicker.start();
        w->Command1_Click(t.readButton);
        clicker.stop();

        QVERIFY(clicks > 0);
        QCOMPARE(port.sim.requestCount(), size_t(t.reads));
        QCOMPARE(messages.shown, QStringList{QStringLiteral("召测数据，完成！")});
        for (const auto &cell : expectedCells(t, port.sim))
            QCOMPARE(w->Label1(cell.first)->text(), cell.second);
    }

    // Closing the window while an operation waits ends it: port closed, no
    // message, and the handler returns.
    void closingDuringAnOperation_data()
    {
        QTest::addColumn<int>("tool");
        QTest::addColumn<int>("op");
        for (int t = 0; t < int(std::size(kTools)); ++t) {
            QTest::addRow("%s poll", kTools[t].name) << t << -1;
            QTest::addRow("%s reset", kTools[t].name) << t << -2;
            QTest::addRow("%s setting", kTools[t].name) << t << kTools[t].settings.last();
        }
    }
    void closingDuringAnOperation()
    {
        QFETCH(int, tool);
        QFETCH(int, op);
        const Tool &t = kTools[tool];
        Rig rig(t, 5000);
        SimPort &port = rig.port;
        Messages &messages = rig.messages;
        std::unique_ptr<ToolWindow> &w = rig.window;
        port.sim.setFault(Fault::Silent);
        if (op >= 0)
            chooseShown(*w);
        QTimer::singleShot(50, w.get(), [&] { w->close(); });
        QElapsedTimer clock;
        clock.start();
        press(*w, t, op);
        QVERIFY2(clock.elapsed() < 2500, "the close must end the wait, not the timer");
        QVERIFY(!w->isVisible());
        QVERIFY(!w->link().isPortOpen());
        QVERIFY(!w->link().isBusy());
        QVERIFY2(messages.shown.isEmpty(), qPrintable(messages.shown.join(" | ")));
        QCOMPARE(port.sim.requestCount(), size_t(1));
    }
};

QTEST_MAIN(FaultMatrixTest)
#include "tst_fault_matrix.moc"
