#pragma once
// The status rows of a site's run on a console: one row a line, each
// rewritten in place by its line's thread, and every message of a line
// printed above the rows with the line's name before it. Off a console
// there are no rows: the messages alone, each with its line's name.
//
// A line's thread binds itself to its row (Bound); printOut, printErr and
// the progress line then go through the board.
#include "console.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace hv52ctl {

class LineBoard
{
public:
    explicit LineBoard(int rows);
    ~LineBoard();
    LineBoard(const LineBoard &) = delete;
    LineBoard &operator=(const LineBoard &) = delete;

    bool shown() const { return m_on; }
    // Replaces a row's text (cut to the console's width: a row that wrapped
    // would break the rewriting).
    void setRow(int row, const QString &text);
    // Writes text to the stream above the rows. False when the write
    // failed (errno says why).
    bool print(console::Stream stream, const QByteArray &utf8);
    // Leaves the rows as they stand; what is printed after goes below them.
    void close();

    // The row of the calling thread, while it is bound; null otherwise.
    struct Row
    {
        LineBoard *board;
        int index;
        QString prefix; // "线路 2（10.0.0.7:4001）："
    };
    static const Row *current();
    // Binds the calling thread to a row of `board` for its lifetime.
    class Bound
    {
    public:
        Bound(LineBoard &board, int index, const QString &prefix);
        ~Bound();
        Bound(const Bound &) = delete;
        Bound &operator=(const Bound &) = delete;
    };

    // Every line of `text` with `prefix` before it.
    static QString prefixed(const QString &prefix, const QString &text);

private:
    QByteArray rowsText() const;
    QByteArray upToFirstRow() const;

    QMutex m_mutex;
    QStringList m_rows;
    bool m_on;
    bool m_drawn = false;
    int m_width;
};

} // namespace hv52ctl
