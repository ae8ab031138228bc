#include "toolwindow.h"
#include "controlmarks.h"
#include "hints.h"
#include "linemonitor.h"
#include "linkerror.h"
#include "look.h"
#include "messagebox.h"
#include "operationtext.h"
#include "platform.h"
#include "recordfile.h"
#include "systemtext.h"
#include "valuelist.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>

namespace hv52 {

namespace {

// The input table has the columns of every module's input group, so the
// three tools line up: name, count, state, ON time, and the mode column.
const std::vector<TableColumn> kInputColumns = {{120, 1200}, {1440, 2160}, {3720, 1440}, {5280, 2160}, {7560, 2085}};

} // namespace

ToolWindow::ToolWindow(const QString &title, int widthTwips, int heightTwips, const ModuleDef &module)
    : m_client(m_link, module), m_controls(ControlMap::inputsAndRelays(module.inputs(), module.relays())),
      m_record(module)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        m_layout = WindowLayout(screen->logicalDotsPerInch() / 96.0);
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    setFont(look::songFont(9));
    setFixedSize(px(widthTwips), px(heightTwips));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    // F12 and the context menu open the line monitor; it records from now on.
    LineMonitor::attach(this, m_link, module);
    // Beside the monitor's entry: what was done here, for the inspector.
    m_saveRecord = new QAction(QStringLiteral("保存调试记录…"), this);
    m_saveRecord->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m_saveRecord->setShortcutContext(Qt::WindowShortcut);
    connect(m_saveRecord, &QAction::triggered, this, &ToolWindow::saveRecord);
    addAction(m_saveRecord);
}

ToolWindow::~ToolWindow() = default;

void ToolWindow::setMessenger(Messenger messenger)
{
    m_messenger = std::move(messenger);
    LineMonitorWindow::Messenger forMonitor;
    if (m_messenger)
        forMonitor = [this](const QString &text) { message(text); };
    if (LineMonitor *monitor = LineMonitor::of(this))
        monitor->setMessenger(forMonitor);
}

bool ToolWindow::message(const QString &text, bool ask)
{
    if (m_messenger)
        return m_messenger(text, ask);
    return showMessageBox(this, text, ask);
}

void ToolWindow::Form_Load(const QString &commandLine)
{
    m_link.setArgs(GetCommandLine(commandLine, 5));
    for (int i = 0; i < m_startLists; ++i)
        Combo1(i)->setCurrentIndex(0);
    m_combo2->setCurrentIndex(0);
    // The lists and limit boxes that show the module's settings start on
    // their first entries, which are not the module's: until a poll reads
    // them or the operator chooses, no set button may send them. The reset
    // list is a command to choose, not a setting of the module.
    for (const Point &point : module().poll) {
        if (targetOf(point).kind == Target::List)
            ControlMarks::setNotRead(control(point), NotRead::NeverPolled);
    }
    // Text put in by the program shows from its start, not scrolled to its end.
    for (QComboBox *box : findChildren<QComboBox *>())
        box->lineEdit()->setCursorPosition(0);
}

QLabel *ToolWindow::addLabel(int index, QWidget *parent, const QString &text, QRect geometry, LabelKind kind)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QStringLiteral("Label1_%1").arg(index));
    label->setGeometry(geometry);
    switch (kind) {
    case LabelKind::Title:
        label->setFont(look::titleFont());
        label->setStyleSheet(look::kTitleStyle);
        break;
    case LabelKind::Caption:
        label->setFont(look::songFont(10.5, true));
        label->setStyleSheet(look::kCaptionStyle);
        label->setAlignment(Qt::AlignCenter);
        break;
    case LabelKind::Cell:
        label->setFont(look::songFont(14.25));
        label->setStyleSheet(look::kCellStyle);
        label->setAlignment(Qt::AlignCenter);
        break;
    }
    m_labels.insert(index, label);
    return label;
}

QComboBox *ToolWindow::addCombo(int index, QWidget *parent, const QStringList &items, const QString &initialText,
                                QRect geometry, ListKind kind)
{
    const QString name = index < 0 ? QStringLiteral("Combo2") : QStringLiteral("Combo1_%1").arg(index);
    QComboBox *box = ValueList::create(parent, name, items, initialText, geometry, kind == ListKind::Simple);
    if (index >= 0)
        m_combos.insert(index, box);
    else
        m_combo2 = box;
    return box;
}

Target ToolWindow::targetOf(const Point &point) const
{
    const std::optional<Target> target = m_controls.find(point.key);
    // A window and a module definition that do not match: a fault of the program.
    if (!target)
        qFatal("point %s of module %s has no control", qPrintable(point.key), qPrintable(module().name));
    return *target;
}

int ToolWindow::targetIndex(const QString &key, Target::Kind kind) const
{
    const Point *point = module().point(key);
    // A window and a module definition that do not match: a fault of the program.
    if (!point)
        qFatal("module %s has no point %s", qPrintable(module().name), qPrintable(key));
    const Target target = targetOf(*point);
    if (target.kind != kind)
        qFatal("point %s of module %s is shown by another kind of control", qPrintable(key), qPrintable(module().name));
    return target.index;
}

QLabel *ToolWindow::addValueLabel(const QString &key, QWidget *parent, QRect geometry)
{
    return addLabel(targetIndex(key, Target::Cell), parent, QString(), geometry, LabelKind::Cell);
}

QComboBox *ToolWindow::addValueCombo(const QString &key, QWidget *parent, const QStringList &items,
                                     const QString &initialText, QRect geometry, ListKind kind)
{
    return addCombo(targetIndex(key, Target::List), parent, items, initialText, geometry, kind);
}

QPushButton *ToolWindow::addButton(int index, QWidget *parent, const QString &text, QRect geometry,
                                   const char *background)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(index < 0 ? QStringLiteral("Command2") : QStringLiteral("Command1_%1").arg(index));
    // Enter presses the focused button, as Space does.
    button->setAutoDefault(true);
    button->setGeometry(geometry);
    button->setFont(look::songFont(10.5));
    button->setStyleSheet(look::buttonStyle(background));
    if (index >= 0) {
        m_buttons.insert(index, button);
        connect(button, &QPushButton::clicked, this, [this, index] { Command1_Click(index); });
    } else {
        m_command2 = button;
        connect(button, &QPushButton::clicked, this, [this] { Command2_Click(); });
    }
    return button;
}

RuledGroup *ToolWindow::addFrame(int index, const QString &caption, QRect geometry)
{
    auto *frame = new RuledGroup(caption, this);
    frame->setObjectName(QStringLiteral("Frame1_%1").arg(index));
    frame->setGeometry(geometry);
    frame->setFont(look::songFont(12));
    frame->setStyleSheet(look::kGroupStyle);
    m_frames.insert(index, frame);
    return frame;
}

void ToolWindow::addTopRow(const QString &title, const QString &resetText, QRect resetList, QRect resetButton,
                           int readIndex, QRect readButton)
{
    QStringList resetItems;
    for (const ResetChoice &choice : module().resets)
        resetItems << QString::fromUtf8(choice.text);
    addLabel(12, this, title, rect(60, 0, 4605, 495), LabelKind::Title);
    addCombo(-1, this, resetItems, resetText, resetList);
    addButton(-1, this, QStringLiteral("复位"), resetButton, look::kSetBackground);
    addButton(readIndex, this, QStringLiteral("召测"), readButton, look::kReadBackground);
}

void ToolWindow::addHeaders(RuledGroup *frame, GroupTable &table, const std::vector<int> &labels,
                            const QStringList &texts)
{
    for (size_t c = 0; c < labels.size(); ++c)
        addLabel(labels[c], frame, texts[int(c)], headerRect(table, int(c)), LabelKind::Caption);
}

void ToolWindow::addRulings(RuledGroup *frame, const GroupTable &table) const
{
    for (const QLine &line : m_layout.rulings(table))
        frame->addLine(line);
}

void ToolWindow::addInputGroup(int heightTwips)
{
    const int rows = module().inputs();
    RuledGroup *frame = addFrame(0, QStringLiteral("数字量输入"), rect(60, 540, 9765, heightTwips));
    GroupTable table{kInputColumns, rows};
    addHeaders(frame, table, {0, 1, 2, 3, 4},
               {QStringLiteral("名称"), QStringLiteral("输入次数"), QStringLiteral("输入状态"),
                QStringLiteral("输入ON时间"), QStringLiteral("设置")});
    for (int n = 0; n < rows; ++n) {
        addLabel(5 + n, frame, QStringLiteral("输入%1").arg(n + 1), cellRect(table, 0, n), LabelKind::Caption);
        const QString input = QStringLiteral("input%1.").arg(n + 1);
        int column = 1;
        for (const char *what : {"count", "state", "on_time"})
            addValueLabel(input + QLatin1String(what), frame, cellRect(table, column++, n));
        QComboBox *mode = addValueCombo(input + QLatin1String("mode"), frame, kInputModeTexts, kInputModeTexts.at(1),
                                        listRect(table, 4, n));
        // The button lies over the middle of its list.
        const TableColumn &set = table.columns[4];
        constexpr int buttonWidth = 735;
        addButton(n, frame, QStringLiteral("设置"),
                  rect(set.left + (set.width - buttonWidth) / 2, table.rowTop(n), buttonWidth, GroupTable::kRowHeight),
                  look::kSetBackground);
        // The input-mode setting is switched off: its column is hidden.
        mode->setVisible(false);
        Command1(n)->setVisible(false);
    }
    Label1(4)->setVisible(false);
    addRulings(frame, table);
}

QWidget *ToolWindow::control(const Point &point) const
{
    const Target target = targetOf(point);
    if (target.kind == Target::Cell)
        return Label1(target.index);
    return Combo1(target.index);
}

void ToolWindow::showReading(const Reading &r)
{
    const Point &point = *r.point;
    QWidget *widget = control(point);
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        label->setText(r.text);
    } else if (auto *box = qobject_cast<QComboBox *>(widget)) {
        switch (point.show) {
        case Show::SignalType:
        case Show::Source: {
            // Setting the same entry again costs a round of signals and a
            // relayout of its text; what the operator typed over it is
            // replaced all the same.
            const int item = int(point.listTexts().indexOf(r.text));
            if (box->currentIndex() != item || box->currentText() != r.text)
                box->setCurrentIndex(item);
            box->lineEdit()->setCursorPosition(0);
            break;
        }
        case Show::Limit:
            if (box->currentText() != r.text)
                box->setEditText(r.text);
            break;
        default:
            ValueList::show(box, r.text);
            break;
        }
    }
    if (!r.ok()) {
        ControlMarks::setMark(
            widget, Mark::Failed,
            QStringLiteral("读取失败（%1）：这里显示的不是读回的值。").arg(outcomeText(r.result.verdict)));
    } else if (r.scaleUnknown) {
        ControlMarks::setMark(
            widget, Mark::UnitUnknown,
            QStringLiteral("单位不明：本输出的参数选择读取失败，这里按列表第一项的单位换算，不可信。"));
    } else {
        ControlMarks::setMark(widget, Mark::None);
    }
}

RunResult ToolWindow::operate(const std::function<void()> &work)
{
    m_stopRequested = false;
    const RunResult result = m_link.run(work);
    if (result.aborted && m_stopRequested) {
        message(OperationText::pollStopped(int(module().poll.size()), m_pollCompleted, m_pollFailed));
    } else if (!result.error.isEmpty()) {
        message(result.error);
    }
    m_stopRequested = false;
    return result;
}

void ToolWindow::pollOperation()
{
    // A press during another operation is ignored, as the link ignores it.
    if (m_link.isBusy())
        return;
    bool started = false;
    m_pollCompleted = 0;
    m_pollFailed.clear();
    // Esc stops the poll whichever of the tool's windows has the focus: the
    // tool window or its line monitor.
    qApp->installEventFilter(this);
    const RunResult result = operate([this, &started] {
        started = true;
        poll();
    });
    qApp->removeEventFilter(this);
    // The port did not open: nothing shown comes from this poll.
    if (result.started && !started) {
        markNotRead(0, NotRead::PortNotOpen);
        m_record.addPoll(QDateTime::currentDateTime(), {}, QStringLiteral("串口未能打开，未读取"));
    }
}

bool ToolWindow::stopPoll()
{
    if (!m_polling || !m_link.isBusy())
        return false;
    m_stopRequested = true;
    m_link.abort();
    return true;
}

void ToolWindow::keyPressEvent(QKeyEvent *event)
{
    // Esc ends a poll (on a dead line it would take all its timeouts); a
    // setting or reset runs to its end: half a setting is worse than a wait.
    if (event->key() == Qt::Key_Escape && stopPoll())
        return;
    QWidget::keyPressEvent(event);
}

bool ToolWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Installed on the application while a poll runs: Esc in any window of
    // this tool (its line monitor is a window of its own) stops the poll.
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        if (const auto *widget = qobject_cast<const QWidget *>(watched)) {
            const QWidget *window = widget->window();
            if ((window == this || window->parentWidget() == this) && stopPoll())
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString ToolWindow::silenceHint() const
{
    const LineSettings &line = m_link.line();
    return hv52::silenceHint(line.given >= 1 ? line.address : 0, m_link.portLabel(), line.given >= 3 ? line.speed : 0);
}

void ToolWindow::markNotRead(int from, NotRead why)
{
    const QVector<Point> &points = module().poll;
    for (int i = from; i < points.size(); ++i)
        ControlMarks::setNotRead(control(points[i]), why);
}

void ToolWindow::poll()
{
    const QVector<Point> &points = module().poll;
    m_pollCompleted = 0;
    m_pollFailed.clear();
    m_polling = true;
    const QDateTime started = QDateTime::currentDateTime();
    QVector<Reading> readings; // as shown while the poll ran
    PollResult result;
    // The poll's own readings are final: a cell shown while it ran whose
    // read failed at its end is shown anew, with its mark.
    const auto showFinal = [&](const QVector<Reading> &final) {
        for (int i = 0; i < final.size(); ++i) {
            const Reading &r = final[i];
            const int at = r.index;
            const auto shown =
                std::find_if(readings.begin(), readings.end(), [at](const Reading &s) { return s.index == at; });
            if (shown == readings.end() || r.ok() != shown->ok() || r.text != shown->text
                || r.scaleUnknown != shown->scaleUnknown || r.result.verdict.outcome != shown->result.verdict.outcome)
                showReading(r);
        }
        readings = final;
    };
    const auto endedEarly = [&](const QString &stoppedBy) {
        showFinal(m_client.lastReadings());
        m_pollCompleted = int(readings.size());
        m_pollFailed.clear();
        for (const Reading &r : readings) {
            if (!r.ok())
                m_pollFailed << r.result.verdict;
        }
        m_polling = false;
        // What this poll did not reach still shows an earlier value: say so.
        markNotRead(m_pollCompleted, NotRead::EndedEarly);
        m_record.addPoll(started, readings,
                         m_stopRequested ? QStringLiteral("召测已中止，未读取") : QStringLiteral("召测中止，未读取"),
                         stoppedBy);
    };
    try {
        result = m_client.poll([&](const Reading &r) {
            const auto shown =
                std::find_if(readings.begin(), readings.end(), [&r](const Reading &s) { return s.index == r.index; });
            if (shown != readings.end()) {
                *shown = r; // read again at the end of the poll
            } else {
                ++m_pollCompleted;
                readings << r;
            }
            showReading(r);
        });
    } catch (const LinkError &e) {
        // The read under way failed for this error (a value that is no
        // position of its list, a port that failed).
        endedEarly(e.text());
        throw;
    } catch (...) {
        endedEarly(QString());
        throw;
    }
    showFinal(result.readings);
    m_polling = false;
    m_record.addPoll(started, result.readings);
    QVector<Verdict> failed;
    for (const Reading &r : result.readings) {
        if (!r.ok())
            failed << r.result.verdict;
    }
    message(OperationText::pollFinished(int(points.size()), result.failures, failed, silenceHint()));
}

void ToolWindow::requireChosen(const Point &point) const
{
    const QWidget *widget = control(point);
    const Mark mark = ControlMarks::markOf(widget);
    if (mark == Mark::None)
        return;
    throw LinkError(OperationText::refusal(point, mark, ControlMarks::notReadWhy(widget)));
}

void ToolWindow::setInputMode(int input)
{
    const Setting &setting = module().settings.at(input);
    const Point &point = *module().pointAt(setting.registers.first());
    auto *box = static_cast<QComboBox *>(control(point));
    const int mode = box->currentIndex();
    if (mode < 0) {
        throw LinkError(QStringLiteral("输入%1的输入方式“%2”不是列表中的选项，设置未发送。")
                            .arg(input + 1)
                            .arg(box->currentText()));
    }
    reportSetting(setting, applySetting(setting, {quint16(mode)}));
}

void ToolWindow::setRelay(int relay)
{
    const Setting &setting = *module().setting(QStringLiteral("relay%1").arg(relay + 1));
    const Point &point = *module().pointAt(setting.registers.first());
    requireChosen(point);
    // The box's text is compared as it stands. A text that is none of the
    // four commands (a typo, a prefix, a number read back) is refused: it
    // used to write 0 and switch the relay to alarm output unasked.
    const QString text = static_cast<QComboBox *>(control(point))->currentText();
    const std::optional<quint16> command = relayCommandValue(text);
    if (!command) {
        throw LinkError(QStringLiteral("%1“%2”不是控制方式（应为%3），设置未发送。")
                            .arg(point.caption(), text, kRelayCommandTexts.join(QStringLiteral("、"))));
    }
    reportSetting(setting, applySetting(setting, {*command}));
}

void ToolWindow::keepingErrors(const std::function<void()> &work,
                               const std::function<void(const QString &)> &recordError)
{
    try {
        work();
    } catch (const LinkError &e) {
        recordError(e.text());
        throw;
    } catch (...) {
        // The window closed under the operation.
        recordError(QStringLiteral("操作已中止"));
        throw;
    }
}

QVector<WriteResult> ToolWindow::applySetting(const Setting &setting, const QVector<quint16> &values)
{
    const QDateTime time = QDateTime::currentDateTime();
    QVector<WriteResult> results;
    keepingErrors([&] { m_client.apply(setting, values, [&results](int, const WriteResult &r) { results << r; }); },
                  [&](const QString &error) { m_record.addSetting(time, setting, values, results, error); });
    m_record.addSetting(time, setting, values, results);
    return results;
}

void ToolWindow::reportSetting(const Setting &setting, const QVector<WriteResult> &results)
{
    if (std::all_of(results.begin(), results.end(), [](const WriteResult &r) { return r.ok(); })) {
        message(QStringLiteral("设置成功！"));
        return;
    }
    QVector<QString> names;
    for (const quint16 reg : setting.registers) {
        const Point *point = module().pointAt(reg);
        names << (point ? point->caption() : setting.name);
    }
    message(OperationText::failedWrites(QStringLiteral("设置失败！"), names, results, silenceHint()));
}

void ToolWindow::Command2_Click()
{
    operate([this] {
        const QVector<ResetChoice> &choices = module().resets;
        const int listIndex = m_combo2->currentIndex();
        if (listIndex < 0 || listIndex >= choices.size()) {
            throw LinkError(
                QStringLiteral("复位项目“%1”不是列表中的选项，复位命令未发送。").arg(m_combo2->currentText()));
        }
        const ResetChoice &choice = choices[listIndex];
        const QDateTime time = QDateTime::currentDateTime();
        WriteResult result;
        keepingErrors([&] { result = m_client.reset(choice); },
                      [&](const QString &error) { m_record.addReset(time, choice, result, error); });
        m_record.addReset(time, choice, result);
        message(result.ok()
                    ? QStringLiteral("复位成功!")
                    : OperationText::failedWrites(QStringLiteral("复位失败!"),
                                                  {QStringLiteral("复位 %1").arg(QString::fromUtf8(choice.text))},
                                                  {result}, silenceHint()));
    });
}

void ToolWindow::closeEvent(QCloseEvent *event)
{
    // Closing during a wait ends the operation: port closed, no more messages.
    m_link.abort();
    QWidget::closeEvent(event);
}

RunRecord ToolWindow::commissioningRecord() const
{
    return m_record.record(RecordFile::line(module().name, m_link.line(), m_link.portLabel()),
                           QDateTime::currentDateTime());
}

QString ToolWindow::recordFileName(const QDateTime &now) const
{
    return RecordFile::fileName(module().name, m_link.line(), now);
}

void ToolWindow::saveRecord()
{
    // Not while an operation waits on the line: its outcome belongs in the record.
    if (m_link.isBusy())
        return;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = QDir(folder).filePath(recordFileName(QDateTime::currentDateTime()));
    QString path;
    if (m_chooseFile) {
        path = m_chooseFile(suggested);
    } else {
        const QStringList filters = RecordFile::filters();
        QString filter = filters.first();
        path = QFileDialog::getSaveFileName(this, QStringLiteral("保存调试记录"), suggested,
                                            filters.join(QStringLiteral(";;")), &filter);
        path = RecordFile::withFilterExtension(path, filter);
    }
    if (path.isEmpty())
        return;
    saveRecordTo(path);
}

bool ToolWindow::saveRecordTo(const QString &path)
{
    QString text;
    const bool saved = RecordFile::save(path, commissioningRecord(), &text);
    message(text);
    return saved;
}

int runTool(int argc, char **argv, const std::function<ToolWindow *()> &makeWindow)
{
    QApplication app(argc, argv);
    preparePlatform();
    installQtChinese();
    std::unique_ptr<ToolWindow> window(makeWindow());
    try {
        window->Form_Load(argumentText(QCoreApplication::arguments()));
    } catch (const LinkError &e) {
        showMessageBox(nullptr, e.text());
        return 2;
    }
    window->show();
    return app.exec();
}

} // namespace hv52
