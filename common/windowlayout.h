#pragma once
// Where the controls of a tool window go: its layout is in twips (15 to a
// pixel at 96 dpi), as the windows have always been drawn, and each group
// holds a table of a header row and one row per channel.
#include <QGroupBox>
#include <QLine>
#include <QRect>
#include <QVector>
#include <vector>

namespace hv52 {

// A group frame that draws the rulings of the table inside it.
class RuledGroup : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;
    void addLine(QLine line) { m_lines.append(line); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<QLine> m_lines;
};

// One group's table in twips relative to its group: a header row, then one
// row per channel at a fixed pitch.
struct TableColumn
{
    int left;
    int width;
};
struct GroupTable
{
    std::vector<TableColumn> columns;
    int rows;
    int headerTop = 420;
    int firstRowTop = 840;

    static constexpr int kHeaderHeight = 300;
    static constexpr int kRowPitch = 450;
    static constexpr int kRowHeight = 375;
    // A list is shorter than its row and sits in the row's middle.
    static constexpr int kListHeight = 300;
    static constexpr int kListInset = (kRowHeight - kListHeight) / 2;

    int rowTop(int row) const { return firstRowTop + kRowPitch * row; }
};

// Twips to pixels of a screen whose logical dots per inch are `scale` times 96.
class WindowLayout
{
public:
    explicit WindowLayout(double scale = 1.0) : m_scale(scale) {}

    int px(int twips) const;
    QRect rect(int left, int top, int width, int height) const;

    // A table's header caption, cell and list (of `width`, else its column's).
    QRect headerRect(const GroupTable &table, int column) const;
    QRect cellRect(const GroupTable &table, int column, int row) const;
    QRect listRect(const GroupTable &table, int column, int row, int width = 0) const;
    // The rulings under the header and between the rows, then those between
    // the columns.
    QVector<QLine> rulings(const GroupTable &table) const;

private:
    double m_scale;
};

} // namespace hv52
