// The link over each of its lines: the serial port, RTU frames through a TCP
// port, and Modbus TCP. A simulated module answers on loopback.
#include "dataunit.h"
#include "harness.h"
#include "linkerror.h"
#include "module.h"
#include "sim/tcpserver.h"
#include "t516module.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace hv52;
using namespace hv52test;

Q_DECLARE_METATYPE(hv52::Framing)

namespace {

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString hexOf(const std::vector<uint8_t> &bytes)
{
    return hexOf(QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size())));
}

// The RTU frame a Modbus TCP request stands for: its unit identifier as the
// bus address, its data unit, the CRC.
QString asRtu(const std::vector<uint8_t> &mbap)
{
    const QByteArray frame(reinterpret_cast<const char *>(mbap.data()), qsizetype(mbap.size()));
    const FrameParts parts = splitFrame(Framing::Mbap, frame);
    return hexOf(frameRtu(parts.address, parts.unit));
}

LineSettings tcpTo(int port, Framing framing)
{
    LineSettings line;
    line.kind = LineSettings::Kind::Tcp;
    line.host = QStringLiteral("127.0.0.1");
    line.tcpPort = quint16(port);
    line.framing = framing;
    line.connectTimeoutMs = 2000;
    return line;
}

// A module behind a TCP port on loopback.
struct TcpModule
{
    explicit TcpModule(hv52sim::TcpFraming framing) : sim(hv52sim::Module::T516), server(sim, framing)
    {
        std::string error;
        if (!server.start(0, &error))
            qFatal("server did not start: %s", error.c_str());
    }
    hv52sim::Simulator sim;
    hv52sim::TcpServer server;
};

hv52sim::TcpFraming simFraming(Framing framing)
{
    return framing == Framing::Mbap ? hv52sim::TcpFraming::Mbap : hv52sim::TcpFraming::Rtu;
}

} // namespace

class TransportTest : public QObject
{
    Q_OBJECT
private slots:
    void framings_data()
    {
        QTest::addColumn<hv52::Framing>("framing");
        QTest::newRow("rtu over tcp") << Framing::Rtu;
        QTest::newRow("modbus tcp") << Framing::Mbap;
    }

    // The T516 poll asks the module over TCP exactly what it asks on the
    // serial port, and shows the same values.
    void pollByteForByte_data() { framings_data(); }
    void pollByteForByte()
    {
        QFETCH(hv52::Framing, framing);
        SimPort serial(hv52sim::Module::T516);
        serial.sim.setDemo(false);
        Link serialLink;
        serialLink.setArgs({1, serial.port(), 9600, 0});
        ModuleClient serialClient(serialLink, t516Module());
        PollResult serialPoll;
        QVERIFY(serialLink.run([&] { serialPoll = serialClient.poll(); }).error.isEmpty());

        TcpModule tcp(simFraming(framing));
        tcp.sim.setDemo(false);
        Link link;
        link.setArgs({1, 0, 9600, 0});
        link.setLine(tcpTo(tcp.server.port(), framing));
        ModuleClient client(link, t516Module());
        PollResult poll;
        QStringList cells;
        const RunResult run = link.run([&] { poll = client.poll([&](const Reading &r) { cells << r.text; }); });
        QVERIFY2(run.error.isEmpty(), qPrintable(run.error));

        QStringList asked;
        const auto requests = tcp.server.requests();
        for (size_t i = 0; i < requests.size(); ++i) {
            asked << (framing == Framing::Mbap ? asRtu(requests[i]) : hexOf(requests[i]));
            // Each Modbus TCP request carries its own transaction identifier.
            if (framing == Framing::Mbap && i > 0)
                QCOMPARE((requests[i][0] << 8 | requests[i][1]), (requests[i - 1][0] << 8 | requests[i - 1][1]) + 1);
        }
        QCOMPARE(asked, serial.requests());
        QCOMPARE(poll.failures, 0);
        QCOMPARE(poll.readings.size(), serialPoll.readings.size());
        QCOMPARE(cells.size(), poll.readings.size()); // each value as it arrived
        for (int i = 0; i < poll.readings.size(); ++i)
            QCOMPARE(poll.readings[i].text, serialPoll.readings[i].text);
        QCOMPARE(int(tcp.server.connections()), 1); // one connection for the operation
        QVERIFY(!link.isPortOpen());
    }

    // Each read of a poll goes out as soon as the answer before it is whole,
    // while that answer is shown; never when the answer will end the poll,
    // the caller will stop after it, a read has failed, or the application's
    // events are due first. Against the same poll with every wait in the
    // event loop (which sends nothing ahead): the same frames and values.
    void pollSendsEachReadAhead_data()
    {
        QTest::addColumn<QString>("line");     // "serial", "rtu over tcp", "modbus tcp"
        QTest::addColumn<QString>("scenario"); // see below
        QTest::addColumn<int>("at");           // the poll position it concerns
        QTest::newRow("serial, healthy") << "serial"
                                         << "healthy" << -1;
        QTest::newRow("rtu over tcp, healthy") << "rtu over tcp"
                                               << "healthy" << -1;
        QTest::newRow("modbus tcp, healthy") << "modbus tcp"
                                             << "healthy" << -1;
        QTest::newRow("a source no list has ends the poll") << "serial"
                                                            << "unlisted" << 19;
        QTest::newRow("the caller stops after the 5th") << "serial"
                                                        << "stop" << 4;
        QTest::newRow("the caller stops after the last but one") << "serial"
                                                                 << "stop" << 25;
        QTest::newRow("a silent 3rd read, the rest one by one") << "serial"
                                                                << "silent" << 2;
        QTest::newRow("a bad CRC on the 10th, the rest one by one") << "serial"
                                                                    << "bad crc" << 9;
        QTest::newRow("events due at every answer: nothing ahead") << "serial"
                                                                   << "events due" << -1;
    }
    void pollSendsEachReadAhead()
    {
        QFETCH(QString, line);
        QFETCH(QString, scenario);
        QFETCH(int, at);
        SimPort serial(hv52sim::Module::T516);
        serial.sim.setDemo(false);
        std::unique_ptr<TcpModule> tcp;
        hv52sim::Simulator *sim = &serial.sim;
        const auto linkTo = [&](Link &link) {
            link.setArgs({1, serial.port(), 9600, 0});
            // Short only where an answer is lost on purpose: elsewhere a busy
            // machine must not make a healthy answer late.
            link.setResponseTimeout(scenario == u"silent" || scenario == u"bad crc" ? 150 : 1000);
            if (tcp)
                link.setLine(tcpTo(tcp->server.port(), line == u"modbus tcp" ? Framing::Mbap : Framing::Rtu));
        };
        if (line != u"serial") {
            tcp = std::make_unique<TcpModule>(simFraming(line == u"modbus tcp" ? Framing::Mbap : Framing::Rtu));
            tcp->sim.setDemo(false);
            sim = &tcp->sim;
        }
        // Output 2's source (registers counted from 0): its poll position.
        const quint16 sourceReg = hv52sim::regs::analogSource(1);
        const auto &points = t516Module().poll;
        const int source2 =
            int(std::find_if(points.begin(), points.end(), [&](const Point &p) { return p.address == sourceReg; })
                - points.begin());
        QCOMPARE(source2, 19);
        if (scenario == u"unlisted")
            sim->setRegister(sourceReg, 45);
        if (scenario == u"events due") {
            // Every answer 3 ms late: the events, taken every 1 ms, are due
            // whenever an answer comes.
            sim->setSlowMs(3);
            sim->setFault(hv52sim::Fault::Slow, 1000);
        }
        // The fault on the answer to request at + 1, counted from now.
        const auto failAt = [&](hv52sim::Fault fault) {
            auto requests = std::make_shared<int>(0);
            sim->onFrame([sim, requests, at, fault](const hv52sim::Frame &f) {
                if (f.fromMaster && ++*requests == at + 1)
                    sim->setFault(fault, 1);
            });
        };

        // The same poll with every wait in the event loop: nothing is sent
        // ahead there.
        Link slow;
        linkTo(slow);
        slow.setEventsEveryMs(0);
        ModuleClient slowClient(slow, t516Module());
        PollResult expected;
        QString slowError;
        int slowSent = 0;
        QByteArrayList slowFrames;
        connect(&slow, &Link::requestSent, this, [&](const QByteArray &f) {
            ++slowSent;
            slowFrames << f;
        });
        if (scenario == u"silent")
            failAt(hv52sim::Fault::Silent);
        if (scenario == u"bad crc")
            failAt(hv52sim::Fault::BadCrc);
        QByteArrayList slowLastWhenShown; // the newest request out when each reading was shown
        slowError = slow.run([&] {
                            expected =
                                slowClient.poll([&](const Reading &) { slowLastWhenShown << slowFrames.last(); });
                        })
                        .error;
        sim->onFrame({});

        Link link;
        linkTo(link);
        if (scenario == u"events due")
            link.setEventsEveryMs(1);
        ModuleClient client(link, t516Module());
        int sent = 0;
        bool stopping = false;
        QList<int> sentWhenShown; // requests out when each reading reached the caller
        QByteArrayList frames;
        QByteArrayList lastWhenShown;
        connect(&link, &Link::requestSent, this, [&](const QByteArray &f) {
            frames << f;
            // The caller is told to stop while its read `at` is in flight.
            if (++sent == at + 1 && scenario == u"stop")
                stopping = true;
        });
        if (scenario == u"silent")
            failAt(hv52sim::Fault::Silent);
        if (scenario == u"bad crc")
            failAt(hv52sim::Fault::BadCrc);
        QVector<ExchangeRecord> records;
        connect(&link, &Link::exchanged, this, [&](const ExchangeRecord &r) { records << r; });
        PollResult got;
        QStringList texts;
        const RunResult run = link.run([&] {
            got = client.poll(
                [&](const Reading &r) {
                    sentWhenShown << sent;
                    lastWhenShown << frames.last();
                    texts << r.text;
                    if (stopping)
                        throw LinkError(QStringLiteral("停止"));
                },
                [&] { return !stopping; });
        });
        sim->onFrame({});
        QVERIFY(!link.isPortOpen());

        if (scenario == u"unlisted") {
            // Nothing after the read that ends the poll, on either link.
            QVERIFY2(run.error.contains(QStringLiteral("45 不是列表中的选项")), qPrintable(run.error));
            QCOMPARE(run.error, slowError);
            QCOMPARE(sent, source2 + 1);
            QCOMPARE(slowSent, source2 + 1);
            return;
        }
        if (scenario == u"stop") {
            // Told while read `at` was on its way, sent ahead: the reading
            // before it was the last the caller saw, and nothing followed.
            QCOMPARE(run.error, QStringLiteral("停止"));
            QCOMPARE(sent, at + 1);
            QCOMPARE(sentWhenShown.size(), at);
            // The read that went out is on the record, ended unanswered.
            QCOMPARE(records.size(), at + 1);
            QCOMPARE(records.last().verdict.outcome, Outcome::Aborted);
            QCOMPARE(splitFrame(Framing::Rtu, records.last().request).unit,
                     readUnit(t516Module().poll[at].pair, t516Module().poll[at].address));
            return;
        }
        QVERIFY2(run.error.isEmpty() && slowError.isEmpty(), qPrintable(run.error + slowError));
        QCOMPARE(got.failures, expected.failures);
        QCOMPARE(got.readings.size(), 27);
        for (int i = 0; i < 27; ++i) {
            QCOMPARE(got.readings[i].ok(), expected.readings[i].ok());
            QCOMPARE(got.readings[i].text, expected.readings[i].text);
            QCOMPARE(texts[i], got.readings[i].text);
        }
        // Told apart by the requests themselves, not by their count: after a
        // failure a read may be asked again, as often as the time since the
        // lost answer calls for, which a busy machine shifts.
        const Framing framing = line == u"modbus tcp" ? Framing::Mbap : Framing::Rtu;
        const auto readOf = [&](int i) { return readUnit(points[i].pair, points[i].address); };
        const auto unitOf = [&](const QByteArray &frame) { return splitFrame(framing, frame).unit; };
        // Both links ask the poll's reads in its order, each once or read
        // again right after itself, never more than a read's most requests.
        for (const QByteArrayList *sentFrames : {&frames, &slowFrames}) {
            int read = 0;
            int asked = 0;
            for (const QByteArray &f : *sentFrames) {
                if (unitOf(f) != readOf(read)) {
                    ++read;
                    asked = 0;
                }
                QVERIFY(read < 27);
                QCOMPARE(unitOf(f), readOf(read));
                QVERIFY(++asked <= 3);
            }
            QCOMPARE(read, 26);
        }
        const bool failed = at >= 0;
        if (!failed)
            QCOMPARE(sent, slowSent);
        // When a reading reached the caller, the next read was already out on
        // this link (never on the slow one) until a read failed (each waits
        // its turn after that) or where the events were due.
        for (int i = 0; i < 27; ++i) {
            const bool ahead = i + 1 < 27 && scenario != u"events due" && (!failed || i < at);
            QCOMPARE(unitOf(slowLastWhenShown[i]), readOf(i));
            QVERIFY2(unitOf(lastWhenShown[i]) == readOf(ahead ? i + 1 : i),
                     qPrintable(QStringLiteral("reading %1: the newest request out was %2, %3 expected")
                                    .arg(i)
                                    .arg(QString::fromLatin1(unitOf(lastWhenShown[i]).toHex()),
                                         QString::fromLatin1(readOf(ahead ? i + 1 : i).toHex()))));
        }
    }

    void writesByteForByte_data()
    {
        QTest::addColumn<hv52::Framing>("framing");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("rtu"); // what the module must receive
        // The relay command and the reset of all relay counters.
        QTest::newRow("rtu relay 1 operate")
            << Framing::Rtu << 0x0E80 << 0x5050 << QStringLiteral("01 10 0E 80 00 01 02 50 50 6A 6C");
        QTest::newRow("rtu reset relays")
            << Framing::Rtu << 0x0B00 << 0x6FFF << QStringLiteral("01 10 0B 00 00 01 02 6F FF 71 20");
        QTest::newRow("mbap relay 1 operate")
            << Framing::Mbap << 0x0E80 << 0x5050 << QStringLiteral("00 01 00 00 00 09 01 10 0E 80 00 01 02 50 50");
        QTest::newRow("mbap reset relays")
            << Framing::Mbap << 0x0B00 << 0x6FFF << QStringLiteral("00 01 00 00 00 09 01 10 0B 00 00 01 02 6F FF");
    }
    void writesByteForByte()
    {
        QFETCH(hv52::Framing, framing);
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(QString, rtu);
        TcpModule tcp(simFraming(framing));
        tcp.sim.setDemo(false);
        tcp.sim.setRegister32(hv52sim::regs::relayCount(0), 7);
        Link link;
        link.setArgs({1, 0, 9600, 0});
        link.setLine(tcpTo(tcp.server.port(), framing));
        WriteResult written;
        QVERIFY(link.run([&] { written = link.writeRegister(quint16(reg), quint16(value)); }).error.isEmpty());
        QVERIFY(written.ok());
        QCOMPARE(int(tcp.server.requests().size()), 1);
        QCOMPARE(hexOf(tcp.server.requests().front()), rtu);
        if (reg == 0x0E80)
            QCOMPARE(int(tcp.sim.reg(hv52sim::regs::relayCommand(0))), value);
        else
            QCOMPARE(int(tcp.sim.reg32(hv52sim::regs::relayCount(0))), 0); // the reset took
    }

    // On Modbus TCP an answer that comes after its time is refused by its
    // transaction identifier: the next read takes its own answer at once, and
    // the late one is shown as stray bytes.
    void lateModbusTcpAnswerRefused()
    {
        TcpModule tcp(hv52sim::TcpFraming::Mbap);
        tcp.sim.setDemo(false);
        tcp.sim.setRegister(hv52sim::regs::analogValue(0), 1111);
        tcp.sim.setRegister(hv52sim::regs::analogValue(1), 2222);
        tcp.server.setFault(hv52sim::TcpFault::Late, 1);
        Link link;
        link.setArgs({1, 0, 9600, 0});
        link.setLine(tcpTo(tcp.server.port(), Framing::Mbap));
        link.setResponseTimeout(kShortTimeoutMs);
        QList<QByteArray> strays;
        QList<Outcome> outcomes;
        connect(&link, &Link::strayBytes, this, [&](const QByteArray &b) { strays << b; });
        connect(&link, &Link::exchanged, this, [&](const ExchangeRecord &r) { outcomes << r.verdict.outcome; });
        ReadResult first, second, third;
        const RunResult run = link.run([&] {
            first = link.readRegister(hv52sim::regs::analogValue(0), false);
            second = link.readRegister(hv52sim::regs::analogValue(1), false);
            third = link.readRegister(hv52sim::regs::analogValue(0), false);
        });
        QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
        QCOMPARE(first.verdict.outcome, Outcome::Timeout);
        QVERIFY(second.ok());
        QCOMPARE(second.value, 2222u); // never the late 1111
        QVERIFY(third.ok());
        QCOMPARE(third.value, 1111u);
        QCOMPARE(outcomes, (QList<Outcome>{Outcome::Timeout, Outcome::Valid, Outcome::Valid}));
        // Three requests: nothing read twice, no quiet wait needed.
        QCOMPARE(int(tcp.server.requests().size()), 3);
        QCOMPARE(strays.size(), 1);
        QCOMPARE(strays.front().left(2), QByteArray::fromHex("0001")); // the first request's transaction
        QVERIFY(link.lateAnswerMs() > 0);
    }

    // A refused connection and one dropped mid-answer each end the operation
    // with their own reason; the next operation then reads as usual.
    void connectionFailures_data()
    {
        QTest::addColumn<hv52::Framing>("framing");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<QString>("reason");
        QTest::newRow("rtu refused") << Framing::Rtu << false << QStringLiteral("连接被拒绝");
        QTest::newRow("mbap refused") << Framing::Mbap << false << QStringLiteral("连接被拒绝");
        QTest::newRow("rtu dropped") << Framing::Rtu << true << QStringLiteral("被对方关闭（应答未收完）");
        QTest::newRow("mbap dropped") << Framing::Mbap << true << QStringLiteral("被对方关闭（应答未收完）");
    }
    void connectionFailures()
    {
        QFETCH(hv52::Framing, framing);
        QFETCH(bool, listening);
        QFETCH(QString, reason);
        TcpModule tcp(simFraming(framing));
        tcp.sim.setDemo(false);
        tcp.sim.setRegister(hv52sim::regs::analogValue(2), 4321);
        int port = tcp.server.port();
        if (!listening) {
            // A port that was free a moment ago: nothing listens there.
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort();
        } else {
            tcp.server.setFault(hv52sim::TcpFault::Drop, 1);
        }
        Link link;
        link.setArgs({1, 0, 9600, 0});
        link.setLine(tcpTo(port, framing));
        link.setResponseTimeout(kShortTimeoutMs);
        bool reached = false;
        const RunResult failed =
            link.run([&] { reached = link.readRegister(hv52sim::regs::analogValue(2), false).ok(); });
        QVERIFY(!reached);
        QVERIFY2(failed.error.contains(reason), qPrintable(failed.error));
        QVERIFY2(failed.error.contains(QStringLiteral("127.0.0.1:%1").arg(port)), qPrintable(failed.error));
        QVERIFY(!link.isPortOpen());

        // The operator tries again against the module.
        link.setLine(tcpTo(tcp.server.port(), framing));
        ReadResult again;
        const RunResult ok = link.run([&] { again = link.readRegister(hv52sim::regs::analogValue(2), false); });
        QVERIFY2(ok.error.isEmpty(), qPrintable(ok.error));
        QVERIFY(again.ok());
        QCOMPARE(again.value, 4321u);
    }

    // A listener whose queue is full takes no more connections: the
    // connection is not refused, it never comes, and the connect timeout
    // ends the operation with its own reason.
    void connectTimeout()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(listener >= 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
        QCOMPARE(::listen(listener, 0), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len);
        const int port = ntohs(addr.sin_port);
        // Fill the queue (nobody accepts).
        std::vector<int> fillers;
        for (int i = 0; i < 3; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
            fillers.push_back(fd);
        }
        Link link;
        LineSettings line = tcpTo(port, Framing::Mbap);
        line.connectTimeoutMs = 300;
        link.setLine(line);
        bool reached = false;
        QElapsedTimer clock;
        clock.start();
        const RunResult failed = link.run([&] { reached = true; });
        const qint64 tookMs = clock.elapsed();
        for (int fd : fillers)
            ::close(fd);
        ::close(listener);
        QVERIFY(!reached);
        QVERIFY2(failed.error.contains(QStringLiteral("300 毫秒内未能建立连接（连接超时）")), qPrintable(failed.error));
        QVERIFY2(tookMs >= 250, qPrintable(QString::number(tookMs))); // it did wait, and was not refused
        QVERIFY(!link.isPortOpen());
    }
};

QTEST_GUILESS_MAIN(TransportTest)
#include "tst_transport.moc"
