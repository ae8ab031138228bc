#pragma once
#include "toolwindow.h"

// The window of cfg_t540: seven digital inputs, each with a count, a state and
// an ON time, a switched-off input-mode setting per input, and the reset list.
//
// Controls by index: Command1(7) reads all, Command1(0..6) set the mode of
// input 1..7 from Combo1(0..6), Command2 resets the counters chosen in Combo2.
// Row k (1..7) has caption Label1(4 + k) and cells Label1(10 + 3k .. 12 + 3k),
// as the module definition places them.
class frm_T540 : public hv52::ToolWindow
{
    Q_OBJECT
public:
    static constexpr int kReadButton = 7;

    frm_T540();

    void Command1_Click(int Index) override;
};
