#include "linelogview.h"

#include <algorithm>

namespace hv52 {

LineLogView::LineLogView(const LineLog &log, QObject *parent) : QAbstractTableModel(parent), m_log(log)
{
    m_first = log.firstNumber();
    m_end = log.endNumber();
    // A row of the log shown anew (a result revised) is shown anew here, if
    // the table holds it already.
    connect(&log, &LineLog::dataChanged, this, [this](const QModelIndex &from, const QModelIndex &to) {
        const qint64 first = m_log.firstNumber() + from.row() - m_first;
        const qint64 last = m_log.firstNumber() + to.row() - m_first;
        if (last < 0 || first >= m_end - m_first)
            return;
        emit dataChanged(index(int(std::max<qint64>(0, first)), from.column()),
                         index(int(std::min<qint64>(last, m_end - m_first - 1)), to.column()));
    });
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

} // namespace hv52
