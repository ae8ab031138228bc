// hv52ctl run as a program against the simulated module on a real
// pseudo-terminal: each command's frames, refusals before anything is sent,
// values as the windows show them and never a failed read as 0, an
// integrator's save and apply, a read-back that does not match, a scan and a
// watch ended with Ctrl-C or by a reader that leaves.
#include "closedpipe.h"
#include "ctl.h"
#include "harness.h"
#include "input.h"
#include "options.h"
#include "programrun.h"
#include "sim/tcpserver.h"

#include "hv52version.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

#include <QDir>
#include <QScopeGuard>

#include <atomic>
#include <csignal>
#include <sys/stat.h>

using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;
namespace regs = hv52sim::regs;

namespace {

// Ctrl-C reaches the program even when this test runs with it ignored (the
// program keeps an ignored SIGINT ignored, as a background job should).
void defaultSigint(QProcess &p)
{
    p.setChildProcessModifier([] { ::signal(SIGINT, SIG_DFL); });
}

Result runCtl(const QStringList &args, int timeoutMs = 60000)
{
    QProcess p;
    p.start(QStringLiteral(HV52CTL_PROGRAM), args);
    return finish(p, timeoutMs);
}

// Adds what the program prints to `out` until `done` holds, ten seconds at most.
bool readUntil(QProcess &p, QString &out, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 10000) {
        p.waitForReadyRead(100);
        out += QString::fromUtf8(p.readAllStandardOutput());
    }
    return done();
}

// A file written whole.
bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(contents) == contents.size();
}

// Frames as the module must receive them, with the simulator's own CRC.
QString frame(std::vector<uint8_t> bytes)
{
    hv52sim::Simulator::appendCrc(bytes);
    return QString::fromStdString(hv52sim::Simulator::hex(bytes));
}
QString readFrame(quint16 reg, int count, uint8_t address = 1)
{
    return frame({address, 3, uint8_t(reg >> 8), uint8_t(reg), 0, uint8_t(count)});
}
QString writeFrame(quint16 reg, quint16 value, uint8_t address = 1)
{
    return frame({address, 16, uint8_t(reg >> 8), uint8_t(reg), 0, 1, 2, uint8_t(value >> 8), uint8_t(value)});
}

// The requests with a read that directly repeats the same read taken out:
// the link confirms a read after a failed exchange by reading it again. A
// write is never repeated, so every write stays.
QStringList withoutRepeatedReads(const QStringList &requests)
{
    QStringList out;
    for (const QString &r : requests) {
        if (!out.isEmpty() && out.last() == r && r.mid(3, 2) == u"03")
            continue;
        out << r;
    }
    return out;
}

// A set or apply of these registers (in poll order): each read before
// anything is written, the writes, each read back.
QStringList writtenAndVerified(const QList<quint16> &registers, const QList<quint16> &values, uint8_t address = 1)
{
    QStringList reads, writes;
    for (int i = 0; i < registers.size(); ++i) {
        reads << readFrame(registers[i], 1, address);
        writes << writeFrame(registers[i], values[i], address);
    }
    return reads + writes + reads;
}

// The window's poll of each module, in order.
QStringList pollFrames(Module m, uint8_t address = 1)
{
    const int inputs = m == Module::T540 ? 7 : 2;
    QStringList f;
    for (int n = 0; n < inputs; ++n) {
        f << readFrame(regs::inputCount(n), 2, address) << readFrame(regs::inputState(n), 1, address)
          << readFrame(regs::inputOnTime(n), 2, address);
    }
    if (m == Module::T540)
        return f;
    for (int k = 0; k < 2; ++k) {
        f << readFrame(regs::relayCount(k), 2, address) << readFrame(regs::relayState(k), 1, address)
          << readFrame(regs::relayCommand(k), 1, address);
    }
    if (m == Module::T528)
        return f;
    for (const auto reg : {regs::analogValue, regs::analogSignal, regs::analogSource}) {
        for (int k = 0; k < 3; ++k)
            f << readFrame(reg(k), 1, address);
    }
    for (int k = 0; k < 3; ++k)
        f << readFrame(regs::analogLower(k), 1, address) << readFrame(regs::analogUpper(k), 1, address);
    return f;
}

// The reads of save (and of apply's read-back of a whole file): the settings
// in poll order.
QStringList settingFrames(Module m, uint8_t address = 1)
{
    QStringList f;
    if (m == Module::T540)
        return f;
    for (int k = 0; k < 2; ++k)
        f << readFrame(regs::relayCommand(k), 1, address);
    if (m == Module::T528)
        return f;
    for (const auto reg : {regs::analogSignal, regs::analogSource}) {
        for (int k = 0; k < 3; ++k)
            f << readFrame(reg(k), 1, address);
    }
    for (int k = 0; k < 3; ++k)
        f << readFrame(regs::analogLower(k), 1, address) << readFrame(regs::analogUpper(k), 1, address);
    return f;
}

// set t516 analog 1 with limits 0 to 5.
QStringList setAnalog1(const QString &type, const QString &source)
{
    return {"set", "t516", "analog", "1", "--type", type, "--source", source, "--lower", "0", "--upper", "5"};
}

// A scan's probe of each address; the kind then asked of the module found.
QStringList scanProbes(const QList<uint8_t> &addresses, uint8_t found = 0)
{
    QStringList f;
    for (const uint8_t a : addresses) {
        f << readFrame(regs::inputCount(0), 2, a);
        if (a == found)
            f << readFrame(regs::inputCount(2), 2, a) << readFrame(regs::relayState(0), 1, a)
              << readFrame(regs::analogValue(0), 1, a);
    }
    return f;
}

// Analog output k's four registers as the module holds them: signal type,
// source, lower and upper limit.
QList<quint16> analogGroup(const hv52sim::Simulator &sim, int k)
{
    QList<quint16> group;
    for (int i = 0; i < 4; ++i)
        group << sim.reg(quint16(regs::analogSignal(k) + i));
    return group;
}

QString nameOf(Module m)
{
    return QString::fromLatin1(hv52sim::moduleName(m));
}

// A module and the program pointed at it by port number, short timeout.
struct Rig
{
    SimPort port;
    explicit Rig(Module m = Module::T516, uint8_t address = 1) : port(m, 1, address) {}
    Result run(const QStringList &args)
    {
        return runCtl(QStringList{"--port", QString::number(port.port()), "--timeout", QString::number(kShortTimeoutMs)}
                      + args);
    }
};

// A module behind a TCP port on loopback: RTU frames passed through, or
// Modbus TCP. Requests are listed as the RTU frames they stand for.
struct TcpRig
{
    TcpRig(bool modbusTcp, uint8_t address = 1, Module m = Module::T516)
        : sim(m, address), server(sim, modbusTcp ? hv52sim::TcpFraming::Mbap : hv52sim::TcpFraming::Rtu),
          mbap(modbusTcp)
    {
        sim.setDemo(false);
        std::string error;
        if (!server.start(0, &error))
            qFatal("server did not start: %s", error.c_str());
    }
    QStringList line() const
    {
        return {mbap ? "--modbus-tcp" : "--tcp", QStringLiteral("127.0.0.1:%1").arg(server.port())};
    }
    Result run(const QStringList &args)
    {
        return runCtl(line() + QStringList{"--timeout", QString::number(kShortTimeoutMs)} + args);
    }
    QStringList requests() const
    {
        QStringList out;
        int transaction = 0;
        for (const std::vector<uint8_t> &r : server.requests()) {
            if (!mbap) {
                out << QString::fromStdString(hv52sim::Simulator::hex(r));
                continue;
            }
            // Transactions count up from 1 in each command; the unit and the
            // data unit are what an RTU frame would carry.
            const int id = r[0] << 8 | r[1];
            out << (id == transaction + 1 || id == 1 ? QString() : QStringLiteral("transaction %1 ").arg(id));
            transaction = id;
            out.last() += frame(std::vector<uint8_t>(r.begin() + 6, r.end()));
        }
        return out;
    }
    hv52sim::Simulator sim;
    hv52sim::TcpServer server;
    bool mbap;
};

// Answers nothing to the n-th request from now (1-based): a fault set while
// a request is logged applies to its own answer.
void failRequest(hv52sim::Simulator &sim, int n, Fault fault = Fault::Silent)
{
    auto count = std::make_shared<int>(0);
    sim.onFrame([&sim, count, n, fault](const hv52sim::Frame &f) {
        if (f.fromMaster && ++*count == n)
            sim.setFault(fault, 1);
    });
}

// Every write request from now gets `fault`; reads are answered.
void failWrites(hv52sim::Simulator &sim, Fault fault)
{
    sim.onFrame([&sim, fault](const hv52sim::Frame &f) {
        if (f.fromMaster && f.bytes.size() > 1 && f.bytes[1] == 16)
            sim.setFault(fault, 1);
    });
}

// The program run with `signal` sent to it when the module gets its n-th
// request from now.
Result runSignalledAt(hv52sim::Simulator &sim, int atRequest, int signal, const QStringList &args)
{
    QProcess p;
    defaultSigint(p);
    auto pid = std::make_shared<std::atomic<qint64>>(0);
    auto count = std::make_shared<int>(0);
    sim.onFrame([pid, count, atRequest, signal](const hv52sim::Frame &fr) {
        if (fr.fromMaster && ++*count == atRequest && *pid > 0)
            ::kill(pid_t(pid->load()), signal);
    });
    p.start(QStringLiteral(HV52CTL_PROGRAM), args);
    if (p.waitForStarted())
        *pid = p.processId();
    const Result r = finish(p, 20000);
    sim.onFrame({});
    return r;
}

const QByteArray kRelaysFile = R"({"module": "t516", "relay1.command": "host", "relay2.command": "operate"})";

} // namespace

class CtlTest : public QObject
{
    Q_OBJECT
private slots:
    void helpAndVersion()
    {
        const Result help = runCtl({"--help"});
        QCOMPARE(help.status, 0);
        for (const char *word : {"用法", "--port N", "--device PATH", "--speeds LIST", "退出状态"})
            QVERIFY2(help.out.contains(QString::fromUtf8(word)), word);
        const Result version = runCtl({"--version"});
        QCOMPARE(version.status, 0);
        QCOMPARE(version.out, QStringLiteral("hv52ctl %1\n").arg(QStringLiteral(HV52_VERSION)));
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{} << "缺少命令";
        QTest::newRow("unknown command") << QStringList{"poll", "t516"} << "未知命令“poll”";
        QTest::newRow("unknown module") << QStringList{"read", "t517"} << "未知模块“t517”";
        QTest::newRow("unknown option") << QStringList{"read", "t516", "--adress", "3"} << "未知选项 --adress";
        QTest::newRow("option without value") << QStringList{"read", "t516", "--address"} << "选项 --address 缺少值";
        QTest::newRow("broadcast address") << QStringList{"--address", "0", "read", "t516"} << "0 是广播地址";
        QTest::newRow("address 248") << QStringList{"--address", "248", "read", "t516"}
                                     << "--address 的值 248 超出范围";
        QTest::newRow("speed 9601") << QStringList{"--speed", "9601", "read", "t516"}
                                    << "--speed 的值 9601 不是模块的波特率";
        QTest::newRow("timeout text") << QStringList{"--timeout", "1s", "read", "t516"} << "--timeout 的值“1s”不是整数";
        QTest::newRow("port and device") << QStringList{"--device", "/dev/ttyUSB0", "read", "t516"} << "只能给出一个";
        QTest::newRow("port and tcp") << QStringList{"--tcp", "127.0.0.1:4001", "read", "t516"} << "只能给出一个";
        QTest::newRow("tcp without a port number")
            << QStringList{"--tcp", "127.0.0.1", "read", "t516"} << "--tcp 的值“127.0.0.1”无效（应为 主机:端口";
        QTest::newRow("modbus-tcp port 0")
            << QStringList{"--modbus-tcp", "gw:0", "read", "t516"} << "--modbus-tcp 的端口 0 无效（应为 1～65535）";
        QTest::newRow("modbus-tcp port 70000")
            << QStringList{"--modbus-tcp", "[::1]:70000", "scan"} << "--modbus-tcp 的端口 70000 无效";
        QTest::newRow("connect timeout on a serial port") << QStringList{"--connect-timeout", "500", "read", "t516"}
                                                          << "--connect-timeout 只用于 --tcp 或 --modbus-tcp";
        QTest::newRow("extra word") << QStringList{"read", "t516", "now"} << "read 的参数过多";
        QTest::newRow("relay on the t540") << QStringList{"set", "t540", "relay", "1", "host"} << "T540 没有继电器输出";
        QTest::newRow("relay 3") << QStringList{"set", "t516", "relay", "3", "host"} << "继电器号“3”无效";
        QTest::newRow("relay word") << QStringList{"set", "t528", "relay", "1", "open"}
                                    << "继电器1 控制方式“open”不是控制方式";
        QTest::newRow("relay number") << QStringList{"set", "t516", "relay", "2", "20560"}
                                      << "继电器2 控制方式“20560”不是控制方式";
        QTest::newRow("analog on the t528") << QStringList{"set", "t528", "analog", "1"} << "T528 没有模拟量输出";
        const QStringList analog = {"set", "t516", "analog", "2", "--type", "4-20mA", "--source", "A相电流"};
        QTest::newRow("analog without upper") << analog + QStringList{"--lower", "0"} << "缺少 --upper";
        QTest::newRow("analog type") << setAnalog1("4-20", "1") << "输出1 信号类型“4-20”不是信号类型";
        QTest::newRow("analog source 30") << setAnalog1("0-5V", "30") << "输出1 参数选择“30”不是参数选择列表";
        QTest::newRow("lower not a number")
            << analog + QStringList{"--lower", "1e3", "--upper", "5"} << "输出2 下限参数值“1e3”不是数字";
        QTest::newRow("upper above 65535 after scaling") << analog + QStringList{"--lower", "0", "--upper", "65.5355"}
                                                         << "输出2 上限参数值 65.5355 × 1000 = 65536 超出 0～65535";
        QTest::newRow("negative lower") << analog + QStringList{"--lower=-1", "--upper", "5"}
                                        << "输出2 下限参数值 -1 × 1000 = -1000 超出";
        QTest::newRow("analog 4") << QStringList{"set", "t516", "analog", "4", "--type", "4-20mA"}
                                  << "模拟量输出号“4”无效";
        QTest::newRow("relay with analog option")
            << QStringList{"set", "t516", "relay", "1", "host", "--lower", "1"} << "只用于模拟量输出";
        QTest::newRow("reset text") << QStringList{"reset", "t540", "继电器输出M-R1计数器"} << "不在 T540 的复位列表中";
        QTest::newRow("reset position 0") << QStringList{"reset", "t516", "0"} << "复位项“0”不在 T516 的复位列表中";
        QTest::newRow("reset position 9") << QStringList{"reset", "t540", "9"} << "序号 1～8";
        QTest::newRow("interval 0") << QStringList{"watch", "t516", "--interval", "0"} << "--interval 的值“0”无效";
        QTest::newRow("interval on read")
            << QStringList{"read", "t516", "--interval", "2"} << "--interval 只用于 watch";
        QTest::newRow("scan range") << QStringList{"scan", "--addresses", "5-1"} << "从大到小";
        QTest::newRow("scan speeds") << QStringList{"scan", "--speeds", "9600,14400"} << "--speeds 的值 14400";
        QTest::newRow("scan with --address") << QStringList{"scan", "--address", "3"} << "scan 不用 --address";
        QTest::newRow("apply a missing file")
            << QStringList{"apply", "t516", "/nonexistent/a.json"} << "无法读取文件 /nonexistent/a.json";
        QTest::newRow("option twice") << QStringList{"--timeout", "100", "--timeout", "200", "read", "t516"}
                                      << "选项 --timeout 给出了两次";
        QTest::newRow("flag twice") << QStringList{"read", "t516", "--json", "--json"} << "选项 --json 给出了两次";
        QTest::newRow("address 999 names 1～247")
            << QStringList{"--address", "999", "read", "t516"} << "--address 的值 999 超出范围（应为 1～247）";
        QTest::newRow("a huge timeout is out of range, not no number")
            << QStringList{"--timeout", "99999999999", "read", "t516"} << "--timeout 的值 99999999999 超出范围";
        QTest::newRow("negative timeout")
            << QStringList{"--timeout=-3", "read", "t516"} << "--timeout 的值 -3 超出范围（应为 1～60000）";
        QTest::newRow("relay 003") << QStringList{"set", "t516", "relay", "003", "host"}
                                   << "继电器号“003”无效（应为 1～2）";
        QTest::newRow("source 0030") << setAnalog1("0-5V", "0030")
                                     << "输出1 参数选择“0030”不是参数选择列表中的文字或序号（超出范围，应为 0～29）";
        QTest::newRow("apply /dev/zero") << QStringList{"apply", "t516", "/dev/zero"} << "不是普通文件";
        QTest::newRow("apply a directory") << QStringList{"apply", "t516", "/tmp"} << "无法读取文件 /tmp：是目录";
        QTest::newRow("check a missing file")
            << QStringList{"apply", "t516", "/nonexistent/a.json", "--check"} << "无此文件或目录";
        QTest::newRow("save onto /dev/full")
            << QStringList{"save", "t516", "/dev/full"} << "无法写入文件 /dev/full：不是普通文件";
        QTest::newRow("save into a missing folder")
            << QStringList{"save", "t516", "/nonexistent/a.json"} << "无法写入文件 /nonexistent/a.json";
        // Input files: a regular file of at most 64 KiB, anything else refused
        // at once (a named pipe without a writer would block for ever).
        for (const char *check : {"", ", --check"}) {
            const QStringList option = *check ? QStringList{"--check"} : QStringList{};
            QTest::addRow("named pipe%s", check) << QStringList{"apply", "t516", "@fifo"} + option << "不是普通文件";
            QTest::addRow("70000 bytes%s", check)
                << QStringList{"apply", "t516", "@large"} + option << "字节，最多 65536 字节）";
            QTest::addRow("a character device%s", check)
                << QStringList{"apply", "t516", "/dev/zero"} + option << "无法读取文件 /dev/zero：不是普通文件";
        }
    }
    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        Rig rig;
        if (args.contains(u"@fifo")) {
            const QString file = rig.port.dir.filePath(QStringLiteral("pipe.json"));
            QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
            args.replaceInStrings(QStringLiteral("@fifo"), file);
        } else if (args.contains(u"@large")) {
            const QString file = rig.port.dir.filePath(QStringLiteral("large.json"));
            QVERIFY(writeFile(file, "{\"module\": \"t516\", \"relay1.command\": \"host\", \"x\": \""
                                        + QByteArray(70000, 'x') + "\"}"));
            args.replaceInStrings(QStringLiteral("@large"), file);
        }
        const Result r = runCtl(QStringList{"--port", "1"} + args, 10000);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(r.err.count(u'\n'), 1); // one line
        QVERIFY(r.out.isEmpty());
        QCOMPARE(rig.port.sim.requestCount(), size_t(0));
    }

    void framesByteForByte_data()
    {
        QTest::addColumn<int>("module");
        QTest::addColumn<int>("address");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("frames");
        const int t516 = int(Module::T516), t528 = int(Module::T528), t540 = int(Module::T540);
        QTest::newRow("read t516") << t516 << 1 << QStringList{"read", "t516"} << pollFrames(Module::T516);
        QTest::newRow("read t528") << t528 << 1 << QStringList{"read", "t528"} << pollFrames(Module::T528);
        QTest::newRow("read t540 --json")
            << t540 << 1 << QStringList{"read", "t540", "--json"} << pollFrames(Module::T540);
        QTest::newRow("read at address 17")
            << t528 << 17 << QStringList{"--address", "17", "read", "t528"} << pollFrames(Module::T528, 17);
        QTest::newRow("relay 1 operate") << t516 << 1 << QStringList{"set", "t516", "relay", "1", "operate"}
                                         << QStringList{readFrame(regs::relayCommand(0), 1),
                                                        "01 10 0E 80 00 01 02 50 50 6A 6C",
                                                        readFrame(regs::relayCommand(0), 1)};
        QTest::newRow("relay 2 restore by its text")
            << t528 << 1 << QStringList{"set", "t528", "relay", "2", "控制继电器恢复"}
            << QStringList{readFrame(regs::relayCommand(1), 1), "01 10 0E 81 00 01 02 30 30 43 95",
                           readFrame(regs::relayCommand(1), 1)};
        QTest::newRow("relay 1 alarm") << t528 << 1 << QStringList{"set", "t528", "relay", "1", "ALARM"}
                                       << writtenAndVerified({regs::relayCommand(0)}, {0});
        QTest::newRow("relay 2 host") << t516 << 1 << QStringList{"set", "t516", "relay", "2", "上位机控制"}
                                      << writtenAndVerified({regs::relayCommand(1)}, {1});
        // Frequency: hundredths; 55.125 is an exact half and goes to the even 5512.
        QTest::newRow("analog 2, frequency")
            << t516 << 1 << QStringList{"set",      "t516", "analog",  "2",    "--type",  "0- 5 V",
                                        "--source", "频率", "--lower", "45.5", "--upper", "55.125"}
            << writtenAndVerified(
                   {regs::analogSignal(1), regs::analogSource(1), regs::analogLower(1), regs::analogUpper(1)},
                   {1, 28, 4550, 5512});
        // Position 0 (平均电流), thousandths: 0.0045 -> 4.5 -> 4.
        QTest::newRow("analog 3, source by position")
            << t516 << 1 << QStringList{"set",      "t516", "analog",  "3",      "--type",  "4-20mA",
                                        "--source", "0",    "--lower", "0.0045", "--upper", " 5 "}
            << writtenAndVerified(
                   {regs::analogSignal(2), regs::analogSource(2), regs::analogLower(2), regs::analogUpper(2)},
                   {0, 0, 4, 5000});
        QTest::newRow("reset all relays by text") << t516 << 1 << QStringList{"reset", "t516", "所有继电器输出计数器"}
                                                  << QStringList{"01 10 0B 00 00 01 02 6F FF 71 20"};
        QTest::newRow("reset t528 position 6")
            << t528 << 1 << QStringList{"reset", "t528", "6"} << QStringList{"01 10 0B 00 00 01 02 60 1F 75 58"};
        QTest::newRow("reset t540 input 3") << t540 << 1 << QStringList{"reset", "t540", "3"}
                                            << QStringList{writeFrame(regs::reset, regs::resetInput(2))};
        QTest::newRow("relay number with blank and zero")
            << t516 << 1 << QStringList{"set", "t516", "relay", " 02", "host"}
            << writtenAndVerified({regs::relayCommand(1)}, {1});
        QTest::newRow("reset position 03") << t528 << 1 << QStringList{"reset", "t528", " 03"}
                                           << QStringList{writeFrame(regs::reset, regs::resetRelays)};
        QTest::newRow("apply --check sends nothing")
            << t516 << 1 << QStringList{"apply", "t516", "@relays", "--check"} << QStringList{};
        QTest::newRow("reset list sends nothing")
            << t540 << 1 << QStringList{"reset", "t540", "--list"} << QStringList{};
        QTest::newRow("save t516") << t516 << 1 << QStringList{"save", "t516", "@file"} << settingFrames(Module::T516);
        QTest::newRow("save t528") << t528 << 1 << QStringList{"save", "t528", "@file"} << settingFrames(Module::T528);
        QTest::newRow("save t540") << t540 << 1 << QStringList{"save", "t540", "@file"} << QStringList{};
    }
    void framesByteForByte()
    {
        QFETCH(int, module);
        QFETCH(int, address);
        QFETCH(QStringList, args);
        QFETCH(QStringList, frames);
        Rig rig{Module(module), uint8_t(address)};
        args.replaceInStrings(QStringLiteral("@file"), rig.port.dir.filePath(QStringLiteral("saved.json")));
        const QString relays = rig.port.dir.filePath(QStringLiteral("relays.json"));
        QVERIFY(writeFile(relays, kRelaysFile));
        args.replaceInStrings(QStringLiteral("@relays"), relays);
        const Result r = rig.run(args);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        QCOMPARE(rig.port.requests(), frames);
    }

    // The values as the window shows them; in JSON, numbers as numbers.
    void readShowsWhatTheWindowShows()
    {
        Rig rig;
        hv52sim::Simulator &sim = rig.port.sim;
        sim.setRegister32(regs::inputOnTime(1), 1234);       // tenths: 123.4
        sim.setRegister32(regs::relayCount(1), 4000000000u); // beyond a signed 32-bit number
        sim.setRegister(regs::analogValue(2), 1999);         // hundredths: 19.99
        sim.setRegister(regs::analogSource(1), 28);          // frequency: hundredths
        sim.setRegister(regs::analogLower(1), 4550);
        sim.setRegister(regs::analogUpper(1), 5512);
        sim.setRegister(regs::analogSignal(2), 1);

        const Result table = rig.run({"read", "t516"});
        QCOMPARE(table.status, 0);
        const QStringList lines = table.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 27);
        const QList<QPair<QString, QString>> expected = {
            {"输入1 输入次数", "70000"},        {"输入2 输入ON时间", "123.4"},
            {"继电器2 输出次数", "4000000000"}, {"继电器1 控制方式", "控制继电器动作"},
            {"输出3 输出值 (mA)", "19.99"},     {"输出3 信号类型", "0- 5 V"},
            {"输出2 参数选择", "频率"},         {"输出2 下限参数值", "45.5"},
            {"输出2 上限参数值", "55.12"},
        };
        for (const auto &[caption, value] : expected) {
            const auto found = std::find_if(lines.begin(), lines.end(),
                                            [&](const QString &l) { return l.startsWith(caption + u' '); });
            QVERIFY2(found != lines.end(), qPrintable(caption));
            QCOMPARE(found->mid(caption.size()).trimmed(), value);
        }

        const QJsonObject json = rig.run({"read", "t516", "--json"}).json();
        QCOMPARE(json.size(), 27 + 2);
        QCOMPARE(json["module"].toString(), QStringLiteral("t516"));
        QCOMPARE(json["input1.count"].toInteger(), qint64(70000));
        QCOMPARE(json["relay2.count"].toInteger(), qint64(4000000000LL));
        QCOMPARE(json["input2.on_time"].toDouble(), 123.4);
        QCOMPARE(json["analog3.value"].toDouble(), 19.99);
        QCOMPARE(json["analog2.upper"].toDouble(), 55.12);
        QCOMPARE(json["analog1.upper"].toDouble(), 10.0);
        QCOMPARE(json["input1.state"].toString(), QStringLiteral("ON"));
        QCOMPARE(json["relay2.state"].toString(), QStringLiteral("恢复"));
        QCOMPARE(json["relay2.command"].toString(), QStringLiteral("报警输出"));
        QCOMPARE(json["analog3.type"].toString(), QStringLiteral("0- 5 V"));
        QCOMPARE(json["analog2.source"].toString(), QStringLiteral("频率"));
        QVERIFY(json["failures"].isObject() && json["failures"].toObject().isEmpty());
    }

    void failedReadIsNeverZero_data()
    {
        QTest::addColumn<int>("request"); // 1-based read of the poll left unanswered
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("keys"); // the values that have none
        QTest::addColumn<QString>("reason");
        QTest::newRow("input 1 count, silent")
            << 1 << int(Fault::Silent) << QStringList{"input1.count"} << "超时无应答";
        QTest::newRow("relay 2 command, refused")
            << 12 << int(Fault::Exception) << QStringList{"relay2.command"} << "异常应答 04：从站设备故障";
        QTest::newRow("output 3 value, bad crc")
            << 15 << int(Fault::BadCrc) << QStringList{"analog3.value"} << "校验错误";
        // Limits converted with an unknown source have no value either.
        QTest::newRow("output 2 source") << 20 << int(Fault::Silent)
                                         << QStringList{"analog2.source", "analog2.lower", "analog2.upper"}
                                         << "超时无应答";
    }
    void failedReadIsNeverZero()
    {
        QFETCH(int, request);
        QFETCH(int, fault);
        QFETCH(QStringList, keys);
        QFETCH(QString, reason);
        Rig rig;
        failRequest(rig.port.sim, request, Fault(fault));
        const Result r = rig.run({"read", "t516", "--json"});
        rig.port.sim.onFrame({});
        QCOMPARE(r.status, 1);
        QCOMPARE(withoutRepeatedReads(rig.port.requests()), pollFrames(Module::T516)); // the poll goes on
        const QJsonObject json = r.json();
        const QJsonObject failures = json["failures"].toObject();
        QCOMPARE(failures.keys(), [&] {
            QStringList k = keys;
            k.sort();
            return k;
        }());
        QCOMPARE(failures[keys[0]].toString(), reason);
        for (int i = 1; i < keys.size(); ++i)
            QVERIFY2(failures[keys[i]].toString().contains(QStringLiteral("单位未知")), qPrintable(keys[i]));
        for (const QString &key : keys)
            QVERIFY2(json[key].isNull(), qPrintable(key));
        QCOMPARE(json.size(), 27 + 2);
        // Every failure on its own line of stderr, named as the window names it.
        QCOMPARE(r.err.count(u'\n'), keys.size());
        QVERIFY2(r.err.contains(reason), qPrintable(r.err));

        // The table says so instead of showing 0.
        failRequest(rig.port.sim, request, Fault(fault));
        const Result table = rig.run({"read", "t516"});
        rig.port.sim.onFrame({});
        QCOMPARE(table.status, 1);
        const QString line = table.out.split(u'\n')[request - 1];
        QVERIFY2(line.endsWith(QStringLiteral("（读取失败：%1）").arg(reason)), qPrintable(line));
    }

    // A list value the module should not hold ends the poll, as in the window.
    void readStopsOnAValueNoListHas()
    {
        Rig rig;
        rig.port.sim.setRegister(regs::analogSource(1), 45);
        const Result r = rig.run({"read", "t516", "--json"});
        QCOMPARE(r.status, 1);
        QCOMPARE(rig.port.requests(), pollFrames(Module::T516).mid(0, 20));
        const QJsonObject json = r.json();
        QCOMPARE(json["analog1.source"].toString(), QStringLiteral("A相电流"));
        const QJsonObject failures = json["failures"].toObject();
        QCOMPARE(failures.size(), 8);
        QVERIFY(json["analog2.source"].isNull() && json["analog3.upper"].isNull());
        QVERIFY2(failures["analog2.source"].toString().contains(QStringLiteral("45 不是列表中的选项")),
                 qPrintable(failures["analog2.source"].toString()));
        QCOMPARE(failures["analog3.upper"].toString(), QStringLiteral("召测中止，未读取"));
        QCOMPARE(r.err, QStringLiteral("读回的输出2参数选择 45 不是列表中的选项（应为 0～29），召测中止。\n"));
    }

    void portThatDoesNotOpen_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no module on port 9") << QStringList{"--port", "9", "read", "t528"} << "无法打开串口 COM9";
        QTest::newRow("missing device") << QStringList{"--device", "/dev/ttyUSB-none", "set", "t528", "relay", "1",
                                                       "host"}
                                        << "无法打开串口设备 /dev/ttyUSB-none：设备不存在";
        QTest::newRow("no serial device")
            << QStringList{"--device", "/dev/null", "reset", "t516", "1"} << "无法打开串口设备 /dev/null";
    }
    void portThatDoesNotOpen()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        Rig rig; // HV52_SERIAL_DIR points at a folder without com9
        const Result r = runCtl(args);
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.startsWith(message), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    // A device path works as given, also the pseudo-terminal behind the link.
    void deviceByPath_data()
    {
        QTest::addColumn<bool>("behindLink");
        QTest::newRow("the link") << false;
        QTest::newRow("the device itself") << true;
    }
    void deviceByPath()
    {
        QFETCH(bool, behindLink);
        SimPort port(Module::T528);
        qunsetenv("HV52_SERIAL_DIR");
        const QString device = QString::fromStdString(behindLink ? port.sim.devicePath() : port.sim.linkPath());
        const Result r = runCtl({"--device", device, "read", "t528"});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(port.requests(), pollFrames(Module::T528));
    }

    // What an integrator does: sets up the first meter, saves it, applies the
    // file to the next meter, and both read the same.
    void saveFromOneApplyToTheNext()
    {
        SimPort first(Module::T516, 1);
        SimPort next(Module::T516, 2, 5);
        const QString file = first.dir.filePath(QStringLiteral("meter.json"));
        const auto at = [](const SimPort &p, QStringList args, int address = 1) {
            return runCtl(
                QStringList{"--device", p.linkPath(), "--address", QString::number(address), "--timeout", "300"}
                + args);
        };
        QCOMPARE(at(first, {"set", "t516", "relay", "2", "host"}).status, 0);
        QCOMPARE(at(first, {"set", "t516", "analog", "1", "--type", "0-5V", "--source", "AB线电压", "--lower", "360",
                            "--upper", "420.25"})
                     .status,
                 0);
        QCOMPARE(at(first, {"set", "t516", "analog", "3", "--type", "4-20mA", "--source", "总有功功率", "--lower", "0",
                            "--upper", "6553.5"})
                     .status,
                 0);
        const Result saved = at(first, {"save", "t516", file});
        QVERIFY2(saved.status == 0, qPrintable(saved.err));

        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject contents = QJsonDocument::fromJson(f.readAll()).object();
        QCOMPARE(contents.size(), 1 + 14);
        QCOMPARE(contents["relay2.command"].toString(), QStringLiteral("上位机控制"));
        QCOMPARE(contents["analog1.source"].toString(), QStringLiteral("AB线电压"));
        QCOMPARE(contents["analog1.upper"].toDouble(), 420.2); // tenths, the even neighbour
        QCOMPARE(contents["analog3.upper"].toDouble(), 6553.5);

        next.sim.clearLog();
        const Result applied = at(next, {"apply", "t516", file}, 5);
        QVERIFY2(applied.status == 0, qPrintable(applied.err));
        QVERIFY(applied.out.contains(QStringLiteral("14")));
        // 14 writes in the order of the settings, then 14 reads back.
        QStringList frames = {writeFrame(regs::relayCommand(0), regs::cmdOperate, 5),
                              writeFrame(regs::relayCommand(1), regs::cmdHost, 5)};
        const QList<QList<quint16>> analog = {{1, 9, 3600, 4202}, {0, 2, 0, 10000}, {0, 12, 0, 65535}};
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i < 4; ++i)
                frames << writeFrame(quint16(regs::analogSignal(k) + i), analog[k][i], 5);
        }
        QCOMPARE(next.requests(), settingFrames(Module::T516, 5) + frames + settingFrames(Module::T516, 5));

        // Verified: every setting the same on both meters.
        const QJsonObject a = at(first, {"read", "t516", "--json"}).json();
        const QJsonObject b = at(next, {"read", "t516", "--json"}, 5).json();
        for (const QString &key : contents.keys())
            QVERIFY2(a[key] == b[key] && a[key] == contents[key], qPrintable(key));
        for (int k = 0; k < 3; ++k)
            QCOMPARE(analogGroup(next.sim, k), analogGroup(first.sim, k));

        // A read --json output serves as a file as well: the counts are left alone.
        const QString readOut = first.dir.filePath(QStringLiteral("read.json"));
        QVERIFY(writeFile(readOut, QJsonDocument(a).toJson()));
        QCOMPARE(at(next, {"apply", "t516", readOut}, 5).status, 0);
    }

    void applyChecksTheWholeFileFirst_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("message");
        const QByteArray good = R"("relay1.command": "报警输出", "relay2.command": "上位机控制")";
        QTest::newRow("not json") << QByteArray("{\"module\": \"t516\",\n\"relay1.command\": }")
                                  << "不是有效的 JSON（第 2 行附近";
        QTest::newRow("an array") << QByteArray("[]") << "应为一个 JSON 对象";
        QTest::newRow("no module") << "{" + good + "}"
                                   << "缺少条目 module";
        QTest::newRow("another module") << R"({"module": "t528", )" + good + "}"
                                        << "条目 module 为 \"t528\"，与命令中的模块 t516 不符";
        QTest::newRow("unknown entry") << QByteArray(R"({"module": "t516", "relay3.command": "报警输出"})")
                                       << "未知条目“relay3.command”";
        QTest::newRow("input mode") << QByteArray(R"({"module": "t516", "input1.mode": 0})") << "未知条目“input1.mode”";
        QTest::newRow("failures") << QByteArray(R"({"module": "t516", "failures": {"input1.count": "超时无应答"}})")
                                  << "条目 failures";
        QTest::newRow("relay text, the last entry")
            << QByteArray(R"({"module": "t516", "relay1.command": "报警输出", "relay2.command": "控制继电器"})")
            << "条目 relay2.command（继电器2 控制方式）“控制继电器”不是控制方式";
        QTest::newRow("relay as a number") << QByteArray(R"({"module": "t516", "relay1.command": 1})")
                                           << "条目 relay1.command（继电器1 控制方式）的值类型不对";
        QTest::newRow("null") << QByteArray(R"({"module": "t516", "relay1.command": null})")
                              << "条目 relay1.command（继电器1 控制方式）为 null";
        const QByteArray analog =
            R"({"module": "t516", "analog2.type": "4-20 mA", "analog2.source": "A相电流", "analog2.lower": 0)";
        QTest::newRow("analog without upper") << analog + "}"
                                              << "缺少条目 analog2.upper（输出2 模拟量输出 的 4 个值一起写入）";
        QTest::newRow("limit out of range") << analog + R"(, "analog2.upper": 65.536})"
                                            << "条目 analog2.upper（输出2 上限参数值） 65.536 × 1000 = 65536 超出";
        QTest::newRow("limit text") << analog + R"(, "analog2.upper": "ten"})"
                                    << "“ten”不是数字";
        QTest::newRow("a key twice") << QByteArray("{\"module\": \"t516\",\n\"relay2.command\": \"报警输出\",\n"
                                                   "\"relay1.command\": \"host\",\n\"relay2.command\": \"operate\"}")
                                     << "条目“relay2.command”出现两次（第 2 行和第 4 行）";
        QTest::newRow("a key twice inside a value")
            << QByteArray("{\"module\": \"t516\",\n\"relay1.command\": {\"text\": \"host\",\n\"text\": \"alarm\"}}")
            << "条目“relay1.command.text”出现两次（第 2 行和第 3 行）";
        QTest::newRow("a key twice, escaped") << QByteArray(R"({"module": "t516", "relay1.command": "host", )"
                                                            R"("relay1\u002ecommand": "host"})")
                                              << "条目“relay1.command”出现两次（第 1 行和第 1 行）";
        QTest::newRow("source") << QByteArray(
            R"({"module": "t516", "analog1.type": "0-5V", "analog1.source": "电流", "analog1.lower": 0, "analog1.upper": 1})")
                                << "条目 analog1.source（输出1 参数选择）“电流”不是参数选择列表";
    }
    void applyChecksTheWholeFileFirst()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, message);
        Rig rig;
        const QString file = rig.port.dir.filePath(QStringLiteral("bad.json"));
        QVERIFY(writeFile(file, contents));
        const Result r = rig.run({"apply", "t516", file});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.startsWith(QStringLiteral("文件 %1：").arg(file)), qPrintable(r.err));
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QCOMPARE(rig.port.sim.requestCount(), size_t(0));
    }

    // The path a key given twice is named by, however the text around it
    // is written; the same key in sibling objects is no key given twice.
    void keyTwiceNamedByItsPath_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message"); // empty: accepted
        QTest::newRow("top level") << QByteArray(R"({"a": 1, "a": 2})") << "条目“a”出现两次（第 1 行和第 1 行）";
        QTest::newRow("nested object") << QByteArray("{\"a\": {\"b\": 1,\n\"b\": 2}}")
                                       << "条目“a.b”出现两次（第 1 行和第 2 行）";
        QTest::newRow("array items counted from 1")
            << QByteArray(R"({"m": [{"x": 1}, {"x": 1, "y": 2, "x": 3}]})") << "条目“m[2].x”出现两次";
        QTest::newRow("arrays in arrays")
            << QByteArray(R"({"m": [[], [1, {"k": 0, "k": 1}]]})") << "条目“m[2][2].k”出现两次";
        QTest::newRow("after a closed object")
            << QByteArray(R"({"a": {"k": 1}, "k": 2, "b": {"c": 3}, "k": 4})") << "条目“k”出现两次";
        QTest::newRow("braces, commas and quotes in strings")
            << QByteArray("{\"s\": \"{\\\"k\\\": 1, \\\"k\\\": [\", \"t\": [\"],{\"], \"u\": {\"k\": 1}}") << QString();
        QTest::newRow("the same keys in sibling objects")
            << QByteArray(R"({"a": {"k": 1}, "b": {"k": 1}, "m": [{"k": 1}, {"k": 2}]})") << QString();
        QTest::newRow("an escaped key") << QByteArray(R"({"o": {"k\u0031": 1, "k1": 2}})") << "条目“o.k1”出现两次";
    }
    void keyTwiceNamedByItsPath()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        try {
            hv52ctl::jsonObject(text, QStringLiteral("文件 x.json"));
            QVERIFY2(message.isEmpty(), qPrintable(message));
        } catch (const hv52ctl::UsageError &e) {
            QVERIFY2(!message.isEmpty() && e.text().startsWith(QStringLiteral("文件 x.json：") + message),
                     qPrintable(e.text()));
        }
    }

    // The module confirms a write and keeps its old value.
    void readBackThatDoesNotMatch()
    {
        Rig rig(Module::T528);
        hv52sim::Simulator &sim = rig.port.sim;
        const QString file = rig.port.dir.filePath(QStringLiteral("relays.json"));
        QVERIFY(writeFile(file, R"({"module": "t528", "relay1.command": "host", "relay2.command": "operate"})"));
        const QString relay2Write = writeFrame(regs::relayCommand(1), regs::cmdOperate);
        sim.onFrame([&](const hv52sim::Frame &fr) {
            // Once the confirmation is out, the old command is back.
            if (!fr.fromMaster && fr.bytes.size() == 8 && fr.bytes[1] == 16
                && fr.bytes[3] == uint8_t(regs::relayCommand(1)))
                sim.setRegister(regs::relayCommand(1), regs::cmdAlarm);
        });
        const Result r = rig.run({"apply", "t528", file});
        sim.onFrame({});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.err, QStringLiteral("继电器2 控制方式 读回值与写入值不符：写入 控制继电器动作，读回 报警输出。\n"));
        QCOMPARE(r.out, QStringLiteral("2 个值：1 个已写入并读回核对，1 个读回不符\n"));
        const QStringList reads = {readFrame(regs::relayCommand(0), 1), readFrame(regs::relayCommand(1), 1)};
        QCOMPARE(rig.port.requests(), (reads + QStringList{writeFrame(regs::relayCommand(0), 1), relay2Write} + reads));

        // A refused write is named; the other groups go on, and the failed
        // one is read back to tell what the module holds.
        sim.clearLog();
        sim.setRegister(regs::relayCommand(0), regs::cmdAlarm);
        failRequest(sim, 3, Fault::RefuseWrite);
        const Result refused = rig.run({"apply", "t528", file});
        sim.onFrame({});
        QCOMPARE(refused.status, 1);
        QCOMPARE(refused.err, QStringLiteral("写入继电器1 控制方式失败：异常应答 04：从站设备故障。\n"
                                             "继电器1 控制方式 模块现为 报警输出（写入失败后读回）。\n"));
        QCOMPARE(refused.out, QStringLiteral("2 个值：1 个已写入并读回核对，1 个写入失败\n"));
        QCOMPARE(withoutRepeatedReads(rig.port.requests()),
                 (reads + QStringList{writeFrame(regs::relayCommand(0), 1), relay2Write} + reads));
    }

    void setAndResetReportFailures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("relay, silent") << QStringList{"set", "t516", "relay", "1", "release"} << int(Fault::Silent)
                                       << "写入继电器1 控制方式失败：超时无应答。";
        QTest::newRow("analog, bad crc on every write: the first ends the group")
            << setAnalog1("4-20mA", "1") << int(Fault::BadCrc) << "写入输出1 信号类型失败：校验错误。";
        QTest::newRow("reset, other address") << QStringList{"reset", "t516", "2"} << int(Fault::OtherAddress)
                                              << "复位“继电器输出M-R2计数器”失败：地址不符。";
    }
    void setAndResetReportFailures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, fault);
        QFETCH(QString, message);
        Rig rig;
        failWrites(rig.port.sim, Fault(fault)); // the reads before and after are answered
        const Result r = rig.run(args);
        rig.port.sim.onFrame({});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(message + u'\n'), qPrintable(r.err));
        QVERIFY2(r.out.contains(QStringLiteral("个写入失败")), qPrintable(r.out));
    }

    // A write that fails ends its group (an output's limits are scaled by
    // its source): nothing more of the group goes out, the group is read back
    // and the report says what the module holds, never a limit verified in
    // the unit of a source it does not have.
    void failedWriteEndsItsGroup_data()
    {
        QTest::addColumn<int>("lost"); // the group's write that fails: 0 type, 1 source, 2 lower, 3 upper
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<QString>("message");
        const QString v = "verified", failed = "write_failed", no = "not_sent";
        QTest::newRow("type refused") << 0 << int(Fault::RefuseWrite) << QStringList{failed, no, no, no}
                                      << "输出1 参数选择 模块现为 平均电流（未发送后读回）。";
        QTest::newRow("source lost, not carried out") << 1 << int(Fault::RefuseWrite) << QStringList{v, failed, no, no}
                                                      << "输出1 上限参数值 模块现为 0.02（未发送后读回）。";
        QTest::newRow("source carried out, its answer lost")
            << 1 << int(Fault::Silent) << QStringList{v, failed, no, no}
            << "输出1 上限参数值 模块现为 2（未发送后读回）。"; // its old limit, now in V
        QTest::newRow("lower refused") << 2 << int(Fault::Exception) << QStringList{v, v, failed, no}
                                       << "输出1 下限参数值 模块现为 360（写入失败后读回）。";
        QTest::newRow("upper lost") << 3 << int(Fault::Silent) << QStringList{v, v, v, failed}
                                    << "输出1 上限参数值 模块现为 420（写入失败后读回）。";
    }
    void failedWriteEndsItsGroup()
    {
        QFETCH(int, lost);
        QFETCH(int, fault);
        QFETCH(QStringList, outcomes);
        QFETCH(QString, message);
        Rig rig;
        hv52sim::Simulator &sim = rig.port.sim;
        const QList<quint16> old = {1, 0, 10, 20}; // 0-5 V of 平均电流, 0.01 to 0.02 A
        for (int i = 0; i < 4; ++i)
            sim.setRegister(quint16(regs::analogSignal(0) + i), old[i]);
        const quint16 lostRegister = quint16(regs::analogSignal(0) + lost);
        sim.onFrame([&sim, lostRegister, fault](const hv52sim::Frame &f) {
            if (f.fromMaster && f.bytes.size() > 3 && f.bytes[1] == 16
                && (f.bytes[2] << 8 | f.bytes[3]) == lostRegister)
                sim.setFault(Fault(fault), 1);
        });
        const Result r = rig.run({"set", "t516", "analog", "1", "--type", "4-20mA", "--source", "AB线电压", "--lower",
                                  "360", "--upper", "420", "--json"});
        sim.onFrame({});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        // The writes up to the failed one, none after it.
        const QList<quint16> wanted = {0, 9, 3600, 4200};
        QStringList writes;
        for (const QString &f : rig.port.requests()) {
            if (f.mid(3, 2) == u"10")
                writes << f;
        }
        QStringList sent;
        for (int i = 0; i <= lost; ++i)
            sent << writeFrame(quint16(regs::analogSignal(0) + i), wanted[i]);
        QCOMPARE(writes, sent);
        // Each value's outcome, and what was read back is what the module holds.
        const QJsonArray values = r.json()["values"].toArray();
        QCOMPARE(values.size(), 4);
        for (int i = 0; i < 4; ++i) {
            const QJsonObject value = values[i].toObject();
            QCOMPARE(value["outcome"].toString(), outcomes[i]);
            QCOMPARE(value["read_back_raw"].toInt(-1), int(sim.reg(quint16(regs::analogSignal(0) + i))));
        }
    }

    // The real 1000 ms response time when no timeout is given.
    void defaultTimeoutIsTheWindows()
    {
        SimPort port(Module::T528);
        port.sim.setFault(Fault::Silent);
        QElapsedTimer clock;
        clock.start();
        const Result r = runCtl({"--port", "1", "set", "t528", "relay", "2", "host"});
        const qint64 ms = clock.elapsed();
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("超时无应答")), qPrintable(r.err));
        QVERIFY2(ms >= 1000 && ms < 5000, qPrintable(QString::number(ms)));
    }

    void scanFindsTheMeter_data()
    {
        QTest::addColumn<int>("module");
        QTest::newRow("t516") << int(Module::T516);
        QTest::newRow("t528") << int(Module::T528);
        QTest::newRow("t540") << int(Module::T540);
    }
    void scanFindsTheMeter()
    {
        QFETCH(int, module);
        SimPort port(Module(module), 1, 17);
        QVERIFY(port.sim.setListenSpeed(19200));
        const Result r = runCtl({"--port", "1", "scan", "--speeds", "9600,19200,38400", "--addresses", "16-18",
                                 "--scan-timeout", "60", "--json"});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const QJsonArray found = r.json()["found"].toArray();
        QCOMPARE(found.size(), 1);
        const QJsonObject meter = found[0].toObject();
        QCOMPARE(meter["speed"].toInt(), 19200);
        QCOMPARE(meter["address"].toInt(), 17);
        QCOMPARE(meter["module"].toString(), nameOf(Module(module)));
        // Progress on stderr, one line a speed when it is no terminal.
        QCOMPARE(r.err.count(u'\n'), 3);

        // The probe at every address and speed; the kind from the registers only one module has.
        QCOMPARE(withoutRepeatedReads(port.requests()),
                 scanProbes({16, 17, 18}) + scanProbes({16, 17, 18}, 17) + scanProbes({16, 17, 18}));

        const Result table = runCtl({"--port", "1", "scan", "--speeds", "19200", "--addresses", "17"});
        QCOMPARE(table.status, 0);
        QCOMPARE(table.out.split(u'\n')[1].simplified(),
                 QStringLiteral("19200 17 %1").arg(nameOf(Module(module)).toUpper()));
    }

    // Every command over RTU over TCP and Modbus TCP: the module receives
    // what it receives on a serial line, the address as the unit identifier.
    void commandsOverTcp_data()
    {
        QTest::addColumn<bool>("modbusTcp");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("output");
        for (const bool mbap : {false, true}) {
            const char *kind = mbap ? "modbus tcp " : "tcp ";
            QTest::addRow("%sread t516", kind)
                << mbap << QStringList{"--address", "7", "read", "t516"} << pollFrames(Module::T516, 7) << "输入1";
            QTest::addRow("%srelay 1 operate", kind)
                << mbap << QStringList{"--address", "7", "set", "t516", "relay", "1", "operate"}
                << QStringList{readFrame(regs::relayCommand(0), 1, 7), writeFrame(regs::relayCommand(0), 0x5050, 7),
                               readFrame(regs::relayCommand(0), 1, 7)}
                << "";
            QTest::addRow("%sreset all relays", kind)
                << mbap << QStringList{"--address", "7", "reset", "t516", "所有继电器输出计数器"}
                << QStringList{writeFrame(regs::reset, regs::resetRelays, 7)} << "";
            QTest::addRow("%sscan", kind) << mbap << QStringList{"scan", "--addresses", "6-8", "--scan-timeout", "60"}
                                          << scanProbes({6, 7, 8}, 7) << "7";
        }
    }
    void commandsOverTcp()
    {
        QFETCH(bool, modbusTcp);
        QFETCH(QStringList, args);
        QFETCH(QStringList, frames);
        QFETCH(QString, output);
        TcpRig rig(modbusTcp, 7);
        const Result r = args.first() == u"scan" ? runCtl(rig.line() + args) : rig.run(args);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(rig.requests(), frames);
        QVERIFY2(r.out.contains(output), qPrintable(r.out));
        if (args.first() == u"scan")
            QCOMPARE(r.out.split(u'\n').value(1).simplified().section(u' ', 1), QStringLiteral("7 T516"));
        // One connection for the whole command.
        QCOMPARE(int(rig.server.connections()), 1);
    }

    // A refused connection, then the module is there; a connection closed
    // in the middle of an answer, then the next command reads.
    void tcpConnectionFailures_data()
    {
        QTest::addColumn<bool>("modbusTcp");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("tcp refused") << false << false << 3 << "连接被拒绝（该端口没有服务在监听）";
        QTest::newRow("modbus tcp refused") << true << false << 3 << "连接被拒绝（该端口没有服务在监听）";
        QTest::newRow("tcp dropped") << false << true << 1 << "被对方关闭（应答未收完），操作中止。";
        QTest::newRow("modbus tcp dropped") << true << true << 1 << "被对方关闭（应答未收完），操作中止。";
    }
    void tcpConnectionFailures()
    {
        QFETCH(bool, modbusTcp);
        QFETCH(bool, listening);
        QFETCH(int, status);
        QFETCH(QString, message);
        TcpRig rig(modbusTcp);
        QStringList line = rig.line();
        if (!listening) {
            QTcpServer probe; // a port free a moment ago: nothing listens there
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            line[1] = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        } else {
            rig.server.setFault(hv52sim::TcpFault::Drop, 1);
        }
        const Result failed = runCtl(line + QStringList{"--timeout", "200", "read", "t516"});
        QCOMPARE(failed.status, status);
        QVERIFY2(failed.err.contains(message), qPrintable(failed.err));
        QVERIFY2(failed.err.contains(line[1]), qPrintable(failed.err));
        const Result again = rig.run({"read", "t516", "--json"});
        QVERIFY2(again.status == 0, qPrintable(again.err));
        const QStringList asked = rig.requests();
        QCOMPARE(asked.mid(asked.size() - 27), pollFrames(Module::T516));
    }

    void scanOfADeadLine()
    {
        SimPort port(Module::T516);
        port.sim.setFault(Fault::Silent);
        const Result r =
            runCtl({"--port", "1", "scan", "--speeds", "115200", "--addresses", "1-3,200", "--scan-timeout", "20"});
        QCOMPARE(r.status, 1);
        QVERIFY(r.out.isEmpty());
        QVERIFY2(r.err.endsWith(QStringLiteral("未找到模块。\n")), qPrintable(r.err));
        QCOMPARE(port.sim.requestCount(), size_t(4));
    }

    // A changed input shows on its own line; Ctrl-C ends it between exchanges.
    void watchUntilCtrlC()
    {
        SimPort port(Module::T528);
        QProcess p;
        defaultSigint(p);
        p.start(QStringLiteral(HV52CTL_PROGRAM),
                {"--port", "1", "--timeout", "100", "watch", "t528", "--interval", "0.05"});
        QVERIFY(p.waitForStarted());
        QString out;
        const auto waitFor = [&](const std::function<bool()> &done) { return readUntil(p, out, done); };
        // The first poll prints every value.
        QVERIFY(waitFor([&] { return out.count(u'\n') >= 12; }));
        const QStringList first = out.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(first[0].contains(QStringLiteral("输入1 输入次数")) && first[0].endsWith(QStringLiteral("70000")),
                 qPrintable(first[0]));
        QVERIFY(first[0].contains(
            QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "))));
        QVERIFY(waitFor([&] { return port.sim.requestCount() >= 36; })); // three polls, nothing changed
        QCOMPARE(out.count(u'\n'), 12);
        QCOMPARE(port.requests().mid(0, 36),
                 pollFrames(Module::T528) + pollFrames(Module::T528) + pollFrames(Module::T528));

        port.sim.setRegister32(regs::inputCount(1), 1235);
        QVERIFY(waitFor([&] { return out.count(u'\n') >= 13; }));
        const QString changed = out.split(u'\n', Qt::SkipEmptyParts).last();
        QVERIFY2(changed.contains(QStringLiteral("输入2 输入次数")) && changed.endsWith(QStringLiteral("1235")),
                 qPrintable(changed));

        // Unplugged for a moment: the failures, then the values again.
        port.sim.setFault(Fault::Silent);
        QVERIFY(waitFor([&] { return out.count(QStringLiteral("读取失败：超时无应答")) >= 12; }));
        port.sim.setFault(Fault::None, 0);
        QVERIFY(waitFor([&] { return out.count(u'\n') >= 13 + 24; }));

        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(p.readAllStandardError().isEmpty());
        // Between exchanges: every request was answered before the end.
        const auto frames = port.sim.frames();
        QVERIFY(!frames.empty() && !frames.back().fromMaster);
    }

    void watchInJson()
    {
        SimPort port(Module::T540);
        port.sim.setRegister32(regs::inputOnTime(6), 77);
        QProcess p;
        defaultSigint(p);
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"--port", "1", "watch", "t540", "--json"});
        QVERIFY(p.waitForStarted());
        QString out;
        QVERIFY(readUntil(p, out, [&] { return out.count(u'\n') >= 21; }));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QJsonObject last = QJsonDocument::fromJson(out.split(u'\n')[20].toUtf8()).object();
        QCOMPARE(last["key"].toString(), QStringLiteral("input7.on_time"));
        QCOMPARE(last["value"].toDouble(), 7.7);
        QVERIFY(QDateTime::fromString(last["time"].toString(), Qt::ISODateWithMs).isValid());
    }

    // A port that goes away ends the watch with the link's message alone,
    // whether it goes in the middle of a poll or in the pause between polls
    // (then nothing may be written to the port the error closed).
    void watchEndsWhenThePortGoes_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::newRow("mid-poll") << 0;
        QTest::newRow("between polls") << 150;
    }
    void watchEndsWhenThePortGoes()
    {
        QFETCH(int, afterMs);
        SimPort port(Module::T528);
        QProcess p;
        p.start(QStringLiteral(HV52CTL_PROGRAM),
                {"--port", "1", "--timeout", "200", "watch", "t528", "--interval", "0.3"});
        QVERIFY(p.waitForStarted());
        QVERIFY(port.sim.waitForRequests(13, 10000));
        QTest::qWait(afterMs);
        port.sim.unplug();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.startsWith(QStringLiteral("串口 COM1 通讯中断")) && err.count(u'\n') == 1, qPrintable(err));
        QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()).count(u'\n'), 12);
    }

    // A port lost while the line settles after a failed exchange, or right
    // after a timeout: the link's message alone, nothing read from, cleared
    // on or written to the port the error closed.
    void portLostAfterAFailure_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::newRow("at the timeout") << 100;
        QTest::newRow("in the quiet wait") << 125;
    }
    void portLostAfterAFailure()
    {
        QFETCH(int, afterMs);
        SimPort port(Module::T528);
        port.sim.setFault(Fault::Silent, 1);
        QProcess p;
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"--port", "1", "--timeout", "100", "read", "t528"});
        QVERIFY(p.waitForStarted());
        QVERIFY(port.sim.waitForRequests(1, 10000));
        QTest::qWait(afterMs);
        port.sim.unplug();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(!err.contains(QStringLiteral("QIODevice")) && !err.contains(QStringLiteral("QSerialPort"))
                     && err.contains(QStringLiteral("串口 COM1 通讯中断")),
                 qPrintable(err));
    }

    void resetList()
    {
        const Result r = runCtl({"reset", "t540", "--list", "--json"});
        QCOMPARE(r.status, 0);
        const QJsonArray list = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QCOMPARE(list.size(), 8);
        QCOMPARE(list[2].toObject()["position"].toInt(), 3);
        QCOMPARE(list[2].toObject()["text"].toString(), QStringLiteral("数字量输入M-S3计数器及ON持续时间"));
        const Result text = runCtl({"reset", "t516", "--list"});
        QCOMPARE(text.out.split(u'\n')[2], QStringLiteral("3  所有继电器输出计数器"));
    }

    // A module that answers later than the response time: no value is taken
    // for another request's. Every value is the module's own or null with a
    // reason, the lateness is named with a --timeout that covers it, and the
    // next read with that timeout gets every value.
    void lateModuleNeverGivesAWrongValue_data()
    {
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("turnaroundMs");
        QTest::addColumn<bool>("thenRead");
        QTest::newRow("100 ms timeout, 150 ms late") << 100 << 150 << false;
        QTest::newRow("100 ms timeout, 260 ms late, then read again") << 100 << 260 << true;
        QTest::newRow("200 ms timeout, 320 ms late") << 200 << 320 << false;
    }
    void lateModuleNeverGivesAWrongValue()
    {
        QFETCH(int, timeoutMs);
        QFETCH(int, turnaroundMs);
        QFETCH(bool, thenRead);
        SimPort port(Module::T516);
        hv52sim::Simulator &sim = port.sim;
        // Values that tell the registers apart: a count read as an ON time,
        // or a command as a state, would show.
        sim.setRegister32(regs::inputCount(0), 7000);
        sim.setRegister(regs::relayCommand(0), regs::cmdOperate);
        sim.setRegister(regs::relayState(1), regs::off);
        sim.setRegister(regs::analogSource(0), 9);
        sim.setRegister(regs::analogLower(0), 3600);
        const auto read = [&](int timeout) {
            return runCtl({"--port", "1", "--timeout", QString::number(timeout), "read", "t516", "--json"}, 120000);
        };
        const Result truth = read(1000);
        QCOMPARE(truth.status, 0);
        const QJsonObject expected = truth.json();

        sim.setPacing(9600, turnaroundMs * 1000);
        const Result late = read(timeoutMs);
        const QJsonObject json = late.json();
        QCOMPARE(json.size(), 27 + 2);
        const QJsonObject failures = json["failures"].toObject();
        for (const QString &key : expected.keys()) {
            if (key == u"failures")
                continue;
            if (json[key].isNull())
                QVERIFY2(!failures[key].toString().isEmpty(), qPrintable(key));
            else
                QVERIFY2(
                    json[key] == expected[key] && !failures.contains(key),
                    qPrintable(QStringLiteral("%1: %2, true %3")
                                   .arg(key, json[key].toVariant().toString(), expected[key].toVariant().toString())));
        }
        QCOMPARE(late.status, failures.isEmpty() ? 0 : 1);
        QVERIFY2(late.err.contains(QStringLiteral("模块应答迟到")) && late.err.contains(QStringLiteral("--timeout")),
                 qPrintable(late.err));
        const QRegularExpressionMatch suggested =
            QRegularExpression(QStringLiteral("--timeout (\\d+)")).match(late.err);
        QVERIFY2(suggested.hasMatch() && suggested.captured(1).toInt() > turnaroundMs, qPrintable(late.err));

        if (thenRead) {
            // The module still owes answers to the run that just ended.
            QTest::qWait(10 * turnaroundMs);
            const Result again = read(suggested.captured(1).toInt());
            QVERIFY2(again.status == 0, qPrintable(again.err));
            QCOMPARE(again.json(), expected);
            QVERIFY(!again.err.contains(QStringLiteral("迟到")));
        }
    }

    // A module that answers nothing: read, save and apply stop after three
    // exchanges without a byte and name what to check.
    void deadModuleStopsAfterThreeExchanges_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("read") << QStringList{"read", "t516", "--json"} << "input1.count";
        QTest::newRow("save") << QStringList{"save", "t516", "@file"} << "未写入";
        QTest::newRow("apply") << QStringList{"apply", "t516", "@file"} << "未写入任何值";
        QTest::newRow("set") << QStringList{"set", "t516", "relay", "1", "host"} << "未写入任何值";
    }
    void deadModuleStopsAfterThreeExchanges()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        Rig rig;
        const QString file = rig.port.dir.filePath(QStringLiteral("meter.json"));
        QVERIFY(writeFile(file, kRelaysFile));
        args.replaceInStrings(QStringLiteral("@file"), file);
        rig.port.sim.setFault(Fault::Silent);
        const Result r = rig.run(args);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral("模块无应答：请检查总线地址 1、串口 COM1、波特率 9600 与接线。")),
                 qPrintable(r.err));
        QVERIFY2(r.err.contains(message) || r.out.contains(message), qPrintable(r.err));
        QVERIFY2(rig.port.sim.requestCount() <= 3, qPrintable(QString::number(rig.port.sim.requestCount())));
        for (const QString &request : rig.port.requests())
            QVERIFY2(request.mid(3, 2) == u"03", qPrintable(request)); // nothing written
        QFile kept(file);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll().contains("relay1.command")); // save kept the old file
        if (args[0] == u"read") {
            const QJsonObject json = r.json();
            QVERIFY(json["analog3.upper"].isNull());
            QCOMPARE(json["failures"].toObject()["analog3.upper"].toString(), QStringLiteral("模块无应答，未读取"));
        }
    }

    // A T516 file applied to a T528: the registers are read first, the
    // module refuses the analog ones, and nothing at all is written.
    void applyToAnotherKindWritesNothing_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("apply") << "apply";
        QTest::newRow("set") << "set";
    }
    void applyToAnotherKindWritesNothing()
    {
        QFETCH(QString, command);
        Rig rig(Module::T528);
        const quint16 relay1 = rig.port.sim.reg(regs::relayCommand(0));
        const QString file = rig.port.dir.filePath(QStringLiteral("t516.json"));
        QVERIFY(writeFile(file, R"({"module": "t516", "relay1.command": "operate", "relay2.command": "operate",)"
                                R"("analog1.type": "0-5V", "analog1.source": "AB线电压", "analog1.lower": 360, )"
                                R"("analog1.upper": 420})"));
        const Result r = command == u"apply" ? rig.run({"apply", "t516", file, "--json"})
                                             : rig.run({"set", "t516", "analog", "1", "--type", "0-5V", "--source", "9",
                                                        "--lower", "1", "--upper", "2", "--json"});
        QCOMPARE(r.status, 1);
        QVERIFY2(
            r.err.contains(QStringLiteral("写入前读取输出1信号类型（寄存器 0x0EB2）失败：异常应答 02：非法数据地址"))
                && r.err.contains(QStringLiteral("可能不是 T516")),
            qPrintable(r.err));
        for (const QString &request : rig.port.requests())
            QVERIFY2(request.mid(3, 2) == u"03", qPrintable(request));
        QCOMPARE(rig.port.sim.reg(regs::relayCommand(0)), relay1);
        const QJsonObject report = r.json();
        const QJsonArray values = report["values"].toArray();
        QCOMPARE(values.size(), command == u"apply" ? 6 : 4);
        for (const QJsonValue &v : values) {
            QCOMPARE(v["outcome"].toString(), QStringLiteral("not_sent"));
            QVERIFY(v["reason"].toString().contains(QStringLiteral("写入前读取")));
        }
    }

    // A read before writing that the module refuses: nothing is written, and
    // each value's reason in the JSON report names the read and why, as the
    // message does.
    void refusedReadBeforeWritingSaysWhy_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("count");
        QTest::newRow("apply, its third read") << "apply" << 3 << 6;
        QTest::newRow("set, its first read") << "set" << 1 << 4;
    }
    void refusedReadBeforeWritingSaysWhy()
    {
        QFETCH(QString, command);
        QFETCH(int, request);
        QFETCH(int, count);
        Rig rig;
        const QString file = rig.port.dir.filePath(QStringLiteral("t516.json"));
        QVERIFY(writeFile(file, R"({"module": "t516", "relay1.command": "operate", "relay2.command": "operate",)"
                                R"("analog1.type": "0-5V", "analog1.source": "AB线电压", "analog1.lower": 360, )"
                                R"("analog1.upper": 420})"));
        failRequest(rig.port.sim, request, Fault::Exception);
        const Result r = command == u"apply" ? rig.run({"apply", "t516", file, "--json"})
                                             : rig.run({"set", "t516", "analog", "1", "--type", "0-5V", "--source", "9",
                                                        "--lower", "1", "--upper", "2", "--json"});
        rig.port.sim.onFrame({});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains(QStringLiteral(
                     "写入前读取输出1信号类型（寄存器 0x0EB2）失败：异常应答 04：从站设备故障，未写入任何值。")),
                 qPrintable(r.err));
        for (const QString &request : rig.port.requests())
            QVERIFY2(request.mid(3, 2) == u"03", qPrintable(request));
        const QJsonArray values = r.json()["values"].toArray();
        QCOMPARE(values.size(), count);
        for (const QJsonValue &v : values) {
            QCOMPARE(v["outcome"].toString(), QStringLiteral("not_sent"));
            QCOMPARE(v["reason"].toString(), QStringLiteral("写入前读取输出1信号类型失败：异常应答 04：从站设备故障"));
        }
    }

    // The report of every value: before, written, read back, outcome.
    void applyReportsEveryValue()
    {
        Rig rig;
        hv52sim::Simulator &sim = rig.port.sim;
        sim.setRegister(regs::relayCommand(0), regs::cmdAlarm);
        sim.setRegister(regs::relayCommand(1), regs::cmdRestore);
        const QString file = rig.port.dir.filePath(QStringLiteral("meter.json"));
        QVERIFY(writeFile(file, R"({"module": "t516", "relay1.command": "host", "relay2.command": "operate",)"
                                R"("analog1.type": "0-5V", "analog1.source": "AB线电压", "analog1.lower": 360, )"
                                R"("analog1.upper": 420})"));
        // The module acknowledges relay 2's write and keeps its old command;
        // it refuses analog 1's lower limit, which ends that group.
        sim.onFrame([&](const hv52sim::Frame &fr) {
            if (fr.fromMaster && fr.bytes[1] == 16 && fr.bytes[3] == uint8_t(regs::analogLower(0)))
                sim.setFault(Fault::Exception, 1);
            if (!fr.fromMaster && fr.bytes.size() == 8 && fr.bytes[1] == 16
                && fr.bytes[3] == uint8_t(regs::relayCommand(1)))
                sim.setRegister(regs::relayCommand(1), regs::cmdRestore);
        });
        const Result r = rig.run({"apply", "t516", file, "--json"});
        sim.onFrame({});
        QCOMPARE(r.status, 1);
        const QJsonObject report = r.json();
        QCOMPARE(report["summary"].toString(),
                 QStringLiteral("6 个值：3 个已写入并读回核对，1 个写入失败，1 个读回不符，1 个未发送"));
        QVERIFY(report["stopped"].isNull());
        QHash<QString, QJsonObject> byKey;
        for (const QJsonValue &v : report["values"].toArray())
            byKey.insert(v["key"].toString(), v.toObject());
        QCOMPARE(byKey["relay1.command"]["outcome"].toString(), QStringLiteral("verified"));
        QCOMPARE(byKey["relay1.command"]["before"].toString(), QStringLiteral("报警输出"));
        QCOMPARE(byKey["relay1.command"]["written"].toString(), QStringLiteral("上位机控制"));
        QCOMPARE(byKey["relay1.command"]["read_back"].toString(), QStringLiteral("上位机控制"));
        QCOMPARE(byKey["relay2.command"]["outcome"].toString(), QStringLiteral("mismatch"));
        QCOMPARE(byKey["relay2.command"]["read_back"].toString(), QStringLiteral("控制继电器恢复"));
        QCOMPARE(byKey["relay2.command"]["written_raw"].toInt(), int(regs::cmdOperate));
        QCOMPARE(byKey["analog1.lower"]["outcome"].toString(), QStringLiteral("write_failed"));
        QCOMPARE(byKey["analog1.lower"]["reason"].toString(), QStringLiteral("异常应答 04：从站设备故障"));
        QCOMPARE(byKey["analog1.lower"]["read_back_raw"].toInt(-1), int(sim.reg(regs::analogLower(0))));
        QCOMPARE(byKey["analog1.upper"]["outcome"].toString(), QStringLiteral("not_sent"));
        QCOMPARE(byKey["analog1.upper"]["written"].toDouble(), 420.0);
        QCOMPARE(byKey["analog1.upper"]["register"].toString(), QStringLiteral("0x0EB5"));
        QCOMPARE(byKey["analog1.upper"]["read_back_raw"].toInt(-1), int(sim.reg(regs::analogUpper(0))));
        // The group's write after the failed one never went out.
        QVERIFY(!rig.port.requests().contains(writeFrame(regs::analogUpper(0), 4200)));
    }

    // SIGTERM, SIGHUP and Ctrl-C in the middle of apply: the analog output
    // being written is finished, nothing after it, what was written and what
    // not is printed; each analog output holds all old or all new values.
    void signalDuringApplyLeavesWholeGroups_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("atRequest"); // sent when the module gets this request
        QTest::addColumn<int>("requests");  // what the module got in all
        // 14 reads before, 2 relay writes, 12 analog writes, 14 reads back.
        QTest::newRow("SIGTERM during the reads before") << int(SIGTERM) << 3 << 3;
        QTest::newRow("SIGTERM at analog 1's first write") << int(SIGTERM) << 17 << 20;
        QTest::newRow("SIGTERM at analog 2's source") << int(SIGTERM) << 22 << 24;
        QTest::newRow("SIGHUP at analog 3's upper limit") << int(SIGHUP) << 28 << 28;
        QTest::newRow("Ctrl-C during the reads back") << int(SIGINT) << 30 << 30;
    }
    void signalDuringApplyLeavesWholeGroups()
    {
        QFETCH(int, signal);
        QFETCH(int, atRequest);
        QFETCH(int, requests);
        Rig rig;
        hv52sim::Simulator &sim = rig.port.sim;
        const QString file = rig.port.dir.filePath(QStringLiteral("meter.json"));
        QVERIFY(writeFile(
            file,
            R"({"module": "t516", "relay1.command": "host", "relay2.command": "operate",)"
            R"("analog1.type": "0-5V", "analog1.source": "AB线电压", "analog1.lower": 360, "analog1.upper": 420,)"
            R"("analog2.type": "0-5V", "analog2.source": "频率", "analog2.lower": 45, "analog2.upper": 55,)"
            R"("analog3.type": "0-5V", "analog3.source": "总有功功率", "analog3.lower": 1, "analog3.upper": 2})"));
        const QList<QList<quint16>> old = {analogGroup(sim, 0), analogGroup(sim, 1), analogGroup(sim, 2)};
        const Result r =
            runSignalledAt(sim, atRequest, signal, {"--port", "1", "--timeout", "120", "apply", "t516", file});
        QCOMPARE(r.status, 1); // a normal exit
        const QString &out = r.out, &err = r.err;
        const QString name = signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "Ctrl-C";
        QVERIFY2(err.contains(QStringLiteral("已中断（%1）").arg(name)), qPrintable(err));
        QVERIFY2(out.contains(QStringLiteral("14 个值：")), qPrintable(out));
        QVERIFY2(out.count(u'\n') == 14 + 1, qPrintable(out)); // a line a value, then the summary
        QCOMPARE(int(rig.port.sim.requestCount()), requests);
        const int notSent = atRequest <= 14 ? 14 : std::max(0, 14 - (requests - 14));
        QVERIFY2(out.contains(QStringLiteral("%1 个未发送").arg(notSent)) || notSent == 0, qPrintable(out));

        // Then the module read as it stands: every analog output whole.
        const QJsonObject now = rig.run({"read", "t516", "--json"}).json();
        QCOMPARE(now["failures"].toObject().size(), 0);
        const QList<QList<quint16>> wanted = {{1, 9, 3600, 4200}, {1, 28, 4500, 5500}, {1, 12, 10, 20}};
        for (int k = 0; k < 3; ++k) {
            const QList<quint16> group = analogGroup(sim, k);
            QStringList shown;
            for (const quint16 v : group)
                shown << QString::number(v);
            QVERIFY2(group == old[k] || group == wanted[k],
                     qPrintable(QStringLiteral("analog %1: %2").arg(k + 1).arg(shown.join(u' '))));
        }
    }

    // save: written whole or not at all; the old file stays on any failure.
    void saveKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("full filesystem") << "tmpfs";
        QTest::newRow("standard output on /dev/full") << "stdout";
        QTest::newRow("interrupted") << "signal";
    }
    void saveKeepsTheOldFile()
    {
        QFETCH(QString, where);
        Rig rig;
        const QByteArray old = R"({"module": "t516", "relay1.command": "host"})";
        QString folder = rig.port.dir.filePath(QStringLiteral("full"));
        QVERIFY(QDir().mkpath(folder));
        bool mounted = false;
        if (where == u"tmpfs") {
            mounted =
                QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", folder}) == 0;
            if (!mounted)
                QSKIP("a tmpfs cannot be mounted here (needs root)");
        }
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                QProcess::execute(QStringLiteral("umount"), {folder});
        });
        const QString file = QDir(folder).filePath(QStringLiteral("meter.json"));
        QVERIFY(writeFile(file, old));
        if (where == u"tmpfs") {
            // Fill the rest of it.
            QFile filler(QDir(folder).filePath(QStringLiteral("filler")));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(1024, 'x');
            while (filler.write(block) == block.size()) {}
        }
        Result r;
        if (where == u"stdout") {
            QProcess p;
            p.setStandardOutputFile(QStringLiteral("/dev/full"));
            p.start(QStringLiteral(HV52CTL_PROGRAM), {"--port", "1", "--timeout", "120", "save", "t516", "-"});
            r = finish(p, 20000);
            QVERIFY2(r.err.contains(QStringLiteral("无法写入标准输出：磁盘空间不足")), qPrintable(r.err));
        } else if (where == u"signal") {
            r = runSignalledAt(rig.port.sim, 5, SIGTERM, {"--port", "1", "--timeout", "120", "save", "t516", file});
            QVERIFY2(r.err.contains(QStringLiteral("已中断（SIGTERM），文件 %1 未写入").arg(file)), qPrintable(r.err));
        } else {
            r = rig.run({"save", "t516", file});
            QVERIFY2(r.err.contains(QStringLiteral("无法写入文件 %1：磁盘空间不足").arg(file)), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
        QCOMPARE(r.status, 1);
        QFile kept(file);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), old);
        // No temporary file left beside it.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot).filter(QStringLiteral("meter")),
                 QStringList{QStringLiteral("meter.json")});
    }

    // save - writes the file's JSON to standard output.
    void saveToStandardOutput()
    {
        Rig rig(Module::T528);
        rig.port.sim.setRegister(regs::relayCommand(1), regs::cmdOperate);
        const Result r = rig.run({"save", "t528", "-"});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.json()["relay2.command"].toString(), QStringLiteral("控制继电器动作"));
        QCOMPARE(r.json().size(), 3);
    }

    // A relay command register holding no known command is a failed read,
    // not a number that passes for a command.
    void unknownRelayCommandIsAFailedRead()
    {
        Rig rig(Module::T528);
        rig.port.sim.setRegister(regs::relayCommand(0), 0x1234);
        const Result r = rig.run({"read", "t528", "--json"});
        QCOMPARE(r.status, 1);
        QVERIFY(r.json()["relay1.command"].isNull());
        QCOMPARE(r.json()["failures"].toObject()["relay1.command"].toString(),
                 QStringLiteral("寄存器值 4660（0x1234）不是已知的控制方式"));
        const Result save = rig.run({"save", "t528", "-"});
        QCOMPARE(save.status, 1);
        QVERIFY(save.out.isEmpty());
    }

    // A scan cut short prints what it found so far, as valid JSON.
    void scanCutShort_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void scanCutShort()
    {
        QFETCH(int, signal);
        SimPort port(Module::T516, 1, 2);
        // Sent after the module at 2 and its probes.
        const Result r = runSignalledAt(
            port.sim, 8, signal,
            {"--port", "1", "scan", "--speeds", "9600", "--addresses", "1-40", "--scan-timeout", "20", "--json"});
        QCOMPARE(r.status, 1);
        QJsonParseError error;
        const QJsonObject json = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray found = json["found"].toArray();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0]["address"].toInt(), 2);
        QVERIFY(port.sim.requestCount() < 12);
        QVERIFY(r.err.contains(QStringLiteral("扫描未完成")));
    }

    // A module slower than the scan timeout is named, not missed silently.
    void scanNamesALateModule()
    {
        SimPort port(Module::T528, 1, 17);
        port.sim.setPacing(19200, 60000);
        const Result r = runCtl(
            {"--port", "1", "scan", "--speeds", "19200", "--addresses", "16-20", "--scan-timeout", "20", "--json"});
        QCOMPARE(r.status, 1);
        const QJsonArray late = r.json()["late"].toArray();
        QCOMPARE(late.size(), 1);
        QCOMPARE(late[0]["address"].toInt(), 17);
        QVERIFY2(r.err.contains(QStringLiteral("19200 bit/s 地址 17 的模块应答迟到")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("已扫描 19200 bit/s：找到 0 个模块")), qPrintable(r.err));
    }

    // SIGTERM and SIGHUP end a watch as Ctrl-C does: after its last line,
    // every line whole.
    void watchEndsOnASignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void watchEndsOnASignal()
    {
        QFETCH(int, signal);
        SimPort port(Module::T528);
        QProcess p;
        p.start(QStringLiteral(HV52CTL_PROGRAM), {"--port", "1", "--timeout", "100", "watch", "t528", "--json"});
        QVERIFY(p.waitForStarted());
        QVERIFY(port.sim.waitForRequests(5, 10000));
        ::kill(pid_t(p.processId()), signal);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY(out.endsWith('\n'));
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QVERIFY(lines.size() >= 4);
        for (const QByteArray &line : lines)
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
    }

    // A reader that leaves (| head) or an output that fails (a full disk)
    // ends a command as a signal does, never by SIGPIPE: a watch with
    // status 0 once its reader has gone, the others with 1, the reason on
    // stderr. A reader gone while nothing is printed is seen too: a scan
    // stops long before its end.
    void closedOutputEndsTheCommand_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("lines"); // the reader leaves after these lines; -1: output to a full disk
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // on stderr; empty: nothing there
        const QStringList watch = {"watch", "t528", "--interval", "0.05"};
        const QStringList scan = {"scan", "--speeds", "9600", "--addresses", "1-247", "--scan-timeout", "20"};
        QTest::newRow("watch | head -3") << watch << 3 << 0 << QString();
        // Nothing changes after the first poll: nothing is printed when the reader leaves.
        QTest::newRow("watch --json, the reader gone after the first poll")
            << watch + QStringList{"--json"} << 12 << 0 << QString();
        QTest::newRow("watch > /dev/full") << watch << -1 << 1 << QStringLiteral("已中断（无法写入标准输出）\n");
        QTest::newRow("scan, the reader gone at once")
            << scan << 0 << 1 << QStringLiteral("已中断（标准输出已关闭），扫描未完成。\n");
        QTest::newRow("scan --json > /dev/full")
            << QStringList{"scan", "--speeds", "9600", "--addresses", "1-3", "--json"} << -1 << 1
            << QStringLiteral("已中断（无法写入标准输出）\n");
        QTest::newRow("read, the reader gone at once")
            << QStringList{"read", "t528"} << 0 << 1 << QStringLiteral("已中断（标准输出已关闭）");
        QTest::newRow("read > /dev/full")
            << QStringList{"read", "t528"} << -1 << 1 << QStringLiteral("已中断（无法写入标准输出）\n");
        QTest::newRow("set > /dev/full, the relay set") << QStringList{"set", "t528", "relay", "1", "host"} << -1 << 1
                                                        << QStringLiteral("已中断（无法写入标准输出）\n");
    }
    void closedOutputEndsTheCommand()
    {
        QFETCH(QStringList, args);
        QFETCH(int, lines);
        QFETCH(int, status);
        QFETCH(QString, message);
        SimPort port(Module::T528);
        args =
            QStringList{"--port", "1"} + (args[0] == u"scan" ? QStringList() : QStringList{"--timeout", "100"}) + args;
        Result r;
        QByteArray out;
        if (lines < 0) {
            QProcess p;
            p.setStandardOutputFile(QStringLiteral("/dev/full"));
            p.start(QStringLiteral(HV52CTL_PROGRAM), args);
            r = finish(p, 20000);
        } else {
            const ClosedPipeRun run = runWithOutputClosed(QStringLiteral(HV52CTL_PROGRAM), args, lines, 20000);
            r.status = run.status;
            r.err = run.err;
            out = run.out;
        }
        QVERIFY2(r.status == status, qPrintable(QStringLiteral("status %1: %2").arg(r.status).arg(r.err)));
        if (message.isEmpty())
            QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        else if (message.endsWith(u'\n'))
            QCOMPARE(r.err.right(message.size()), message); // the last word
        else
            QVERIFY2(r.err.contains(message), qPrintable(r.err));
        if (args.contains(QStringLiteral("--json")) && lines > 0) {
            for (const QByteArray &line : out.left(out.lastIndexOf('\n')).split('\n'))
                QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
        }
        if (args.contains(QStringLiteral("1-247")))
            QVERIFY2(port.sim.requestCount() < 100, qPrintable(QString::number(port.sim.requestCount())));
        if (args.contains(QStringLiteral("host")))
            QCOMPARE(port.sim.reg(regs::relayCommand(0)), regs::cmdHost);
    }

    void addressRanges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("addresses");
        QTest::newRow("one") << "17" << QList<int>{17};
        QTest::newRow("range and singles") << "1-3,17,2" << QList<int>{1, 2, 3, 17};
        QTest::newRow("the top") << "246-247" << QList<int>{246, 247};
    }
    void addressRanges()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, addresses);
        QCOMPARE(hv52ctl::parseAddressRange(text), addresses);
        QCOMPARE(hv52ctl::parseAddressRange(QStringLiteral("1-247")).size(), 247);
    }

    // HOST:PORT as --tcp, --modbus-tcp and a plan's line take it: the host
    // and port, or the refusal (empty host: refused, port 0: bad form).
    void endpoints_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port"); // 0: refused as a bad form; -1: refused as a bad port
        QTest::newRow("address") << "192.168.1.10:502"
                                 << "192.168.1.10" << 502;
        QTest::newRow("name, spaces around") << "  gw-3.plant:4001 "
                                             << "gw-3.plant" << 4001;
        QTest::newRow("IPv6 in brackets") << "[::1]:1502"
                                          << "::1" << 1502;
        QTest::newRow("IPv6 with a dotted tail") << "[::ffff:10.0.0.1]:502"
                                                 << "::ffff:10.0.0.1" << 502;
        QTest::newRow("the top port") << "h:65535"
                                      << "h" << 65535;
        QTest::newRow("leading zeros") << "h:00502"
                                       << "h" << 502;
        QTest::newRow("port 0") << "h:0"
                                << "" << -1;
        QTest::newRow("port 65536") << "h:65536"
                                    << "" << -1;
        QTest::newRow("no port") << "127.0.0.1"
                                 << "" << 0;
        QTest::newRow("empty port") << "h:"
                                    << "" << 0;
        QTest::newRow("no host") << ":502"
                                 << "" << 0;
        QTest::newRow("leading zeros, six digits") << "127.0.0.1:015200"
                                                   << "127.0.0.1" << 15200;
        QTest::newRow("many leading zeros") << "h:0000000000000000502"
                                            << "h" << 502;
        QTest::newRow("six digits") << "h:100502"
                                    << "" << -1;
        QTest::newRow("twenty digits") << "h:99999999999999999999"
                                       << "" << -1;
        QTest::newRow("port with a sign") << "h:+502"
                                          << "" << 0;
        QTest::newRow("port in other digits") << QString::fromUtf8("h:５０２") << "" << 0;
        QTest::newRow("IPv6 without brackets") << "::1:502"
                                               << "" << 0;
        QTest::newRow("two colons") << "h:502:1"
                                    << "" << 0;
        QTest::newRow("space inside the host") << "my gw:502"
                                               << "" << 0;
        QTest::newRow("bracket inside the host") << "g]w:502"
                                                 << "" << 0;
        QTest::newRow("empty brackets") << "[]:502"
                                        << "" << 0;
        QTest::newRow("not hex in brackets") << "[::g]:502"
                                             << "" << 0;
        QTest::newRow("brackets, no port") << "[::1]"
                                           << "" << 0;
        QTest::newRow("brackets, no colon") << "[::1]502"
                                            << "" << 0;
        QTest::newRow("empty") << ""
                               << "" << 0;
    }
    void endpoints()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString gotHost = QStringLiteral("untouched");
        quint16 gotPort = 7;
        try {
            hv52ctl::parseEndpoint(QStringLiteral("--tcp"), text, &gotHost, &gotPort);
            QVERIFY2(port > 0, "accepted");
            QCOMPARE(gotHost, host);
            QCOMPARE(int(gotPort), port);
        } catch (const hv52ctl::UsageError &e) {
            QVERIFY2(port <= 0, qPrintable(e.text()));
            QVERIFY2(
                e.text().contains(port == 0 ? QStringLiteral("（应为 主机:端口") : QStringLiteral("（应为 1～65535）")),
                qPrintable(e.text()));
            QCOMPARE(gotHost, QStringLiteral("untouched")); // nothing half-set
            QCOMPARE(int(gotPort), 7);
        }
    }
};

QTEST_GUILESS_MAIN(CtlTest)
#include "tst_ctl.moc"
