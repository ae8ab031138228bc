#include "frm_t540.h"
#include "linkerror.h"

#include <QLabel>
#include <iterator>

namespace {

// Layout of the input table in twips, relative to its frame.
constexpr int kHeaderTop = 420;
constexpr int kHeaderHeight = 300;
constexpr int kFirstRowTop = 840;
constexpr int kRowPitch = 450;
constexpr int kRowHeight = 375;
constexpr int kTableLeft = 120;
constexpr int kTableRight = 9645;

struct Column
{
    int left;
    int width;
};
// 名称, 输入次数, 输入状态, 输入ON时间, 设置; the T516 and T528 input groups use the
// same columns, so the tools line up.
constexpr Column kColumns[] = {{120, 1200}, {1440, 2160}, {3720, 1440}, {5280, 2160}, {7560, 2085}};

constexpr int rowTop(int row) { return kFirstRowTop + kRowPitch * row; }

} // namespace

frm_T540::frm_T540() : ToolWindow(QStringLiteral("HV52T540扩展模块"), 9885, 4725)
{
    const QStringList resetItems = hv52::resetTexts(hv52::kSevenInputResets);
    addTopRow(QStringLiteral("HV52T540扩展模块"), resetItems, resetItems.first(), rect(4170, 90, 3315, 300),
              rect(7530, 60, 1005, 375), kReadButton, rect(8790, 60, 1065, 375));
    buildInputFrame();
    hideInputModeColumn(kInputs);
    setStartLists(kInputs);
    link().setContinueQuestion(true);
}

void frm_T540::buildInputFrame()
{
    hv52::RuledGroup *frame = addFrame(0, QStringLiteral("数字量输入"), rect(60, 540, 9765, 4065));

    const QStringList headers = {QStringLiteral("名称"), QStringLiteral("输入次数"), QStringLiteral("输入状态"),
                                 QStringLiteral("输入ON时间"), QStringLiteral("设置")};
    for (int c = 0; c < headers.size(); ++c) {
        addLabel(c, frame, headers[c], rect(kColumns[c].left, kHeaderTop, kColumns[c].width, kHeaderHeight),
                 LabelKind::Caption);
    }

    for (int i = 0; i < kInputs; ++i) {
        const int top = rowTop(i);
        auto cellRect = [&](int c) { return rect(kColumns[c].left, top, kColumns[c].width, kRowHeight); };
        addLabel(5 + i, frame, QStringLiteral("输入%1").arg(i + 1), cellRect(0), LabelKind::Caption);
        for (int c = 1; c <= 3; ++c)
            addLabel(12 + 3 * i + c, frame, QString(), cellRect(c), LabelKind::Cell);

        const Column &set = kColumns[4];
        addCombo(i, frame, hv52::kInputModeTexts, hv52::kInputModeTexts.at(1),
                 rect(set.left, top + 37, set.width, 300));
        // The button lies over the middle of its list, as in the T516 window.
        constexpr int buttonWidth = 735;
        addButton(i, frame, QStringLiteral("设置"),
                  rect(set.left + (set.width - buttonWidth) / 2, top, buttonWidth, kRowHeight), "#C0C0FF");
    }

    // Rulings: under the header, between the rows, and between the columns.
    const int tableTop = kHeaderTop - 60;
    const int tableBottom = rowTop(kInputs) - (kRowPitch - kRowHeight) / 2;
    for (int row = 0; row <= kInputs; ++row) {
        const int y = px(rowTop(row) - (kRowPitch - kRowHeight) / 2);
        frame->addLine(QLine(px(kTableLeft), y, px(kTableRight), y));
    }
    for (int c = 1; c < int(std::size(kColumns)); ++c) {
        const int x = px(kColumns[c].left - 60);
        frame->addLine(QLine(x, px(tableTop), x, px(tableBottom)));
    }
}

void frm_T540::Command1_Click(int Index)
{
    link().run([this, Index] {
        if (Index == kReadButton) {
            beginPoll();
            pollInputs(kInputs);
            endPoll();
            return;
        }
        // Only indices 0..6 have a list; any other would set a mode nobody chose.
        if (Index < 0 || Index >= kInputs)
            throw hv52::LinkError(QStringLiteral("没有第%1号设置按钮，设置未发送。").arg(Index));
        setInputMode(Index);
    });
}

void frm_T540::Command2_Click()
{
    link().run([this] { resetCounters(hv52::kSevenInputResets); });
}
