#pragma once
#include "link.h"
#include "module.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QHash>
#include <QPointer>
#include <QTime>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>

class QAction;
class QLabel;
class QPushButton;
class QTableView;

namespace hv52 {

// What one exchange did, in the words of the window: the register's caption
// and address, and the value read or written with its meaning, taken from
// the data units whatever their framing; on Modbus TCP led by the request's
// transaction. Remembers what the conversions need from earlier exchanges:
// the last source quantity read per analog output (limits are shown in its
// unit) and the source just written in the same setting.
class LineMeaning
{
public:
    explicit LineMeaning(const ModuleDef &module) : m_module(module) {}

    QString describe(const ExchangeRecord &record);
    // Forgets the sources seen: the rows they came from were cleared.
    void forget();

    static QString strayText();
    // The same for bytes on a line of this framing: on Modbus TCP led by the
    // transactions of the whole frames among them.
    static QString strayText(Framing framing, const QByteArray &bytes);

private:
    // "事务 0x0001", or "事务 0x0003、0x0004".
    static QString transactionText(const QList<quint16> &transactions);
    QString describeUnit(const QByteArray &unit, const ExchangeRecord &record);
    QString describeRead(quint16 reg, bool pair, const ExchangeRecord &record);
    QString describeWrite(quint16 reg, quint16 value);
    int pollIndex(const Point &point) const;
    const Setting *settingOf(quint16 reg) const;

    const ModuleDef &m_module;
    QHash<int, quint32> m_sources;      // poll index of a source -> its last valid value
    QHash<quint16, QString> m_prefixes; // register -> its caption and address
    // The source quantity written earlier in the setting now being written.
    struct WrittenSource
    {
        const Setting *setting;
        int index;
        quint16 value;
    };
    std::optional<WrittenSource> m_written;
};

// The rows of the line monitor: one per exchange, and one per run of stray
// bytes, the latest kCapacity of them. Columns: 时间 · 请求 · 应答 · 用时 ·
// 结果 · 含义; the bytes are whole frames, an MBAP header included. Hex, time
// and result texts are made when a row is shown, not when it is recorded;
// only the meaning, which depends on earlier rows, comes with the record.
// Recording costs about a microsecond.
class LineLog : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        Time,
        Request,
        Answer,
        Elapsed,
        Result,
        Meaning,
        ColumnCount
    };
    static constexpr int kCapacity = 10000;

    explicit LineLog(QObject *parent = nullptr, int capacity = kCapacity);

    void addExchange(const ExchangeRecord &record, const QString &meaning);
    // Bytes outside any exchange, on a line of this framing.
    void addStray(const QByteArray &bytes, QTime at, Framing framing = Framing::Rtu);
    // Empties the table; the count of dropped rows starts again too.
    void clear();

    int capacity() const { return m_capacity; }
    // Rows dropped at the old end to stay within the capacity.
    qint64 dropped() const { return m_dropped; }
    // Every row ever added has a number, counted on across clear(): the
    // first row held now, and the number the next row will get.
    qint64 firstNumber() const { return m_added - qint64(m_rows.size()); }
    qint64 endNumber() const { return m_added; }

    QString text(int row, int column) const;
    // Every row as tab-separated text, after a header line; lines end in \n.
    QString tabText() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static QString hex(const QByteArray &bytes);

private:
    struct Row
    {
        QTime at;
        qint64 elapsedUs = -1; // -1: stray bytes, no request
        QByteArray request;
        QByteArray answer;
        Verdict verdict;
        QString meaning;
    };
    void append(Row row);

    std::deque<Row> m_rows;
    int m_capacity;
    QFont m_fixed; // the bytes' font
    qint64 m_dropped = 0;
    qint64 m_added = 0;
};

// What the monitor window's table shows: the rows of a LineLog as they were
// at the last sync(). The table follows the log in batches, so rows arriving
// one by one cost the table nothing until it is brought up to date.
class LineLogView : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit LineLogView(const LineLog &log, QObject *parent = nullptr);

    // Takes in the rows added and drops the rows dropped since the last sync.
    void sync();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const LineLog &m_log;
    qint64 m_first = 0; // the log's numbers of the rows shown: [m_first, m_end)
    qint64 m_end = 0;
};

// The monitor's own window: the table, the count of dropped rows and the
// buttons. Deleted when closed; the rows live on in the LineLog.
class LineMonitorWindow : public QWidget
{
    Q_OBJECT
public:
    LineMonitorWindow(LineLog &log, QWidget *parent);

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

    static QString title();

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
