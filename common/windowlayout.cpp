#include "windowlayout.h"
#include "look.h"

#include <QPainter>

namespace hv52 {

void RuledGroup::paintEvent(QPaintEvent *event)
{
    QGroupBox::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(look::kRuling, 1));
    painter.drawLines(m_lines);
}

int WindowLayout::px(int twips) const
{
    return qRound(twips / 15.0 * m_scale);
}

QRect WindowLayout::rect(int left, int top, int width, int height) const
{
    return QRect(px(left), px(top), px(width), px(height));
}

QRect WindowLayout::headerRect(const GroupTable &table, int column) const
{
    const TableColumn &c = table.columns[size_t(column)];
    return rect(c.left, table.headerTop, c.width, GroupTable::kHeaderHeight);
}

QRect WindowLayout::cellRect(const GroupTable &table, int column, int row) const
{
    const TableColumn &c = table.columns[size_t(column)];
    return rect(c.left, table.rowTop(row), c.width, GroupTable::kRowHeight);
}

QRect WindowLayout::listRect(const GroupTable &table, int column, int row, int width) const
{
    const TableColumn &c = table.columns[size_t(column)];
    return rect(c.left, table.rowTop(row) + GroupTable::kListInset, width > 0 ? width : c.width,
                GroupTable::kListHeight);
}

QVector<QLine> WindowLayout::rulings(const GroupTable &table) const
{
    QVector<QLine> lines;
    const int gap = (GroupTable::kRowPitch - GroupTable::kRowHeight) / 2;
    const int left = table.columns.front().left;
    const int right = table.columns.back().left + table.columns.back().width;
    const int top = table.headerTop - gap;
    const int bottom = table.rowTop(table.rows) - gap;
    for (int row = 0; row <= table.rows; ++row) {
        const int y = px(table.rowTop(row) - gap);
        lines << QLine(px(left), y, px(right), y);
    }
    for (size_t c = 1; c < table.columns.size(); ++c) {
        const int x = px(table.columns[c].left - 60);
        lines << QLine(x, px(top), x, px(bottom));
    }
    return lines;
}

} // namespace hv52
