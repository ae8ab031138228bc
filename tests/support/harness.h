#pragma once
// What the window and link tests share: a simulated module on a real
// pseudo-terminal behind $HV52_SERIAL_DIR/comN, and a message catcher that
// stands in for the modal boxes.
#include "link.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <deque>

namespace hv52test {

// Most tests run with a short response timeout; a few keep the real 1000 ms.
constexpr int kShortTimeoutMs = 120;
// And, on lines that never repeat an answer, a short quiet after each answer
// the judge is careful about (the real one: Judge::kRepeatLagLimitMs).
constexpr int kShortRepeatLagMs = 40;

// A module on port `port` of a fresh port directory.
class SimPort
{
public:
    explicit SimPort(hv52sim::Module module, int port = 1, uint8_t address = 1) : sim(module, address), m_port(port)
    {
        qputenv("HV52_SERIAL_DIR", dir.path().toLocal8Bit());
        std::string error;
        if (!sim.start(dir.path().toStdString(), port, &error))
            qFatal("simulator did not start: %s", error.c_str());
    }
    int port() const { return m_port; }
    QString linkPath() const { return QString::fromStdString(sim.linkPath()); }

    // Requests the module received, as "01 03 0E 40 00 02 C7 37".
    QStringList requests() const
    {
        QStringList out;
        for (const auto &frame : sim.frames()) {
            if (frame.fromMaster)
                out << QString::fromStdString(hv52sim::Simulator::hex(frame.bytes));
        }
        return out;
    }

    QTemporaryDir dir;
    hv52sim::Simulator sim;

private:
    int m_port;
};

// Replaces the message boxes of a window: records each text, answers
// questions from a queue (OK when it is empty).
class Messages
{
public:
    template <class Window>
    void attach(Window &window)
    {
        window.setMessenger(messenger());
    }
    std::function<bool(const QString &, bool)> messenger()
    {
        return [this](const QString &text, bool ask) {
            shown << text;
            asked << ask;
            if (!ask || answers.empty())
                return true;
            const bool answer = answers.front();
            answers.pop_front();
            return answer;
        };
    }
    QString last() const { return shown.isEmpty() ? QString() : shown.last(); }
    void clear()
    {
        shown.clear();
        asked.clear();
    }

    QStringList shown;
    QList<bool> asked;
    std::deque<bool> answers;
};

// The command line a parent program would give for this port.
inline QString commandLine(const SimPort &port, int address = 1, int speed = 9600)
{
    return QStringLiteral("%1 %2 %3").arg(address).arg(port.port()).arg(speed);
}

} // namespace hv52test
