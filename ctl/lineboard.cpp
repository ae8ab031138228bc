#include "lineboard.h"

#include "values.h"

namespace hv52ctl {

namespace {

thread_local const LineBoard::Row *t_row = nullptr;

// The row cut to `width` columns, a CJK character taking two.
QString cut(const QString &text, int width)
{
    if (hv52::displayWidth(text) <= width)
        return text;
    QString out;
    for (const QChar c : text) {
        if (hv52::displayWidth(out + c) > width - 1)
            break;
        out += c;
    }
    return out + u'…';
}

} // namespace

LineBoard::LineBoard(int rows)
    : m_rows(rows), m_on(console::isConsole(console::Stream::Err)), m_width(console::columns(console::Stream::Err))
{}

LineBoard::~LineBoard()
{
    close();
}

QByteArray LineBoard::upToFirstRow() const
{
    // Back to the first row and everything below it erased.
    return m_drawn && !m_rows.isEmpty() ? QByteArray("\r\033[") + QByteArray::number(m_rows.size()) + "A\033[J"
                                        : QByteArray("\r\033[J");
}

QByteArray LineBoard::rowsText() const
{
    QByteArray out;
    for (const QString &row : m_rows)
        out += cut(row, m_width - 1).toUtf8() + '\n';
    return out;
}

void LineBoard::setRow(int row, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    if (row < 0 || row >= m_rows.size() || m_rows[row] == text)
        return;
    m_rows[row] = text;
    if (!m_on)
        return;
    console::write(console::Stream::Err, upToFirstRow() + rowsText());
    m_drawn = true;
}

bool LineBoard::print(console::Stream stream, const QByteArray &utf8)
{
    QMutexLocker lock(&m_mutex);
    if (!m_on || !m_drawn)
        return console::write(stream, utf8);
    // The rows are taken away, the text written where they were, and the
    // rows drawn again below it.
    console::write(console::Stream::Err, upToFirstRow());
    const bool ok = console::write(stream, utf8);
    console::write(console::Stream::Err, rowsText());
    return ok;
}

void LineBoard::close()
{
    QMutexLocker lock(&m_mutex);
    m_on = false;
    m_drawn = false;
}

const LineBoard::Row *LineBoard::current()
{
    return t_row;
}

LineBoard::Bound::Bound(LineBoard &board, int index, const QString &prefix)
{
    t_row = new Row{&board, index, prefix};
}

LineBoard::Bound::~Bound()
{
    delete t_row;
    t_row = nullptr;
}

QString LineBoard::prefixed(const QString &prefix, const QString &text)
{
    if (prefix.isEmpty())
        return text;
    const bool ended = text.endsWith(u'\n');
    QStringList lines = text.split(u'\n');
    if (ended)
        lines.removeLast();
    for (QString &line : lines)
        line.prepend(prefix);
    return lines.join(u'\n') + (ended ? QStringLiteral("\n") : QString());
}

} // namespace hv52ctl
