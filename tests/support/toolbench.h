#pragma once
// A tool window started by its command line against the simulated module on a
// pseudo-terminal, its message boxes caught: what the T516, T528 and T540
// window tests drive.
#include "controlmarks.h"
#include "harness.h"
#include "toolwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

namespace hv52test {

// The line every outcome message adds when nothing at all answered.
inline QString silenceHint(int port = 1)
{
    return QStringLiteral("模块无应答：请检查总线地址 1、串口 COM%1、波特率 9600 与接线。").arg(port);
}

// Request frames as the module must receive them, with the simulator's CRC.
inline QString frameText(std::vector<uint8_t> bytes)
{
    hv52sim::Simulator::appendCrc(bytes);
    return QString::fromStdString(hv52sim::Simulator::hex(bytes));
}
inline QString readFrame(quint16 reg, int count)
{
    return frameText({1, 3, uint8_t(reg >> 8), uint8_t(reg), 0, uint8_t(count)});
}
inline QString writeFrame(quint16 reg, quint16 value)
{
    return frameText({1, 16, uint8_t(reg >> 8), uint8_t(reg), 0, 1, 2, uint8_t(value >> 8), uint8_t(value)});
}

// A register the module holds before a poll; wide ones span two registers.
struct Reg
{
    quint16 address;
    quint32 value;
    bool wide = false;
};
inline Reg r16(quint16 address, quint32 value)
{
    return {address, value, false};
}
inline Reg r32(quint16 address, quint32 value)
{
    return {address, value, true};
}

// A list and what the operator puts in it; combo -1 is Combo2. An entry is
// chosen from the list when one has the text, unless `typed`: then the text
// is typed into the box and the focus moves on (Tab), as an operator does.
struct Entry
{
    int combo;
    QString text;
    bool typed = false;
};

// Types as an operator does: ASCII on the keyboard, Chinese through the
// input method, one character at a time.
inline void typeText(QLineEdit *edit, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 128) {
            QTest::keyClick(edit, c.toLatin1());
        } else {
            QInputMethodEvent event;
            event.setCommitString(QString(c));
            QApplication::sendEvent(edit, &event);
        }
    }
}

template <class Window, hv52sim::Module M>
struct Bench
{
    SimPort port{M};
    Messages messages; // outlives the window that calls it
    Window window;

    explicit Bench(int timeoutMs = kShortTimeoutMs)
    {
        window.Form_Load(commandLine(port));
        window.link().setResponseTimeout(timeoutMs);
        if (timeoutMs == kShortTimeoutMs)
            window.link().setRepeatLagLimit(kShortRepeatLagMs);
        messages.attach(window);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("the window was not shown");
    }

    void load(const QVector<Reg> &regs)
    {
        for (const Reg &r : regs) {
            if (r.wide)
                port.sim.setRegister32(r.address, r.value);
            else
                port.sim.setRegister(r.address, quint16(r.value));
        }
    }

    // A click as the operator gives it; hidden or missing buttons get their
    // handler called directly. -1 is the reset button.
    void press(int index)
    {
        if (index < 0) {
            QTest::mouseClick(window.Command2(), Qt::LeftButton);
            return;
        }
        QPushButton *button = window.Command1(index);
        if (button && button->isVisible())
            QTest::mouseClick(button, Qt::LeftButton);
        else
            window.Command1_Click(index);
    }
    void poll() { press(Window::kReadButton); }

    QComboBox *box(int combo) const { return combo < 0 ? window.Combo2() : window.Combo1(combo); }
    // Picks the list item with this text as the operator does (the item
    // activated), or types the text when it is none or the entry says so.
    void choose(const Entry &e)
    {
        QComboBox *b = box(e.combo);
        if (const int item = b->findText(e.text, Qt::MatchExactly); item >= 0 && !e.typed) {
            b->setCurrentIndex(item);
            emit b->activated(item);
            return;
        }
        window.activateWindow();
        b->lineEdit()->setFocus();
        b->lineEdit()->selectAll();
        QTest::keyClick(b->lineEdit(), Qt::Key_Delete);
        typeText(b->lineEdit(), e.text);
        QTest::keyClick(b->lineEdit(), Qt::Key_Tab);
    }

    // The next read (1-based, counted from now) gets this fault on its answer.
    void failRequest(int step, hv52sim::Fault fault = hv52sim::Fault::Silent)
    {
        auto requests = std::make_shared<int>(0);
        port.sim.onFrame([this, requests, step, fault](const hv52sim::Frame &f) {
            // A fault set while a request is logged applies to its own answer.
            if (f.fromMaster && ++*requests == step)
                port.sim.setFault(fault, 1);
        });
    }

    // One operation as the operator does it: the list entries, then the button.
    void operate(const QList<Entry> &entries, int button)
    {
        for (const Entry &e : entries)
            choose(e);
        press(button);
    }

    QString cell(int index) const { return window.Label1(index)->text(); }
    // "L13" is Label1(13)'s text, "C11" Combo1(11)'s.
    QString shown(const QString &target) const
    {
        const int i = target.mid(1).toInt();
        return target.startsWith(u'L') ? cell(i) : window.Combo1(i)->currentText();
    }
    // Every control marked as filled from a failed read, as "L13", "C11".
    QStringList marks() const
    {
        QStringList out;
        for (int i = 0; i < 64; ++i) {
            if (window.Label1(i) && hv52::ControlMarks::isMarkedFailed(window.Label1(i)))
                out << QStringLiteral("L%1").arg(i);
        }
        for (int i = 0; i < 64; ++i) {
            if (window.Combo1(i) && hv52::ControlMarks::isMarkedFailed(window.Combo1(i)))
                out << QStringLiteral("C%1").arg(i);
        }
        return out;
    }
    // Every control marked as not read by the last poll (it ended early).
    QStringList unread() const
    {
        QStringList out;
        for (int i = 0; i < 64; ++i) {
            if (window.Label1(i) && hv52::ControlMarks::markOf(window.Label1(i)) == hv52::Mark::NotRead)
                out << QStringLiteral("L%1").arg(i);
        }
        for (int i = 0; i < 64; ++i) {
            if (window.Combo1(i) && hv52::ControlMarks::markOf(window.Combo1(i)) == hv52::Mark::NotRead)
                out << QStringLiteral("C%1").arg(i);
        }
        return out;
    }
    QStringList requests() const { return port.requests(); }
    int sent() const { return int(port.sim.requestCount()); }
    qint16 failures() { return window.link().failureCount(); }
};

} // namespace hv52test

Q_DECLARE_METATYPE(QVector<hv52test::Reg>)
Q_DECLARE_METATYPE(QList<hv52test::Entry>)
