#pragma once
#include "ioframes.h"

// The window of cfg_t528: the input and relay groups of the T516 window with
// the same control indices, and no analog outputs. Command1(4) reads all.
class frm_T528 : public hv52::IoToolWindow
{
    Q_OBJECT
public:
    frm_T528();

    void Command1_Click(int Index) override;
};
