#pragma once
#include "exchange.h"

#include <QVector>
#include <utility>

namespace hv52 {

// Monitor rows held back while a read is being confirmed, so that its first
// exchange is shown with what the confirmation made of it.
class HeldRows
{
public:
    struct Row
    {
        ExchangeRecord record;
        QByteArray stray; // non-empty: a stray-bytes row instead
    };

    void hold() { m_holding = true; }
    bool holding() const { return m_holding; }
    void add(const ExchangeRecord &record) { m_rows.append({record, {}}); }
    void addStray(const QByteArray &bytes) { m_rows.append({{}, bytes}); }
    // The latest row held, -1: none.
    int last() const { return int(m_rows.size()) - 1; }
    // A held exchange row shown with another verdict; stray rows and rows
    // not held stay as they are.
    void mark(int row, Verdict verdict)
    {
        if (row >= 0 && row < m_rows.size() && m_rows[row].stray.isEmpty())
            m_rows[row].record.verdict = verdict;
    }
    // Holding ends: the rows, in order, to be shown now.
    QVector<Row> release()
    {
        m_holding = false;
        return std::exchange(m_rows, {});
    }

private:
    bool m_holding = false;
    QVector<Row> m_rows;
};

} // namespace hv52
