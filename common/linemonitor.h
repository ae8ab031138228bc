#pragma once
#include "linelog.h"
#include "linemeaning.h"
#include "linemonitorwindow.h"
#include "link.h"
#include "module.h"

#include <QPointer>

class QAction;
class QWidget;

namespace hv52 {

// The line monitor of a tool window: every exchange on its line in the
// module's own words. Recording starts with attach() and goes on while the
// monitor window is closed; F12 or the window's context menu opens it.
class LineMonitor : public QObject
{
    Q_OBJECT
public:
    // Installs the recorder on the window's link, the F12 shortcut and the
    // "通讯监视…" context menu entry. A second call for the same window
    // returns the monitor already there.
    static LineMonitor *attach(QWidget *window, Link &link, const ModuleDef &module);
    // The monitor attached to window, or null.
    static LineMonitor *of(const QWidget *window);

    LineLog &log() { return m_log; }
    QAction *openAction() const { return m_action; }
    // The open monitor window, or null.
    LineMonitorWindow *monitorWindow() const { return m_window; }
    // Shows the monitor window (made anew if it was closed) and raises it,
    // within the screen's available area.
    LineMonitorWindow *open();
    // How the monitor window's messages reach the operator (the tool
    // window's own way); a message box when none is set.
    void setMessenger(LineMonitorWindow::Messenger messenger);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    LineMonitor(QWidget *window, Link &link, const ModuleDef &module);

    QWidget *m_tool;
    QPointer<Link> m_link;
    LineLog m_log;
    LineMeaning m_meaning;
    QAction *m_action;
    QPointer<LineMonitorWindow> m_window;
    QByteArray m_geometry;
    LineMonitorWindow::Messenger m_messenger;
};

} // namespace hv52
