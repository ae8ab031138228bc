// 线路调试 as an engineer uses it, on a simulated line: T516 at 1, T528 at 2,
// T540 at 3, nobody at 4, a T528 at 5 where the plan says T516. The scan's
// rows, settings from a meter and from choices, a run with every outcome, a
// stop mid-run, an audit that writes nothing, the port lost mid-run, a
// control left unchosen, the plan and the record as hv52ctl takes and
// writes them.
#include "linewindow.h"

#include "harness.h"
#include "programrun.h"

#include "controlmarks.h"
#include "convert.h"
#include "interrupt.h"

#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>

#include <csignal>

using namespace hv52test;
using hv52::Mark;
using hv52line::LinePane;
using hv52line::LineWindow;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

// The simulated line with its five addresses.
struct Bus
{
    Bus() : port(Module::T516, 1, 1)
    {
        port.sim.addModule(Module::T528, 2);
        port.sim.addModule(Module::T540, 3);
        port.sim.addModule(Module::T528, 5);
        // Relay 1 of each module operated, as the simulator starts it; a T516's
        // first output on source 3.
        port.sim.setRegister(1, regs::analogSource(0), 3);
    }
    // Requests of the functions that write (6, 15, 16).
    int writes() const
    {
        int n = 0;
        for (const QString &r : port.requests()) {
            const QString f = r.section(u' ', 1, 1);
            n += f == u"06" || f == u"0F" || f == u"10";
        }
        return n;
    }
    SimPort port;
};

struct Window
{
    explicit Window(int port)
    {
        messages.attach(w);
        w.setFileChooser(
            [this](const QString &, const QString &, bool) { return files.isEmpty() ? QString() : files.takeFirst(); });
        w.setAsker([this](const QString &) { return answers.isEmpty() ? QString() : answers.takeFirst(); });
        pane().portNumber()->setValue(port);
        pane().timeout()->setValue(kShortTimeoutMs);
        w.show();
        // Esc is the window's own key: it goes to the active window.
        w.activateWindow();
        active = QTest::qWaitForWindowActive(&w);
    }
    LinePane &pane(int i = 0) { return *w.pane(i); }
    // Waits for the line's work to end (a scan, a poll, a run).
    bool idle(int ms = 60000)
    {
        return QTest::qWaitFor([this] { return !w.busy(); }, ms);
    }
    void scan(const QString &range)
    {
        pane().addresses()->setText(range);
        QTest::mouseClick(pane().scanButton(), Qt::LeftButton);
        QVERIFY(idle());
    }
    void choose(const QString &kind, const QString &key, const QString &text)
    {
        QWidget *c = pane().form(kind)->control(key);
        QVERIFY2(c, qPrintable(key));
        if (auto *box = qobject_cast<QComboBox *>(c)) {
            box->setCurrentText(text);
            emit box->activated(box->currentIndex());
        } else {
            auto *edit = qobject_cast<QLineEdit *>(c);
            edit->setText(text);
            emit edit->textEdited(text);
        }
    }
    QStringList rows()
    {
        QStringList out;
        for (int r = 0; r < pane().table()->rowCount(); ++r)
            out << pane().rowText(r).simplified();
        return out;
    }
    void run(bool audit)
    {
        w.startRun(audit);
        QVERIFY(idle());
    }

    LineWindow w;
    bool active = false;
    Messages messages;
    QStringList files, answers;
};

// Every analog output of the T516 and both of its relays chosen.
void chooseT516(Window &win)
{
    win.choose("t516", "relay1.command", "上位机控制");
    win.choose("t516", "relay2.command", "报警输出");
    for (int k = 1; k <= 3; ++k) {
        const QString a = QStringLiteral("analog%1.").arg(k);
        win.choose("t516", a + "type", "4-20 mA");
        win.choose("t516", a + "source", "A相电流");
        win.choose("t516", a + "lower", "0");
        win.choose("t516", a + "upper", "5");
    }
}

// The guide's pictures of the window, taken where HV52_LINE_SHOTS names a
// folder (scripts/screenshot.sh line).
void shot(QWidget &window, const char *name)
{
    const QString folder = qEnvironmentVariable("HV52_LINE_SHOTS");
    if (folder.isEmpty())
        return;
    QCoreApplication::processEvents();
    QVERIFY(window.grab().save(QDir(folder).filePath(QLatin1String(name))));
}

// Five T516 meters (1, 6-9) whose every setting is chosen: a run long
// enough to be cut while its second meter is under way.
struct LongLine : Bus
{
    LongLine()
    {
        for (int a = 6; a <= 9; ++a)
            port.sim.addModule(Module::T516, uint8_t(a));
    }
    // Scans, chooses, starts the run; true once the second meter is reached.
    bool startRun(Window &win)
    {
        win.scan("1,6-9");
        chooseT516(win);
        win.w.startRun(false);
        return QTest::qWaitFor([&] { return win.pane().table()->item(1, 3)->text() != "等待"; }, 20000);
    }
};

QJsonObject readJson(const QString &file)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return QJsonDocument::fromJson(f.readAll()).object();
}

// A record's JSON without what differs between two runs of one plan: the
// times, the program, the input file's name.
QJsonObject comparable(QJsonObject o)
{
    for (const char *key : {"started", "finished", "tool", "elapsed_ms", "time", "inputs"})
        o.remove(QLatin1String(key));
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it->isObject()) {
            *it = comparable(it->toObject());
        } else if (it->isArray()) {
            QJsonArray a = it->toArray();
            for (auto v = a.begin(); v != a.end(); ++v) {
                if (v->isObject())
                    *v = comparable(v->toObject());
            }
            *it = a;
        }
    }
    return o;
}

} // namespace

class TestLineWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { hv52run::Interrupt::forgetOperatorStop(); }

    void scanFindsEachKind()
    {
        Bus bus;
        Window win(bus.port.port());
        win.scan("1-6");
        QCOMPARE(win.rows(), QStringList({"1 T516 有应答", "2 T528 有应答", "3 T540 有应答", "5 T528 有应答"}));
        QCOMPARE(win.pane().progress()->value(), win.pane().progress()->maximum());
        QCOMPARE(win.messages.last(), QStringLiteral("扫描完成：找到 4 个模块。"));
        shot(win.w, "line-scan.png");
        QCOMPARE(bus.writes(), 0);
        // Every row of a known kind is checked for the run.
        for (int r = 0; r < 4; ++r)
            QCOMPARE(win.pane().table()->item(r, 0)->checkState(), Qt::Checked);
    }

    void addressRangeRefused()
    {
        Bus bus;
        Window win(bus.port.port());
        for (const char *range : {"0-3", "1-300", "a", ""}) {
            win.messages.clear();
            win.scan(range);
            QVERIFY2(win.messages.last().contains("地址范围"), qPrintable(win.messages.last()));
        }
        QVERIFY(bus.port.requests().isEmpty());
    }

    // A setting chosen in part sends nothing at all, on any meter; the box
    // names what is missing.
    void unchosenControlRefusesToSend()
    {
        Bus bus;
        Window win(bus.port.port());
        win.scan("1-3");
        const int heard = int(bus.port.requests().size());
        win.choose("t516", "analog1.type", "0- 5 V");
        win.w.startRun(false);
        QVERIFY(win.idle());
        QVERIFY2(win.messages.last().contains("尚未选择") && win.messages.last().contains("请求未发送"),
                 qPrintable(win.messages.last()));
        QVERIFY2(win.messages.last().contains(QStringLiteral("输出1")), qPrintable(win.messages.last()));
        QCOMPARE(int(bus.port.requests().size()), heard);
        // A control never chosen keeps its mark.
        QCOMPARE(hv52::ControlMarks::markOf(win.pane().form("t516")->control("analog2.type")), Mark::NotRead);
    }

    // 从表计读取: the settings of the meter, each control then chosen; the
    // run writes exactly those and reads them back.
    void settingsReadFromAMeter()
    {
        Bus bus;
        Window win(bus.port.port());
        win.scan("1");
        win.w.findChild<QPushButton *>("t516.read")->click();
        QVERIFY(win.idle());
        QCOMPARE(win.messages.last(), QStringLiteral("已从表计读取 T516 的设置。"));
        auto *relay = qobject_cast<QComboBox *>(win.pane().form("t516")->control("relay1.command"));
        QCOMPARE(relay->currentText(), QStringLiteral("控制继电器动作"));
        QCOMPARE(hv52::ControlMarks::markOf(relay), Mark::None);
        QCOMPARE(bus.writes(), 0);
        shot(win.w, "line-settings.png");
        win.run(false);
        QCOMPARE(win.rows(), QStringList({"1 T516 有应答 完成并核对"}));
        QCOMPARE(bus.port.sim.reg(1, regs::relayCommand(0)), regs::cmdOperate);
    }

    // A line with every outcome, then its plan and its record beside
    // hv52ctl's for the same plan on the same line.
    void commissionEveryOutcomeAndTheRecord()
    {
        QTemporaryDir dir;
        const QString plan = dir.filePath("plan.json"), mine = dir.filePath("window.json"),
                      theirs = dir.filePath("ctl.json");
        {
            Bus bus;
            Window win(bus.port.port());
            win.scan("1-3,5");
            // The plan's T516 at 4 (dead) and 5 (a T528 answers there).
            QString refusal;
            QVERIFY2(
                win.pane().load(QJsonObject{{"port", bus.port.port()}, {"speed", 9600}, {"timeout", kShortTimeoutMs}},
                                QJsonArray{QJsonObject{{"address", 1}, {"module", "t516"}},
                                           QJsonObject{{"address", 2}, {"module", "t528"}},
                                           QJsonObject{{"address", 3}, {"module", "t540"}},
                                           QJsonObject{{"address", 4}, {"module", "t516"}},
                                           QJsonObject{{"address", 5}, {"module", "t516"}}},
                                QDir(dir.path()), &refusal),
                qPrintable(refusal));
            chooseT516(win);
            win.choose("t528", "relay1.command", "强制恢复");
            win.choose("t528", "relay2.command", "上位机控制");
            win.files << plan;
            QVERIFY(win.w.savePlan(plan));
            win.run(false);
            const QStringList rows = win.rows();
            QCOMPARE(rows.size(), 5);
            QVERIFY2(rows[0].endsWith("完成并核对"), qPrintable(rows[0]));
            QVERIFY2(rows[1].endsWith("完成并核对"), qPrintable(rows[1]));
            QVERIFY2(rows[2].endsWith("已记录"), qPrintable(rows[2]));
            QVERIFY2(rows[3].endsWith("无应答"), qPrintable(rows[3]));
            QVERIFY2(rows[4].contains("寄存器不全") || rows[4].contains("未写入"), qPrintable(rows[4]));
            QCOMPARE(bus.port.sim.reg(1, regs::analogSource(2)),
                     uint16_t(hv52::kSourceQuantityTexts.indexOf("A相电流")));
            QCOMPARE(bus.port.sim.reg(2, regs::relayCommand(1)), regs::cmdHost);
            // The T528 taken for a T516 is not written.
            QCOMPARE(bus.port.sim.reg(5, regs::relayCommand(0)), regs::cmdOperate);
            QVERIFY2(win.messages.last().startsWith("调试结束"), qPrintable(win.messages.last()));
            win.pane().table()->selectRow(3);
            shot(win.w, "line-run.png");
            QVERIFY(win.pane().table()->item(3, 3)->toolTip().contains("无应答")
                    || !win.pane().table()->item(3, 3)->toolTip().isEmpty());
            win.answers << "示例站"
                        << "张工";
            QVERIFY(win.w.saveRecord(mine));
            if (qEnvironmentVariableIsSet("HV52_LINE_SHOTS"))
                QVERIFY(win.w.saveRecord(QDir(qEnvironmentVariable("HV52_LINE_SHOTS")).filePath("line-record.html")));
            QCOMPARE(win.w.siteEdit()->text(), QStringLiteral("示例站"));
        }
        // hv52ctl on a fresh line of the same modules, from the plan the
        // window saved.
        Bus bus;
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(HV52CTL_PROGRAM, {"commission", plan, "--record", theirs, "--site", "示例站", "--operator", "张工"});
        const Result r = finish(p, 60000);
        QCOMPARE(r.status, 1); // not every meter done
        const QJsonObject a = readJson(mine), b = readJson(theirs);
        QCOMPARE(a.value("tool").toString(), QStringLiteral("hv52line"));
        QCOMPARE(b.value("tool").toString(), QStringLiteral("hv52ctl"));
        QCOMPARE(QJsonDocument(comparable(a)).toJson(), QJsonDocument(comparable(b)).toJson());
    }

    // 验收: the whole poll of each meter compared, not one write.
    void auditWritesNothing()
    {
        Bus bus;
        Window win(bus.port.port());
        win.scan("1-2");
        win.choose("t528", "relay1.command", "控制继电器动作");
        win.choose("t528", "relay2.command", "报警输出");
        win.run(true);
        QCOMPARE(bus.writes(), 0);
        const QStringList rows = win.rows();
        QVERIFY2(rows[0].endsWith("已记录"), qPrintable(rows[0]));
        QVERIFY2(rows[1].endsWith("一致"), qPrintable(rows[1]));
        QVERIFY(win.messages.last().startsWith("验收结束"));
    }

    // Esc mid-run: the meter in progress ends whole (its group of writes),
    // the rest 未进行, the record says why and is written.
    void escapeMidRun()
    {
        QTemporaryDir dir;
        LongLine bus;
        Window win(bus.port.port());
        QVERIFY(win.active);
        QVERIFY(bus.startRun(win));
        QTest::keyClick(&win.w, Qt::Key_Escape);
        QVERIFY(win.idle());
        const QStringList rows = win.rows();
        QVERIFY2(rows.last().endsWith("未进行"), qPrintable(rows.join('\n')));
        QVERIFY2(rows[0].endsWith("完成并核对"), qPrintable(rows[0]));
        const hv52::RunRecord &record = win.pane().record();
        QCOMPARE(record.stopped, QStringLiteral("已中断（操作员停止）"));
        // No analog output of the meter cut short is left half written:
        // each group's four values all sent or none.
        for (const hv52::MeterRecord &m : record.meters) {
            for (int k = 1; k <= 3; ++k) {
                int sent = 0;
                for (const hv52::WrittenValue &v : m.writes)
                    sent += v.key.startsWith(QStringLiteral("analog%1.").arg(k))
                            && v.outcome != hv52::WrittenValue::Outcome::NotSent;
                QVERIFY2(sent == 0 || sent == 4,
                         qPrintable(QStringLiteral("地址 %1 输出%2：%3").arg(m.address).arg(k).arg(sent)));
            }
        }
        win.answers << ""
                    << "";
        QVERIFY(win.w.saveRecord(dir.filePath("stopped.html")));
        QVERIFY(QFile(dir.filePath("stopped.html")).size() > 1000);
        // The window runs again after a stop.
        win.run(false);
        QVERIFY2(win.rows().last().endsWith("完成并核对"), qPrintable(win.rows().join('\n')));
    }

    // The port lost mid-run ends the run with its reason; the window stays.
    void portLostMidRun()
    {
        LongLine bus;
        Window win(bus.port.port());
        QVERIFY(bus.startRun(win));
        bus.port.sim.stop();
        QVERIFY(win.idle());
        const hv52::RunRecord &record = win.pane().record();
        QVERIFY2(!record.stopped.isEmpty(), qPrintable(win.rows().join('\n')));
        QVERIFY2(win.rows().last().endsWith("未进行"), qPrintable(win.rows().join('\n')));
        QVERIFY2(win.messages.last().contains(record.stopped), qPrintable(win.messages.last()));
        QVERIFY(win.w.isVisible());
    }

    // A site's plan opens a tab a line; a plan the window cannot show whole
    // leaves the window as it was.
    void sitePlanOpensATabALine()
    {
        QTemporaryDir dir;
        const QString site = dir.filePath("site.json"), bad = dir.filePath("bad.json");
        QFile f(site);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"site": "站", "lines": [
              {"port": 3, "speed": 9600, "meters": [{"address": "1-2", "module": "t516",
                "settings": {"relay1.command": "上位机控制", "relay2.command": "报警输出"}}]},
              {"tcp": "127.0.0.1:4001", "speed": 19200, "timeout": 500, "meters": [{"address": 7, "module": "t540"}]}]})");
        f.close();
        QFile g(bad);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write(R"({"line": {"port": 3}, "meters": [
              {"address": 1, "module": "t516", "settings": {"relay1.command": "上位机控制", "relay2.command": "报警输出"}},
              {"address": 2, "module": "t516", "settings": {"relay1.command": "报警输出", "relay2.command": "报警输出"}}]})");
        g.close();
        Window win(1);
        QVERIFY(win.w.openPlan(site));
        QCOMPARE(win.w.lineCount(), 2);
        QCOMPARE(win.w.siteEdit()->text(), QStringLiteral("站"));
        QCOMPARE(win.pane(0).portNumber()->value(), 3);
        QCOMPARE(win.rows(), QStringList({"1 T516", "2 T516"}));
        QCOMPARE(win.pane(1).host()->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(win.pane(1).speed()->currentText(), QStringLiteral("19200"));
        QCOMPARE(win.pane(1).timeout()->value(), 500);
        auto *relay = qobject_cast<QComboBox *>(win.pane(0).form("t516")->control("relay1.command"));
        QCOMPARE(relay->currentText(), QStringLiteral("上位机控制"));
        QCOMPARE(hv52::ControlMarks::markOf(relay), Mark::None);
        QCOMPARE(hv52::ControlMarks::markOf(win.pane(0).form("t516")->control("analog1.type")), Mark::NotRead);

        QVERIFY(!win.w.openPlan(bad));
        QVERIFY2(win.messages.last().contains("设置不同"), qPrintable(win.messages.last()));
        QCOMPARE(win.w.lineCount(), 2);
    }

    // The line as a plan writes it, from each kind of place; a gateway
    // without a host refused.
    void lineAsAPlanWritesIt_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("plan");
        QTest::newRow("serial port") << 0 << ""
                                     << R"({"port":3,"speed":19200,"timeout":500})";
        QTest::newRow("serial device server") << 1 << " 10.0.0.7 "
                                              << R"({"speed":19200,"tcp":"10.0.0.7:4001","timeout":500})";
        QTest::newRow("Modbus TCP gateway, IPv6") << 2 << "::1"
                                                  << R"({"modbus_tcp":"[::1]:4001","timeout":500})";
        QTest::newRow("gateway without a host") << 2 << " "
                                                << "";
    }
    void lineAsAPlanWritesIt()
    {
        QFETCH(int, kind);
        QFETCH(QString, host);
        QFETCH(QString, plan);
        Window win(3);
        LinePane &p = win.pane();
        p.placeKind()->setCurrentIndex(kind);
        p.speed()->setCurrentText("19200");
        p.timeout()->setValue(500);
        p.host()->setText(host);
        p.tcpPort()->setValue(4001);
        QString refusal;
        const QJsonObject line = p.lineObject(&refusal);
        QCOMPARE(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)), plan.isEmpty() ? "{}" : plan);
        QCOMPARE(refusal.isEmpty(), !plan.isEmpty());
        // The window's controls follow the place: a gateway's speed is its own.
        QCOMPARE(p.speed()->isEnabled(), kind != 2);
        QCOMPARE(p.portNumber()->isEnabled(), kind == 0);
    }

    // A settings file in any words hv52ctl takes fills the lists with their
    // own entries; one it refuses changes nothing.
    void settingsInHv52ctlWords()
    {
        Window win(1);
        hv52line::SettingsForm *form = win.pane().form("t516");
        QString refusal;
        QVERIFY2(form->fill(QJsonObject{{"module", "t516"},
                                        {"relay1.command", "host"},
                                        {"relay2.command", "operate"},
                                        {"analog1.type", "0-5V"},
                                        {"analog1.source", 2},
                                        {"analog1.lower", 0},
                                        {"analog1.upper", 2.5}},
                            "a.json", &refusal),
                 qPrintable(refusal));
        const auto text = [form](const char *key) {
            QWidget *c = form->control(key);
            auto *box = qobject_cast<QComboBox *>(c);
            return box ? box->currentText() : qobject_cast<QLineEdit *>(c)->text();
        };
        QCOMPARE(text("relay1.command"), QStringLiteral("上位机控制"));
        QCOMPARE(text("relay2.command"), QStringLiteral("控制继电器动作"));
        QCOMPARE(text("analog1.type"), hv52::kSignalTypeTexts.value(1));
        QCOMPARE(text("analog1.source"), hv52::kSourceQuantityTexts.value(2));
        QCOMPARE(text("analog1.upper"), QStringLiteral("2.5"));
        QString none;
        const QJsonObject chosen = form->chosen(&none);
        QVERIFY2(none.isEmpty(), qPrintable(none));
        QCOMPARE(chosen.value("relay2.command").toString(), QStringLiteral("控制继电器动作"));
        QVERIFY(!chosen.contains("analog2.type"));
        QVERIFY(
            !form->fill(QJsonObject{{"module", "t516"}, {"relay1.command", "sometimes"}, {"relay2.command", "host"}},
                        "b.json", &refusal));
        QCOMPARE(text("relay2.command"), QStringLiteral("控制继电器动作"));
    }

    // A line at 1200 bit/s, its module answering at that pace: found by the
    // scan at the line's speed and audited in full.
    void pacedLineAt1200()
    {
        SimPort port(Module::T528, 1, 1);
        port.sim.setPacing(1200);
        Window win(port.port());
        win.pane().speed()->setCurrentText("1200");
        win.pane().timeout()->setValue(1000);
        win.scan("1-2");
        QCOMPARE(win.rows(), QStringList({"1 T528 有应答"}));
        win.run(true);
        QVERIFY2(win.rows().first().endsWith("已记录"), qPrintable(win.rows().join('\n')));
        QCOMPARE(win.pane().record().speed, 1200);
    }

    // Last: a signal's cause stays for the process. SIGTERM mid-run stops
    // the run as 停止 does, and the window closes at its end.
    void terminateMidRunClosesTheWindow()
    {
        LongLine bus;
        Window win(bus.port.port());
        QVERIFY(bus.startRun(win));
        ::raise(SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { return !win.w.isVisible(); }, 20000));
        QVERIFY(!win.w.busy());
        QCOMPARE(win.pane().record().stopped, QStringLiteral("已中断（SIGTERM）"));
        QVERIFY2(win.rows().last().endsWith("未进行"), qPrintable(win.rows().join('\n')));
    }
};

QTEST_MAIN(TestLineWindow)
#include "tst_hv52line.moc"
