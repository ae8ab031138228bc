#pragma once
#include "toolwindow.h"

namespace hv52 {

// A tool window with the digital-input group Frame1(0) and the relay-output
// group Frame1(1), which the T516 and T528 windows share with the same
// control indices (those of the value cells and lists as the module
// definitions name them):
//
//   inputs  headers Label1(0..4), rows Label1(5), Label1(6); cells
//           Label1(13..15) and Label1(16..18); mode lists Combo1(0), Combo1(1)
//           with their buttons Command1(0), Command1(1) (switched off)
//   relays  headers Label1(7), Label1(9), Label1(8), Label1(10); rows
//           Label1(11), Label1(33); cells Label1(19), Label1(20) and
//           Label1(21), Label1(22); command lists Combo1(2), Combo1(3) with
//           their buttons Command1(2), Command1(3)
class IoToolWindow : public ToolWindow
{
    Q_OBJECT
public:
    struct Twips
    {
        int left, top, width, height;
    };
    static constexpr int kReadButton = 4;

    // The window 9885 twips wide: its top row (title, the relay and input
    // reset list, the reset button and Command1(4) to read all, placed at the
    // given twips), the input and relay groups with the input-mode column
    // hidden, and their four lists put on their first entries at start-up.
    IoToolWindow(const QString &title, int heightTwips, const ModuleDef &module, Twips resetList, Twips resetButton,
                 Twips readButton);

protected:
    // Buttons 0 and 1 set the input modes, 2 and 3 the relay commands; false,
    // doing nothing, for any other index.
    bool setChannel(int Index);

private:
    void addRelayGroup();
};

} // namespace hv52
