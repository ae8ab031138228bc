#include "frm_t528.h"

using namespace hv52;

frm_T528::frm_T528() : IoToolWindow(QStringLiteral("HV52T528扩展模块"), 9885, 4635)
{
    QStringList resetItems;
    for (const ResetChoice &choice : kRelayInputResets)
        resetItems << QString::fromUtf8(choice.text);
    addTopRow(QStringLiteral("HV52T528扩展模块"), resetItems, resetItems.last(), rect(4170, 90, 3315, 300),
              rect(7530, 60, 1005, 375), kReadButton, rect(8790, 60, 1065, 375));
    addInputGroup();
    addRelayGroup();
    hideInputModeColumn(2);
    setStartLists(4);
}

void frm_T528::Command1_Click(int Index)
{
    // Any other index opens and closes the port and does nothing in between.
    link().run([this, Index] {
        switch (Index) {
        case 0:
        case 1:
            setInputMode(Index);
            break;
        case 2:
        case 3:
            setRelay(Index);
            break;
        case kReadButton:
            // The first twelve reads of the T516 poll.
            beginPoll();
            pollInputs(2);
            pollRelays();
            endPoll();
            break;
        default:
            break;
        }
    });
}

void frm_T528::Command2_Click()
{
    link().run([this] { resetCounters(kRelayInputResets); });
}
