#pragma once
#include "ioframes.h"
#include "t516module.h"

// The window of cfg_t516: two digital inputs and two relay outputs (the
// groups it shares with cfg_t528), three analog outputs and the reset list.
//
// Controls by index, beyond the shared groups: Command1(4) reads all;
// analog output k (0..2) has the row caption Label1(25), Label1(26),
// Label1(23), the present value Label1(27 + k), the signal type list
// Combo1(4 + k), the source quantity list Combo1(7 + k), the limit boxes
// Combo1(10 + k) (lower) and Combo1(13 + k) (upper) and its set button
// Command1(5 + k); the headers are Label1(35, 36, 30, 24, 31, 32, 34).
class frm_T516 : public hv52::IoToolWindow
{
    Q_OBJECT
public:
    static constexpr int kAnalogOutputs = hv52::kAnalogOutputs;

    frm_T516();

    void Command1_Click(int Index) override;

private:
    // Analog output k's controls by its points' keys (the indices above).
    void mapAnalogControls(int k);
    void addAnalogGroup();
    void setAnalogOutput(int k);
};
