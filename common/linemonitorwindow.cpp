#include "linemonitorwindow.h"
#include "look.h"
#include "messagebox.h"
#include "systemtext.h"
#include "textfile.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace hv52 {

QString LineMonitorWindow::title()
{
    return QStringLiteral("通讯监视 - ") + QCoreApplication::applicationName();
}

LineMonitorWindow::LineMonitorWindow(LineLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_view(log), m_table(new QTableView(this)), m_count(new QLabel(this)),
      m_dropped(new QLabel(this)), m_status(new QLabel(this)), m_clear(new QPushButton(QStringLiteral("清除"), this)),
      m_copy(new QPushButton(QStringLiteral("复制"), this)), m_save(new QPushButton(QStringLiteral("另存为…"), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title());
    setObjectName(QStringLiteral("LineMonitorWindow"));
    setFont(look::songFont(9));

    m_table->setObjectName(QStringLiteral("LineMonitorTable"));
    m_table->setAccessibleName(QStringLiteral("通讯记录"));
    m_table->setModel(&m_view);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setAlternatingRowColors(true);
    // No row numbers: the time says which row is which, and a numbered
    // header measures its labels anew for every row that comes.
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView *header = m_table->horizontalHeader();
    header->setStretchLastSection(true);
    // Fixed widths from the widest text of each column: measuring 10,000 rows
    // for a fit would stall the window.
    const QFontMetrics normal(m_table->font());
    const int pad = 16;
    header->resizeSection(LineLog::Time, normal.horizontalAdvance(QStringLiteral("00:00:00.000")) + pad);
    fitFrames(Framing::Rtu);
    header->resizeSection(LineLog::Elapsed, normal.horizontalAdvance(QStringLiteral("1000.0 ms")) + pad);
    header->resizeSection(LineLog::Result, normal.horizontalAdvance(QStringLiteral("异常应答 02：非法数据地址")) + pad);

    m_dropped->setStyleSheet(QStringLiteral("color: %1").arg(look::kWarningText.name()));
    m_status->setObjectName(QStringLiteral("LineMonitorStatus"));
    // A long path must not widen the window: it is cut, the tooltip has it all.
    m_status->setMinimumWidth(0);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    for (QPushButton *button : {m_clear, m_copy, m_save})
        button->setAutoDefault(true); // Enter presses the focused button
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_count);
    buttons->addWidget(m_dropped);
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_clear);
    buttons->addWidget(m_copy);
    buttons->addWidget(m_save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);

    connect(m_clear, &QPushButton::clicked, &m_log, &LineLog::clear);
    connect(m_copy, &QPushButton::clicked, this, &LineMonitorWindow::copy);
    connect(m_save, &QPushButton::clicked, this, &LineMonitorWindow::saveAs);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &LineMonitorWindow::refresh);
    // A row starts the refresh timer unless it runs: the rows of the next
    // kRefreshMs show together.
    connect(&m_log, &LineLog::rowsInserted, &m_refresh, [this] {
        if (!m_refresh.isActive())
            m_refresh.start();
    });
    connect(&m_log, &LineLog::modelReset, this, &LineMonitorWindow::refresh);

    resize(1100, 420);
    showCounts();
}

void LineMonitorWindow::fitFrames(Framing framing)
{
    // The longest request is a write's data unit (8 bytes), the longest
    // answer a pair's read (6), each framed: RTU adds 3 bytes, MBAP 7.
    const int framed = framing == Framing::Mbap ? kMbapHeader : 3;
    const auto chars = [framed](int unit) { return 3 * (framed + unit) - 1; }; // "01 03 …"
    const QFontMetrics fixed(look::fixedFont());
    const int pad = 16;
    QHeaderView *header = m_table->horizontalHeader();
    header->resizeSection(LineLog::Request, fixed.horizontalAdvance(QString(chars(8), u'0')) + pad);
    header->resizeSection(LineLog::Answer, fixed.horizontalAdvance(QString(chars(6), u'0')) + pad);
}

void LineMonitorWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_table->scrollToBottom();
}

void LineMonitorWindow::closeEvent(QCloseEvent *event)
{
    emit closing(saveGeometry());
    QWidget::closeEvent(event);
}

void LineMonitorWindow::showCounts()
{
    m_count->setText(QStringLiteral("共 %1 条记录").arg(m_log.rowCount()));
    const qint64 dropped = m_log.dropped();
    m_dropped->setText(dropped > 0 ? QStringLiteral("已丢弃较早的 %1 条记录").arg(dropped) : QString());
    m_dropped->setVisible(dropped > 0);
}

void LineMonitorWindow::refresh()
{
    m_refresh.stop();
    // Follow the new rows unless the operator scrolled back to read older ones.
    const QScrollBar *bar = m_table->verticalScrollBar();
    const bool follow = bar->value() >= bar->maximum();
    m_view.sync();
    showCounts();
    if (follow)
        m_table->scrollToBottom();
}

void LineMonitorWindow::copy()
{
    QGuiApplication::clipboard()->setText(m_log.tabText());
}

bool LineMonitorWindow::writeFile(const QString &path, QString *error) const
{
    const QByteArray bytes = textFileBytes(m_log.tabText());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // A full disk first takes part of a write and says nothing: write on
    // until every byte is in or a write fails with the system's reason.
    // Nothing replaces the old file unless every byte reached the disk.
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0)
            break;
        written += n;
    }
    if (written < bytes.size() || !file.flush()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool LineMonitorWindow::saveTo(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    QString error;
    if (!writeFile(path, &error)) {
        m_status->clear();
        m_status->setToolTip(QString());
        const QString text = QStringLiteral("通讯记录未保存。\n") + fileWriteError(shown, error);
        if (m_messenger)
            m_messenger(text);
        else
            showMessageBox(this, text);
        return false;
    }
    // The header line and one line a row.
    const QString lines = QLocale(QLocale::Chinese, QLocale::China).toString(m_log.rowCount() + 1);
    m_status->setText(QStringLiteral("已保存 %1 行到 %2").arg(lines, shown));
    m_status->setToolTip(m_status->text());
    return true;
}

void LineMonitorWindow::saveAs()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name = QStringLiteral("通讯记录-%1-%2.txt")
                             .arg(QCoreApplication::applicationName(),
                                  QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("另存为"), QDir(folder).filePath(name),
                                                      QStringLiteral("文本文件 (*.txt);;所有文件 (*)"));
    if (path.isEmpty())
        return;
    saveTo(path);
}

} // namespace hv52
