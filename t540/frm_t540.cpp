#include "frm_t540.h"
#include "linkerror.h"
#include "t540module.h"

frm_T540::frm_T540() : ToolWindow(QStringLiteral("HV52T540扩展模块"), 9885, 4725, hv52::t540Module())
{
    addTopRow(QStringLiteral("HV52T540扩展模块"), QString::fromUtf8(module().resets.first().text),
              rect(4170, 90, 3315, 300), rect(7530, 60, 1005, 375), kReadButton, rect(8790, 60, 1065, 375));
    addInputGroup(4065);
    setStartLists(module().inputs());
    // This module's writes ask before going on after repeated failures.
    link().setContinueQuestion(
        [this](qint16 failures) { return message(QStringLiteral("通讯失败：%1次,继续吗？").arg(failures), true); });
}

void frm_T540::Command1_Click(int Index)
{
    if (Index == kReadButton) {
        pollOperation();
        return;
    }
    operate([this, Index] {
        // Only indices 0..6 have a list; any other would set a mode nobody chose.
        if (Index < 0 || Index >= module().inputs())
            throw hv52::LinkError(QStringLiteral("没有第%1号设置按钮，设置未发送。").arg(Index));
        setInputMode(Index);
    });
}
