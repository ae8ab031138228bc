#include "linewindow.h"

#include "input.h"
#include "interrupt.h"
#include "planfile.h"
#include "runstatus.h"

#include "hv52version.h"
#include "messagebox.h"
#include "record.h"
#include "recordparts.h"
#include "siterecord.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace hv52line {

using namespace hv52;

LineWindow::LineWindow(QWidget *parent)
    : QMainWindow(parent), m_say([this](const QString &text, bool ask) { return showMessageBox(this, text, ask); }),
      m_choose([this](const QString &title, const QString &filter, bool save) {
          return save ? QFileDialog::getSaveFileName(this, title, QString(), filter)
                      : QFileDialog::getOpenFileName(this, title, QString(), filter);
      }),
      m_ask([this](const QString &question) {
          bool ok = false;
          const QString text = QInputDialog::getText(this, windowTitle(), question, QLineEdit::Normal, QString(), &ok);
          return ok ? text : QString();
      })
{
    // Not the message boxes' title (the program's name, 线路调试).
    setWindowTitle(QStringLiteral("HV52 线路调试"));
    auto *central = new QWidget(this);
    auto *top = new QVBoxLayout(central);

    auto *head = new QHBoxLayout;
    auto *open = new QPushButton(QStringLiteral("打开计划…"), central);
    auto *save = new QPushButton(QStringLiteral("保存计划…"), central);
    auto *add = new QPushButton(QStringLiteral("添加线路"), central);
    head->addWidget(open);
    head->addWidget(save);
    head->addWidget(add);
    head->addSpacing(20);
    head->addWidget(new QLabel(QStringLiteral("站点"), central));
    m_site = new QLineEdit(central);
    m_site->setMaxLength(200);
    head->addWidget(m_site, 1);
    head->addWidget(new QLabel(QStringLiteral("调试人"), central));
    m_operator = new QLineEdit(central);
    m_operator->setMaxLength(200);
    head->addWidget(m_operator);
    top->addLayout(head);

    m_tabs = new QTabWidget(central);
    top->addWidget(m_tabs, 1);

    auto *buttons = new QHBoxLayout;
    // Alt and a letter, as on every Windows dialog: the keyboard alone runs
    // a line.
    m_run = new QPushButton(QStringLiteral("开始调试(&R)"), central);
    m_audit = new QPushButton(QStringLiteral("验收(&A)"), central);
    m_stop = new QPushButton(QStringLiteral("停止"), central);
    m_saveRecord = new QPushButton(QStringLiteral("保存调试记录…"), central);
    auto *show = new QPushButton(QStringLiteral("打开调试记录…"), central);
    for (QPushButton *b : {m_run, m_audit, m_stop})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(m_saveRecord);
    buttons->addWidget(show);
    top->addLayout(buttons);
    setCentralWidget(central);
    resize(1000, 720);

    connect(open, &QPushButton::clicked, this, [this] {
        const QString file = choose(QStringLiteral("打开计划"), QStringLiteral("计划 (*.json)"), false);
        if (!file.isEmpty())
            openPlan(file);
    });
    connect(save, &QPushButton::clicked, this, [this] {
        const QString file = choose(QStringLiteral("保存计划"), QStringLiteral("计划 (*.json)"), true);
        if (!file.isEmpty())
            savePlan(file);
    });
    connect(add, &QPushButton::clicked, this, [this] { m_tabs->setCurrentWidget(addLine()); });
    connect(m_run, &QPushButton::clicked, this, [this] { startRun(false); });
    connect(m_audit, &QPushButton::clicked, this, [this] { startRun(true); });
    connect(m_stop, &QPushButton::clicked, this, &LineWindow::stop);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &LineWindow::stop);
    connect(m_saveRecord, &QPushButton::clicked, this, [this] {
        const QString file =
            choose(QStringLiteral("保存调试记录"), QStringLiteral("调试记录 (*.html *.csv *.json)"), true);
        if (!file.isEmpty())
            saveRecord(file);
    });
    connect(show, &QPushButton::clicked, this, [this] {
        // The page last saved, else one chosen.
        const QString file = !m_lastPage.isEmpty() && QFileInfo::exists(m_lastPage)
                                 ? m_lastPage
                                 : choose(QStringLiteral("打开调试记录"), QStringLiteral("调试记录 (*.html)"), false);
        if (!file.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(file));
    });
    // A signal that ends the process (Ctrl+C in its console, SIGTERM, a
    // log-off) stops the run as 停止 does; the window closes at its end.
    connect(&hv52run::Interrupt::install(), &hv52run::Interrupt::raised, this, [this] {
        if (hv52run::Interrupt::cause() == hv52run::Interrupt::Cause::Operator)
            return;
        m_closeAfterRun = true;
        if (!busy())
            close();
    });
    addLine();
    updateButtons();
}

void LineWindow::setMessenger(std::function<bool(const QString &, bool)> messenger)
{
    m_say = messenger;
    for (int i = 0; i < lineCount(); ++i)
        pane(i)->setMessenger(messenger);
}

int LineWindow::lineCount() const
{
    return m_tabs->count();
}

LinePane *LineWindow::pane(int index) const
{
    return qobject_cast<LinePane *>(m_tabs->widget(index));
}

LinePane *LineWindow::addLine()
{
    return adopt(new LinePane);
}

LinePane *LineWindow::adopt(LinePane *pane)
{
    pane->setMessenger(m_say);
    m_tabs->addTab(pane, QStringLiteral("线路 %1").arg(m_tabs->count() + 1));
    connect(pane, &LinePane::busyChanged, this, [this](bool busy) {
        if (!busy)
            paneIdle();
        updateButtons();
    });
    return pane;
}

bool LineWindow::busy() const
{
    for (int i = 0; i < lineCount(); ++i) {
        if (pane(i)->busy())
            return true;
    }
    return false;
}

void LineWindow::updateButtons()
{
    const bool b = busy();
    m_run->setEnabled(!b);
    m_audit->setEnabled(!b);
    m_stop->setEnabled(b);
    m_saveRecord->setEnabled(!b && !m_running);
}

QString LineWindow::choose(const QString &title, const QString &filter, bool save)
{
    return m_choose(title, filter, save);
}

void LineWindow::startRun(bool audit)
{
    if (busy())
        return;
    hv52run::Interrupt::forgetOperatorStop();
    // Every line checked before any starts: a line refused sends nothing,
    // nor does any other.
    for (int i = 0; i < lineCount(); ++i) {
        QString refusal;
        pane(i)->line(&refusal);
        if (refusal.isEmpty())
            pane(i)->meters(&refusal);
        if (!refusal.isEmpty()) {
            m_say(lineCount() > 1 ? QStringLiteral("线路 %1：%2").arg(i + 1).arg(refusal) : refusal, false);
            return;
        }
    }
    m_started = QDateTime::currentDateTime();
    m_running = true;
    for (int i = 0; i < lineCount(); ++i)
        pane(i)->startRun(audit, m_site->text().trimmed(), m_operator->text().trimmed());
    updateButtons();
}

void LineWindow::stop()
{
    for (int i = 0; i < lineCount(); ++i)
        pane(i)->stop();
}

void LineWindow::paneIdle()
{
    if (busy())
        return;
    if (m_closeAfterRun) {
        close();
        return;
    }
    if (!m_running)
        return;
    m_running = false;
    QStringList lines;
    bool audit = false;
    for (int i = 0; i < lineCount(); ++i) {
        const LinePane *p = pane(i);
        if (!p->hasRecord())
            continue;
        audit = p->lastRunAudit();
        QString text = p->record().summary();
        if (!p->record().stopped.isEmpty())
            text += QStringLiteral("；%1，其余的表计未进行").arg(p->record().stopped);
        lines << (lineCount() > 1 ? QStringLiteral("线路 %1：%2").arg(i + 1).arg(text) : text);
    }
    updateButtons();
    emit runEnded();
    m_say(
        QStringLiteral("%1结束。\n%2").arg(audit ? QStringLiteral("验收") : QStringLiteral("调试"), lines.join(u'\n')),
        false);
}

void LineWindow::closeEvent(QCloseEvent *event)
{
    if (busy()) {
        // Closing mid-run: the run ends at its next stopping point first.
        m_closeAfterRun = true;
        stop();
        event->ignore();
        return;
    }
    event->accept();
}

bool LineWindow::askOnce()
{
    if (m_asked || !m_site->text().trimmed().isEmpty() || !m_operator->text().trimmed().isEmpty())
        return true;
    const QString site = m_ask(QStringLiteral("站点（记录的抬头，可不填）："));
    if (site.isNull())
        return false;
    const QString who = m_ask(QStringLiteral("调试人（记录的签名处，可不填）："));
    if (who.isNull())
        return false;
    m_site->setText(site.trimmed().left(200));
    m_operator->setText(who.trimmed().left(200));
    m_asked = true;
    return true;
}

bool LineWindow::saveRecord(const QString &file)
{
    QVector<RunRecord> lines;
    bool audit = false;
    for (int i = 0; i < lineCount(); ++i) {
        if (pane(i)->hasRecord()) {
            lines << pane(i)->record();
            audit = pane(i)->lastRunAudit();
        }
    }
    if (lines.isEmpty()) {
        m_say(QStringLiteral("还没有调试或验收过：没有可保存的记录。"), false);
        return false;
    }
    if (recordFormat(file).isEmpty()) {
        m_say(QStringLiteral("记录文件 %1 的扩展名无效（应为 .html、.csv 或 .json），未保存。").arg(file), false);
        return false;
    }
    if (!askOnce())
        return false;
    for (RunRecord &r : lines) {
        r.site = m_site->text().trimmed();
        r.operatorName = m_operator->text().trimmed();
    }
    QString error;
    bool saved = false;
    // As hv52ctl writes them: a line commissioned alone has a line's
    // record; an audit, and a site, a site's record.
    if (lines.size() == 1 && !audit) {
        saved = writeRecord(file, lines.first(), &error);
    } else {
        SiteRecord site;
        site.site = m_site->text().trimmed();
        site.operatorName = m_operator->text().trimmed();
        site.tool = QStringLiteral("hv52line");
        site.version = QStringLiteral(HV52_VERSION);
        site.command = audit ? QStringLiteral("verify") : QStringLiteral("commission");
        if (!m_planFile.isEmpty())
            site.inputs << m_planFile;
        site.started = m_started;
        site.finished = lines.first().finished;
        for (const RunRecord &r : lines)
            site.finished = std::max(site.finished, r.finished);
        site.lines = lines;
        for (const RunRecord &r : lines) {
            if (!r.stopped.isEmpty() && hv52run::Interrupt::arrived())
                site.stopped = r.stopped;
        }
        saved = writeSiteRecord(file, site, &error);
    }
    if (saved && recordFormat(file) == u"html")
        m_lastPage = file;
    m_say(saved ? QStringLiteral("%1已保存到 %2。")
                      .arg(audit ? QStringLiteral("验收记录") : QStringLiteral("调试记录"), file)
                : error,
          false);
    return saved;
}

QJsonObject LineWindow::plan(QString *refusal) const
{
    QJsonArray lines;
    for (int i = 0; i < lineCount(); ++i) {
        QJsonObject line = pane(i)->lineObject(refusal);
        QJsonArray meters;
        if (refusal->isEmpty())
            meters = pane(i)->meters(refusal);
        if (!refusal->isEmpty()) {
            if (lineCount() > 1)
                *refusal = QStringLiteral("线路 %1：%2").arg(i + 1).arg(*refusal);
            return {};
        }
        line.insert(QStringLiteral("meters"), meters);
        lines << line;
    }
    QJsonObject out;
    if (!m_site->text().trimmed().isEmpty())
        out.insert(QStringLiteral("site"), m_site->text().trimmed());
    if (!m_operator->text().trimmed().isEmpty())
        out.insert(QStringLiteral("operator"), m_operator->text().trimmed());
    if (lines.size() == 1) {
        QJsonObject line = lines.first().toObject();
        out.insert(QStringLiteral("meters"), line.take(QStringLiteral("meters")));
        out.insert(QStringLiteral("line"), line);
    } else {
        out.insert(QStringLiteral("lines"), lines);
    }
    return out;
}

bool LineWindow::savePlan(const QString &file)
{
    QString refusal;
    const QJsonObject p = plan(&refusal);
    if (!refusal.isEmpty()) {
        m_say(refusal + QStringLiteral("（计划未保存）"), false);
        return false;
    }
    QString error;
    if (!recordparts::writeFileWhole(file, QJsonDocument(p).toJson(QJsonDocument::Indented), &error)) {
        m_say(error, false);
        return false;
    }
    m_planFile = file;
    m_say(QStringLiteral("计划已保存到 %1。").arg(file), false);
    return true;
}

bool LineWindow::openPlan(const QString &file)
{
    if (busy())
        return false;
    QString refusal;
    QJsonObject p;
    try {
        p = hv52run::planObject(file);
        hv52run::onlyKeys(p, {"site", "operator", "line", "meters", "lines"}, QStringLiteral("计划 %1").arg(file));
    } catch (const hv52run::UsageError &e) {
        refusal = e.text();
    }
    QJsonArray lines;
    if (refusal.isEmpty()) {
        if (p.contains(QStringLiteral("lines"))) {
            lines = p.value(QStringLiteral("lines")).toArray();
        } else {
            QJsonObject line = p.value(QStringLiteral("line")).toObject();
            line.insert(QStringLiteral("meters"), p.value(QStringLiteral("meters")));
            lines << line;
        }
        if (lines.isEmpty() || lines.size() > 64)
            refusal = QStringLiteral("计划 %1：应有 1～64 条线路。").arg(file);
    }
    // Each line read into a pane of its own; the window changes only when
    // every line could be read.
    QVector<LinePane *> panes;
    const QDir folder = QFileInfo(file).absoluteDir();
    for (int i = 0; refusal.isEmpty() && i < lines.size(); ++i) {
        QJsonObject line = lines[i].toObject();
        const QJsonArray meters = line.take(QStringLiteral("meters")).toArray();
        auto *pane = new LinePane;
        if (!pane->load(line, meters, folder, &refusal) && lines.size() > 1)
            refusal = QStringLiteral("第 %1 条线路：%2").arg(i + 1).arg(refusal);
        panes << pane;
    }
    if (!refusal.isEmpty()) {
        qDeleteAll(panes);
        m_say(QStringLiteral("计划 %1 无法打开：%2").arg(file, refusal), false);
        return false;
    }
    while (m_tabs->count() > 0)
        delete m_tabs->widget(0);
    for (LinePane *pane : panes)
        adopt(pane);
    m_site->setText(p.value(QStringLiteral("site")).toString().left(200));
    m_operator->setText(p.value(QStringLiteral("operator")).toString().left(200));
    m_planFile = file;
    updateButtons();
    return true;
}

} // namespace hv52line
