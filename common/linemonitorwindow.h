#pragma once
#include "linelog.h"
#include "linelogview.h"

#include <QTimer>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTableView;

namespace hv52 {

// The monitor's own window: the table, the count of dropped rows and the
// buttons. Deleted when closed; the rows live on in the LineLog.
class LineMonitorWindow : public QWidget
{
    Q_OBJECT
public:
    LineMonitorWindow(LineLog &log, QWidget *parent);

    // "通讯监视 - " and the application's name.
    static QString title();

    // How the window's messages reach the operator; a message box by default.
    using Messenger = std::function<void(const QString &text)>;
    void setMessenger(Messenger messenger) { m_messenger = std::move(messenger); }

    QTableView *table() const { return m_table; }
    QLabel *droppedLabel() const { return m_dropped; }
    // The status line: what the last 另存为… did.
    QLabel *statusLabel() const { return m_status; }
    QPushButton *clearButton() const { return m_clear; }
    QPushButton *copyButton() const { return m_copy; }
    QPushButton *saveButton() const { return m_save; }

    void copy();
    // Asks for a file name, then saveTo() it.
    void saveAs();
    // Writes the rows to path and says how it went: on success in the status
    // line ("已保存 10,001 行到 …"), else in a message naming the path and the
    // reason. A file already there stays whole unless the new one is
    // complete. True when saved.
    bool saveTo(const QString &path);
    // Writes the rows as UTF-8 text to path through a temporary file that
    // replaces it only once complete; false with the system's reason
    // otherwise.
    bool writeFile(const QString &path, QString *error) const;

    // New rows show at most this long after their exchange ended. Painting
    // the table takes milliseconds, an exchange on a fast line less: a paint
    // for every row would hold up the operation the monitor is watching.
    static constexpr int kRefreshMs = 100;
    // Brings the table up to date now rather than at the next refresh.
    void refresh();
    // Sizes the 请求 and 应答 columns for the longest frames of a framing.
    void fitFrames(Framing framing);

signals:
    // The window closes; its place and size, for the next time it opens.
    void closing(const QByteArray &geometry);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void showCounts();

    LineLog &m_log;
    LineLogView m_view;
    Messenger m_messenger;
    QTableView *m_table;
    QLabel *m_count;
    QLabel *m_dropped;
    QLabel *m_status;
    QPushButton *m_clear;
    QPushButton *m_copy;
    QPushButton *m_save;
    QTimer m_refresh;
};

} // namespace hv52
