#pragma once
#include "linelog.h"

#include <QAbstractTableModel>

namespace hv52 {

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

} // namespace hv52
