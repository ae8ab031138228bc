#pragma once
#include "convert.h"
#include "link.h"

#include <QGroupBox>
#include <QMap>
#include <QWidget>
#include <functional>

#include <QComboBox>
class QLabel;
class QPushButton;

namespace hv52 {

// A group frame that draws the rulings of the table inside it.
class RuledGroup : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;
    void addLine(QLine line) { m_lines.append(line); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<QLine> m_lines;
};

// The window of one module tool. It owns the serial link and the controls,
// which the handlers reach by array index (Label1(13), Combo1(2), ...), and
// holds the operations the three tools share: the input and relay rows of the
// poll, the input-mode and relay settings and the counter reset.
class ToolWindow : public QWidget
{
    Q_OBJECT
public:
    ToolWindow(const QString &title, int widthTwips, int heightTwips);
    ~ToolWindow() override;

    Link &link() { return m_link; }

    // Start-up: the command line (argument text after the program name), then
    // the first lists and the reset list on their first entries. Throws
    // LinkError for an argument that is no number.
    void Form_Load(const QString &commandLine);

    QLabel *Label1(int index) const { return m_labels.value(index); }
    QComboBox *Combo1(int index) const { return m_combos.value(index); }
    QPushButton *Command1(int index) const { return m_buttons.value(index); }
    QGroupBox *Frame1(int index) const { return m_frames.value(index); }
    QComboBox *Combo2() const { return m_combo2; }
    QPushButton *Command2() const { return m_command2; }

    virtual void Command1_Click(int Index) = 0;
    virtual void Command2_Click() = 0;

    // Marks a cell or list as filled from a failed read, or clears the mark.
    static void markFailed(QWidget *cell, bool failed);
    static bool isMarkedFailed(const QWidget *cell);
    // Puts text in an editable list: its item when one matches, else as text
    // with no item selected.
    static void showInList(QComboBox *box, const QString &text);

protected:
    // Twips of the layout (15 to a pixel at 96 dpi) to pixels of this screen.
    int px(int twips) const;
    QRect rect(int left, int top, int width, int height) const;

    enum class LabelKind { Title, Caption, Cell };
    QLabel *addLabel(int index, QWidget *parent, const QString &text, QRect geometry, LabelKind kind);
    enum class ListKind { DropDown, Simple };
    QComboBox *addCombo(int index, QWidget *parent, const QStringList &items, const QString &initialText,
                        QRect geometry, ListKind kind = ListKind::DropDown);
    QPushButton *addButton(int index, QWidget *parent, const QString &text, QRect geometry, const char *background);
    RuledGroup *addFrame(int index, const QString &caption, QRect geometry);
    // The top row: title label, reset list, reset button and read button.
    void addTopRow(const QString &title, const QStringList &resetItems, const QString &resetText, QRect resetList,
                   QRect resetButton, int readIndex, QRect readButton);
    // Hides the switched-off input-mode column (header and rows).
    void hideInputModeColumn(int rows);

    void setStartLists(int count) { m_startLists = count; }

    // Poll helpers. Each read writes its cell as soon as its answer is in.
    void beginPoll();
    void readCell(int cell, quint8 tp, quint8 CMD_L, const std::function<QString(const QString &)> &convert = {});
    void pollInputs(int count);
    void pollRelays();
    // Reads a value meant as a list position; a number the list does not hold
    // ends the poll with a message naming the value and the list.
    void readListPosition(int combo, quint8 CMD_L, const QString &listName);
    // Reads one register into the text of an editable list, as readCell does
    // for a cell.
    void readListText(int combo, quint8 CMD_L, const std::function<QString(const QString &)> &convert);
    void endPoll();

    // The settings and the reset every tool has.
    void setInputMode(int input);
    void setRelay(int buttonIndex);
    template <size_t N>
    void resetCounters(const std::array<ResetChoice, N> &choices);
    void reportSetting(bool confirmed);

    void closeEvent(QCloseEvent *event) override;

private:
    bool noteRead(QWidget *cell);
    void runResetCode(int listIndex, const ResetChoice *choices, size_t count);

    Link m_link;
    double m_scale = 1.0;
    int m_startLists = 0;
    int m_pollReads = 0;
    int m_pollFailures = 0;
    QMap<int, QLabel *> m_labels;
    QMap<int, QComboBox *> m_combos;
    QMap<int, QPushButton *> m_buttons;
    QMap<int, QGroupBox *> m_frames;
    QComboBox *m_combo2 = nullptr;
    QPushButton *m_command2 = nullptr;
};

template <size_t N>
void ToolWindow::resetCounters(const std::array<ResetChoice, N> &choices)
{
    runResetCode(m_combo2->currentIndex(), choices.data(), N);
}

// Runs a tool: parses the command line before the window appears (a bad
// argument ends the program with a message and exit status 2), then shows the
// window until it is closed.
int runTool(int argc, char **argv, const std::function<ToolWindow *()> &makeWindow);

} // namespace hv52
