#pragma once
// A tool window started by its command line against the simulated module on
// a pseudo-terminal, with its message boxes caught: what the T516 and T528
// window tests drive.
#include "harness.h"
#include "toolwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace hv52test {

// The request frames the module should see, with the simulator's own CRC.
inline QString readFrame(quint16 reg, bool pair)
{
    std::vector<uint8_t> f{1, 3, uint8_t(reg >> 8), uint8_t(reg), 0, uint8_t(pair ? 2 : 1)};
    hv52sim::Simulator::appendCrc(f);
    return QString::fromStdString(hv52sim::Simulator::hex(f));
}
inline QString writeFrame(quint16 reg, quint16 value)
{
    std::vector<uint8_t> f{1, 16, uint8_t(reg >> 8), uint8_t(reg), 0, 1, 2, uint8_t(value >> 8), uint8_t(value)};
    hv52sim::Simulator::appendCrc(f);
    return QString::fromStdString(hv52sim::Simulator::hex(f));
}

// Types into a line edit as an operator does: ASCII on the keyboard, Chinese
// through the input method, one character at a time.
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

template <class Window>
struct ToolRig
{
    SimPort port;
    Window window;
    Messages messages;

    explicit ToolRig(hv52sim::Module module, int timeoutMs = kShortTimeoutMs) : port(module)
    {
        window.Form_Load(commandLine(port));
        window.link().setResponseTimeout(timeoutMs);
        messages.attach(window.link());
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("the window was not shown");
    }

    // A click as the operator gives it; the switched-off input-mode buttons
    // cannot be clicked, so their handler is called directly.
    void press(int index)
    {
        QPushButton *button = window.Command1(index);
        if (button && button->isVisible())
            QTest::mouseClick(button, Qt::LeftButton);
        else
            window.Command1_Click(index);
    }
    void pressReset() { QTest::mouseClick(window.Command2(), Qt::LeftButton); }

    // Picks the list item with this text, or types the text when it is none.
    void choose(QComboBox *box, const QString &text)
    {
        const int item = box->findText(text, Qt::MatchExactly);
        if (item >= 0) {
            box->setCurrentIndex(item);
            return;
        }
        box->lineEdit()->selectAll();
        QTest::keyClick(box->lineEdit(), Qt::Key_Delete);
        typeText(box->lineEdit(), text);
    }

    QString cell(int index) const { return window.Label1(index)->text(); }
};

} // namespace hv52test
