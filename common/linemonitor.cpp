#include "linemonitor.h"
#include "look.h"
#include "messagebox.h"
#include "systemtext.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace hv52 {

namespace {

quint8 byteAt(const QByteArray &b, int i)
{
    return static_cast<quint8>(b[i]);
}

// "0x0E40": registers and written values as the module's documents give them.
QString hex4(quint16 value)
{
    return QStringLiteral("0x%1").arg(QString::number(value, 16).toUpper(), 4, QLatin1Char('0'));
}

const char *const kHeaders[LineLog::ColumnCount] = {"时间", "请求", "应答", "用时", "结果", "含义"};

} // namespace

// ---------------------------------------------------------------------------

QString LineMeaning::strayText()
{
    return QStringLiteral("不属于任何请求的字节（迟到的应答或线路干扰），已丢弃");
}

QString LineMeaning::strayText(Framing framing, const QByteArray &bytes)
{
    if (framing != Framing::Mbap)
        return strayText();
    // Whole Modbus TCP frames of other transactions: late answers to earlier
    // requests, named by their transactions. The walk stops at the first
    // bytes that are no whole frame.
    QList<quint16> transactions;
    for (int at = 0;;) {
        const MbapFrame frame = mbapFrameAt(bytes, at);
        if (frame.state != MbapFrame::Whole)
            break;
        transactions << frame.transaction;
        at += frame.size();
    }
    if (transactions.isEmpty())
        return strayText();
    return transactionText(transactions) + QStringLiteral(" · ") + strayText();
}

QString LineMeaning::transactionText(const QList<quint16> &transactions)
{
    QStringList numbers;
    for (quint16 t : transactions)
        numbers << hex4(t);
    return QStringLiteral("事务 ") + numbers.join(u'、');
}

void LineMeaning::forget()
{
    m_sources.clear();
    m_written.reset();
}

int LineMeaning::pollIndex(const Point &point) const
{
    const QVector<Point> &poll = m_module.poll;
    if (poll.isEmpty() || &point < poll.data() || &point >= poll.data() + poll.size())
        return -1;
    return int(&point - poll.data());
}

const Setting *LineMeaning::settingOf(quint16 reg) const
{
    for (const Setting &s : m_module.settings) {
        if (s.registers.contains(reg))
            return &s;
    }
    return nullptr;
}

QString LineMeaning::describe(const ExchangeRecord &record)
{
    const FrameParts request = splitFrame(record.framing, record.request);
    const QString meaning = describeUnit(request.unit, record);
    // Modbus TCP pairs an answer with its request by the transaction
    // identifier: shown, it ties a late answer's stray row to its request.
    if (record.framing != Framing::Mbap || record.request.size() < 2)
        return meaning;
    const QString transaction = transactionText({request.transaction});
    return meaning.isEmpty() ? transaction : transaction + QStringLiteral(" · ") + meaning;
}

QString LineMeaning::describeUnit(const QByteArray &unit, const ExchangeRecord &record)
{
    // Function code, register and count: what both requests begin with.
    if (unit.size() < 5)
        return QString();
    const quint16 reg = quint16(byteAt(unit, 1) << 8 | byteAt(unit, 2));
    if (byteAt(unit, 0) == 3) {
        m_written.reset(); // a read ends any setting's write sequence
        return describeRead(reg, byteAt(unit, 4) == 2, record);
    }
    if (byteAt(unit, 0) == 16 && unit.size() >= 8)
        return describeWrite(reg, quint16(byteAt(unit, 6) << 8 | byteAt(unit, 7)));
    return QString();
}

QString LineMeaning::describeRead(quint16 reg, bool pair, const ExchangeRecord &record)
{
    const Point *point = m_module.pointAt(reg);
    QByteArray answer;
    if (record.verdict.valid())
        answer = splitFrame(record.framing, record.answer).unit;
    // A record judged valid by whoever made it still needs the bytes of its
    // value before one is shown.
    const bool valid = answer.size() >= (pair ? 6 : 4);
    const quint32 value = valid ? unitValue(answer, pair) : 0;
    if (!point) {
        QString text = QStringLiteral("寄存器 %1").arg(hex4(reg));
        if (valid)
            text += QStringLiteral(" = %1").arg(value);
        return text;
    }
    // "输入1 输入次数 0x0E40": the same for every read of the register.
    QString &prefix = m_prefixes[reg];
    if (prefix.isEmpty())
        prefix = point->caption() + u' ' + hex4(reg);
    QString text = prefix;
    if (point->show == Show::Source) {
        // The limits after it are shown in this source's unit; after a failed
        // read the unit is unknown, as it is in the window.
        const int index = pollIndex(*point);
        if (valid)
            m_sources.insert(index, value);
        else
            m_sources.remove(index);
    }
    if (!valid)
        return text;
    if (point->show == Show::Limit) {
        const auto source = m_sources.constFind(point->scaleFrom);
        if (source == m_sources.constEnd())
            return text + QStringLiteral(" = %1（寄存器值）").arg(value);
        return text + QStringLiteral(" = ") + *displayText(*point, value, limitScale(int(*source)));
    }
    if (const std::optional<QString> shown = displayText(*point, value))
        return text + QStringLiteral(" = ") + *shown;
    return text + QStringLiteral(" = %1（不是列表中的选项）").arg(value);
}

QString LineMeaning::describeWrite(quint16 reg, quint16 value)
{
    const QString assigned = u' ' + hex4(reg) + QStringLiteral(" ← ") + hex4(value);
    const Setting *setting = settingOf(reg);
    if (!setting || !m_written || m_written->setting != setting)
        m_written.reset();

    if (reg == m_module.resetRegister) {
        for (const ResetChoice &choice : m_module.resets) {
            if (choice.code == value)
                return QStringLiteral("复位") + assigned + u' ' + QString::fromUtf8(choice.text);
        }
        return QStringLiteral("复位") + assigned + QStringLiteral(" 不是复位项目的代码");
    }
    const Point *point = m_module.pointAt(reg);
    if (!point) {
        if (setting)
            return setting->name + assigned;
        return QStringLiteral("寄存器") + assigned;
    }
    QString text = point->caption() + assigned;
    switch (point->show) {
    case Show::RelayCommand:
        if (const std::optional<QString> command = relayCommandText(value))
            text += u' ' + *command;
        return text;
    case Show::SignalType:
    case Show::Source:
    case Show::InputMode: {
        const QStringList &texts = point->listTexts();
        if (value >= texts.size())
            return text + QStringLiteral(" 不是列表中的选项");
        if (point->show == Show::Source && setting)
            m_written = WrittenSource{setting, pollIndex(*point), value};
        return text + u' ' + texts[value];
    }
    case Show::Limit:
        text += QStringLiteral(" 寄存器值 %1").arg(value);
        // The window typed the limit in the unit of the source it wrote just
        // before; without that write the unit is not known here.
        if (m_written && m_written->index == point->scaleFrom) {
            text += QStringLiteral(" = %1（%2）")
                        .arg(*displayText(*point, value, limitScale(m_written->value)),
                             kSourceQuantityTexts.value(m_written->value));
        }
        return text;
    default:
        return text + QStringLiteral(" %1").arg(value);
    }
}

// ---------------------------------------------------------------------------

LineLog::LineLog(QObject *parent, int capacity)
    : QAbstractTableModel(parent), m_capacity(std::max(1, capacity)),
      m_fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{}

void LineLog::append(Row row)
{
    if (int(m_rows.size()) >= m_capacity) {
        beginRemoveRows(QModelIndex(), 0, 0);
        m_rows.pop_front();
        endRemoveRows();
        ++m_dropped;
    }
    const int at = int(m_rows.size());
    beginInsertRows(QModelIndex(), at, at);
    m_rows.push_back(std::move(row));
    ++m_added;
    endInsertRows();
}

namespace {

// A copy of just the bytes: what a port read hands over may sit in a block
// reserved for far more (QIODevice::readAll() reserves kilobytes), and a
// row holding on to it would keep the whole block for its life.
QByteArray compact(const QByteArray &bytes)
{
    return QByteArray(bytes.constData(), bytes.size());
}

} // namespace

void LineLog::addExchange(const ExchangeRecord &record, const QString &meaning)
{
    append({record.sentAt, record.elapsedUs, compact(record.request), compact(record.answer), record.verdict, meaning});
}

void LineLog::addStray(const QByteArray &bytes, QTime at, Framing framing)
{
    append({at, -1, QByteArray(), compact(bytes), Verdict(), LineMeaning::strayText(framing, bytes)});
}

void LineLog::clear()
{
    beginResetModel();
    m_rows.clear();
    m_dropped = 0;
    endResetModel();
}

QString LineLog::hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString LineLog::text(int row, int column) const
{
    if (row < 0 || row >= int(m_rows.size()))
        return QString();
    const Row &r = m_rows[size_t(row)];
    const bool stray = r.elapsedUs < 0;
    switch (column) {
    case Time:
        return r.at.toString(QStringLiteral("hh:mm:ss.zzz"));
    case Request:
        return hex(r.request);
    case Answer:
        return hex(r.answer);
    case Elapsed:
        return stray ? QString() : QStringLiteral("%1 ms").arg(QString::number(r.elapsedUs / 1000.0, 'f', 1));
    case Result:
        return stray ? QStringLiteral("线路杂散字节") : outcomeText(r.verdict);
    case Meaning:
        return r.meaning;
    default:
        return QString();
    }
}

QString LineLog::tabText() const
{
    QStringList headers;
    for (const char *h : kHeaders)
        headers << QString::fromUtf8(h);
    QString out = headers.join(u'\t') + u'\n';
    for (int row = 0; row < int(m_rows.size()); ++row) {
        for (int c = 0; c < ColumnCount; ++c) {
            if (c > 0)
                out += u'\t';
            out += text(row, c);
        }
        out += u'\n';
    }
    return out;
}

int LineLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int LineLog::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant LineLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return text(index.row(), index.column());
    case Qt::ForegroundRole: {
        const Row &r = m_rows[size_t(index.row())];
        if (index.column() == Result && (r.elapsedUs < 0 || !r.verdict.valid()))
            return look::kWarningText;
        return QVariant();
    }
    case Qt::FontRole:
        if (index.column() == Request || index.column() == Answer)
            return m_fixed;
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant LineLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < ColumnCount ? QString::fromUtf8(kHeaders[section]) : QString();
    return section + 1;
}

// ---------------------------------------------------------------------------

LineLogView::LineLogView(const LineLog &log, QObject *parent) : QAbstractTableModel(parent), m_log(log)
{
    m_first = log.firstNumber();
    m_end = log.endNumber();
}

void LineLogView::sync()
{
    const qint64 first = m_log.firstNumber();
    const qint64 end = m_log.endNumber();
    if (first >= m_end) {
        // Cleared, or every row shown is gone: start over.
        beginResetModel();
        m_first = first;
        m_end = end;
        endResetModel();
        return;
    }
    if (first > m_first) {
        beginRemoveRows(QModelIndex(), 0, int(first - m_first) - 1);
        m_first = first;
        endRemoveRows();
    }
    if (end > m_end) {
        beginInsertRows(QModelIndex(), int(m_end - m_first), int(end - m_first) - 1);
        m_end = end;
        endInsertRows();
    }
}

int LineLogView::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_end - m_first);
}

int LineLogView::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : LineLog::ColumnCount;
}

QVariant LineLogView::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    // A row dropped from the log since the last sync shows empty until the next.
    const qint64 number = m_first + index.row();
    if (number < m_log.firstNumber() || number >= m_log.endNumber())
        return QVariant();
    return m_log.data(m_log.index(int(number - m_log.firstNumber()), index.column()), role);
}

QVariant LineLogView::headerData(int section, Qt::Orientation orientation, int role) const
{
    return m_log.headerData(section, orientation, role);
}

// ---------------------------------------------------------------------------

LineMonitorWindow::LineMonitorWindow(LineLog &log, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_view(log), m_table(new QTableView(this)), m_count(new QLabel(this)),
      m_dropped(new QLabel(this)), m_status(new QLabel(this)), m_clear(new QPushButton(QStringLiteral("清除"), this)),
      m_copy(new QPushButton(QStringLiteral("复制"), this)), m_save(new QPushButton(QStringLiteral("另存为…"), this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(LineMonitor::title());
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
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
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
    const QByteArray bytes = m_log.tabText().toUtf8();
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

// ---------------------------------------------------------------------------

LineMonitor::LineMonitor(QWidget *window, Link &link, const ModuleDef &module)
    : QObject(window), m_tool(window), m_link(&link), m_meaning(module),
      m_action(new QAction(QStringLiteral("通讯监视…"), window))
{
    setObjectName(QStringLiteral("LineMonitor"));
    // Recording is two signal connections: the link formats nothing for
    // them, and the rows' texts are made only when they are shown.
    connect(&link, &Link::exchanged, this,
            [this](const ExchangeRecord &record) { m_log.addExchange(record, m_meaning.describe(record)); });
    connect(&link, &Link::strayBytes, this, [this](const QByteArray &bytes) {
        m_log.addStray(bytes, QTime::currentTime(), m_link ? m_link->framing() : Framing::Rtu);
    });
    // A line of another framing opened: the bytes columns fit its frames.
    connect(&link, &Link::portOpened, this, [this] {
        if (m_window && m_link)
            m_window->fitFrames(m_link->framing());
    });
    connect(&m_log, &LineLog::modelReset, this, [this] { m_meaning.forget(); });

    auto *shortcut = new QShortcut(QKeySequence(Qt::Key_F12), window);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, &LineMonitor::open);
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

QString LineMonitor::title()
{
    return QStringLiteral("通讯监视 - ") + QCoreApplication::applicationName();
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
