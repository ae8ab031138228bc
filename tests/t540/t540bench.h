#pragma once
// A cfg_t540 window wired to a simulated T540 module, its message boxes caught.
#include "frm_t540.h"
#include "harness.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace t540test {

struct Bench
{
    // commandLine empty: the module's own port, address 1, 9600 bit/s.
    explicit Bench(const QString &commandLine = QString()) : sim(hv52sim::Module::T540)
    {
        window.link().setResponseTimeout(hv52test::kShortTimeoutMs);
        messages.attach(window.link());
        window.Form_Load(commandLine.isEmpty() ? hv52test::commandLine(sim) : commandLine);
        window.show();
    }

    QString cell(int index) const { return window.Label1(index)->text(); }
    bool marked(int index) const { return hv52::ToolWindow::isMarkedFailed(window.Label1(index)); }
    size_t sent() const { return sim.sim.requestCount(); }

    void poll() { QTest::mouseClick(window.Command1(frm_T540::kReadButton), Qt::LeftButton); }
    void reset() { QTest::mouseClick(window.Command2(), Qt::LeftButton); }
    // The set buttons are hidden, so their handler is called as a click would.
    void setMode(int input) { window.Command1_Click(input); }

    hv52test::SimPort sim;
    hv52test::Messages messages; // outlives the window that calls it
    frm_T540 window;
};

// Request frames as the module must receive them; the CRC comes from the
// simulator's own code, not from the link under test.
inline QString frame(std::vector<uint8_t> bytes)
{
    hv52sim::Simulator::appendCrc(bytes);
    return QString::fromStdString(hv52sim::Simulator::hex(bytes));
}
inline QString readFrame(quint16 reg, int count)
{
    return frame({1, 3, uint8_t(reg >> 8), uint8_t(reg), 0, uint8_t(count)});
}
inline QString writeFrame(quint16 reg, quint16 value)
{
    return frame({1, 16, uint8_t(reg >> 8), uint8_t(reg), 0, 1, 2, uint8_t(value >> 8), uint8_t(value)});
}

} // namespace t540test
