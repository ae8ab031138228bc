#include "linelog.h"
#include "linemeaning.h"
#include "look.h"

#include <QFontDatabase>
#include <QLocale>

namespace hv52 {

namespace {

const char *const kHeaders[LineLog::ColumnCount] = {"时间", "请求", "应答", "用时", "结果", "含义"};

} // namespace

LineLog::LineLog(QObject *parent, int capacity)
    : QAbstractTableModel(parent), m_capacity(std::max(1, capacity)), m_fixed(look::fixedFont())
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
    append({record.sentAt, record.elapsedUs, compact(record.request), compact(record.answer), record.verdict, meaning,
            record.id});
}

void LineLog::revise(quint64 id, Verdict verdict)
{
    // The rows revised are recent: looked for from the newest.
    for (size_t i = m_rows.size(); i-- > 0;) {
        if (m_rows[i].id != id)
            continue;
        m_rows[i].verdict = verdict;
        const QModelIndex cell = index(int(i), Result);
        emit dataChanged(cell, cell);
        return;
    }
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

} // namespace hv52
