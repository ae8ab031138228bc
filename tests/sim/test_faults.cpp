// Injected faults and pacing: the bytes each one puts on the line.
#include "master.h"

#include <QTest>

#include <condition_variable>
#include <mutex>

using namespace simtest;
using hv52sim::Fault;
using hv52sim::Module;
using hv52sim::Simulator;
namespace regs = hv52sim::regs;

namespace {

// Reading input 1's count (70000) and its correct answer.
const Bytes kRequest = readRequest(1, regs::inputCount(0), 2);
const Bytes kAnswer{0x01, 0x03, 0x04, 0x00, 0x01, 0x11, 0x70, 0xA6, 0x47};

bool crcOk(const Bytes& b)
{
    if (b.size() < 4) return false;
    const uint16_t c = Simulator::crc16(b.data(), b.size() - 2);
    return b[b.size() - 2] == uint8_t(c) && b[b.size() - 1] == uint8_t(c >> 8);
}

size_t answersLogged(const Simulator& sim)
{
    size_t n = 0;
    for (const auto& f : sim.frames()) n += f.fromMaster ? 0 : 1;
    return n;
}

// What the simulator wrote to the line, one entry per write; can hold the
// writer back until released.
class Writes {
public:
    void add(const Bytes& b)
    {
        std::lock_guard<std::mutex> lk(mu_);
        writes_.push_back(b);
        cv_.notify_all();
    }
    bool waitFor(size_t n)
    {
        std::unique_lock<std::mutex> lk(mu_);
        return cv_.wait_for(lk, std::chrono::seconds(5), [&] { return writes_.size() >= n; });
    }
    Bytes at(size_t i)
    {
        std::lock_guard<std::mutex> lk(mu_);
        return writes_.at(i);
    }
    void waitForRelease()
    {
        std::unique_lock<std::mutex> lk(mu_);
        cv_.wait_for(lk, std::chrono::seconds(5), [&] { return released_ > 0; });
        if (released_ > 0) --released_;
    }
    void release()
    {
        std::lock_guard<std::mutex> lk(mu_);
        ++released_;
        cv_.notify_all();
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Bytes> writes_;
    int released_ = 0;
};

struct FaultRig : Rig {
    FaultRig() { sim.setRegister32(regs::inputCount(0), 70000); }
};

}  // namespace

class TestFaults : public QObject {
    Q_OBJECT
private slots:
    void silent();
    void badCrc();
    void partial();
    void exception();
    void extraBytesInOneWrite();
    void splitIntoPieces();
    void slow();
    void otherAddress();
    void otherFunction();
    void faultCounts();
    void ignoredRequestsDoNotUseUpFaults();
    void pacingWaitsForWireTime();
};

// The module answers in order: after a faulted exchange, a clean one shows
// exactly where the faulted answer ended.
void TestFaults::silent()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setFault(Fault::Silent, 1);
    QVERIFY(rig.port->send(kRequest));
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
    QCOMPARE(rig.sim.requestCount(), size_t(2));
    QCOMPARE(answersLogged(rig.sim), size_t(1));
    QCOMPARE(rig.sim.fault(), Fault::None);
}

void TestFaults::badCrc()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setFault(Fault::BadCrc, 1);
    const Bytes a = rig.port->transact(kRequest, 9);
    QCOMPARE(a.size(), kAnswer.size());
    QVERIFY(!crcOk(a));
    QCOMPARE(Bytes(a.begin(), a.begin() + 3), Bytes(kAnswer.begin(), kAnswer.begin() + 3));
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
}

void TestFaults::partial()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setFault(Fault::Partial, 1);
    QVERIFY(rig.port->send(kRequest));
    QVERIFY(rig.port->send(kRequest));
    Bytes expected(kAnswer.begin(), kAnswer.begin() + 3);
    expected.insert(expected.end(), kAnswer.begin(), kAnswer.end());
    QCOMPARE(rig.port->read(expected.size()), expected);
}

void TestFaults::exception()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setFault(Fault::Exception, 3);
    QCOMPARE(rig.port->transact(kRequest, 5), (Bytes{0x01, 0x83, 0x04, 0x40, 0xF3}));
    QCOMPARE(rig.port->transact(writeRequest(1, regs::inputMode(0), {1}), 5), exceptionAnswer(1, 16, 4));
    // Replaces the module's own exceptions too.
    QCOMPARE(rig.port->transact(readRequest(1, 0x0000, 1), 5), exceptionAnswer(1, 3, 4));
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
}

void TestFaults::extraBytesInOneWrite()
{
    Writes writes;  // outlives the rig and so its service thread
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.onWrite([&](const Bytes& b) { writes.add(b); });
    rig.sim.setFault(Fault::ExtraBytes, 1);
    QVERIFY(rig.port->send(kRequest));
    QVERIFY(rig.port->send(kRequest));
    Bytes expected = kAnswer;
    expected.push_back(0x00);
    expected.push_back(0xFF);
    expected.insert(expected.end(), kAnswer.begin(), kAnswer.end());
    QCOMPARE(rig.port->read(expected.size()), expected);
    QVERIFY(writes.waitFor(2));
    QCOMPARE(writes.at(0).size(), kAnswer.size() + 2);
}

// The write observer holds each next piece back until the master has read
// the previous one, so the pieces are seen apart whatever the scheduling.
void TestFaults::splitIntoPieces()
{
    Writes writes;  // outlives the rig and so its service thread
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.onWrite([&](const Bytes& b) {
        writes.add(b);
        writes.waitForRelease();
    });
    rig.sim.setSplit(3, 1);
    rig.sim.setFault(Fault::Split, 1);
    QVERIFY(rig.port->send(kRequest));

    Bytes joined;
    for (size_t piece = 0; piece < 3; ++piece) {
        QVERIFY(writes.waitFor(piece + 1));
        const Bytes chunk = writes.at(piece);
        QCOMPARE(chunk.size(), size_t(3));
        QCOMPARE(rig.port->read(chunk.size()), chunk);
        QVERIFY(rig.port->readAvailable().empty());  // nothing beyond this piece
        joined.insert(joined.end(), chunk.begin(), chunk.end());
        writes.release();
    }
    QCOMPARE(joined, kAnswer);
    rig.sim.onWrite(nullptr);
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
}

void TestFaults::slow()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setSlowMs(200);
    rig.sim.setFault(Fault::Slow, 1);
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
    const auto f = rig.sim.frames();
    QCOMPARE(f.size(), size_t(2));
    QVERIFY(f[1].time - f[0].time >= std::chrono::milliseconds(200));
}

void TestFaults::otherAddress()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setFault(Fault::OtherAddress, 2);
    Bytes expected = kAnswer;
    expected.resize(expected.size() - 2);
    expected[0] = 2;  // by default the next address
    QCOMPARE(rig.port->transact(kRequest, 9), withCrc(expected));
    rig.sim.setOtherAddress(0x55);
    expected[0] = 0x55;
    QCOMPARE(rig.port->transact(kRequest, 9), withCrc(expected));
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
}

void TestFaults::otherFunction()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setFault(Fault::OtherFunction, 1);
    const Bytes a = rig.port->transact(kRequest, 9);
    QVERIFY(crcOk(a));
    QCOMPARE(a[0], uint8_t(1));
    QVERIFY(a[1] != 3);
    QCOMPARE(Bytes(a.begin() + 2, a.end() - 2), Bytes(kAnswer.begin() + 2, kAnswer.end() - 2));
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
}

void TestFaults::faultCounts()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    const Bytes partial(kAnswer.begin(), kAnswer.begin() + 3);

    rig.sim.setFault(Fault::Partial, 2);
    for (int i = 0; i < 3; ++i) QVERIFY(rig.port->send(kRequest));
    Bytes expected = partial;
    expected.insert(expected.end(), partial.begin(), partial.end());
    expected.insert(expected.end(), kAnswer.begin(), kAnswer.end());
    QCOMPARE(rig.port->read(expected.size()), expected);

    rig.sim.setFault(Fault::Partial, -1);
    for (int i = 0; i < 4; ++i) QCOMPARE(rig.port->transact(kRequest, 3), partial);
    QCOMPARE(rig.sim.fault(), Fault::Partial);

    rig.sim.setFault(Fault::None);
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);

    rig.sim.setFault(Fault::Partial, 0);
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
}

void TestFaults::ignoredRequestsDoNotUseUpFaults()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setFault(Fault::Silent, 1);
    QVERIFY(rig.port->send(readRequest(9, regs::inputCount(0), 2)));
    QVERIFY(rig.port->send(kRequest));  // silenced by the fault
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
    QCOMPARE(rig.sim.requestCount(), size_t(3));
    QCOMPARE(answersLogged(rig.sim), size_t(1));
}

// Only the lower bound is checked here; accuracy is measured by
// hv52sim_pacing_bench.
void TestFaults::pacingWaitsForWireTime()
{
    FaultRig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.sim.setPacing(19200, 700);
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
    rig.sim.setFault(Fault::Partial, 1);
    QCOMPARE(rig.port->transact(kRequest, 3), Bytes(kAnswer.begin(), kAnswer.begin() + 3));
    const auto f = rig.sim.frames();
    QCOMPARE(f.size(), size_t(4));
    using us = std::chrono::microseconds;
    // (8 + 3.5 + 9 + 3.5) characters of 10 bits at 19200 baud, plus turnaround
    QVERIFY(f[1].time - f[0].time >= us(12500 + 700));
    // a partial answer is paced as well (3 bytes on the wire)
    QVERIFY(f[3].time - f[2].time >= us(9375 + 700));

    rig.sim.setPacing(0);
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
}

QTEST_GUILESS_MAIN(TestFaults)
#include "test_faults.moc"
