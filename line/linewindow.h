#pragma once
// 线路调试: a window for whole lines. A line per tab (a site's plan opens
// each of its lines), the site and the operator once for all, and the
// buttons that run every line at once: 开始调试 (commission the checked
// rows), 验收 (the same with no write), 停止 (Esc). The record of the last
// run and the plan of what the window shows are saved as hv52ctl writes
// and takes them.
#include "linepane.h"

#include <QMainWindow>
#include <QVector>
#include <functional>

class QLineEdit;
class QPushButton;
class QTabWidget;

namespace hv52line {

class LineWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit LineWindow(QWidget *parent = nullptr);

    void setMessenger(std::function<bool(const QString &, bool)> messenger);
    // The file dialogs' answers, for the tests: the name to save or open.
    void setFileChooser(std::function<QString(const QString &title, const QString &filter, bool save)> chooser)
    {
        m_choose = std::move(chooser);
    }
    // And the questions asked once (site, operator): the answer, or a
    // null string for 取消.
    void setAsker(std::function<QString(const QString &question)> asker) { m_ask = std::move(asker); }

    // Opens a plan (one line or a site): false with a message.
    bool openPlan(const QString &file);
    bool savePlan(const QString &file);
    bool saveRecord(const QString &file);

    void startRun(bool audit);
    void stop();
    bool busy() const;

    int lineCount() const;
    LinePane *pane(int index) const;
    LinePane *addLine();
    QLineEdit *siteEdit() const { return m_site; }
    QLineEdit *operatorEdit() const { return m_operator; }

signals:
    // Every line of a run has ended.
    void runEnded();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QJsonObject plan(QString *refusal) const;
    // A line's pane as a tab of the window, its messages and its ends ours.
    LinePane *adopt(LinePane *pane);
    void paneIdle();
    void updateButtons();
    bool askOnce();
    QString choose(const QString &title, const QString &filter, bool save);

    std::function<bool(const QString &, bool)> m_say;
    std::function<QString(const QString &, const QString &, bool)> m_choose;
    std::function<QString(const QString &)> m_ask;
    QTabWidget *m_tabs;
    QLineEdit *m_site;
    QLineEdit *m_operator;
    QPushButton *m_run;
    QPushButton *m_audit;
    QPushButton *m_stop;
    QPushButton *m_saveRecord;
    bool m_running = false;
    bool m_asked = false;
    bool m_closeAfterRun = false;
    QString m_planFile; // the plan the window was opened from or saved to
    QString m_lastPage; // the HTML record last saved, for 打开调试记录
    QDateTime m_started;
};

} // namespace hv52line
