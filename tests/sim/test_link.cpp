// The simulator's pseudo-terminal and link: lifetime, start errors, a tool's
// open/close cycles, unplugging, and the frame log.
#include "master.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

#include <fstream>
#include <thread>

#include <sys/stat.h>

using namespace simtest;
using hv52sim::Module;
using hv52sim::Simulator;
namespace regs = hv52sim::regs;

namespace {

const Bytes kRequest = readRequest(1, regs::inputCount(0), 2);
const Bytes kAnswer{0x01, 0x03, 0x04, 0x00, 0x01, 0x11, 0x70, 0xA6, 0x47};

bool isSymlink(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string linkTarget(const std::string& path)
{
    char buf[256];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// Opens the port the way the tools do: settings first, then open.
bool openLikeTheTools(QSerialPort& port, const std::string& path)
{
    port.setPortName(QString::fromStdString(path));
    port.setBaudRate(9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) return false;
    port.clear(QSerialPort::AllDirections);
    return true;
}

QByteArray qbytes(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())); }

}  // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void linkLivesAsLongAsTheSimulator();
    void startErrors();
    void staleLinkIsReplaced();
    void survivesOpenCloseCycles();
    void unplugIsSeenOnAnOpenFd();
    void qserialPortExchangeAndUnplug();
    void frameLog();
};

void TestLink::linkLivesAsLongAsTheSimulator()
{
    TempDir dir;
    std::string link, device;
    {
        Simulator sim(Module::T540);
        std::string error;
        QVERIFY2(sim.start(dir.path(), 7, &error), error.c_str());
        QVERIFY(sim.running());
        link = sim.linkPath();
        device = sim.devicePath();
        QCOMPARE(link, dir.path() + "/com7");
        QVERIFY(device.rfind("/dev/pts/", 0) == 0);
        QVERIFY(isSymlink(link));
        QCOMPARE(linkTarget(link), device);

        sim.stop();
        QVERIFY(!exists(link));
        QVERIFY(!sim.running());
        QVERIFY(sim.devicePath().empty());

        // Can start again after a stop, and the destructor cleans up too.
        QVERIFY2(sim.start(dir.path(), 7, &error), error.c_str());
        QVERIFY(isSymlink(link));
        Port port(link);
        QVERIFY(port.isOpen());
        QCOMPARE(port.transact(readRequest(1, regs::inputCount(6), 2), 9).size(), size_t(9));
    }
    QVERIFY(!exists(link));
}

void TestLink::startErrors()
{
    TempDir dir;
    Simulator sim(Module::T516);
    std::string error;

    QVERIFY(!sim.start(dir.path() + "/missing", 1, &error));
    QVERIFY2(error.find("missing") != std::string::npos, error.c_str());
    QVERIFY(!sim.running());
    QVERIFY(sim.linkPath().empty());
    QVERIFY(sim.devicePath().empty());

    const std::string file = dir.path() + "/com2";
    std::ofstream(file) << "not a device";
    error.clear();
    QVERIFY(!sim.start(dir.path(), 2, &error));
    QVERIFY2(error.find("com2") != std::string::npos, error.c_str());
    QVERIFY(!isSymlink(file));  // someone else's file is left alone

    QVERIFY2(sim.start(dir.path(), 3, &error), error.c_str());
    error.clear();
    QVERIFY(!sim.start(dir.path(), 4, &error));
    QVERIFY(!error.empty());
    QVERIFY(!exists(dir.path() + "/com4"));
    QVERIFY(isSymlink(dir.path() + "/com3"));
}

// A link left behind by a simulator that was killed is taken over.
void TestLink::staleLinkIsReplaced()
{
    TempDir dir;
    const std::string link = dir.path() + "/com1";
    QCOMPARE(symlink("/dev/pts/does-not-exist", link.c_str()), 0);
    Simulator sim(Module::T516);
    std::string error;
    QVERIFY2(sim.start(dir.path(), 1, &error), error.c_str());
    QCOMPARE(linkTarget(link), sim.devicePath());
    Port port(link);
    QCOMPARE(port.transact(kRequest, 9), kAnswer);
}

// The tools open and close the port around each exchange; the module must
// keep answering, with no stale bytes and no hang-up in between.
void TestLink::survivesOpenCloseCycles()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.port->close();
    for (int i = 0; i < 20; ++i) {
        Port port(rig.sim.linkPath());
        QVERIFY(port.isOpen());
        rig.sim.setRegister(regs::inputMode(1), uint16_t(i % 2));
        QCOMPARE(port.transact(readRequest(1, regs::inputMode(1), 1), 7),
                 withCrc({1, 3, 2, 0, uint8_t(i % 2)}));
    }
    QCOMPARE(rig.sim.requestCount(), size_t(20));
}

void TestLink::unplugIsSeenOnAnOpenFd()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
    const std::string link = rig.sim.linkPath();

    rig.sim.unplug();
    QVERIFY(!rig.sim.running());
    QVERIFY(!exists(link));
    pollfd p{rig.port->fd(), POLLIN, 0};
    QCOMPARE(poll(&p, 1, 3000), 1);
    QVERIFY(p.revents & POLLHUP);
    uint8_t byte;
    QVERIFY(::read(rig.port->fd(), &byte, 1) <= 0);

    std::string error;
    QVERIFY2(rig.sim.replug(&error), error.c_str());
    QVERIFY(isSymlink(link));
    Port again(link);
    QCOMPARE(again.transact(kRequest, 9), kAnswer);
}

void TestLink::qserialPortExchangeAndUnplug()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    rig.port->close();
    QSerialPort port;
    QVERIFY2(openLikeTheTools(port, rig.sim.linkPath()), qPrintable(port.errorString()));

    QByteArray got;
    QObject::connect(&port, &QSerialPort::readyRead, [&] { got += port.readAll(); });
    port.write(qbytes(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), 9, 5000);
    QCOMPARE(got, qbytes(kAnswer));

    // Unplugged under an open port: an error arrives; the tools close on the
    // first one (Qt would repeat it endlessly otherwise).
    QList<QSerialPort::SerialPortError> errors;
    auto onError = QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError) return;
        errors << e;
        if (port.isOpen()) port.close();
    });
    rig.sim.unplug();
    QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 5000);
    QVERIFY(errors.first() == QSerialPort::ReadError || errors.first() == QSerialPort::ResourceError);

    QObject::disconnect(onError);
    QVERIFY(!port.open(QIODevice::ReadWrite));
    QCOMPARE(port.error(), QSerialPort::DeviceNotFoundError);

    std::string error;
    QVERIFY2(rig.sim.replug(&error), error.c_str());
    QVERIFY2(openLikeTheTools(port, rig.sim.linkPath()), qPrintable(port.errorString()));
    got.clear();
    port.write(qbytes(kRequest));
    QTRY_COMPARE_WITH_TIMEOUT(got.size(), 9, 5000);
    QCOMPARE(got, qbytes(kAnswer));
}

void TestLink::frameLog()
{
    Rig rig;
    QVERIFY2(rig.ok(), rig.error.c_str());
    QVERIFY(!rig.sim.waitForRequests(1, 20));  // nothing sent yet

    std::mutex mu;
    std::vector<hv52sim::Frame> seen;
    rig.sim.onFrame([&](const hv52sim::Frame& f) {
        std::lock_guard<std::mutex> lk(mu);
        seen.push_back(f);
    });
    const Bytes ignored = readRequest(4, regs::inputCount(0), 2);
    const Bytes write = writeRequest(1, regs::inputMode(0), {1});
    QVERIFY(rig.port->send(ignored));
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
    QCOMPARE(rig.port->transact(write, 8), writeAnswer(1, regs::inputMode(0), 1));
    QVERIFY(rig.sim.waitForRequests(3, 3000));
    QCOMPARE(rig.sim.requestCount(), size_t(3));

    const auto frames = rig.sim.frames();
    QCOMPARE(frames.size(), size_t(5));
    const std::vector<std::pair<bool, Bytes>> expected{
        {true, ignored}, {true, kRequest}, {false, kAnswer}, {true, write},
        {false, writeAnswer(1, regs::inputMode(0), 1)}};
    for (size_t i = 0; i < frames.size(); ++i) {
        QCOMPARE(frames[i].fromMaster, expected[i].first);
        QCOMPARE(frames[i].bytes, expected[i].second);
        if (i > 0) QVERIFY(frames[i].time >= frames[i - 1].time);
    }
    // The observer saw the same frames (the last answer once its write is done).
    QTRY_COMPARE_WITH_TIMEOUT(([&] { std::lock_guard<std::mutex> lk(mu); return seen.size(); })(),
                              size_t(5), 5000);
    rig.sim.onFrame(nullptr);
    {
        std::lock_guard<std::mutex> lk(mu);
        for (size_t i = 0; i < seen.size(); ++i) QCOMPARE(seen[i].bytes, expected[i].second);
    }

    rig.sim.setLogCapacity(2);
    QCOMPARE(rig.sim.frames().size(), size_t(2));
    QCOMPARE(rig.sim.frames().back().bytes, writeAnswer(1, regs::inputMode(0), 1));

    rig.sim.clearLog();
    QVERIFY(rig.sim.frames().empty());
    QCOMPARE(rig.sim.requestCount(), size_t(0));
    QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
    QVERIFY(rig.sim.waitForRequests(1, 3000));
    QCOMPARE(rig.sim.frames().size(), size_t(2));
}

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
