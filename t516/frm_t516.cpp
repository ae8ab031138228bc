#include "frm_t516.h"
#include "analoglimit.h"
#include "linkerror.h"

#include <QComboBox>
#include <QLabel>

using namespace hv52;

namespace {

// Name, present value, signal type, source, lower limit, upper limit, button.
const std::vector<TableColumn> kAnalogColumns = {{120, 780},   {1020, 1320}, {2460, 1380}, {3960, 1740},
                                                          {5820, 1260}, {7200, 1260}, {8580, 1065}};

// The selected entry of a list the operator may also type into; a typed text
// is no entry and must not reach the module.
int listEntry(const QComboBox *box, const QString &field)
{
    if (box->currentIndex() < 0)
        throw LinkError(QStringLiteral("%1“%2”不是列表中的选项，设置未发送。").arg(field, box->currentText()));
    return box->currentIndex();
}

} // namespace

frm_T516::frm_T516()
    : IoToolWindow(QStringLiteral("HV52T516扩展模块"), 7020, {4140, 120, 3315, 300}, {7500, 90, 1005, 375},
                   {8760, 90, 1065, 375})
{
    addAnalogGroup();
    setStartLists(10);
}

void frm_T516::addAnalogGroup()
{
    RuledGroup *frame = addFrame(2, QStringLiteral("模拟量输出"), rect(60, 4680, 9765, 2175));
    // Three rows need a header closer to the caption than the two-row groups.
    GroupTable table{kAnalogColumns, kAnalogOutputs};
    table.headerTop = 330;
    table.firstRowTop = 720;
    addHeaders(frame, table, {35, 36, 30, 24, 31, 32, 34},
               {QStringLiteral("名称"), QStringLiteral("输出值 (mA)"), QStringLiteral("信号类型"),
                QStringLiteral("参数选择"), QStringLiteral("下限参数值"), QStringLiteral("上限参数值"),
                QStringLiteral("控制")});

    const int rowCaptions[] = {25, 26, 23};
    for (int k = 0; k < kAnalogOutputs; ++k) {
        addLabel(rowCaptions[k], frame, QStringLiteral("输出%1").arg(k + 1), cellRect(table, 0, k),
                 LabelKind::Caption);
        addLabel(27 + k, frame, QString(), cellRect(table, 1, k), LabelKind::Cell);
        const auto listRect = [&](int column) {
            const TableColumn &c = table.columns[size_t(column)];
            return rect(c.left, table.rowTop(k) + GroupTable::kListInset, c.width, GroupTable::kListHeight);
        };
        addCombo(4 + k, frame, kSignalTypeTexts, kSignalTypeTexts.first(), listRect(2));
        addCombo(7 + k, frame, kSourceQuantityTexts, QStringLiteral("A相视在功率"), listRect(3));
        addCombo(10 + k, frame, {}, QStringLiteral("0"), listRect(4), ListKind::Simple);
        addCombo(13 + k, frame, {}, QStringLiteral("0"), listRect(5), ListKind::Simple);
        addButton(5 + k, frame, QStringLiteral("设置"), cellRect(table, 6, k), "#C0C0FF");
    }
    addRulings(frame, table);
}

void frm_T516::Command1_Click(int Index)
{
    // Any other index opens and closes the port and does nothing in between.
    link().run([this, Index] {
        if (setChannel(Index))
            return;
        if (Index == kReadButton)
            poll();
        else if (Index >= 5 && Index < 5 + kAnalogOutputs)
            setAnalogOutput(Index - 5);
    });
}

// The 27 reads: inputs, relays, then the analog outputs' present values,
// signal types, sources and limits.
void frm_T516::poll()
{
    beginPoll();
    pollChannels();
    for (int k = 0; k < kAnalogOutputs; ++k)
        readCell(27 + k, 0, quint8(0x72 + k), [](const QString &raw) { return dividedText(raw, 100); });
    for (int k = 0; k < kAnalogOutputs; ++k)
        readListPosition(4 + k, quint8(0xB2 + 4 * k), QStringLiteral("输出%1信号类型").arg(k + 1));
    for (int k = 0; k < kAnalogOutputs; ++k)
        readListPosition(7 + k, quint8(0xB3 + 4 * k), QStringLiteral("输出%1参数选择").arg(k + 1));
    for (int k = 0; k < kAnalogOutputs; ++k) {
        // Both limits are shown in the unit of the source just read back.
        const int scale = limitScale(Combo1(7 + k)->currentIndex());
        const auto unscaled = [scale](const QString &raw) { return dividedText(raw, scale); };
        readListText(10 + k, quint8(0xB4 + 4 * k), unscaled);
        readListText(13 + k, quint8(0xB5 + 4 * k), unscaled);
    }
    endPoll();
}

void frm_T516::setAnalogOutput(int k)
{
    const QString output = QStringLiteral("输出%1").arg(k + 1);
    // The whole row is checked before the first write: a bad value must not
    // leave the module with half a new configuration.
    const int type = listEntry(Combo1(4 + k), output + QStringLiteral("信号类型"));
    const int source = listEntry(Combo1(7 + k), output + QStringLiteral("参数选择"));
    const int scale = limitScale(source);
    const quint16 lower = limitRegisterValue(output + QStringLiteral("下限参数值"), Combo1(10 + k)->currentText(), scale);
    const quint16 upper = limitRegisterValue(output + QStringLiteral("上限参数值"), Combo1(13 + k)->currentText(), scale);

    // Type, source, lower, upper: all four go out even after a failed one.
    const int block = 0xB2 + 4 * k;
    bool confirmed = true;
    const int values[] = {type, source, lower, upper};
    for (int i = 0; i < 4; ++i)
        confirmed = link().para_set(0x0E, quint8(block + i), values[i]) && confirmed;
    reportSetting(confirmed);
}
