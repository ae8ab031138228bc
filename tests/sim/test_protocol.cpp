// Modbus RTU on the wire: exact answers, exception codes, silence, framing.
#include "master.h"

#include <QTest>

using namespace simtest;
using hv52sim::Module;
using hv52sim::Simulator;
namespace regs = hv52sim::regs;

Q_DECLARE_METATYPE(simtest::Bytes)

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void readsAnswerByteForByte();
    void writesAnswerByteForByte();
    void exceptionCodes_data();
    void exceptionCodes();
    void refusedWriteChangesNothing();
    void ignoredRequestsGetNoAnswer_data();
    void ignoredRequestsGetNoAnswer();
    void broadcastWriteTakesEffectSilently();
    void answersFromItsOwnAddress();
    void framing();
};

void TestProtocol::readsAnswerByteForByte()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setRegister32(regs::inputCount(0), 70000);

    const Bytes request = readRequest(1, regs::inputCount(0), 2);
    QCOMPARE(request, (Bytes{0x01, 0x03, 0x0E, 0x40, 0x00, 0x02, 0xC7, 0x37}));
    const Bytes a = rig.port->transact(request, 9);
    QCOMPARE(a, (Bytes{0x01, 0x03, 0x04, 0x00, 0x01, 0x11, 0x70, 0xA6, 0x47}));
    QCOMPARE(uint32_t(a[3]) << 24 | uint32_t(a[4]) << 16 | uint32_t(a[5]) << 8 | a[6], 70000u);

    rig.sim.setRegister(regs::analogLower(0), 0x1234);
    QCOMPARE(rig.port->transact(readRequest(1, regs::analogLower(0), 1), 7),
             (Bytes{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33}));

    // A block: relay 0 count, state, relay 1 count, state, in address order.
    rig.sim.setRegister32(regs::relayCount(0), 0x00010203);
    rig.sim.setRegister(regs::relayState(0), regs::on);
    rig.sim.setRegister32(regs::relayCount(1), 0xA0B0C0D0);
    rig.sim.setRegister(regs::relayState(1), regs::off);
    QCOMPARE(rig.port->transact(readRequest(1, regs::relayCount(0), 6), 17),
             withCrc({0x01, 0x03, 0x0C, 0x00, 0x01, 0x02, 0x03, 0x50, 0x50, 0xA0, 0xB0, 0xC0, 0xD0,
                      0x00, 0x00}));
}

void TestProtocol::writesAnswerByteForByte()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setRegister32(regs::relayCount(0), 99);

    const Bytes request = writeRequest(1, regs::reset, {regs::resetRelay1});
    QCOMPARE(request, (Bytes{0x01, 0x10, 0x0B, 0x00, 0x00, 0x01, 0x02, 0x60, 0x03, 0x74, 0x91}));
    QCOMPARE(rig.port->transact(request, 8), (Bytes{0x01, 0x10, 0x0B, 0x00, 0x00, 0x01, 0x03, 0xED}));
    QCOMPARE(rig.sim.reg32(regs::relayCount(0)), 0u);

    // Several registers in one write, read back through the line.
    QCOMPARE(rig.port->transact(writeRequest(1, regs::analogSignal(1), {1, 29, 400, 65535}), 8),
             writeAnswer(1, regs::analogSignal(1), 4));
    QCOMPARE(rig.port->transact(readRequest(1, regs::analogSignal(1), 4), 13),
             withCrc({0x01, 0x03, 0x08, 0x00, 0x01, 0x00, 0x1D, 0x01, 0x90, 0xFF, 0xFF}));
}

void TestProtocol::exceptionCodes_data()
{
    QTest::addColumn<Bytes>("request");
    QTest::addColumn<int>("code");

    QTest::newRow("fn 6 unknown") << withCrc({1, 6, 0x0E, 0x80, 0x50, 0x50}) << 1;
    QTest::newRow("fn 4 unknown") << withCrc({1, 4, 0x0E, 0x40, 0x00, 0x02}) << 1;
    QTest::newRow("fn 0x2B unknown") << withCrc({1, 0x2B, 0x0E, 0x01, 0x00}) << 1;
    QTest::newRow("read unmapped") << readRequest(1, 0x0000, 1) << 2;
    QTest::newRow("read runs past relay block") << readRequest(1, regs::relayCount(1), 4) << 2;
    QTest::newRow("read input 2 on t516") << readRequest(1, regs::inputCount(2), 2) << 2;
    QTest::newRow("read past 0xFFFF") << readRequest(1, 0xFFFF, 2) << 2;
    QTest::newRow("read count 0") << readRequest(1, regs::inputCount(0), 0) << 3;
    QTest::newRow("read count 126") << readRequest(1, regs::relayCount(0), 126) << 3;
    QTest::newRow("write relay count") << writeRequest(1, regs::relayCount(0), {0, 0}) << 2;
    QTest::newRow("write relay state") << writeRequest(1, regs::relayState(0), {regs::on}) << 2;
    QTest::newRow("write input ON time") << writeRequest(1, regs::inputOnTime(1), {0}) << 2;
    QTest::newRow("write analog value") << writeRequest(1, regs::analogValue(2), {400}) << 2;
    QTest::newRow("write unmapped") << writeRequest(1, 0x0100, {1}) << 2;
    QTest::newRow("write past relay commands")
        << writeRequest(1, regs::relayCommand(1), {regs::cmdHost, 0}) << 2;
    QTest::newRow("relay command 7") << writeRequest(1, regs::relayCommand(0), {7}) << 3;
    QTest::newRow("input mode 2") << writeRequest(1, regs::inputMode(1), {2}) << 3;
    QTest::newRow("signal type 2") << writeRequest(1, regs::analogSignal(0), {2}) << 3;
    QTest::newRow("source 30") << writeRequest(1, regs::analogSource(2), {30}) << 3;
    QTest::newRow("reset code 0x6000") << writeRequest(1, regs::reset, {0x6000}) << 3;
    QTest::newRow("reset input 2 on t516") << writeRequest(1, regs::reset, {regs::resetInput(2)}) << 3;
    QTest::newRow("write count 0") << withCrc({1, 16, 0x0E, 0x80, 0, 0, 0}) << 3;
    QTest::newRow("byte count not 2 x count")
        << withCrc({1, 16, 0x0E, 0x80, 0, 2, 2, 0, 1}) << 3;
}

void TestProtocol::exceptionCodes()
{
    QFETCH(Bytes, request);
    QFETCH(int, code);
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    QCOMPARE(rig.port->transact(request, 5), exceptionAnswer(1, request[1], uint8_t(code)));
}

void TestProtocol::refusedWriteChangesNothing()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setRegister32(regs::relayCount(0), 5);
    rig.sim.setRegister(regs::relayState(0), regs::off);
    rig.sim.setRegister(regs::relayCommand(0), regs::cmdHost);

    // The first value alone would operate relay 0; the second is refused.
    QCOMPARE(rig.port->transact(writeRequest(1, regs::relayCommand(0), {regs::cmdOperate, 9}), 5),
             exceptionAnswer(1, 16, 3));
    QCOMPARE(rig.sim.reg(regs::relayCommand(0)), regs::cmdHost);
    QCOMPARE(rig.sim.reg(regs::relayState(0)), regs::off);
    QCOMPARE(rig.sim.reg32(regs::relayCount(0)), 5u);
}

void TestProtocol::ignoredRequestsGetNoAnswer_data()
{
    QTest::addColumn<Bytes>("request");
    Bytes badCrc = readRequest(1, regs::inputCount(0), 2);
    badCrc.back() ^= 0x01;
    QTest::newRow("other address") << readRequest(2, regs::inputCount(0), 2);
    QTest::newRow("broadcast read") << readRequest(0, regs::inputCount(0), 2);
    QTest::newRow("broadcast unknown function") << withCrc({0, 0x2B, 0x0E, 0x01, 0x00});
    QTest::newRow("bad crc") << badCrc;
    QTest::newRow("other address write") << writeRequest(3, regs::relayCommand(0), {regs::cmdOperate});
    QTest::newRow("too short") << Bytes{0x01, 0x2B};
}

// The module answers in order, so if the ignored request had been answered,
// that answer would come before the one to the valid request that follows.
void TestProtocol::ignoredRequestsGetNoAnswer()
{
    QFETCH(Bytes, request);
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    const uint16_t command = rig.sim.reg(regs::relayCommand(0));

    QVERIFY(rig.port->send(request));
    if (request[1] != 3 && request[1] != 16)  // ends by silence: keep it apart
        QVERIFY(rig.sim.waitForRequests(1, 3000));
    rig.sim.setRegister(regs::analogLower(0), 0x1234);
    QCOMPARE(rig.port->transact(readRequest(1, regs::analogLower(0), 1), 7),
             (Bytes{0x01, 0x03, 0x02, 0x12, 0x34, 0xB5, 0x33}));

    const auto frames = rig.sim.frames();
    QCOMPARE(frames.size(), size_t(3));
    QVERIFY(frames[0].fromMaster && frames[1].fromMaster && !frames[2].fromMaster);
    QCOMPARE(frames[0].bytes, request);
    QCOMPARE(rig.sim.reg(regs::relayCommand(0)), command);
}

void TestProtocol::broadcastWriteTakesEffectSilently()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setRegister(regs::relayState(1), regs::off);
    rig.sim.setRegister32(regs::relayCount(1), 10);

    QVERIFY(rig.port->send(writeRequest(0, regs::relayCommand(1), {regs::cmdOperate})));
    QCOMPARE(rig.port->transact(readRequest(1, regs::relayCount(1), 3), 11),
             withCrc({0x01, 0x03, 0x06, 0x00, 0x00, 0x00, 0x0B, 0x50, 0x50}));
    QCOMPARE(rig.sim.frames().size(), size_t(3));  // two requests, one answer
}

void TestProtocol::answersFromItsOwnAddress()
{
    Rig rig(Module::T528, 7);
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setRegister(regs::inputMode(1), 1);
    QVERIFY(rig.port->send(readRequest(1, regs::inputMode(1), 1)));  // not ours: silence
    QCOMPARE(rig.port->transact(readRequest(7, regs::inputMode(1), 1), 7),
             withCrc({0x07, 0x03, 0x02, 0x00, 0x01}));
    QCOMPARE(rig.port->transact(readRequest(7, regs::analogValue(0), 1), 5),
             exceptionAnswer(7, 3, 2));
}

void TestProtocol::framing()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setRegister(regs::inputMode(0), 0);
    rig.sim.setRegister(regs::analogUpper(0), 0xBEEF);

    // Back to back in one write: function 16 ends by its byte count, the
    // function 3 request right behind it by its fixed length.
    Bytes both = writeRequest(1, regs::inputMode(0), {1, 0});
    const Bytes read = readRequest(1, regs::inputMode(0), 2);
    both.insert(both.end(), read.begin(), read.end());
    QVERIFY(rig.port->send(both));
    Bytes expected = writeAnswer(1, regs::inputMode(0), 2);
    const Bytes readAnswer = withCrc({0x01, 0x03, 0x04, 0x00, 0x01, 0x00, 0x00});
    expected.insert(expected.end(), readAnswer.begin(), readAnswer.end());
    QCOMPARE(rig.port->read(expected.size()), expected);

    // An unfinished frame is dropped once the line falls silent; the next
    // request is framed afresh rather than glued to the leftover.
    rig.sim.clearLog();
    const Bytes full = readRequest(1, regs::analogUpper(0), 1);
    QVERIFY(rig.port->send(Bytes(full.begin(), full.begin() + 5)));
    QVERIFY(rig.sim.waitForRequests(1, 3000));
    QCOMPARE(rig.sim.frames()[0].bytes, Bytes(full.begin(), full.begin() + 5));
    QCOMPARE(rig.port->transact(full, 7), withCrc({0x01, 0x03, 0x02, 0xBE, 0xEF}));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
