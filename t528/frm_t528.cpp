#include "frm_t528.h"
#include "t528module.h"

using namespace hv52;

frm_T528::frm_T528()
    : IoToolWindow(QStringLiteral("HV52T528扩展模块"), 4635, t528Module(), {4170, 90, 3315, 300}, {7530, 60, 1005, 375},
                   {8790, 60, 1065, 375})
{}

void frm_T528::Command1_Click(int Index)
{
    if (Index == kReadButton) {
        pollOperation();
        return;
    }
    // Any other index opens and closes the port and does nothing in between.
    operate([this, Index] { setChannel(Index); });
}
