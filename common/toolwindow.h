#pragma once
#include "controlmap.h"
#include "link.h"
#include "mark.h"
#include "module.h"
#include "windowlayout.h"
#include "windowrecord.h"

#include <QGroupBox>
#include <QMap>
#include <QWidget>
#include <functional>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QPushButton;

namespace hv52 {

// The window of one module tool. It owns the serial link and the controls,
// which are reached by array index (Label1(13), Combo1(2), ...), and maps the
// module client's results to them through its control map: the poll fills
// cells and lists, the set buttons read them. It knows no register address.
class ToolWindow : public QWidget
{
    Q_OBJECT
public:
    ToolWindow(const QString &title, int widthTwips, int heightTwips, const ModuleDef &module);
    ~ToolWindow() override;

    Link &link() { return m_link; }
    const ModuleDef &module() const { return m_client.module(); }

    // How messages reach the operator: text, and whether it is the OK/Cancel
    // question; true for OK. Replaceable so tests can answer boxes; the
    // line monitor's messages take the same way.
    using Messenger = std::function<bool(const QString &text, bool ask)>;
    void setMessenger(Messenger messenger);
    bool message(const QString &text, bool ask = false);

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
    // Which control shows each point of the module, by the point's key.
    const ControlMap &controls() const { return m_controls; }

    virtual void Command1_Click(int Index) = 0;
    // Stops a running poll (Esc, in the tool window or its line monitor);
    // false when no poll runs. A setting or reset runs to its end.
    bool stopPoll();
    // The reset: the code of the entry chosen in Combo2.
    void Command2_Click();

    // What this window did to its module since it opened.
    const WindowRecord &operations() const { return m_record; }
    // The commissioning record of this window's module, made from
    // operations() as of now.
    RunRecord commissioningRecord() const;
    // "调试记录-T516-地址1-20261207-1830.html"
    QString recordFileName(const QDateTime &now) const;
    // The context menu's "保存调试记录…" (Ctrl+S): asks for a file name, then
    // saveRecordTo() it. Ignored while an operation runs, as the buttons are.
    QAction *saveRecordAction() const { return m_saveRecord; }
    void saveRecord();
    // Writes the record to path (its format by the extension) and says how
    // it went: the path on success, else the file and the reason. A file
    // already there stays whole unless the new one is complete.
    bool saveRecordTo(const QString &path);
    // Stands in for the save dialog: given the suggested path, the chosen
    // one (empty: cancelled). Tests answer the dialog this way.
    using FileChooser = std::function<QString(const QString &suggested)>;
    void setRecordFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

protected:
    // Twips of the layout (15 to a pixel at 96 dpi) to pixels of this screen.
    int px(int twips) const { return m_layout.px(twips); }
    QRect rect(int left, int top, int width, int height) const { return m_layout.rect(left, top, width, height); }

    enum class LabelKind {
        Title,
        Caption,
        Cell
    };
    QLabel *addLabel(int index, QWidget *parent, const QString &text, QRect geometry, LabelKind kind);
    enum class ListKind {
        DropDown,
        Simple
    };
    QComboBox *addCombo(int index, QWidget *parent, const QStringList &items, const QString &initialText,
                        QRect geometry, ListKind kind = ListKind::DropDown);
    // The controls that show a module value, at the index the control map
    // gives the module's point `key`: the index is written once, in the map.
    QLabel *addValueLabel(const QString &key, QWidget *parent, QRect geometry);
    QComboBox *addValueCombo(const QString &key, QWidget *parent, const QStringList &items, const QString &initialText,
                             QRect geometry, ListKind kind = ListKind::DropDown);
    QPushButton *addButton(int index, QWidget *parent, const QString &text, QRect geometry, const char *background);
    RuledGroup *addFrame(int index, const QString &caption, QRect geometry);
    // The top row: title label, reset list, reset button and read button.
    void addTopRow(const QString &title, const QString &resetText, QRect resetList, QRect resetButton, int readIndex,
                   QRect readButton);

    // Tables inside a group: header captions (one Label1 index a column),
    // cells, and the rulings under the header, between the rows and columns.
    QRect headerRect(const GroupTable &table, int column) const { return m_layout.headerRect(table, column); }
    QRect cellRect(const GroupTable &table, int column, int row) const { return m_layout.cellRect(table, column, row); }
    QRect listRect(const GroupTable &table, int column, int row, int width = 0) const
    {
        return m_layout.listRect(table, column, row, width);
    }
    void addHeaders(RuledGroup *frame, GroupTable &table, const std::vector<int> &labels, const QStringList &texts);
    void addRulings(RuledGroup *frame, const GroupTable &table) const;
    // The digital-input group Frame1(0), a row for each input of the module,
    // with its input-mode column switched off (hidden).
    void addInputGroup(int heightTwips);

    // Maps a point of the module to its control, beyond those every tool
    // has (ControlMap::inputsAndRelays); before the control is added.
    void mapControl(const QString &key, Target target) { m_controls.add(key, target); }
    void setStartLists(int count) { m_startLists = count; }
    // The control the map gives the point; a point without one is a fault
    // of the program.
    Target targetOf(const Point &point) const;
    ModuleClient &client() { return m_client; }

    // Runs one button operation on the link; its error path's text, if any,
    // reaches the operator once the port is closed.
    RunResult operate(const std::function<void()> &work);

    // The read-all poll as a button operation: the port opened, every read
    // of the module's poll into its control as its answer arrives, then the
    // closing message. Controls the poll did not reach (it ended early, or
    // the port did not open) are marked as not read in this poll.
    void pollOperation();
    // The settings every tool has; each refuses, before anything is sent, a
    // control that does not show a value the operator can stand by.
    void setInputMode(int input);
    void setRelay(int relay);
    // Writes a setting's registers and keeps what became of each in the
    // window's record, also when an error of the link ends it.
    QVector<WriteResult> applySetting(const Setting &setting, const QVector<quint16> &values);
    // The outcome of a set button's writes: the first line as the tools have
    // always worded it, then why the first failed write failed.
    void reportSetting(const Setting &setting, const QVector<WriteResult> &results);
    // Throws when the control shows a value of a failed read or one this poll
    // did not reach, naming it: such a value must never be written back.
    void requireChosen(const Point &point) const;

    void closeEvent(QCloseEvent *event) override;

    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void poll();
    void showReading(const Reading &reading);
    // Runs `work`; when an error ends it, `recordError` gets its text first.
    static void keepingErrors(const std::function<void()> &work,
                              const std::function<void(const QString &)> &recordError);
    // Marks the poll's controls from `from` on as not read, and why.
    void markNotRead(int from, NotRead why);
    // The line added when every exchange of an operation timed out.
    QString silenceHint() const;
    QWidget *control(const Point &point) const;
    // The index of the point `key`, which must be of `kind`.
    int targetIndex(const QString &key, Target::Kind kind) const;

    Link m_link;
    ModuleClient m_client;
    ControlMap m_controls;
    Messenger m_messenger;
    WindowRecord m_record;
    QAction *m_saveRecord = nullptr;
    FileChooser m_chooseFile;
    WindowLayout m_layout;
    int m_startLists = 0;
    QMap<int, QLabel *> m_labels;
    QMap<int, QComboBox *> m_combos;
    QMap<int, QPushButton *> m_buttons;
    QMap<int, QGroupBox *> m_frames;
    QComboBox *m_combo2 = nullptr;
    QPushButton *m_command2 = nullptr;
    bool m_polling = false;        // a poll's reads are under way (Esc stops them)
    bool m_stopRequested = false;  // Esc was pressed during this poll
    int m_pollCompleted = 0;       // reads of the running poll that have ended
    QVector<Verdict> m_pollFailed; // why the failed reads of the running poll failed
};

// Runs a tool: parses the command line before the window appears (a bad
// argument ends the program with a message and exit status 2), then shows the
// window until it is closed.
int runTool(int argc, char **argv, const std::function<ToolWindow *()> &makeWindow);

} // namespace hv52
