#pragma once
#include "toolwindow.h"

#include <vector>

namespace hv52 {

// One group's table in twips relative to its group: a header row, then one
// row per channel at a fixed pitch.
struct TableColumn
{
    int left;
    int width;
};
struct GroupTable
{
    std::vector<TableColumn> columns;
    int rows;
    int headerTop = 420;
    int firstRowTop = 840;

    static constexpr int kHeaderHeight = 300;
    static constexpr int kRowPitch = 450;
    static constexpr int kRowHeight = 375;
    // A list is shorter than its row and sits in the row's middle.
    static constexpr int kListHeight = 300;
    static constexpr int kListInset = (kRowHeight - kListHeight) / 2;

    int rowTop(int row) const { return firstRowTop + kRowPitch * row; }
};

// A tool window with the digital-input group Frame1(0) and the relay-output
// group Frame1(1), which the T516 and T528 windows share with the same
// control indices:
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
    IoToolWindow(const QString &title, int heightTwips, Twips resetList, Twips resetButton, Twips readButton);

    // The reset: one code of the relay and input reset table.
    void Command2_Click() override;

protected:
    QRect headerRect(const GroupTable &table, int column) const;
    QRect cellRect(const GroupTable &table, int column, int row) const;
    // The header captions, one Label1 index per column.
    void addHeaders(RuledGroup *frame, const GroupTable &table, const std::vector<int> &labels, const QStringList &texts);
    // Rulings under the header, between the rows and between the columns.
    void addRulings(RuledGroup *frame, const GroupTable &table) const;

    // Buttons 0 and 1 set the input modes, 2 and 3 the relay commands; false,
    // doing nothing, for any other index.
    bool setChannel(int Index);
    // The input and relay reads: the first twelve of a poll.
    void pollChannels();

private:
    void addInputGroup();
    void addRelayGroup();
};

} // namespace hv52
