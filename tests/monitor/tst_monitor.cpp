// The line monitor against the simulated module on a real pseudo-terminal:
// one row per exchange for every way an exchange can end, stray bytes, the
// meanings of reads and writes through the real cfg_t516 window, the row
// bound, F12 and the context menu, copying and saving; the same rows over
// Modbus TCP.
#include "dataunit.h"
#include "frm_t516.h"
#include "linemonitor.h"
#include "messagebox.h"
#include "sim/tcpserver.h"
#include "t516module.h"
#include "toolbench.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <utility>

using namespace hv52;
using namespace hv52test;
using hv52sim::Fault;
namespace regs = hv52sim::regs;

Q_DECLARE_METATYPE(hv52::Framing)

namespace {

using Rig = Bench<frm_T516, hv52sim::Module::T516>;

const QString kStray = QStringLiteral("线路杂散字节");

// A link with its monitor on a bare window: the exchanges one by one.
struct LineRig
{
    SimPort port{hv52sim::Module::T516};
    QWidget window;
    Link link;
    LineMonitor *monitor;

    explicit LineRig(int timeoutMs = kShortTimeoutMs) : monitor(LineMonitor::attach(&window, link, t516Module()))
    {
        link.setArgs({1, port.port(), 9600, 0});
        link.setResponseTimeout(timeoutMs);
    }
    LineLog &log() { return monitor->log(); }
};

// The monitor of a tool window; attaching again only finds it.
LineMonitor *monitorOf(frm_T516 &window)
{
    return LineMonitor::attach(&window, window.link(), window.module());
}

QString column(LineLog &log, int row, int c)
{
    return log.text(row, c);
}

QStringList columnOf(LineLog &log, int c, int from = 0)
{
    QStringList out;
    for (int row = from; row < log.rowCount(); ++row)
        out << log.text(row, c);
    return out;
}

// Requests the module received, each with the answer it sent (empty when
// it stayed silent).
QList<QPair<QString, QString>> logged(const SimPort &port)
{
    QList<QPair<QString, QString>> out;
    for (const auto &frame : port.sim.frames()) {
        const QString hex = QString::fromStdString(hv52sim::Simulator::hex(frame.bytes));
        if (frame.fromMaster)
            out.append({hex, QString()});
        else if (!out.isEmpty() && out.last().second.isEmpty())
            out.last().second = hex;
    }
    return out;
}

QString toText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// A small filesystem to fill up: a tmpfs mounted on a temporary folder (this
// needs root). Where mounting is not allowed, the same write failure comes
// from a file size limit on this process instead: writes beyond it fail as
// on a full disk, only with another reason.
struct SmallDisk
{
    QTemporaryDir dir;
    bool mounted = false;
    bool limited = false;
    rlimit oldLimit{};

    explicit SmallDisk(int bytes)
    {
        const QByteArray options = "size=" + QByteArray::number(bytes);
        mounted = ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk()
    {
        release();
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    bool ready() const { return dir.isValid(); }
    QString filler() const { return dir.filePath(QStringLiteral("filler")); }

    // Leaves only `freeBytes` for new data.
    bool fill(qint64 freeBytes)
    {
        if (!mounted) {
            // Every file written from now on may grow to freeBytes only.
            ::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &oldLimit);
            rlimit limit = oldLimit;
            limit.rlim_cur = rlim_t(freeBytes);
            limited = setrlimit(RLIMIT_FSIZE, &limit) == 0;
            return limited;
        }
        QFile f(filler());
        if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'x');
        while (f.write(block) == block.size()) {}
        f.close();
        return f.resize(std::max<qint64>(0, f.size() - freeBytes));
    }
    void release()
    {
        if (limited)
            setrlimit(RLIMIT_FSIZE, &oldLimit);
        limited = false;
        QFile::remove(filler());
    }
    // Why the save failed, as the message says it.
    QString reason() const { return mounted ? QStringLiteral("磁盘空间不足") : QStringLiteral("文件过大"); }
};

double elapsedMs(const QString &text)
{
    bool ok = false;
    const double ms = QString(text).remove(QStringLiteral(" ms")).toDouble(&ok);
    return ok ? ms : -1;
}

// The 27 reads' captions of a T516 poll, as the monitor names them.
const QStringList kPollCaptions = {
    "输入1 输入次数",   "输入1 输入状态",   "输入1 输入ON时间",  "输入2 输入次数",    "输入2 输入状态",
    "输入2 输入ON时间", "继电器1 输出次数", "继电器1 输出状态",  "继电器1 控制方式",  "继电器2 输出次数",
    "继电器2 输出状态", "继电器2 控制方式", "输出1 输出值 (mA)", "输出2 输出值 (mA)", "输出3 输出值 (mA)",
    "输出1 信号类型",   "输出2 信号类型",   "输出3 信号类型",    "输出1 参数选择",    "输出2 参数选择",
    "输出3 参数选择",   "输出1 下限参数值", "输出1 上限参数值",  "输出2 下限参数值",  "输出2 上限参数值",
    "输出3 下限参数值", "输出3 上限参数值",
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QString hexOf(const std::vector<uint8_t> &frame)
{
    return LineLog::hex(QByteArray(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size())));
}

} // namespace

class MonitorTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

    // One read (or two, when a late answer needs a next exchange to be
    // noticed) on each kind of line: the rows, their results and bytes.
    void outcomes_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("line"); // what else happens on the line
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QString>("meaning"); // of the first row
        const QString state = QStringLiteral("输入1 输入状态 0x0E42");
        const auto one = [](const char *text) { return QStringList{QString::fromUtf8(text)}; };
        QTest::newRow("valid") << int(Fault::None) << "" << one("有效") << state + " = ON";
        QTest::newRow("silent") << int(Fault::Silent) << "" << one("超时无应答") << state;
        QTest::newRow("bad crc") << int(Fault::BadCrc) << "" << one("校验错误") << state;
        QTest::newRow("partial") << int(Fault::Partial) << "" << one("应答不完整") << state;
        QTest::newRow("exception") << int(Fault::Exception) << "" << one("异常应答 04：从站设备故障") << state;
        // An intact answer with bytes after it: the module did answer, the
        // line speed is right.
        QTest::newRow("extra bytes") << int(Fault::ExtraBytes) << "" << one("应答过长") << state;
        QTest::newRow("other address") << int(Fault::OtherAddress) << "" << one("地址不符") << state;
        QTest::newRow("other function") << int(Fault::OtherFunction) << "" << one("功能码不符") << state;
        QTest::newRow("register the firmware lacks")
            << int(Fault::None) << "missing" << one("异常应答 02：非法数据地址") << "寄存器 0x0E99";
        // The read after a failed exchange is read again to confirm it.
        QTest::newRow("late answer") << int(Fault::Slow) << "late" << QStringList{"超时无应答", kStray, "有效", "有效"}
                                     << state;
        QTest::newRow("unplugged") << int(Fault::Silent) << "unplug" << one("串口错误") << state;
        QTest::newRow("aborted") << int(Fault::Silent) << "abort" << one("已中止") << state;
    }
    void outcomes()
    {
        QFETCH(int, fault);
        QFETCH(QString, line);
        QFETCH(QStringList, results);
        QFETCH(QString, meaning);
        LineRig rig;
        rig.port.sim.setRegister(regs::inputState(0), regs::on);
        rig.port.sim.setFault(Fault(fault), 1);
        rig.port.sim.setSlowMs(kShortTimeoutMs + 80);
        if (line == "unplug" || line == "abort") {
            QTimer::singleShot(30, [&] {
                if (line == "unplug")
                    rig.port.sim.unplug();
                else
                    rig.link.abort();
            });
        }
        const RunResult run = rig.link.run([&] {
            rig.link.readRegister(line == "missing" ? 0x0E99 : regs::inputState(0), false);
            if (line == "late") {
                // The late answer waits in the port until the next exchange clears the line.
                QTest::qWait(kShortTimeoutMs + 200);
                rig.link.readRegister(regs::inputState(0), false);
            }
        });
        QCOMPARE(run.error.isEmpty(), line != "unplug");

        LineLog &log = rig.log();
        QCOMPARE(columnOf(log, LineLog::Result), results);
        QCOMPARE(column(log, 0, LineLog::Meaning), meaning);
        // Every exchange row carries the request the module received and the
        // answer it sent, as long as the answer came in its time.
        const auto frames = logged(rig.port);
        int exchange = 0;
        for (int row = 0; row < log.rowCount(); ++row) {
            const QString result = log.text(row, LineLog::Result);
            if (result == kStray) {
                QVERIFY(log.text(row, LineLog::Request).isEmpty());
                QCOMPARE(log.text(row, LineLog::Answer), frames.value(exchange - 1).second);
                QVERIFY(log.text(row, LineLog::Elapsed).isEmpty());
                QCOMPARE(log.text(row, LineLog::Meaning), LineMeaning::strayText());
                continue;
            }
            QCOMPARE(log.text(row, LineLog::Request), frames.value(exchange).first);
            const bool nothing = result == "超时无应答" || result == "已中止" || result == "串口错误";
            QCOMPARE(log.text(row, LineLog::Answer), nothing ? QString() : frames.value(exchange).second);
            QVERIFY(QTime::fromString(log.text(row, LineLog::Time), "hh:mm:ss.zzz").isValid());
            const double ms = elapsedMs(log.text(row, LineLog::Elapsed));
            QVERIFY2(ms >= 0 && ms < 5000, qPrintable(log.text(row, LineLog::Elapsed)));
            if (result == "超时无应答")
                QVERIFY2(ms >= kShortTimeoutMs - 1, qPrintable(log.text(row, LineLog::Elapsed)));
            ++exchange;
        }
        QCOMPARE(exchange, frames.size());
    }

    // Every outcome's words in 结果, also those no simulated fault makes.
    void resultTexts_data()
    {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("valid") << int(Outcome::Valid) << 0 << "有效";
        QTest::newRow("timeout") << int(Outcome::Timeout) << 0 << "超时无应答";
        QTest::newRow("incomplete") << int(Outcome::Incomplete) << 0 << "应答不完整";
        QTest::newRow("bad crc") << int(Outcome::BadCrc) << 0 << "校验错误";
        QTest::newRow("address") << int(Outcome::WrongAddress) << 0 << "地址不符";
        QTest::newRow("function") << int(Outcome::WrongFunction) << 0 << "功能码不符";
        QTest::newRow("length") << int(Outcome::WrongLength) << 0 << "长度不符";
        QTest::newRow("exception 01") << int(Outcome::Exception) << 1 << "异常应答 01：非法功能";
        QTest::newRow("exception 0B") << int(Outcome::Exception) << 0x0B << "异常应答 0B：网关目标设备响应失败";
        QTest::newRow("exception 7F") << int(Outcome::Exception) << 0x7F << "异常应答 7F：未知异常";
        QTest::newRow("port error") << int(Outcome::PortError) << 0 << "串口错误";
        QTest::newRow("aborted") << int(Outcome::Aborted) << 0 << "已中止";
        QTest::newRow("too long") << int(Outcome::TooLong) << 0 << "应答过长";
        QTest::newRow("echo mismatch") << int(Outcome::EchoMismatch) << 0 << "应答回显不符";
        QTest::newRow("late") << int(Outcome::Late) << 0 << "应答迟到";
        QTest::newRow("unconfirmed") << int(Outcome::Unconfirmed) << 0 << "复读不一致";
    }
    void resultTexts()
    {
        QFETCH(int, outcome);
        QFETCH(int, code);
        QFETCH(QString, text);
        LineLog log;
        const ExchangeRecord record{QTime(8, 5, 9, 7), 1234567, frameRtu(1, readUnit(true, 0x0E40)),
                                    QByteArray("\x01\x83", 2), Verdict{Outcome(outcome), quint8(code)}};
        log.addExchange(record, QStringLiteral("输入1 输入次数 0x0E40"));
        QCOMPARE(log.rowCount(), 1);
        QCOMPARE(log.text(0, LineLog::Time), QStringLiteral("08:05:09.007"));
        QCOMPARE(log.text(0, LineLog::Request), QStringLiteral("01 03 0E 40 00 02 C7 37"));
        QCOMPARE(log.text(0, LineLog::Answer), QStringLiteral("01 83"));
        QCOMPARE(log.text(0, LineLog::Elapsed), QStringLiteral("1234.6 ms"));
        QCOMPARE(log.text(0, LineLog::Result), text);
        // Whatever is not valid stands out.
        const QVariant colour = log.index(0, LineLog::Result).data(Qt::ForegroundRole);
        QCOMPARE(colour.isValid(), outcome != int(Outcome::Valid));
    }

    // Reads, a write and a reset described alike whether their data units
    // travel as RTU frames or in Modbus TCP frames; on Modbus TCP the
    // meaning leads with the request's transaction, also in the saved text.
    void describedAlikeOnEveryFraming_data()
    {
        QTest::addColumn<QByteArray>("request"); // data units
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("transaction");
        QTest::addColumn<QString>("meaning"); // over RTU
        QTest::addColumn<QString>("lead");    // before it over Modbus TCP
        QTest::newRow("pair read") << readUnit(true, regs::inputCount(0)) << bytes({3, 4, 0, 1, 0x11, 0x70})
                                   << int(Outcome::Valid) << 1 << "输入1 输入次数 0x0E40 = 70000"
                                   << "事务 0x0001 · ";
        QTest::newRow("single read") << readUnit(false, regs::inputState(0)) << bytes({3, 2, 0x50, 0x50})
                                     << int(Outcome::Valid) << 0x00FF << "输入1 输入状态 0x0E42 = ON"
                                     << "事务 0x00FF · ";
        QTest::newRow("read of an unknown register")
            << readUnit(false, 0x0E99) << bytes({3, 2, 0, 5}) << int(Outcome::Valid) << 0xABCD << "寄存器 0x0E99 = 5"
            << "事务 0xABCD · ";
        QTest::newRow("refused read") << readUnit(false, regs::inputState(0)) << bytes({0x83, 4})
                                      << int(Outcome::Exception) << 0x1000 << "输入1 输入状态 0x0E42"
                                      << "事务 0x1000 · ";
        QTest::newRow("unanswered read") << readUnit(true, regs::inputCount(0)) << QByteArray() << int(Outcome::Timeout)
                                         << 0 << "输入1 输入次数 0x0E40"
                                         << "事务 0x0000 · ";
        QTest::newRow("write") << writeUnit(regs::relayCommand(0), regs::cmdRestore) << bytes({16, 0x0E, 0x80, 0, 1})
                               << int(Outcome::Valid) << 2 << "继电器1 控制方式 0x0E80 ← 0x3030 控制继电器恢复"
                               << "事务 0x0002 · ";
        QTest::newRow("reset") << writeUnit(0x0B00, 0x6FFF) << bytes({16, 0x0B, 0x00, 0, 1}) << int(Outcome::Valid)
                               << 0xFFFF << "复位 0x0B00 ← 0x6FFF 所有继电器输出计数器"
                               << "事务 0xFFFF · ";
    }
    void describedAlikeOnEveryFraming()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(int, outcome);
        QFETCH(int, transaction);
        QFETCH(QString, meaning);
        QFETCH(QString, lead);
        const quint16 id = quint16(transaction);
        for (const Framing framing : {Framing::Rtu, Framing::Mbap}) {
            const bool mbap = framing == Framing::Mbap;
            ExchangeRecord record{QTime(10, 0), 900, {}, {}, Verdict{Outcome(outcome), 4}, framing};
            record.request = mbap ? frameMbap(id, 1, request) : frameRtu(1, request);
            if (!answer.isEmpty())
                record.answer = mbap ? frameMbap(id, 1, answer) : frameRtu(1, answer);
            LineMeaning meanings(t516Module());
            const QString expected = mbap ? lead + meaning : meaning;
            QCOMPARE(meanings.describe(record), expected);

            LineLog log;
            log.addExchange(record, meanings.describe(record));
            // The bytes columns hold the whole frames, header and all.
            QCOMPARE(log.text(0, LineLog::Request), LineLog::hex(record.request));
            QCOMPARE(log.text(0, LineLog::Answer), LineLog::hex(record.answer));
            QCOMPARE(log.text(0, LineLog::Meaning), expected);
            const QStringList saved = log.tabText().split(u'\n');
            QCOMPARE(saved.value(0), QStringLiteral("时间\t请求\t应答\t用时\t结果\t含义"));
            QCOMPARE(saved.value(1).section(u'\t', 5), expected);
        }
    }

    // Frames cut short, with whatever verdict the record carries: no value is
    // read past their ends, and nothing breaks.
    void truncatedFrames_data()
    {
        QTest::addColumn<hv52::Framing>("framing");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("meaning");
        const QByteArray pair = frameMbap(5, 1, readUnit(true, regs::inputCount(0)));
        const QByteArray single = frameMbap(5, 1, readUnit(false, regs::inputState(0)));
        const QString count = QStringLiteral("事务 0x0005 · 输入1 输入次数 0x0E40");
        const QString state = QStringLiteral("事务 0x0005 · 输入1 输入状态 0x0E42");
        const int valid = int(Outcome::Valid);
        QTest::newRow("request of one byte") << Framing::Mbap << pair.left(1) << QByteArray() << valid << "";
        QTest::newRow("request shorter than the header")
            << Framing::Mbap << pair.left(4) << QByteArray() << valid << "事务 0x0005";
        QTest::newRow("request of a header only")
            << Framing::Mbap << pair.left(kMbapHeader) << QByteArray() << valid << "事务 0x0005";
        QTest::newRow("request with a function code only")
            << Framing::Mbap << frameMbap(5, 1, bytes({3})) << QByteArray() << valid << "事务 0x0005";
        QTest::newRow("write request without its value")
            << Framing::Mbap << frameMbap(5, 1, writeUnit(0x0E80, 1).left(5)) << QByteArray() << valid << "事务 0x0005";
        QTest::newRow("no answer, judged valid") << Framing::Mbap << pair << QByteArray() << valid << count;
        QTest::newRow("answer shorter than the header") << Framing::Mbap << pair << bytes({0, 5, 0}) << valid << count;
        QTest::newRow("answer of a header only") << Framing::Mbap << pair << frameMbap(5, 1, {}) << valid << count;
        QTest::newRow("answer with a function code only")
            << Framing::Mbap << pair << frameMbap(5, 1, bytes({3})) << int(Outcome::Incomplete) << count;
        QTest::newRow("answer with a function code only, judged valid")
            << Framing::Mbap << single << frameMbap(5, 1, bytes({3})) << valid << state;
        QTest::newRow("pair answer cut in its value")
            << Framing::Mbap << pair << frameMbap(5, 1, bytes({3, 4, 0, 1, 0x11})) << valid << count;
        QTest::newRow("single answer cut in its value")
            << Framing::Mbap << single << frameMbap(5, 1, bytes({3, 2, 0x50})) << valid << state;
        QTest::newRow("rtu request of two bytes") << Framing::Rtu << bytes({1, 3}) << QByteArray() << valid << "";
        QTest::newRow("rtu answer of two bytes, judged valid")
            << Framing::Rtu << frameRtu(1, readUnit(false, regs::inputState(0))) << bytes({1, 3}) << valid
            << "输入1 输入状态 0x0E42";
    }
    void truncatedFrames()
    {
        QFETCH(hv52::Framing, framing);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(int, outcome);
        QFETCH(QString, meaning);
        // Copies of just the bytes: a read past the end is one past the block.
        const ExchangeRecord record{QTime(10, 0),
                                    900,
                                    QByteArray(request.constData(), request.size()),
                                    QByteArray(answer.constData(), answer.size()),
                                    Verdict{Outcome(outcome)},
                                    framing};
        LineMeaning meanings(t516Module());
        QCOMPARE(meanings.describe(record), meaning);
        LineLog log;
        log.addExchange(record, meaning);
        QCOMPARE(log.text(0, LineLog::Request), LineLog::hex(request));
        QCOMPARE(log.text(0, LineLog::Answer), LineLog::hex(answer));
        QCOMPARE(log.tabText().count(u'\n'), 2);
    }

    // Stray bytes: on Modbus TCP, whole frames among them are late answers
    // and are named by their transactions; anything else is just bytes.
    void strayRows_data()
    {
        QTest::addColumn<hv52::Framing>("framing");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("lead"); // before the stray text
        const QByteArray late3 = frameMbap(3, 1, bytes({3, 2, 0x50, 0x50}));
        const QByteArray late4 = frameMbap(4, 1, bytes({3, 4, 0, 1, 0x11, 0x70}));
        QTest::newRow("rtu answer") << Framing::Rtu << frameRtu(1, bytes({3, 2, 0x50, 0x50})) << "";
        QTest::newRow("rtu bytes that look like a modbus tcp frame") << Framing::Rtu << late3 << "";
        QTest::newRow("one late answer") << Framing::Mbap << late3 << "事务 0x0003 · ";
        QTest::newRow("two late answers") << Framing::Mbap << late3 + late4 << "事务 0x0003、0x0004 · ";
        QTest::newRow("late answer and the start of another")
            << Framing::Mbap << late3 + late4.left(9) << "事务 0x0003 · ";
        QTest::newRow("a header only") << Framing::Mbap << late3.left(kMbapHeader) << "";
        QTest::newRow("shorter than a header") << Framing::Mbap << late3.left(3) << "";
        QTest::newRow("nothing") << Framing::Mbap << QByteArray() << "";
        QTest::newRow("another protocol") << Framing::Mbap << bytes({0, 3, 0, 1, 0, 2, 1, 3}) << "";
        QTest::newRow("length of the unit identifier only") << Framing::Mbap << bytes({0, 3, 0, 0, 0, 1, 1}) << "";
        QTest::newRow("line noise") << Framing::Mbap << bytes({0xFF, 0x00, 0xFF}) << "";
    }
    void strayRows()
    {
        QFETCH(hv52::Framing, framing);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, lead);
        LineLog log;
        log.addStray(QByteArray(bytes.constData(), bytes.size()), QTime(10, 0), framing);
        QCOMPARE(log.text(0, LineLog::Meaning), lead + LineMeaning::strayText());
        QCOMPARE(log.text(0, LineLog::Result), kStray);
        QVERIFY(log.text(0, LineLog::Request).isEmpty());
        QCOMPARE(log.text(0, LineLog::Answer), LineLog::hex(bytes));
        QVERIFY(log.text(0, LineLog::Elapsed).isEmpty());
    }

    // A window's link on Modbus TCP to the simulated module: each row holds
    // the frames that went over the connection, and its meaning the
    // transaction, register and value; an answer held back past its time
    // comes as a stray row named by its transaction.
    void overModbusTcp_data()
    {
        QTest::addColumn<bool>("late");
        QTest::addColumn<QStringList>("results");
        QTest::addColumn<QStringList>("meanings");
        const QString stray = LineMeaning::strayText();
        QTest::newRow("reads") << false << QStringList{"有效", "有效"}
                               << QStringList{"事务 0x0001 · 输入1 输入状态 0x0E42 = ON",
                                              "事务 0x0002 · 输入1 输入次数 0x0E40 = 70000"};
        QTest::newRow("late answer") << true << QStringList{"超时无应答", "有效", kStray}
                                     << QStringList{"事务 0x0001 · 输入1 输入状态 0x0E42",
                                                    "事务 0x0002 · 输入1 输入次数 0x0E40 = 70000",
                                                    "事务 0x0001 · " + stray};
    }
    void overModbusTcp()
    {
        QFETCH(bool, late);
        QFETCH(QStringList, results);
        QFETCH(QStringList, meanings);
        hv52sim::Simulator sim(hv52sim::Module::T516);
        sim.setDemo(false);
        sim.setRegister(regs::inputState(0), regs::on);
        sim.setRegister32(regs::inputCount(0), 70000);
        hv52sim::TcpServer server(sim, hv52sim::TcpFraming::Mbap);
        std::string error;
        QVERIFY2(server.start(0, &error), error.c_str());
        if (late)
            server.setFault(hv52sim::TcpFault::Late, 1);

        QWidget window;
        Link link;
        link.setArgs({1, 0, 9600, 0});
        LineSettings tcp;
        tcp.kind = LineSettings::Kind::Tcp;
        tcp.host = QStringLiteral("127.0.0.1");
        tcp.tcpPort = quint16(server.port());
        tcp.framing = Framing::Mbap;
        tcp.connectTimeoutMs = 2000;
        link.setLine(tcp);
        // Short only where an answer is meant to miss its time.
        link.setResponseTimeout(late ? 300 : Link::kResponseTimeoutMs);
        LineMonitor *monitor = LineMonitor::attach(&window, link, t516Module());
        const RunResult run = link.run([&] {
            link.readRegister(regs::inputState(0), false);
            link.readRegister(regs::inputCount(0), true);
        });
        QVERIFY2(run.error.isEmpty(), qPrintable(run.error));

        LineLog &log = monitor->log();
        QCOMPARE(columnOf(log, LineLog::Result), results);
        QCOMPARE(columnOf(log, LineLog::Meaning), meanings);
        // The frames the module received, and those it answers with.
        const QByteArray ask1 = frameMbap(1, 1, readUnit(false, regs::inputState(0)));
        const QByteArray ask2 = frameMbap(2, 1, readUnit(true, regs::inputCount(0)));
        const QString got1 = LineLog::hex(frameMbap(1, 1, bytes({3, 2, 0x50, 0x50})));
        const QString got2 = LineLog::hex(frameMbap(2, 1, bytes({3, 4, 0, 1, 0x11, 0x70})));
        QStringList received;
        for (const auto &frame : server.requests())
            received << hexOf(frame);
        QCOMPARE(received, (QStringList{LineLog::hex(ask1), LineLog::hex(ask2)}));
        QCOMPARE(columnOf(log, LineLog::Request), (late ? received + QStringList{QString()} : received));
        QCOMPARE(columnOf(log, LineLog::Answer), (late ? QStringList{QString(), got2, got1} : QStringList{got1, got2}));

        // The bytes columns have room for the longest frames of the line.
        LineMonitorWindow *shown = monitor->open();
        const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        const QHeaderView *header = shown->table()->horizontalHeader();
        const QString longestRequest = LineLog::hex(frameMbap(0xFFFF, 1, writeUnit(0x0E80, 0x3030)));
        QVERIFY(header->sectionSize(LineLog::Request) > fixed.horizontalAdvance(longestRequest));
        QVERIFY(header->sectionSize(LineLog::Answer) > fixed.horizontalAdvance(got2));
        shown->close();
    }

    // The real response time: a silent module's row shows the full second.
    void timeoutRowShowsTheRealWait()
    {
        LineRig rig(Link::kResponseTimeoutMs);
        rig.port.sim.setFault(Fault::Silent, 1);
        rig.link.run([&] { rig.link.readRegister(regs::inputCount(0), true); });
        QCOMPARE(rig.log().rowCount(), 1);
        QCOMPARE(rig.log().text(0, LineLog::Result), QStringLiteral("超时无应答"));
        const double ms = elapsedMs(rig.log().text(0, LineLog::Elapsed));
        QVERIFY2(ms >= 999.5 && ms < 3000, qPrintable(rig.log().text(0, LineLog::Elapsed)));
    }

    // An operator's session: poll, set a relay, reset, set an analog output,
    // poll again over a line that loses one source read. Each row says what
    // the window shows or what was sent.
    void meaningsOfASession()
    {
        Rig rig;
        rig.load({r32(regs::inputCount(0), 70000), r16(regs::inputState(0), regs::on), r32(regs::inputOnTime(0), 7),
                  r16(regs::relayCommand(0), regs::cmdOperate), r16(regs::analogValue(0), 1234),
                  r16(regs::analogSignal(0), 1), r16(regs::analogSource(1), 28), r16(regs::analogLower(1), 4500),
                  r16(regs::analogSource(2), 29), r16(regs::analogUpper(2), 1800)});
        LineLog &log = monitorOf(rig.window)->log();
        rig.poll();
        QCOMPARE(log.rowCount(), 27);
        QCOMPARE(columnOf(log, LineLog::Request), rig.requests());
        for (int i = 0; i < 27; ++i) {
            QVERIFY2(log.text(i, LineLog::Meaning).startsWith(kPollCaptions[i] + " 0x0E"),
                     qPrintable(log.text(i, LineLog::Meaning)));
        }
        const QStringList reads = columnOf(log, LineLog::Meaning);
        QCOMPARE(reads[0], QStringLiteral("输入1 输入次数 0x0E40 = 70000"));
        QCOMPARE(reads[1], QStringLiteral("输入1 输入状态 0x0E42 = ON"));
        QCOMPARE(reads[2], QStringLiteral("输入1 输入ON时间 0x0E5E = 0.7"));
        QCOMPARE(reads[8], QStringLiteral("继电器1 控制方式 0x0E80 = 控制继电器动作"));
        QCOMPARE(reads[12], QStringLiteral("输出1 输出值 (mA) 0x0E72 = 12.34"));
        QCOMPARE(reads[15], QStringLiteral("输出1 信号类型 0x0EB2 = 0- 5 V"));
        QCOMPARE(reads[19], QStringLiteral("输出2 参数选择 0x0EB7 = 频率"));
        QCOMPARE(reads[23], QStringLiteral("输出2 下限参数值 0x0EB8 = 45"));
        QCOMPARE(reads[26], QStringLiteral("输出3 上限参数值 0x0EBD = 1800"));
        // The values are the window's own texts.
        QCOMPARE(reads[0].section(" = ", 1), rig.cell(13));
        QCOMPARE(reads[23].section(" = ", 1), rig.shown("C11"));
        QCOMPARE(reads[26].section(" = ", 1), rig.shown("C15"));

        rig.operate({{2, QStringLiteral("控制继电器恢复")}}, 2);
        rig.operate({{-1, QStringLiteral("所有继电器输出计数器")}}, -1);
        rig.operate({{4, "4-20 mA"}, {7, QStringLiteral("A相电压")}, {10, "10"}, {13, "220.5"}}, 5);
        QCOMPARE(rig.messages.shown, (QStringList{"召测数据，完成！", "设置成功！", "复位成功!", "设置成功！"}));
        QCOMPARE(columnOf(log, LineLog::Meaning, 27),
                 (QStringList{
                     "继电器1 控制方式 0x0E80 ← 0x3030 控制继电器恢复",
                     "复位 0x0B00 ← 0x6FFF 所有继电器输出计数器",
                     "输出1 信号类型 0x0EB2 ← 0x0000 4-20 mA",
                     "输出1 参数选择 0x0EB3 ← 0x0005 A相电压",
                     "输出1 下限参数值 0x0EB4 ← 0x0064 寄存器值 100 = 10（A相电压）",
                     "输出1 上限参数值 0x0EB5 ← 0x089D 寄存器值 2205 = 220.5（A相电压）",
                 }));
        QCOMPARE(columnOf(log, LineLog::Result, 27), QStringList(6, QStringLiteral("有效")));

        // The source of output 2 goes unanswered: its limits are shown as the
        // register holds them, their unit being unknown.
        int requests = 0;
        rig.port.sim.onFrame([&](const hv52sim::Frame &f) {
            if (f.fromMaster && ++requests == 20)
                rig.port.sim.setFault(Fault::Silent, 1);
        });
        rig.poll();
        rig.port.sim.onFrame({});
        // The reads after the failed one are read again to confirm them
        // while its answer may still come (how many depends on the time
        // they take): a row of their own, with the same request.
        QVERIFY2(log.rowCount() > 27 + 6 + 27 && log.rowCount() <= 27 + 6 + 27 + 7,
                 qPrintable(QString::number(log.rowCount())));
        QStringList second;
        for (int row = 33; row < log.rowCount(); ++row) {
            if (log.text(row, LineLog::Request) != log.text(row - 1, LineLog::Request))
                second << log.text(row, LineLog::Meaning);
            else
                QCOMPARE(log.text(row, LineLog::Meaning), second.last());
        }
        QCOMPARE(second.size(), 27);
        QCOMPARE(log.text(33 + 19, LineLog::Result), QStringLiteral("超时无应答"));
        QCOMPARE(second[19], QStringLiteral("输出2 参数选择 0x0EB7"));
        QCOMPARE(second[23], QStringLiteral("输出2 下限参数值 0x0EB8 = 4500（寄存器值）"));
        QCOMPARE(second[21], QStringLiteral("输出1 下限参数值 0x0EB4 = 10"));
        QCOMPARE(second[22], QStringLiteral("输出1 上限参数值 0x0EB5 = 220.5"));
    }

    // A tool started with the wrong bus address: the module stays silent,
    // every row of the poll says so, and the message ends with the hint.
    void wrongAddressIsSilenceOnEveryRow()
    {
        Rig rig(30);
        rig.window.Form_Load(commandLine(rig.port, 2));
        LineLog &log = monitorOf(rig.window)->log();
        rig.poll();
        QCOMPARE(log.rowCount(), 27);
        QCOMPARE(columnOf(log, LineLog::Result), QStringList(27, QStringLiteral("超时无应答")));
        QCOMPARE(columnOf(log, LineLog::Answer), QStringList(27, QString()));
        QVERIFY(log.text(0, LineLog::Request).startsWith("02 03 0E 40"));
        QCOMPARE(rig.messages.last().section(u'\n', -1),
                 QStringLiteral("模块无应答：请检查总线地址 2、串口 COM%1、波特率 9600 与接线。").arg(rig.port.port()));
    }

    // 10,050 rows into a log of 10,000: the oldest 50 go, and the window says so.
    void boundedRows()
    {
        LineLog log;
        QSignalSpy removed(&log, &LineLog::rowsRemoved);
        const int total = LineLog::kCapacity + 50;
        for (int i = 0; i < total; ++i) {
            ExchangeRecord record{
                QTime(12, 0), 800, frameRtu(1, readUnit(false, quint16(0x0E00 | quint8(i)))), QByteArray(), {}};
            log.addExchange(record, QString::number(i));
        }
        QCOMPARE(log.rowCount(), LineLog::kCapacity);
        QCOMPARE(log.dropped(), qint64(50));
        QCOMPARE(removed.size(), 50);
        QCOMPARE(log.text(0, LineLog::Meaning), QStringLiteral("50"));
        QCOMPARE(log.text(LineLog::kCapacity - 1, LineLog::Meaning), QString::number(total - 1));

        LineMonitorWindow window(log, nullptr);
        QCOMPARE(window.droppedLabel()->text(), QStringLiteral("已丢弃较早的 50 条记录"));
        const QAbstractItemModel *table = window.table()->model();
        QCOMPARE(table->rowCount(), LineLog::kCapacity);
        // The table follows in batches: rows come and go at the next refresh.
        log.addStray(QByteArray("\x00\xFF", 2), QTime(12, 1));
        QCOMPARE(table->rowCount(), LineLog::kCapacity);
        QCOMPARE(table->index(1, LineLog::Meaning).data().toString(), QStringLiteral("51"));
        window.refresh();
        QCOMPARE(table->rowCount(), LineLog::kCapacity);
        QCOMPARE(table->index(0, LineLog::Meaning).data().toString(), QStringLiteral("51"));
        QCOMPARE(table->index(LineLog::kCapacity - 1, LineLog::Answer).data().toString(), QStringLiteral("00 FF"));
        QCOMPARE(table->index(LineLog::kCapacity - 1, LineLog::Result).data().toString(), kStray);
        QCOMPARE(window.droppedLabel()->text(), QStringLiteral("已丢弃较早的 51 条记录"));
        QTest::mouseClick(window.clearButton(), Qt::LeftButton);
        QCOMPARE(log.rowCount(), 0);
        QCOMPARE(log.dropped(), qint64(0));
        QVERIFY(window.droppedLabel()->isHidden());
    }

    // F12 and the context menu open the monitor; neither opening nor
    // closing it touches the port, and it records while closed.
    void openedByF12AndMenu()
    {
        Rig rig;
        LineMonitor *monitor = monitorOf(rig.window);
        QCOMPARE(LineMonitor::attach(&rig.window, rig.window.link(), rig.window.module()), monitor);
        QCOMPARE(rig.window.contextMenuPolicy(), Qt::ActionsContextMenu);
        // Each entry of the context menu shows its key.
        QStringList entries;
        for (const QAction *action : rig.window.actions())
            entries << action->text() + u' ' + action->shortcut().toString();
        QCOMPARE(entries, (QStringList{QStringLiteral("通讯监视… F12"), QStringLiteral("保存调试记录… Ctrl+S")}));

        // A poll with the monitor closed is there when it opens.
        rig.poll();
        const int sent = rig.sent();
        QCOMPARE(monitor->monitorWindow(), nullptr);
        rig.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.window));
        QTest::keyClick(&rig.window, Qt::Key_F12);
        LineMonitorWindow *shown = monitor->monitorWindow();
        QVERIFY(shown && shown->isVisible());
        QCOMPARE(shown->windowTitle(), QStringLiteral("通讯监视 - tst_monitor"));
        QVERIFY(shown->isWindow() && !shown->isModal());
        QCOMPARE(shown->table()->model()->rowCount(), 27);
        QCOMPARE(shown->table()->model()->data(shown->table()->model()->index(0, LineLog::Request)).toString(),
                 rig.requests().first());
        // Closed where the operator put it, it opens there again.
        shown->setGeometry(40, 50, 700, 300);
        shown->close();
        QTRY_VERIFY(!monitor->monitorWindow());
        monitor->openAction()->trigger();
        QVERIFY(monitor->monitorWindow() && monitor->monitorWindow()->isVisible());
        QCOMPARE(monitor->monitorWindow()->geometry(), QRect(40, 50, 700, 300));
        QCOMPARE(rig.sent(), sent);
        QVERIFY(!rig.window.link().isPortOpen());

        // Open during a poll: each exchange's row is there as soon as it ends,
        // before the next answer is taken in (the next request may already
        // be out: it goes as soon as an answer is whole).
        QList<int> rowsAtAnswer;
        bool armed = false;
        connect(&rig.window.link(), &Link::requestSent, this, [&](const QByteArray &) { armed = true; });
        connect(&rig.window.link(), &Link::bytesArrived, this, [&] {
            if (std::exchange(armed, false))
                rowsAtAnswer << monitor->log().rowCount();
        });
        rig.poll();
        QCOMPARE(rowsAtAnswer.size(), 27);
        for (int i = 0; i < 27; ++i)
            QCOMPARE(rowsAtAnswer[i], 27 + i);
        QTRY_COMPARE(monitor->monitorWindow()->table()->model()->rowCount(), 54);

        // The tool window closes, and its monitor with it.
        rig.window.close();
        QTRY_VERIFY(!monitor->monitorWindow());
        QCOMPARE(rig.sent(), sent + 27);
    }

    // 复制 and 另存为: all rows, tab-separated, after a header line.
    void copyAndSave()
    {
        Rig rig;
        LineMonitor *monitor = monitorOf(rig.window);
        rig.port.sim.setFault(Fault::Exception, 1);
        rig.poll();
        LineMonitorWindow *window = monitor->open();
        QTest::mouseClick(window->copyButton(), Qt::LeftButton);
        const QString text = QGuiApplication::clipboard()->text();
        QStringList lines = text.split(u'\n');
        QCOMPARE(lines.takeLast(), QString());
        // The poll's 27 rows, and the reads confirmed after the failed one.
        QVERIFY(monitor->log().rowCount() >= 27);
        QCOMPARE(lines.size(), monitor->log().rowCount() + 1);
        QCOMPARE(lines[0], QStringLiteral("时间\t请求\t应答\t用时\t结果\t含义"));
        for (const QString &line : lines)
            QCOMPARE(line.count(u'\t'), 5);
        const QStringList first = lines[1].split(u'\t');
        QCOMPARE(first[1], rig.requests().first());
        QCOMPARE(first[4], QStringLiteral("异常应答 04：从站设备故障"));
        QCOMPARE(first[5], QStringLiteral("输入1 输入次数 0x0E40"));
        QCOMPARE(lines[2].split(u'\t')[4], QStringLiteral("有效"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("通讯记录.txt"));
        QString error;
        QVERIFY2(window->writeFile(path, &error), qPrintable(error));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), text);
        QVERIFY(!window->writeFile(dir.filePath(QStringLiteral("无此目录/记录.txt")), &error));
        QVERIFY(!error.isEmpty());

        // Through 另存为…'s own path: the status line says what was saved.
        QVERIFY(window->saveTo(path));
        QCOMPARE(window->statusLabel()->text(),
                 QStringLiteral("已保存 %1 行到 %2").arg(lines.size()).arg(QDir::toNativeSeparators(path)));
        QVERIFY(file.seek(0));
        QCOMPARE(QString::fromUtf8(file.readAll()), text);
        QCOMPARE(rig.messages.shown.size(), 1); // the poll's
        QVERIFY(!window->saveTo(dir.filePath(QStringLiteral("无此目录/记录.txt"))));
        QCOMPARE(rig.messages.last(), QStringLiteral("通讯记录未保存。\n无法写入文件 %1：无此文件或目录")
                                          .arg(QDir::toNativeSeparators(dir.filePath("无此目录/记录.txt"))));
        QVERIFY(window->statusLabel()->text().isEmpty());
    }

    // 另存为… onto a filesystem that is full, or has room for part of the
    // record only: a message names the file and the reason, a file already
    // there stays whole, no part-written file is left; with room again the
    // whole record is saved and the status line says so.
    void saveOnAFullDisk_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("freeBytes");
        QTest::addColumn<bool>("oldFile");
        QTest::newRow("full, new file") << 27 << 0 << false;
        QTest::newRow("full, old file kept") << 27 << 0 << true;
        QTest::newRow("24 KB free, 10,000 rows") << LineLog::kCapacity << 24 * 1024 << true;
        QTest::newRow("24 KB free, 10,000 rows, new file") << LineLog::kCapacity << 24 * 1024 << false;
    }
    void saveOnAFullDisk()
    {
        QFETCH(int, rows);
        QFETCH(int, freeBytes);
        QFETCH(bool, oldFile);
        Rig rig;
        LineMonitor *monitor = monitorOf(rig.window);
        for (int i = 0; i < rows; ++i) {
            const ExchangeRecord record{QTime(9, 0), 700, frameRtu(1, readUnit(true, 0x0E40)), QByteArray(), {}};
            monitor->log().addExchange(record, QStringLiteral("输入1 输入次数 0x0E40 = %1").arg(i));
        }
        LineMonitorWindow *window = monitor->open();
        SmallDisk disk(4 * 1024 * 1024);
        QVERIFY(disk.ready());
        const QString path = disk.dir.filePath(QStringLiteral("通讯记录.txt"));
        const QByteArray old = QByteArray("08:00:00.000\t01 03 0E 40 00 02 C7 37\t\t\t有效\t旧记录\n").repeated(20);
        if (oldFile) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(old) == old.size());
        }
        QVERIFY(disk.fill(freeBytes));
        const QStringList before = QDir(disk.dir.path()).entryList(QDir::Files);

        QVERIFY(!window->saveTo(path));
        QCOMPARE(rig.messages.shown.size(), 1);
        const QString prefix =
            QStringLiteral("通讯记录未保存。\n无法写入文件 %1：").arg(QDir::toNativeSeparators(path));
        QVERIFY2(rig.messages.last().startsWith(prefix), qPrintable(rig.messages.last()));
        QCOMPARE(rig.messages.last().mid(prefix.size()), disk.reason());
        QVERIFY(window->statusLabel()->text().isEmpty());
        QFile saved(path);
        QCOMPARE(saved.exists(), oldFile);
        if (oldFile) {
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QCOMPARE(saved.readAll(), old);
            saved.close();
        }
        QCOMPARE(QDir(disk.dir.path()).entryList(QDir::Files), before);

        // Room again: the whole record, and the status line.
        disk.release();
        QVERIFY(window->saveTo(path));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(saved.readAll()), monitor->log().tabText());
        const QString lines = rows == LineLog::kCapacity ? QStringLiteral("10,001") : QString::number(rows + 1);
        QCOMPARE(window->statusLabel()->text(),
                 QStringLiteral("已保存 %1 行到 %2").arg(lines, QDir::toNativeSeparators(path)));
        QCOMPARE(rig.messages.shown.size(), 1);
    }

    // However large its last size or the default, the monitor opens within
    // the screen's available area, frame and all.
    void opensWithinTheScreen_data()
    {
        QTest::addColumn<QRect>("closedAt"); // where it was closed; null: first opening
        QTest::newRow("first opening") << QRect();
        QTest::newRow("closed wider than the screen") << QRect(-100, 20, 1650, 400);
        QTest::newRow("closed taller than the screen") << QRect(10, 10, 600, 2000);
    }
    void opensWithinTheScreen()
    {
        QFETCH(QRect, closedAt);
        Rig rig;
        LineMonitor *monitor = monitorOf(rig.window);
        if (!closedAt.isNull()) {
            LineMonitorWindow *shown = monitor->open();
            shown->setGeometry(closedAt);
            shown->close();
            QTRY_VERIFY(!monitor->monitorWindow());
        }
        LineMonitorWindow *window = monitor->open();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        const QRect free = window->screen()->availableGeometry();
        QVERIFY2(free.contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1 in %2").arg(toText(window->frameGeometry()), toText(free))));
        QVERIFY(window->width() > 100 && window->height() > 100);
    }

    // Enter on a focused button presses it, as Space does: in the tool
    // window and in the monitor.
    void enterPressesTheFocusedButton_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::newRow("召测, Return") << "召测" << int(Qt::Key_Return);
        QTest::newRow("召测, Enter") << "召测" << int(Qt::Key_Enter);
        QTest::newRow("复位, Return") << "复位" << int(Qt::Key_Return);
        QTest::newRow("复制, Return") << "复制" << int(Qt::Key_Return);
        QTest::newRow("清除, Enter") << "清除" << int(Qt::Key_Enter);
    }
    void enterPressesTheFocusedButton()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        Rig rig;
        LineMonitor *monitor = monitorOf(rig.window);
        rig.poll();
        rig.messages.clear();
        QGuiApplication::clipboard()->clear();
        LineMonitorWindow *window = monitor->open();
        QPushButton *target = button == "召测"   ? rig.window.Command1(4)
                              : button == "复位" ? rig.window.Command2()
                              : button == "复制" ? window->copyButton()
                                                 : window->clearButton();
        target->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(target->window()));
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        if (button == "召测")
            QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("召测数据，完成！")});
        else if (button == "复位")
            QCOMPARE(rig.messages.shown, QStringList{QStringLiteral("复位成功!")});
        else if (button == "复制")
            QCOMPARE(QGuiApplication::clipboard()->text(), monitor->log().tabText());
        else
            QCOMPARE(monitor->log().rowCount(), 0);
    }

    // Qt's own texts (the file dialog and its overwrite question) come in
    // Chinese from Qt's translation.
    void qtTextsInChinese_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("chinese");
        QTest::newRow("overwrite question") << "QFileDialog"
                                            << "%1 already exists.\nDo you want to replace it?"
                                            << "%1 已存在。\n您想要替换它吗？";
        QTest::newRow("file name") << "QFileDialog"
                                   << "File &name:"
                                   << "文件名称(&N)：";
        QTest::newRow("save button") << "QPlatformTheme"
                                     << "Save"
                                     << "保存";
        QTest::newRow("cancel button") << "QPlatformTheme"
                                       << "Cancel"
                                       << "取消";
    }
    void qtTextsInChinese()
    {
        QFETCH(QString, context);
        QFETCH(QString, english);
        QFETCH(QString, chinese);
        static const bool installed = installQtChinese();
        QVERIFY2(installed, "qtbase_zh_CN.qm missing: install qt6-translations-l10n");
        QCOMPARE(QCoreApplication::translate(qPrintable(context), qPrintable(english)), chinese);
    }
};

QTEST_MAIN(MonitorTest)
#include "tst_monitor.moc"
