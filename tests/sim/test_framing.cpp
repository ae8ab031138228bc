// Frames cut from what a module hears: RTU frames on its serial line by
// length or silence, and the frames of a TCP connection, RTU or MBAP.
#include "master.h"
#include "sim/rtuframer.h"
#include "sim/tcpframing.h"

using namespace simtest;
using hv52sim::RtuFramer;
using hv52sim::TcpFraming;
using Sizes = QList<int>;
Q_DECLARE_METATYPE(hv52sim::TcpFraming)

namespace {

const RtuFramer::Clock::time_point kAt{std::chrono::seconds(5)};

} // namespace

class TestFraming : public QObject
{
    Q_OBJECT
private slots:
    void framedLength_data()
    {
        QTest::addColumn<Bytes>("start");
        QTest::addColumn<int>("length");
        QTest::newRow("empty") << Bytes{} << 0;
        QTest::newRow("address only") << Bytes{1} << 0;
        QTest::newRow("read") << Bytes{1, 3} << 8;
        QTest::newRow("write, count not in") << Bytes{1, 16, 0x0E, 0x80, 0, 1} << 0;
        QTest::newRow("write of one register") << Bytes{1, 16, 0x0E, 0x80, 0, 1, 2} << 11;
        QTest::newRow("write of 123 registers") << Bytes{1, 16, 0, 0, 0, 123, 246} << 255;
        QTest::newRow("other function: silence ends it") << Bytes{1, 4, 0, 0, 0, 1} << 0;
    }

    void framedLength()
    {
        QFETCH(Bytes, start);
        QFETCH(int, length);
        QCOMPARE(int(RtuFramer::framedLength(start)), length);
    }

    // Bytes in chunks as reads return them: the whole frames taken at once.
    void takeFramed_data()
    {
        QTest::addColumn<QList<Bytes>>("chunks");
        QTest::addColumn<Sizes>("frames");
        QTest::addColumn<bool>("leftOver");
        const Bytes read = readRequest(1, regs::inputCount(0), 2);
        const Bytes write = writeRequest(1, regs::relayCommand(0), {regs::cmdOperate});
        QTest::newRow("one read") << QList<Bytes>{read} << Sizes{8} << false;
        QTest::newRow("a read byte by byte")
            << QList<Bytes>{{read[0]}, {read[1]}, Bytes(read.begin() + 2, read.end())} << Sizes{8} << false;
        QTest::newRow("read and write in one chunk") << QList<Bytes>{cat(read, write)} << Sizes{8, 11} << false;
        QTest::newRow("half a write") << QList<Bytes>{Bytes(write.begin(), write.begin() + 5)} << Sizes{} << true;
        QTest::newRow("read, then another function")
            << QList<Bytes>{cat(read, withCrc({1, 4, 0, 0, 0, 1}))} << Sizes{8} << true;
    }

    void takeFramed()
    {
        QFETCH(QList<Bytes>, chunks);
        QFETCH(Sizes, frames);
        QFETCH(bool, leftOver);
        RtuFramer framer;
        Sizes got;
        for (const Bytes &c : chunks) {
            framer.add(c.data(), c.size(), kAt, true);
            for (Bytes f = framer.takeFramed(); !f.empty(); f = framer.takeFramed())
                got << int(f.size());
        }
        QCOMPARE(got, frames);
        QCOMPARE(!framer.empty(), leftOver);
    }

    // What silence ends: all that is pending, told apart by whether it was
    // meant to be a function 3/16 frame.
    void takeAll_data()
    {
        QTest::addColumn<Bytes>("pending");
        QTest::addColumn<bool>("unfinished");
        QTest::newRow("a lone byte") << Bytes{1} << false;
        QTest::newRow("half a read") << Bytes{1, 3, 0x0E} << true;
        QTest::newRow("half a write") << Bytes{1, 16, 0x0E, 0x80} << true;
        QTest::newRow("function 4") << withCrc({1, 4, 0, 0, 0, 1}) << false;
    }

    void takeAll()
    {
        QFETCH(Bytes, pending);
        QFETCH(bool, unfinished);
        RtuFramer framer;
        framer.add(pending.data(), pending.size(), kAt, true);
        bool got = !unfinished;
        QCOMPARE(framer.takeAll(&got), pending);
        QCOMPARE(got, unfinished);
        QVERIFY(framer.empty());
        QCOMPARE(framer.lastByte(), kAt);
    }

    // A frame is heard only when every byte of it came at the module's speed;
    // a new frame starts afresh.
    void heard_data()
    {
        QTest::addColumn<QList<bool>>("chunksHeard");
        QTest::addColumn<bool>("heard");
        QTest::newRow("all heard") << QList<bool>{true, true} << true;
        QTest::newRow("first misheard") << QList<bool>{false, true} << false;
        QTest::newRow("last misheard") << QList<bool>{true, false} << false;
    }

    void heard()
    {
        QFETCH(QList<bool>, chunksHeard);
        QFETCH(bool, heard);
        RtuFramer framer;
        const Bytes b{1, 4, 0};
        for (bool h : chunksHeard)
            framer.add(b.data(), b.size(), kAt, h);
        QCOMPARE(framer.heard(), heard);
        bool unfinished;
        framer.takeAll(&unfinished);
        framer.add(b.data(), b.size(), kAt, true);
        QVERIFY(framer.heard());
    }

    void lastByte()
    {
        RtuFramer framer;
        const Bytes b{1, 3};
        framer.add(b.data(), b.size(), kAt, true);
        QCOMPARE(framer.lastByte(), kAt);
        framer.restartSilence(kAt + std::chrono::milliseconds(3));
        QCOMPARE(framer.lastByte(), kAt + std::chrono::milliseconds(3));
    }

    void tcpLength_data()
    {
        QTest::addColumn<TcpFraming>("framing");
        QTest::addColumn<Bytes>("buf");
        QTest::addColumn<int>("length");
        const Bytes read = readRequest(1, regs::inputCount(0), 2);
        const Bytes write = writeRequest(1, regs::relayCommand(0), {regs::cmdOperate});
        const Bytes mbap{0, 7, 0, 0, 0, 6, 1, 3, 0x0E, 0x40, 0, 2};
        QTest::newRow("rtu: read") << TcpFraming::Rtu << read << 8;
        QTest::newRow("rtu: read and more") << TcpFraming::Rtu << cat(read, read) << 8;
        QTest::newRow("rtu: under 7 bytes") << TcpFraming::Rtu << Bytes(read.begin(), read.begin() + 6) << 0;
        QTest::newRow("rtu: write") << TcpFraming::Rtu << write << 11;
        QTest::newRow("rtu: write not all in") << TcpFraming::Rtu << Bytes(write.begin(), write.end() - 1) << 0;
        QTest::newRow("rtu: other function as 8") << TcpFraming::Rtu << withCrc({1, 4, 0, 0, 0, 1}) << 8;
        QTest::newRow("mbap: read") << TcpFraming::Mbap << mbap << 12;
        QTest::newRow("mbap: header only") << TcpFraming::Mbap << Bytes(mbap.begin(), mbap.begin() + 7) << 0;
        QTest::newRow("mbap: one byte short") << TcpFraming::Mbap << Bytes(mbap.begin(), mbap.end() - 1) << 0;
    }

    void tcpLength()
    {
        QFETCH(TcpFraming, framing);
        QFETCH(Bytes, buf);
        QFETCH(int, length);
        QCOMPARE(int(hv52sim::tcpframe::length(framing, buf)), length);
    }

    void parseTcpFraming_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<TcpFraming>("framing");
        QTest::newRow("rtu") << "rtu" << true << TcpFraming::Rtu;
        QTest::newRow("mbap") << "mbap" << true << TcpFraming::Mbap;
        QTest::newRow("upper case") << "MBAP" << false << TcpFraming::Rtu;
        QTest::newRow("empty") << "" << false << TcpFraming::Rtu;
    }

    void parseTcpFraming()
    {
        QFETCH(QString, name);
        QFETCH(bool, ok);
        QFETCH(TcpFraming, framing);
        TcpFraming got = TcpFraming::Rtu;
        QCOMPARE(hv52sim::parseTcpFraming(name.toStdString(), &got), ok);
        QCOMPARE(got, framing);
    }

    // The gateway: the unit identifier and data unit on the line with a CRC,
    // the line's answer back under the request's transaction number.
    void gateway_data()
    {
        QTest::addColumn<Bytes>("request");
        QTest::addColumn<Bytes>("line");
        QTest::addColumn<Bytes>("lineAnswer");
        QTest::addColumn<Bytes>("answer");
        QTest::newRow("read") << Bytes{0x12, 0x34, 0, 0, 0, 6, 1, 3, 0x0E, 0x40, 0, 2}
                              << withCrc({1, 3, 0x0E, 0x40, 0, 2}) << withCrc({1, 3, 4, 0, 1, 0x11, 0x70})
                              << Bytes{0x12, 0x34, 0, 0, 0, 7, 1, 3, 4, 0, 1, 0x11, 0x70};
        QTest::newRow("exception") << Bytes{0, 9, 0, 0, 0, 6, 4, 3, 0, 0, 0, 1} << withCrc({4, 3, 0, 0, 0, 1})
                                   << withCrc({4, 0x83, 2}) << Bytes{0, 9, 0, 0, 0, 3, 4, 0x83, 2};
        QTest::newRow("no answer") << Bytes{0, 1, 0, 0, 0, 6, 9, 3, 0, 0, 0, 1} << withCrc({9, 3, 0, 0, 0, 1})
                                   << Bytes{} << Bytes{};
    }

    void gateway()
    {
        QFETCH(Bytes, request);
        QFETCH(Bytes, line);
        QFETCH(Bytes, lineAnswer);
        QFETCH(Bytes, answer);
        QCOMPARE(hv52sim::tcpframe::rtuOfMbap(request), line);
        QCOMPARE(hv52sim::tcpframe::mbapOfRtu(request, lineAnswer), answer);
    }
};

QTEST_GUILESS_MAIN(TestFraming)
#include "test_framing.moc"
