// Read and write requests through QSerialPort against the simulated module on
// a real pseudo-terminal: frames, answers, faults, the port bracket and the
// error path.
#include "dataunit.h"
#include "harness.h"
#include "judge.h"
#include "linkerror.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace hv52;
using namespace hv52test;
using hv52sim::Fault;
using hv52sim::Module;

namespace {

// A raw pseudo-terminal linked at `path`: a line the simulated module cannot
// play, driven byte by byte from the master side.
struct RawLine
{
    int master = -1;
    int slave = -1;
    bool open(const QString &path)
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return false;
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        return QFile::link(QString::fromLocal8Bit(ttyname(slave)), path);
    }
    ~RawLine()
    {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
    }
};

struct Bench
{
    SimPort port{Module::T516};
    Link link;
    Messages messages;

    explicit Bench(int timeoutMs = kShortTimeoutMs)
    {
        link.setArgs({1, port.port(), 9600, 0});
        link.setResponseTimeout(timeoutMs);
    }
    // One operation; its error path's text is what the window would show.
    RunResult run(const std::function<void()> &work)
    {
        const RunResult result = link.run(work);
        if (!result.error.isEmpty())
            messages.shown << result.error;
        return result;
    }
    // One read inside the port bracket; returns the text and keeps the state.
    QString read(quint8 tp, quint8 lo, qint16 *state = nullptr, qint64 *ms = nullptr)
    {
        QString result;
        QElapsedTimer clock;
        run([&] {
            clock.start();
            result = link.para_call(tp, 0x0E, lo);
            if (ms)
                *ms = clock.elapsed();
            if (state)
                *state = link.exchangeState();
        });
        return result;
    }
};

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ')).toUpper();
}

} // namespace

class ExchangeTest : public QObject
{
    Q_OBJECT
private slots:
    void framesByteForByte_data()
    {
        QTest::addColumn<int>("kind"); // 0 read one, 1 read two, 2 write
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("frame");
        QTest::newRow("read 0x0000") << 0 << 0x0000 << 0 << "01 03 00 00 00 01 84 0A";
        QTest::newRow("read pair 0x0B00") << 1 << 0x0B00 << 0 << "01 03 0B 00 00 02 C6 2F";
        QTest::newRow("input 1 count") << 1 << 0x0E40 << 0 << "01 03 0E 40 00 02 C7 37";
        QTest::newRow("input 1 state") << 0 << 0x0E42 << 0 << "01 03 0E 42 00 01 26 F6";
        QTest::newRow("input 7 on time") << 1 << 0x0E6A << 0 << "01 03 0E 6A 00 02 E6 FF";
        QTest::newRow("relay 1 count") << 1 << 0x0E20 << 0 << "01 03 0E 20 00 02 C7 29";
        QTest::newRow("relay 1 state") << 0 << 0x0E22 << 0 << "01 03 0E 22 00 01 26 E8";
        QTest::newRow("relay 1 command") << 0 << 0x0E80 << 0 << "01 03 0E 80 00 01 87 0A";
        QTest::newRow("reset relay 1") << 2 << 0x0B00 << 0x6003 << "01 10 0B 00 00 01 02 60 03 74 91";
        QTest::newRow("reset all relays") << 2 << 0x0B00 << 0x6FFF << "01 10 0B 00 00 01 02 6F FF 71 20";
        QTest::newRow("reset all inputs") << 2 << 0x0B00 << 0x601F << "01 10 0B 00 00 01 02 60 1F 75 58";
        QTest::newRow("input 3 mode 1") << 2 << 0x0E8C << 1 << "01 10 0E 8C 00 01 02 00 01 97 5C";
        QTest::newRow("input 1 mode 0") << 2 << 0x0E8A << 0 << "01 10 0E 8A 00 01 02 00 00 56 FA";
        QTest::newRow("relay 1 operate") << 2 << 0x0E80 << 0x5050 << "01 10 0E 80 00 01 02 50 50 6A 6C";
        QTest::newRow("relay 2 restore") << 2 << 0x0E81 << 0x3030 << "01 10 0E 81 00 01 02 30 30 43 95";
        QTest::newRow("largest value") << 2 << 0x0EB4 << 65535 << "01 10 0E B4 00 01 02 FF FF 53 94";
    }
    void framesByteForByte()
    {
        QFETCH(int, kind);
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(QString, frame);
        Bench b;
        b.run([&] {
            if (kind == 2)
                b.link.para_set(quint8(reg >> 8), quint8(reg), value);
            else
                b.link.para_call(quint8(kind), quint8(reg >> 8), quint8(reg));
        });
        QCOMPARE(hex(b.link.sendBuffer()), frame);
        QCOMPARE(b.port.requests(), QStringList{frame});
    }

    void readValues_data()
    {
        QTest::addColumn<int>("tp");
        QTest::addColumn<quint32>("stored");
        QTest::addColumn<QString>("text");
        QTest::newRow("one register") << 0 << 0x1234u << "4660";
        QTest::newRow("zero") << 0 << 0u << "0";
        QTest::newRow("largest register") << 0 << 65535u << "65535";
        QTest::newRow("pair 70000") << 1 << 70000u << "70000";
        QTest::newRow("pair 65536") << 1 << 65536u << "65536";
        QTest::newRow("pair all ones, no sign") << 1 << 0xFFFFFFFFu << "4294967295";
    }
    void readValues()
    {
        QFETCH(int, tp);
        QFETCH(quint32, stored);
        QFETCH(QString, text);
        Bench b;
        if (tp)
            b.port.sim.setRegister32(0x0E40, stored);
        else
            b.port.sim.setRegister(0x0E42, quint16(stored));
        qint16 state = -1;
        QCOMPARE(b.read(quint8(tp), tp ? 0x40 : 0x42, &state), text);
        QCOMPARE(state, qint16(Link::Valid));
        QCOMPARE(b.link.failureCount(), qint16(0));
        QVERIFY(!b.link.isPortOpen());
        QVERIFY(b.messages.shown.isEmpty());
    }

    void faults_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("waitsForTimer");
        QTest::newRow("silent") << int(Fault::Silent) << int(Link::TimedOut) << true;
        QTest::newRow("bad crc") << int(Fault::BadCrc) << int(Link::Failed) << false;
        QTest::newRow("partial answer") << int(Fault::Partial) << int(Link::Failed) << true;
        QTest::newRow("exception answer, at once") << int(Fault::Exception) << int(Link::Failed) << false;
        QTest::newRow("extra trailing bytes") << int(Fault::ExtraBytes) << int(Link::Failed) << false;
        QTest::newRow("another address") << int(Fault::OtherAddress) << int(Link::Failed) << false;
        QTest::newRow("another function") << int(Fault::OtherFunction) << int(Link::Failed) << false;
    }
    void faults()
    {
        QFETCH(int, fault);
        QFETCH(int, state);
        QFETCH(bool, waitsForTimer);
        // A long timeout separates "ended by the answer" from "ended by the timer".
        const int timeout = waitsForTimer ? 300 : 5000;
        Bench b(timeout);
        b.port.sim.setRegister(0x0E42, 0x5050);
        b.port.sim.setFault(Fault(fault), 1);
        qint16 got = -1;
        qint64 ms = 0;
        QCOMPARE(b.read(0, 0x42, &got, &ms), QStringLiteral("0"));
        QCOMPARE(got, qint16(state));
        QCOMPARE(b.link.failureCount(), qint16(1));
        if (waitsForTimer)
            QVERIFY2(ms >= timeout - 5, qPrintable(QString::number(ms)));
        else
            QVERIFY2(ms < timeout / 2, qPrintable(QString::number(ms)));
        // The next exchange on a healthy line is good again.
        QCOMPARE(b.read(0, 0x42, &got), QStringLiteral("20560"));
        QCOMPARE(got, qint16(Link::Valid));
        QVERIFY(b.messages.shown.isEmpty());
    }

    // Each failure with its reason, as the monitor and the messages name it.
    void verdicts_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("text");
        QTest::newRow("silent") << int(Fault::Silent) << "超时无应答";
        QTest::newRow("bad crc") << int(Fault::BadCrc) << "校验错误";
        QTest::newRow("partial") << int(Fault::Partial) << "应答不完整";
        QTest::newRow("exception") << int(Fault::Exception) << "异常应答 04：从站设备故障";
        QTest::newRow("another address") << int(Fault::OtherAddress) << "地址不符";
        QTest::newRow("another function") << int(Fault::OtherFunction) << "功能码不符";
        QTest::newRow("none") << int(Fault::None) << "有效";
    }
    void verdicts()
    {
        QFETCH(int, fault);
        QFETCH(QString, text);
        Bench b;
        b.port.sim.setFault(Fault(fault), 1);
        b.read(1, 0x40);
        QCOMPARE(outcomeText(b.link.lastVerdict()), text);
    }

    // An exception answer needs no timer: with the real 1000 ms it ends in
    // a few milliseconds on a pseudo-terminal.
    void exceptionAnswerAtOnce()
    {
        Bench b(Link::kResponseTimeoutMs);
        b.port.sim.setFault(Fault::Exception, 1);
        qint16 state = -1;
        qint64 ms = -1;
        QCOMPARE(b.read(0, 0x42, &state, &ms), QStringLiteral("0"));
        QCOMPARE(state, qint16(Link::Failed));
        QCOMPARE(b.link.failureCount(), qint16(1));
        QVERIFY2(ms < 100, qPrintable(QString::number(ms)));
    }

    void piecesAndDelaysWithinTheTimeout()
    {
        Bench b(400);
        b.port.sim.setRegister32(0x0E40, 70000);
        b.port.sim.setSplit(4, 15);
        b.port.sim.setFault(Fault::Split, 1);
        qint16 state = -1;
        QCOMPARE(b.read(1, 0x40, &state), QStringLiteral("70000"));
        QCOMPARE(state, qint16(Link::Valid));
        b.port.sim.setSlowMs(100);
        b.port.sim.setFault(Fault::Slow, 1);
        QCOMPARE(b.read(1, 0x40, &state), QStringLiteral("70000"));
        QCOMPARE(state, qint16(Link::Valid));
    }

    void writeConfirmation()
    {
        Bench b;
        bool ok = false;
        b.run([&] { ok = b.link.para_set(0x0B, 0x00, 0x6003); });
        QVERIFY(ok);
        b.port.sim.setFault(Fault::Silent, 1);
        b.run([&] { ok = b.link.para_set(0x0B, 0x00, 0x6003); });
        QVERIFY(!ok);
        QCOMPARE(b.link.failureCount(), qint16(1));
        // A write the module refuses with an exception answer is no confirmation.
        b.run([&] { ok = b.link.para_set(0x0E, 0x20, 5); });
        QVERIFY(!ok);
        QCOMPARE(b.link.failureCount(), qint16(2));
    }

    void failureCounterStopsAtTheTop()
    {
        Bench b;
        b.port.sim.setFault(Fault::Silent);
        b.link.setFailureCount(32766);
        b.read(0, 0x42);
        b.read(0, 0x42);
        QCOMPARE(b.link.failureCount(), qint16(32767));
        QVERIFY(b.messages.shown.isEmpty());
    }

    void valuesRefusedBeforeSending_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("fshu");
        QTest::addColumn<QString>("named");
        QTest::newRow("value 65536") << 1 << 65536 << "65536";
        QTest::newRow("value -1") << 1 << -1 << "-1";
        QTest::newRow("address 256") << 256 << 0 << "256";
        // Broadcast would reach every module on the line; 248-255 are reserved.
        QTest::newRow("address 0") << 0 << 0 << "总线地址 0 是广播地址";
        QTest::newRow("address 248") << 248 << 0 << "总线地址 248 无效";
        QTest::newRow("address 255") << 255 << 0 << "总线地址 255 无效";
    }
    void valuesRefusedBeforeSending()
    {
        QFETCH(int, address);
        QFETCH(int, fshu);
        QFETCH(QString, named);
        Bench b;
        b.link.setArgs({address, b.port.port(), 9600, 0});
        bool after = false;
        b.run([&] {
            b.link.para_set(0x0E, 0x80, fshu);
            after = true;
        });
        QVERIFY(!after);
        QCOMPARE(b.messages.shown.size(), 1);
        QVERIFY2(b.messages.last().contains(named), qPrintable(b.messages.last()));
        QCOMPARE(b.port.sim.requestCount(), size_t(0));
        QVERIFY(!b.link.isPortOpen());
        // A read at address 256 is refused the same way.
        b.messages.clear();
        if (address != 1) {
            b.read(0, 0x42);
            QVERIFY(b.messages.last().contains(named));
            QCOMPARE(b.port.sim.requestCount(), size_t(0));
        }
    }

    void portRefused_data()
    {
        QTest::addColumn<QVector<qint32>>("args");
        QTest::addColumn<QString>("named");
        // The last element is the parser's terminating 0: a missing argument
        // is named as missing, not as an argument of 0.
        QTest::newRow("no arguments") << QVector<qint32>{0} << "缺少总线地址";
        QTest::newRow("only an address") << QVector<qint32>{5, 0} << "缺少串口号";
        QTest::newRow("no speed") << QVector<qint32>{1, 1, 0} << "缺少波特率";
        QTest::newRow("port 0") << QVector<qint32>{5, 0, 9600, 0} << "串口号 0";
        QTest::newRow("port 40000") << QVector<qint32>{1, 40000, 9600, 0} << "40000";
        QTest::newRow("speed 0") << QVector<qint32>{1, 1, 0, 0} << "波特率 0";
        QTest::newRow("missing device") << QVector<qint32>{1, 9, 9600, 0} << "COM9";
    }
    void portRefused()
    {
        QFETCH(QVector<qint32>, args);
        QFETCH(QString, named);
        Bench b;
        b.link.setArgs(args);
        bool ran = false;
        b.run([&] { ran = true; });
        QVERIFY(!ran);
        QCOMPARE(b.messages.shown.size(), 1);
        QVERIFY2(b.messages.last().contains(named), qPrintable(b.messages.last()));
        QVERIFY(!b.link.isPortOpen());
        // The window stays usable: the next press with good arguments works.
        b.link.setArgs({1, b.port.port(), 9600, 0});
        b.port.sim.setRegister(0x0E42, 7);
        QCOMPARE(b.read(0, 0x42), QStringLiteral("7"));
    }

    void busyPort_data()
    {
        QTest::addColumn<bool>("byTarget");
        QTest::newRow("another program, same path") << false;
        // Another operation holding the device by its real path: the lock
        // follows the device, not the name.
        QTest::newRow("another link, the symlink's target") << true;
    }
    void busyPort()
    {
        QFETCH(bool, byTarget);
        Bench b;
        QSerialPort other(b.port.linkPath());
        Link holder;
        if (byTarget) {
            LineSettings line;
            line.kind = LineSettings::Kind::SerialDevice;
            line.device = QString::fromStdString(b.port.sim.devicePath());
            holder.setLine(line);
            const RunResult held = holder.run([&] { b.read(0, 0x42); });
            QVERIFY2(held.error.isEmpty(), qPrintable(held.error));
        } else {
            QVERIFY(other.open(QIODevice::ReadWrite));
            b.read(0, 0x42);
        }
        QCOMPARE(b.messages.shown.size(), 1);
        QVERIFY2(b.messages.last().contains(QStringLiteral("COM1"))
                     && b.messages.last().contains(QStringLiteral("占用")),
                 qPrintable(b.messages.last()));
        QVERIFY(!b.link.isPortOpen());
        QCOMPARE(b.port.sim.requestCount(), size_t(0));
    }

    void unplugDuringExchange()
    {
        Bench b(5000);
        b.port.sim.setFault(Fault::Silent);
        QTimer::singleShot(50, [&] { b.port.sim.unplug(); });
        QElapsedTimer clock;
        clock.start();
        bool after = false;
        b.run([&] {
            b.link.para_call(0, 0x0E, 0x42);
            after = true;
        });
        QVERIFY2(clock.elapsed() < 2500, "the unplug must end the wait, not the timer");
        QVERIFY(!after);
        QCOMPARE(b.messages.shown.size(), 1);
        QVERIFY2(b.messages.last().contains(QStringLiteral("COM1")), qPrintable(b.messages.last()));
        QVERIFY(!b.link.isPortOpen());
        // Plugged in again, the next press works.
        QVERIFY(b.port.sim.replug());
        b.port.sim.setFault(Fault::None, 0);
        b.port.sim.setRegister(0x0E42, 3);
        QCOMPARE(b.read(0, 0x42), QStringLiteral("3"));
    }

    void secondPressIgnoredWhileWaiting()
    {
        Bench b(300);
        b.port.sim.setFault(Fault::Silent);
        bool nestedRan = false;
        bool nestedAccepted = true;
        QTimer::singleShot(50, [&] { nestedAccepted = b.run([&] { nestedRan = true; }).started; });
        b.read(0, 0x42);
        QVERIFY(!nestedAccepted);
        QVERIFY(!nestedRan);
        QCOMPARE(b.port.sim.requestCount(), size_t(1));
        QVERIFY(b.messages.shown.isEmpty());
        QVERIFY(b.run([] {}).started);
    }

    void abortEndsTheOperationQuietly()
    {
        Bench b(5000);
        b.port.sim.setFault(Fault::Silent);
        QTimer::singleShot(50, [&] { b.link.abort(); });
        bool after = false;
        b.run([&] {
            b.link.para_call(0, 0x0E, 0x42);
            after = true;
        });
        QVERIFY(!after);
        QVERIFY(b.messages.shown.isEmpty());
        QVERIFY(!b.link.isPortOpen());
        QCOMPARE(b.link.failureCount(), qint16(0));
    }

    // After a failed exchange the next request waits for a quiet line; a
    // line that keeps chattering ends the operation instead of letting its
    // bytes pass for an answer.
    void chatteringLineEndsTheOperation()
    {
        Bench b;
        RawLine line;
        QVERIFY(line.open(b.port.dir.filePath(QStringLiteral("com7"))));
        // One byte every 10 ms, for longer than the link waits for quiet.
        std::atomic<bool> stop{false};
        std::thread noise([&] {
            for (int i = 0; i < 300 && !stop; ++i) {
                const char byte = char(0x55);
                (void)::write(line.master, &byte, 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        b.link.setArgs({1, 7, 9600, 0});
        QElapsedTimer clock;
        clock.start();
        int reads = 0;
        int sent = 0;
        connect(&b.link, &Link::requestSent, this, [&] { ++sent; });
        b.run([&] {
            for (int i = 0; i < 3; ++i, ++reads)
                b.link.para_call(0, 0x0E, 0x42);
        });
        const qint64 ms = clock.elapsed();
        stop = true;
        noise.join();
        // The first read failed and the quiet wait after it ended the
        // operation: the second never went out.
        QCOMPARE(reads, 0);
        QCOMPARE(sent, 1);
        QCOMPARE(b.messages.shown.size(), 1);
        QVERIFY2(b.messages.last().contains(QStringLiteral("COM7"))
                     && b.messages.last().contains(QStringLiteral("一直有数据")),
                 qPrintable(b.messages.last()));
        QVERIFY2(ms >= Link::kSettleLimitMs && ms < 2500, qPrintable(QString::number(ms)));
        QVERIFY(!b.link.isPortOpen());
    }

    // The quiet time after a failed exchange is at least 50 ms, and longer
    // where the longest answer takes longer on the wire.
    void guardTime_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("guard");
        QTest::newRow("115200") << 115200 << 50;
        QTest::newRow("9600") << 9600 << 50;
        QTest::newRow("2400") << 2400 << 53;
        QTest::newRow("1200") << 1200 << 105;
    }
    void guardTime()
    {
        QFETCH(int, speed);
        QFETCH(int, guard);
        Link link;
        link.setArgs({1, 1, speed, 0});
        QCOMPARE(link.guardMs(), guard);
    }

    // A module that answers after the response time, or an answer that lands
    // in the next request's wait: every read is the register's true value or
    // a failure, never another register's answer. A healthy read follows.
    void lateAnswersNeverPassForAnother_data()
    {
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("turnaroundMs"); // paced at 9600, -1: a held answer
        QTest::addColumn<int>("followMs");     // held: the next own answer, -1 lost
        QTest::addColumn<bool>("lateSeen");
        QTest::newRow("on time") << 60 << 0 << 0 << false;
        QTest::newRow("late into the quiet wait") << 60 << 50 << 0 << true;
        QTest::newRow("late past the quiet wait") << 60 << 120 << 0 << true;
        QTest::newRow("late by twice the timeout") << 60 << 200 << 0 << true;
        QTest::newRow("late by several requests") << 40 << 400 << 0 << true;
        // Found out by the second read disagreeing with the first.
        QTest::newRow("one answer in the next wait, its own lost") << 60 << -1 << -1 << true;
        QTest::newRow("one answer in the next wait, its own after") << 60 << -1 << 25 << true;
    }
    void lateAnswersNeverPassForAnother()
    {
        QFETCH(int, timeoutMs);
        QFETCH(int, turnaroundMs);
        QFETCH(int, followMs);
        QFETCH(bool, lateSeen);
        Bench b(timeoutMs);
        // Same-shaped registers holding different values, and pairs.
        const QVector<std::pair<quint16, bool>> regs = {{0x0E42, false}, {0x0E45, false}, {0x0E80, false},
                                                        {0x0E81, false}, {0x0E40, true},  {0x0E43, true},
                                                        {0x0EB3, false}, {0x0EB7, false}, {0x0E5E, true}};
        QHash<quint16, quint32> truth;
        quint32 next = 101;
        for (const auto &[reg, pair] : regs) {
            if (pair)
                b.port.sim.setRegister32(reg, next * 65537u);
            else
                b.port.sim.setRegister(reg, quint16(next));
            truth.insert(reg, pair ? next * 65537u : next);
            next += 7;
        }
        if (turnaroundMs >= 0) {
            b.port.sim.setPacing(9600, turnaroundMs * 1000);
        } else {
            b.port.sim.setHeld(10, followMs);
            b.port.sim.setFault(Fault::Silent, 0);
        }
        int valid = 0, sent = 0;
        QStringList wrong;
        connect(&b.link, &Link::requestSent, this, [&] { ++sent; });
        b.run([&] {
            for (int round = 0; round < 2; ++round) {
                // On time, the second round comes after the copy window: an
                // answer heard again within it may be the line's repetition.
                if (round == 1 && turnaroundMs == 0)
                    QTest::qWait(Judge::kRepeatLagLimitMs + 50);
                for (int i = 0; i < regs.size(); ++i) {
                    if (turnaroundMs < 0 && round == 0 && i == 2)
                        b.port.sim.setFault(Fault::Held, 1);
                    const ReadResult r = b.link.readRegister(regs[i].first, regs[i].second);
                    if (r.ok() && r.value != truth[regs[i].first])
                        wrong << QStringLiteral("%1: %2").arg(regs[i].first, 0, 16).arg(r.value);
                    valid += r.ok();
                    if (!r.ok())
                        QVERIFY(r.verdict.outcome != Outcome::Valid);
                }
            }
        });
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u", ")));
        QVERIFY2(b.messages.shown.isEmpty(), qPrintable(b.messages.shown.join(u'\n')));
        QCOMPARE(b.link.lateAnswerMs() > 0, lateSeen);
        if (lateSeen)
            QVERIFY(b.link.lateAnswerMs() > timeoutMs);
        if (turnaroundMs == 0) {
            QCOMPARE(valid, 2 * int(regs.size()));
            QCOMPARE(sent, 2 * int(regs.size())); // a healthy line: one request a read
        }
        if (turnaroundMs < 0)
            QVERIFY2(valid >= 2 * int(regs.size()) - 3, qPrintable(QString::number(valid)));

        // Then the module is on time again: the next operation reads true.
        b.port.sim.setPacing(0);
        b.port.sim.setFault(Fault::None);
        QTest::qWait(turnaroundMs > 0 ? 3 * turnaroundMs : 50);
        for (const auto &[reg, pair] : regs) {
            QString text;
            b.run([&] { text = b.link.para_call(pair, quint8(reg >> 8), quint8(reg)); });
            QCOMPARE(text, QString::number(truth[reg]));
        }
    }

    // Once late bytes were heard, a timed-out exchange is named late, and the
    // quiet wait grows to take the module's late answers off the line.
    void lateModuleNamedLate()
    {
        Bench b(60);
        b.port.sim.setPacing(9600, 150 * 1000);
        QVector<Outcome> outcomes;
        b.run([&] {
            for (int i = 0; i < 6; ++i)
                outcomes << b.link.readRegister(0x0E42, false).verdict.outcome;
        });
        QVERIFY(!outcomes.contains(Outcome::Valid));
        QCOMPARE(outcomes.last(), Outcome::Late);
        // About 23 ms on the wire and 150 ms turnaround. Late bytes are heard
        // only after the response time, and the first heard may be an earlier
        // request's: the figure is a lower bound, never below the timeout.
        QVERIFY2(b.link.lateAnswerMs() >= 60 && b.link.lateAnswerMs() < 1000,
                 qPrintable(QString::number(b.link.lateAnswerMs())));
    }

    // A module that fell behind sends its queued answers back to back. Two
    // answers of one earlier register, each landing in a read of another,
    // must not agree that register's value into the read: the bytes right
    // after the first tell. Script: for each request in turn, the registers
    // whose answers the module sends (a few ms apart).
    void queuedAnswersBackToBack_data()
    {
        QTest::addColumn<QVector<QVector<quint16>>>("script");
        QTest::addColumn<bool>("confirmed"); // the read of 0x0E45 ends valid
        QTest::newRow("two of an earlier register's, then its own")
            << QVector<QVector<quint16>>{{}, {0x0E42, 0x0E42}, {0x0E45}, {0x0E45}} << true;
        QTest::newRow("its own, then an earlier register's")
            << QVector<QVector<quint16>>{{}, {0x0E45, 0x0E42}, {0x0E42}, {0x0E45}} << false;
        QTest::newRow("three queued, then nothing")
            << QVector<QVector<quint16>>{{}, {0x0E42, 0x0E42, 0x0E42}, {}, {}} << false;
    }
    void queuedAnswersBackToBack()
    {
        QFETCH(QVector<QVector<quint16>>, script);
        QFETCH(bool, confirmed);
        const QHash<quint16, quint16> truth = {{0x0E42, 101}, {0x0E45, 108}};
        Bench b(60);
        RawLine line;
        QVERIFY(line.open(b.port.dir.filePath(QStringLiteral("com7"))));
        // At 1200 bit/s the quiet time after an answer in doubt is about
        // 100 ms, not 20: the module thread's 3 ms between answers stays
        // within it on a loaded machine too.
        b.link.setArgs({1, 7, 1200, 0});
        std::atomic<bool> stop{false};
        std::thread module([&] {
            QByteArray pending;
            for (int k = 0; !stop;) {
                char buf[64];
                const ssize_t n = ::read(line.master, buf, sizeof buf);
                if (n <= 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                pending.append(buf, n);
                for (; pending.size() >= 8; pending.remove(0, 8), ++k) {
                    for (quint16 reg : script.value(k)) {
                        const quint16 v = truth.value(reg);
                        const QByteArray answer =
                            frameRtu(1, QByteArray("\x03\x02", 2) + char(v >> 8) + char(v & 0xFF));
                        (void)::write(line.master, answer.constData(), size_t(answer.size()));
                        std::this_thread::sleep_for(std::chrono::milliseconds(3));
                    }
                }
            }
        });
        QStringList strays;
        connect(&b.link, &Link::strayBytes, this, [&](const QByteArray &bytes) { strays << bytes.toHex(); });
        ReadResult first, second;
        b.run([&] {
            first = b.link.readRegister(0x0E42, false);
            second = b.link.readRegister(0x0E45, false);
        });
        stop = true;
        module.join();
        QVERIFY(!first.ok());
        QVERIFY2(!second.ok() || second.value == 108, qPrintable(QString::number(second.value)));
        QCOMPARE(second.ok(), confirmed);
        QVERIFY(!strays.isEmpty()); // the answer that came along is shown as stray
        QVERIFY2(b.messages.shown.isEmpty(), qPrintable(b.messages.shown.join(u'\n')));
    }

    // Reads are read twice only after a failure that may still owe an answer:
    // a refusal or an answer with stray bytes after it owes none.
    void secondReadsOnlyWhereAnAnswerIsOwed_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("requests"); // for one faulted read and three more
        QTest::newRow("exception") << int(Fault::Exception) << 4;
        QTest::newRow("extra bytes") << int(Fault::ExtraBytes) << 4;
        QTest::newRow("silent") << int(Fault::Silent) << 1 + 3 * 2;
        QTest::newRow("bad crc") << int(Fault::BadCrc) << 1 + 3 * 2;
    }
    void secondReadsOnlyWhereAnAnswerIsOwed()
    {
        QFETCH(int, fault);
        QFETCH(int, requests);
        Bench b;
        b.port.sim.setFault(Fault(fault), 1);
        // Four registers holding different values: a later answer of the
        // failed read must not pass for another's, and no answer is, byte for
        // byte, one heard before (which a line may have repeated).
        const QVector<quint16> regs = {0x0E42, 0x0E45, 0x0E80, 0x0EBD};
        for (const quint16 reg : regs)
            b.port.sim.setRegister(reg, quint16(101 + 7 * regs.indexOf(reg)));
        int sent = 0, valid = 0;
        connect(&b.link, &Link::requestSent, this, [&] { ++sent; });
        b.run([&] {
            for (const quint16 reg : regs)
                valid += b.link.readRegister(reg, false).ok();
        });
        QCOMPARE(valid, 3);
        QCOMPARE(sent, requests);
    }

    // A write is never repeated, even after failures and on a late line.
    void writesAreNeverRepeated()
    {
        Bench b(60);
        b.port.sim.setPacing(9600, 120 * 1000);
        int writes = 0;
        connect(&b.link, &Link::requestSent, this, [&](const QByteArray &frame) { writes += frame[1] == 16; });
        b.run([&] {
            for (int i = 0; i < 3; ++i) {
                b.link.readRegister(0x0E42, false);
                b.link.writeRegister(0x0E80, quint16(i));
            }
        });
        QCOMPARE(writes, 3);
    }

    // The response time runs from the request, however the wait is kept:
    // first off the event loop, then in it, or in it throughout. A silent
    // module, then one that answers: the second read must not be cut short
    // by anything left of the first one's timer.
    void responseTimeRunsFromTheRequest_data()
    {
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("eventsEveryMs");
        QTest::newRow("the real 1000 ms, off the loop first") << Link::kResponseTimeoutMs << 40;
        QTest::newRow("the real 1000 ms, in the loop throughout") << Link::kResponseTimeoutMs << 0;
        QTest::newRow("300 ms, off the loop for 100 ms first") << 300 << 40;
        QTest::newRow("60 ms, shorter than the wait off the loop") << 60 << 250;
    }
    void responseTimeRunsFromTheRequest()
    {
        QFETCH(int, timeoutMs);
        QFETCH(int, eventsEveryMs);
        Bench b(timeoutMs);
        QCOMPARE(b.link.responseTimeout(), timeoutMs);
        b.link.setEventsEveryMs(eventsEveryMs);
        QVector<ExchangeRecord> records;
        connect(&b.link, &Link::exchanged, this, [&](const ExchangeRecord &r) { records << r; });
        b.port.sim.setRegister32(0x0E40, 70000);
        b.port.sim.setSlowMs(timeoutMs / 2);
        b.port.sim.setFault(Fault::Silent, 1);
        qint16 silent = -1, slow = -1;
        QString first, second;
        b.run([&] {
            first = b.link.para_call(1, 0x0E, 0x40);
            silent = b.link.exchangeState();
            b.port.sim.setFault(Fault::Slow, 1); // answers within half the time
            second = b.link.para_call(1, 0x0E, 0x40);
            slow = b.link.exchangeState();
        });
        QCOMPARE(silent, qint16(Link::TimedOut));
        QCOMPARE(first, QStringLiteral("0"));
        QCOMPARE(slow, qint16(Link::Valid));
        QCOMPARE(second, QStringLiteral("70000"));
        QVERIFY(records.size() >= 2);
        // The timer's precision and a loaded machine allow a little over; a
        // wait off the loop added to the full time would be 100 ms over.
        const qint64 waitedMs = records.first().elapsedUs / 1000;
        QVERIFY2(waitedMs >= timeoutMs - 2 && waitedMs < timeoutMs + 80, qPrintable(QString::number(waitedMs)));
    }
};

QTEST_MAIN(ExchangeTest)
#include "tst_exchange.moc"
