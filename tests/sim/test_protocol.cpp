// Modbus RTU on the wire: exact answers, exception codes, silence, framing.
#include "master.h"

using namespace simtest;
using Frames = QList<Bytes>;

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void exchanges_data()
    {
        QTest::addColumn<Frames>("frames");
        QTest::addColumn<Bytes>("answer");
        // Relay 1: count 5, released; relay 2: count 10, released (see exchanges()).
        const Bytes probe = readRequest(1, regs::relayCount(0), 6);
        const Bytes untouched = withCrc({1, 3, 12, 0, 0, 0, 5, 0, 0, 0, 0, 0, 10, 0, 0});
        auto row = [](const char *name, const Frames &frames, const Bytes &answer) {
            QTest::newRow(name) << frames << answer;
        };
        auto refused = [&](const char *name, const Bytes &request, uint8_t code) {
            row(name, {request}, exceptionAnswer(request[1], code));
        };
        // An answer to an ignored frame would come before the probe's.
        auto ignored = [&](const char *name, const Bytes &request) { row(name, {request, probe}, untouched); };

        row("read a 32-bit pair", {kRequest}, kAnswer);
        row("write echo", {{0x01, 0x10, 0x0B, 0x00, 0x00, 0x01, 0x02, 0x60, 0x03, 0x74, 0x91}},
            {0x01, 0x10, 0x0B, 0x00, 0x00, 0x01, 0x03, 0xED});
        // In one write: function 16 ends by its byte count, function 3 by its length.
        row("write 4 and read back",
            {cat(writeRequest(1, regs::analogSignal(1), {1, 29, 400, 65535}),
                 readRequest(1, regs::analogSignal(1), 4))},
            cat(writeAnswer(1, regs::analogSignal(1), 4), withCrc({1, 3, 8, 0, 1, 0, 29, 1, 0x90, 0xFF, 0xFF})));
        row("broadcast write takes effect", {writeRequest(0, regs::relayCommand(1), {regs::cmdOperate}), probe},
            withCrc({1, 3, 12, 0, 0, 0, 5, 0, 0, 0, 0, 0, 11, 0x50, 0x50}));
        // The first value alone would operate relay 1.
        row("refused write changes nothing", {writeRequest(1, regs::relayCommand(0), {regs::cmdOperate, 9}), probe},
            cat(exceptionAnswer(16, 3), untouched));

        refused("unknown function", withCrc({1, 6, 0x0E, 0x80, 0x50, 0x50}), 1);
        refused("read unmapped", readRequest(1, 0x0000, 1), 2);
        refused("read runs past a block", readRequest(1, regs::relayCount(1), 4), 2);
        refused("read past 0xFFFF", readRequest(1, 0xFFFF, 2), 2);
        refused("write read-only", writeRequest(1, regs::relayCount(0), {0, 0}), 2);
        refused("write unmapped", writeRequest(1, 0x0100, {1}), 2);
        refused("write runs past a block", writeRequest(1, regs::relayCommand(1), {regs::cmdHost, 0}), 2);
        refused("read count 0", readRequest(1, regs::inputCount(0), 0), 3);
        refused("read count 126", readRequest(1, regs::relayCount(0), 126), 3);
        refused("write count 0", withCrc({1, 16, 0x0E, 0x80, 0, 0, 0}), 3);
        refused("byte count not 2 x count", withCrc({1, 16, 0x0E, 0x80, 0, 2, 2, 0, 1}), 3);
        refused("relay command 7", writeRequest(1, regs::relayCommand(0), {7}), 3);
        refused("input mode 2", writeRequest(1, regs::inputMode(1), {2}), 3);
        refused("source 30", writeRequest(1, regs::analogSource(2), {30}), 3);

        Bytes badCrc = kRequest;
        badCrc.back() ^= 0x01;
        ignored("other address", readRequest(2, regs::inputCount(0), 2));
        ignored("other address write", writeRequest(3, regs::relayCommand(0), {regs::cmdOperate}));
        ignored("broadcast read", readRequest(0, regs::inputCount(0), 2));
        ignored("broadcast refused write", writeRequest(0, regs::relayCommand(0), {7}));
        ignored("broadcast unknown function", withCrc({0, 0x2B, 0x0E, 0x01, 0x00}));
        ignored("bad crc", badCrc);
        ignored("too short", {0x01, 0x2B});
        ignored("unfinished frame", Bytes(kRequest.begin(), kRequest.begin() + 5));
    }

    // Each frame goes out once the one before was taken in, so frames that only
    // silence ends are not glued together; then exactly `answer` comes back.
    void exchanges()
    {
        QFETCH(Frames, frames);
        QFETCH(Bytes, answer);
        RIG(rig);
        rig.sim.setRegister32(regs::relayCount(0), 5);
        rig.sim.setRegister(regs::relayState(0), regs::off);
        rig.sim.setRegister32(regs::relayCount(1), 10);
        rig.sim.setRegister(regs::relayState(1), regs::off);
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY(rig.port->send(frames[i]));
            QVERIFY(rig.sim.waitForRequests(size_t(i + 1), 3000));
        }
        QCOMPARE(rig.port->read(answer.size()), answer);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
