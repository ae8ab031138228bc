#include "ioframes.h"

namespace hv52 {

namespace {

const char *kSetBackground = "#C0C0FF";

// The input table has the columns of the seven-input tool's, so the three
// tools line up.
const std::vector<TableColumn> kInputColumns = {
    {120, 1200}, {1440, 2160}, {3720, 1440}, {5280, 2160}, {7560, 2085}};
// Name, count, state, and a wide control column for the list and its button.
const std::vector<TableColumn> kRelayColumns = {{120, 1200}, {1440, 2160}, {3720, 1440}, {5280, 4365}};

} // namespace

IoToolWindow::IoToolWindow(const QString &title, int heightTwips, Twips resetList, Twips resetButton,
                           Twips readButton)
    : ToolWindow(title, 9885, heightTwips)
{
    const auto twips = [this](Twips t) { return rect(t.left, t.top, t.width, t.height); };
    const QStringList resetItems = resetTexts(kRelayInputResets);
    addTopRow(title, resetItems, resetItems.last(), twips(resetList), twips(resetButton), kReadButton,
              twips(readButton));
    addInputGroup();
    addRelayGroup();
    hideInputModeColumn(2);
    setStartLists(4);
}

QRect IoToolWindow::headerRect(const GroupTable &table, int column) const
{
    const TableColumn &c = table.columns[size_t(column)];
    return rect(c.left, table.headerTop, c.width, GroupTable::kHeaderHeight);
}

QRect IoToolWindow::cellRect(const GroupTable &table, int column, int row) const
{
    const TableColumn &c = table.columns[size_t(column)];
    return rect(c.left, table.rowTop(row), c.width, GroupTable::kRowHeight);
}

void IoToolWindow::addHeaders(RuledGroup *frame, const GroupTable &table, const std::vector<int> &labels,
                              const QStringList &texts)
{
    for (size_t c = 0; c < labels.size(); ++c)
        addLabel(labels[c], frame, texts[int(c)], headerRect(table, int(c)), LabelKind::Caption);
}

void IoToolWindow::addRulings(RuledGroup *frame, const GroupTable &table) const
{
    const int gap = (GroupTable::kRowPitch - GroupTable::kRowHeight) / 2;
    const int left = table.columns.front().left;
    const int right = table.columns.back().left + table.columns.back().width;
    const int top = table.headerTop - gap;
    const int bottom = table.rowTop(table.rows) - gap;
    for (int row = 0; row <= table.rows; ++row) {
        const int y = px(table.rowTop(row) - gap);
        frame->addLine(QLine(px(left), y, px(right), y));
    }
    for (size_t c = 1; c < table.columns.size(); ++c) {
        const int x = px(table.columns[c].left - 60);
        frame->addLine(QLine(x, px(top), x, px(bottom)));
    }
}

void IoToolWindow::addInputGroup()
{
    RuledGroup *frame = addFrame(0, QStringLiteral("数字量输入"), rect(60, 540, 9765, 1815));
    const GroupTable table{kInputColumns, 2};
    addHeaders(frame, table, {0, 1, 2, 3, 4},
               {QStringLiteral("名称"), QStringLiteral("输入次数"), QStringLiteral("输入状态"),
                QStringLiteral("输入ON时间"), QStringLiteral("设置")});
    for (int n = 0; n < table.rows; ++n) {
        addLabel(5 + n, frame, QStringLiteral("输入%1").arg(n + 1), cellRect(table, 0, n), LabelKind::Caption);
        for (int c = 1; c <= 3; ++c)
            addLabel(12 + 3 * n + c, frame, QString(), cellRect(table, c, n), LabelKind::Cell);
        const TableColumn &set = table.columns[4];
        const int top = table.rowTop(n);
        addCombo(n, frame, kInputModeTexts, kInputModeTexts.at(1),
                 rect(set.left, top + GroupTable::kListInset, set.width, GroupTable::kListHeight));
        // The button lies over the middle of its list.
        constexpr int buttonWidth = 735;
        addButton(n, frame, QStringLiteral("设置"),
                  rect(set.left + (set.width - buttonWidth) / 2, top, buttonWidth, GroupTable::kRowHeight),
                  kSetBackground);
    }
    addRulings(frame, table);
}

void IoToolWindow::addRelayGroup()
{
    RuledGroup *frame = addFrame(1, QStringLiteral("数字量输出"), rect(60, 2610, 9765, 1815));
    const GroupTable table{kRelayColumns, 2};
    addHeaders(frame, table, {7, 9, 8, 10},
               {QStringLiteral("名称"), QStringLiteral("输出次数"), QStringLiteral("输出状态"),
                QStringLiteral("控制方式")});
    const QStringList commands = kRelayCommandTexts.mid(2); // operate, restore
    const int rowCaptions[] = {11, 33};
    for (int k = 0; k < table.rows; ++k) {
        addLabel(rowCaptions[k], frame, QStringLiteral("继电器%1").arg(k + 1), cellRect(table, 0, k),
                 LabelKind::Caption);
        addLabel(19 + 2 * k, frame, QString(), cellRect(table, 1, k), LabelKind::Cell);
        addLabel(20 + 2 * k, frame, QString(), cellRect(table, 2, k), LabelKind::Cell);
        const TableColumn &control = table.columns[3];
        const int top = table.rowTop(k);
        constexpr int listWidth = 2985;
        constexpr int buttonWidth = 1005;
        addCombo(2 + k, frame, commands, commands.at(1),
                 rect(control.left, top + GroupTable::kListInset, listWidth, GroupTable::kListHeight));
        addButton(2 + k, frame, QStringLiteral("设置"),
                  rect(control.left + listWidth + 120, top, buttonWidth, GroupTable::kRowHeight), kSetBackground);
    }
    addRulings(frame, table);
}

void IoToolWindow::Command2_Click()
{
    link().run([this] { resetCounters(kRelayInputResets); });
}

bool IoToolWindow::setChannel(int Index)
{
    if (Index == 0 || Index == 1)
        setInputMode(Index);
    else if (Index == 2 || Index == 3)
        setRelay(Index);
    else
        return false;
    return true;
}

void IoToolWindow::pollChannels()
{
    pollInputs(2);
    pollRelays();
}

} // namespace hv52
