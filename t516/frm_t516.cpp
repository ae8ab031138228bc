#include "frm_t516.h"
#include "analoglimit.h"
#include "linkerror.h"
#include "look.h"
#include "t516module.h"

#include <QComboBox>
#include <QLabel>

using namespace hv52;

namespace {

// Name, present value, signal type, source, lower limit, upper limit, button.
const std::vector<TableColumn> kAnalogColumns = {{120, 780},   {1020, 1320}, {2460, 1380}, {3960, 1740},
                                                 {5820, 1260}, {7200, 1260}, {8580, 1065}};

// The selected entry of a list the operator may also type into; a typed text
// is no entry and must not reach the module.
int listEntry(const QComboBox *box, const Point &point)
{
    if (box->currentIndex() < 0)
        throw LinkError(QStringLiteral("%1“%2”不是列表中的选项，设置未发送。").arg(point.name(), box->currentText()));
    return box->currentIndex();
}

} // namespace

frm_T516::frm_T516()
    : IoToolWindow(QStringLiteral("HV52T516扩展模块"), 7020, t516Module(), {4140, 120, 3315, 300},
                   {7500, 90, 1005, 375}, {8760, 90, 1065, 375})
{
    addAnalogGroup();
    setStartLists(10);
}

void frm_T516::addAnalogGroup()
{
    RuledGroup *frame = addFrame(2, QStringLiteral("模拟量输出"), rect(60, 4680, 9765, 2175));
    // Three rows in a group a little higher than the two-row ones: the rows
    // sit closer under the header.
    GroupTable table{kAnalogColumns, kAnalogOutputs};
    table.headerTop = 390;
    table.firstRowTop = 750;
    addHeaders(frame, table, {35, 36, 30, 24, 31, 32, 34},
               {QStringLiteral("名称"), QStringLiteral("输出值 (mA)"), QStringLiteral("信号类型"),
                QStringLiteral("参数选择"), QStringLiteral("下限参数值"), QStringLiteral("上限参数值"),
                QStringLiteral("控制")});

    const int rowCaptions[] = {25, 26, 23};
    for (int k = 0; k < kAnalogOutputs; ++k) {
        mapAnalogControls(k);
        addLabel(rowCaptions[k], frame, QStringLiteral("输出%1").arg(k + 1), cellRect(table, 0, k), LabelKind::Caption);
        const QString output = QStringLiteral("analog%1.").arg(k + 1);
        const auto key = [&output](const char *what) { return output + QLatin1String(what); };
        addValueLabel(key("value"), frame, cellRect(table, 1, k));
        addValueCombo(key("type"), frame, kSignalTypeTexts, kSignalTypeTexts.first(), listRect(table, 2, k));
        addValueCombo(key("source"), frame, kSourceQuantityTexts, QStringLiteral("A相视在功率"), listRect(table, 3, k));
        addValueCombo(key("lower"), frame, {}, QStringLiteral("0"), listRect(table, 4, k), ListKind::Simple);
        addValueCombo(key("upper"), frame, {}, QStringLiteral("0"), listRect(table, 5, k), ListKind::Simple);
        addButton(5 + k, frame, QStringLiteral("设置"), cellRect(table, 6, k), look::kSetBackground);
    }
    addRulings(frame, table);
}

void frm_T516::mapAnalogControls(int k)
{
    const QString output = QStringLiteral("analog%1.").arg(k + 1);
    mapControl(output + QLatin1String("value"), {Target::Cell, 27 + k});
    mapControl(output + QLatin1String("type"), {Target::List, 4 + k});
    mapControl(output + QLatin1String("source"), {Target::List, 7 + k});
    mapControl(output + QLatin1String("lower"), {Target::List, 10 + k});
    mapControl(output + QLatin1String("upper"), {Target::List, 13 + k});
}

void frm_T516::Command1_Click(int Index)
{
    if (Index == kReadButton) {
        pollOperation();
        return;
    }
    // Any other index opens and closes the port and does nothing in between.
    operate([this, Index] {
        if (!setChannel(Index) && Index >= 5 && Index < 5 + kAnalogOutputs)
            setAnalogOutput(Index - 5);
    });
}

void frm_T516::setAnalogOutput(int k)
{
    const Setting &setting = *module().setting(QStringLiteral("analog%1").arg(k + 1));
    QVector<const Point *> points;
    for (const quint16 reg : setting.registers)
        points << module().pointAt(reg);
    // The whole row is checked before the first write: a bad value, or one
    // that was never read back, must not leave the module with half a new
    // configuration.
    for (const Point *point : points)
        requireChosen(*point);
    const auto box = [this](const Point *point) { return Combo1(targetOf(*point).index); };
    const int type = listEntry(box(points[0]), *points[0]);
    const int source = listEntry(box(points[1]), *points[1]);
    const int scale = limitScale(source);
    const quint16 lower = limitRegisterValue(points[2]->name(), box(points[2])->currentText(), scale);
    const quint16 upper = limitRegisterValue(points[3]->name(), box(points[3])->currentText(), scale);
    // Type, source, lower, upper: all four go out even after a failed one.
    reportSetting(setting, applySetting(setting, {quint16(type), quint16(source), lower, upper}));
}
