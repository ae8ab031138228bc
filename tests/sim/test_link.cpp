// The pseudo-terminal and its link: lifetime, start errors, unplugging, and
// the frame log.
#include "master.h"

#include <fstream>
#include <mutex>

using namespace simtest;
using hv52sim::Module;
using hv52sim::Simulator;

namespace {
std::string linkTarget(const std::string &path)
{
    char buf[256];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}
} // namespace

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void linkLivesAsLongAsTheSimulator()
    {
        QTemporaryDir tmp;
        const std::string link = tmp.path().toStdString() + "/com7";
        std::string error;
        {
            Simulator sim(Module::T540);
            sim.setRegister32(regs::inputCount(0), 70000);
            for (int run = 0; run < 2; ++run) { // a stopped simulator starts again
                QVERIFY2(sim.start(tmp.path().toStdString(), 7, &error), error.c_str());
                QVERIFY(sim.running());
                QCOMPARE(sim.linkPath(), link);
                QVERIFY(sim.devicePath().rfind("/dev/pts/", 0) == 0);
                QCOMPARE(linkTarget(link), sim.devicePath());
                // Tools open and close the port around each exchange.
                for (int i = 0; i < 3; ++i)
                    QCOMPARE(Port(link).transact(kRequest, 9), kAnswer);
                if (run == 1)
                    break;
                sim.stop();
                QVERIFY(linkTarget(link).empty() && !sim.running() && sim.devicePath().empty());
            }
        }
        QVERIFY(linkTarget(link).empty()); // removed by the destructor
    }

    void startErrors()
    {
        QTemporaryDir tmp;
        const std::string dir = tmp.path().toStdString();
        Simulator sim(Module::T516);
        std::string error;
        QVERIFY(!sim.start(dir + "/missing", 1, &error));
        QVERIFY2(error.find("missing") != std::string::npos, error.c_str());
        QVERIFY(!sim.running() && sim.linkPath().empty() && sim.devicePath().empty());

        std::ofstream(dir + "/com2") << "not a device";
        QVERIFY(!sim.start(dir, 2, &error));
        QVERIFY2(error.find("com2") != std::string::npos, error.c_str());
        QVERIFY(linkTarget(dir + "/com2").empty()); // someone else's file is left alone

        // A link left behind by a killed simulator is taken over.
        QCOMPARE(symlink("/dev/pts/does-not-exist", (dir + "/com3").c_str()), 0);
        QVERIFY2(sim.start(dir, 3, &error), error.c_str());
        QCOMPARE(linkTarget(dir + "/com3"), sim.devicePath());
        QVERIFY(!sim.start(dir, 4, &error)); // already running
        QVERIFY(linkTarget(dir + "/com4").empty());
    }

    // An open fd sees the hang-up, the link goes; replug brings a new one.
    void unplugAndReplug()
    {
        RIG(rig);
        const std::string link = rig.sim.linkPath();
        rig.sim.unplug();
        QVERIFY(!rig.sim.running());
        QVERIFY(linkTarget(link).empty());
        pollfd p{rig.port->fd, POLLIN, 0};
        QCOMPARE(poll(&p, 1, 3000), 1);
        QVERIFY(p.revents & POLLHUP);

        std::string error;
        QVERIFY2(rig.sim.replug(&error), error.c_str());
        QVERIFY(rig.sim.running());
        QCOMPARE(linkTarget(link), rig.sim.devicePath());
        QCOMPARE(Port(link).transact(kRequest, 9), kAnswer);
    }

    // Requests (ignored ones too) and answers, in order, in the log and to the
    // observer; beyond its capacity the oldest go; clearLog starts the count afresh.
    void frameLog()
    {
        std::mutex mu;
        std::vector<Bytes> seen; // declared before the rig: outlives its service thread
        RIG(rig);
        QVERIFY(!rig.sim.waitForRequests(1, 20));
        rig.sim.onFrame([&](const hv52sim::Frame &f) {
            std::lock_guard<std::mutex> lk(mu);
            seen.push_back(f.bytes);
        });
        const Bytes ignored = readRequest(4, regs::inputCount(0), 2);
        const Bytes write = writeRequest(1, regs::inputMode(0), {1}), written = writeAnswer(1, regs::inputMode(0), 1);
        QVERIFY(rig.port->send(ignored));
        QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
        QCOMPARE(rig.port->transact(write, 8), written);
        QCOMPARE(rig.sim.requestCount(), size_t(3));

        const std::vector<Bytes> expected{ignored, kRequest, kAnswer, write, written};
        const auto frames = rig.sim.frames();
        QCOMPARE(frames.size(), expected.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames[i].bytes, expected[i]);
            QCOMPARE(frames[i].fromMaster, i != 2 && i != 4);
        }
        // The observer hears of an answer once it is written.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                std::lock_guard<std::mutex> lk(mu);
                return seen.size() == 5;
            }(),
            5000);
        rig.sim.onFrame(nullptr);
        QVERIFY(seen == expected);

        rig.sim.setLogCapacity(2);
        QCOMPARE(rig.sim.frames().back().bytes, written);
        QCOMPARE(rig.port->transact(kRequest, 9), kAnswer);
        QCOMPARE(rig.sim.frames().size(), size_t(2));
        QCOMPARE(rig.sim.frames().front().bytes, kRequest);
        rig.sim.clearLog();
        QVERIFY(rig.sim.frames().empty());
        QCOMPARE(rig.sim.requestCount(), size_t(0));
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"
