#include "ioframes.h"
#include "look.h"

namespace hv52 {

namespace {

// Name, count, state, and a wide control column for the list and its button.
const std::vector<TableColumn> kRelayColumns = {{120, 1200}, {1440, 2160}, {3720, 1440}, {5280, 4365}};

} // namespace

IoToolWindow::IoToolWindow(const QString &title, int heightTwips, const ModuleDef &module, Twips resetList,
                           Twips resetButton, Twips readButton)
    : ToolWindow(title, 9885, heightTwips, module)
{
    const auto twips = [this](Twips t) { return rect(t.left, t.top, t.width, t.height); };
    addTopRow(title, QString::fromUtf8(module.resets.last().text), twips(resetList), twips(resetButton), kReadButton,
              twips(readButton));
    addInputGroup(1815);
    addRelayGroup();
    setStartLists(4);
}

void IoToolWindow::addRelayGroup()
{
    RuledGroup *frame = addFrame(1, QStringLiteral("数字量输出"), rect(60, 2610, 9765, 1815));
    GroupTable table{kRelayColumns, module().relays()};
    addHeaders(
        frame, table, {7, 9, 8, 10},
        {QStringLiteral("名称"), QStringLiteral("输出次数"), QStringLiteral("输出状态"), QStringLiteral("控制方式")});
    const QStringList commands = kRelayCommandTexts.mid(2); // operate, restore
    const QVector<int> rowCaptions = {11, 33};
    for (int k = 0; k < table.rows; ++k) {
        addLabel(rowCaptions.at(k), frame, QStringLiteral("继电器%1").arg(k + 1), cellRect(table, 0, k),
                 LabelKind::Caption);
        const QString relay = QStringLiteral("relay%1.").arg(k + 1);
        addValueLabel(relay + QLatin1String("count"), frame, cellRect(table, 1, k));
        addValueLabel(relay + QLatin1String("state"), frame, cellRect(table, 2, k));
        constexpr int listWidth = 2985;
        constexpr int buttonWidth = 1005;
        addValueCombo(relay + QLatin1String("command"), frame, commands, commands.at(1),
                      listRect(table, 3, k, listWidth));
        const TableColumn &control = table.columns[3];
        addButton(2 + k, frame, QStringLiteral("设置"),
                  rect(control.left + listWidth + 120, table.rowTop(k), buttonWidth, GroupTable::kRowHeight),
                  look::kSetBackground);
    }
    addRulings(frame, table);
}

bool IoToolWindow::setChannel(int Index)
{
    if (Index == 0 || Index == 1)
        setInputMode(Index);
    else if (Index == 2 || Index == 3)
        setRelay(Index - 2);
    else
        return false;
    return true;
}

} // namespace hv52
