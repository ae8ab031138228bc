#pragma once
#include "link.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QTime>
#include <deque>

namespace hv52 {

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
    // An exchange shown earlier turned out otherwise (the link's number for
    // it): its row shows the new result; a row already dropped stays gone.
    void revise(quint64 id, Verdict verdict);
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
        quint64 id = 0; // the link's number of the exchange, 0: stray bytes
    };
    void append(Row row);

    std::deque<Row> m_rows;
    int m_capacity;
    QFont m_fixed; // the bytes' font
    qint64 m_dropped = 0;
    qint64 m_added = 0;
};

} // namespace hv52
