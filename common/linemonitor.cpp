#include "linemonitor.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace hv52 {

LineMonitor::LineMonitor(QWidget *window, Link &link, const ModuleDef &module)
    : QObject(window), m_tool(window), m_link(&link), m_meaning(module),
      m_action(new QAction(QStringLiteral("通讯监视…"), window))
{
    setObjectName(QStringLiteral("LineMonitor"));
    // Recording is two signal connections: the link formats nothing for
    // them, and the rows' texts are made only when they are shown.
    connect(&link, &Link::exchanged, this,
            [this](const ExchangeRecord &record) { m_log.addExchange(record, m_meaning.describe(record)); });
    // A read found afterwards not to hold: its row says so.
    connect(&link, &Link::exchangeRevised, &m_log, &LineLog::revise);
    connect(&link, &Link::strayBytes, this, [this](const QByteArray &bytes) {
        m_log.addStray(bytes, QTime::currentTime(), m_link ? m_link->framing() : Framing::Rtu);
    });
    // A line of another framing opened: the bytes columns fit its frames.
    connect(&link, &Link::portOpened, this, [this] {
        if (m_window && m_link)
            m_window->fitFrames(m_link->framing());
    });
    connect(&m_log, &LineLog::modelReset, this, [this] { m_meaning.forget(); });

    // The key is the entry's own, so that the context menu shows it beside
    // 通讯监视 as it shows Ctrl+S beside 保存调试记录.
    m_action->setShortcut(QKeySequence(Qt::Key_F12));
    m_action->setShortcutContext(Qt::WindowShortcut);
    connect(m_action, &QAction::triggered, this, &LineMonitor::open);
    window->addAction(m_action);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    window->installEventFilter(this);
}

LineMonitor *LineMonitor::attach(QWidget *window, Link &link, const ModuleDef &module)
{
    if (LineMonitor *existing = of(window))
        return existing;
    return new LineMonitor(window, link, module);
}

LineMonitor *LineMonitor::of(const QWidget *window)
{
    return window ? window->findChild<LineMonitor *>(QStringLiteral("LineMonitor"), Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void LineMonitor::setMessenger(LineMonitorWindow::Messenger messenger)
{
    m_messenger = std::move(messenger);
    if (m_window)
        m_window->setMessenger(m_messenger);
}

namespace {

// Moves and shrinks a window until its frame lies within `free`.
void fitWithin(QWidget *window, const QRect &free)
{
    const QSize frameExtra = window->frameGeometry().size() - window->size();
    const QSize size = window->size().boundedTo(free.size() - frameExtra);
    if (size != window->size())
        window->resize(size);
    const QSize outer = size + frameExtra;
    const QPoint at = window->frameGeometry().topLeft();
    const int x = std::clamp(at.x(), free.left(), std::max(free.left(), free.right() + 1 - outer.width()));
    const int y = std::clamp(at.y(), free.top(), std::max(free.top(), free.bottom() + 1 - outer.height()));
    if (QPoint(x, y) != at)
        window->move(x, y);
}

} // namespace

LineMonitorWindow *LineMonitor::open()
{
    if (!m_window) {
        m_window = new LineMonitorWindow(m_log, m_tool);
        m_window->setMessenger(m_messenger);
        if (m_link)
            m_window->fitFrames(m_link->framing());
        if (!m_geometry.isEmpty()) {
            m_window->restoreGeometry(m_geometry);
        } else if (const QScreen *screen = m_tool->screen()) {
            // Below the tool window where it fits; else at the bottom of the
            // screen, which leaves the tool's top row with 召测 in sight.
            const QRect free = screen->availableGeometry();
            const QRect tool = m_tool->frameGeometry();
            m_window->resize(m_window->size().boundedTo(free.size()));
            const QSize size = m_window->frameGeometry().size();
            const int x = std::clamp(tool.center().x() - size.width() / 2, free.left(),
                                     std::max(free.left(), free.right() + 1 - size.width()));
            const int below = tool.bottom() + 1;
            const int y = below + size.height() <= free.bottom() + 1
                              ? below
                              : std::max(free.top(), free.bottom() + 1 - size.height());
            m_window->move(x, y);
        }
        connect(m_window, &LineMonitorWindow::closing, this,
                [this](const QByteArray &geometry) { m_geometry = geometry; });
    }
    // No larger than the screen, also where the screen is small for its
    // scale factor or the geometry was saved on another screen; once more
    // when shown, when the window manager's frame is known.
    const QScreen *screen = m_tool->screen() ? m_tool->screen() : QGuiApplication::primaryScreen();
    if (screen)
        fitWithin(m_window, screen->availableGeometry());
    m_window->show();
    if (screen)
        fitWithin(m_window, screen->availableGeometry());
    m_window->raise();
    m_window->activateWindow();
    return m_window;
}

bool LineMonitor::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_tool && event->type() == QEvent::Hide && !event->spontaneous()) {
        // The tool window closed: its monitor goes with it.
        if (m_window)
            m_window->close();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace hv52
