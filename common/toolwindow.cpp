#include "toolwindow.h"
#include "linkerror.h"
#include "messagebox.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace hv52 {

namespace {

// The layout asks for 宋体 and 隶书; where they are missing (any Linux box)
// the Debian CJK fonts stand in.
const QStringList kSongFamilies = {QStringLiteral("SimSun"), QStringLiteral("宋体"),
                                   QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei"),
                                   QStringLiteral("Noto Sans CJK SC")};
const QStringList kLiFamilies = {QStringLiteral("LiSu"), QStringLiteral("隶书"), QStringLiteral("STLiti"),
                                 QStringLiteral("Noto Serif CJK SC"), QStringLiteral("WenQuanYi Zen Hei")};

QFont songFont(double points, bool bold = false)
{
    QFont font;
    font.setFamilies(kSongFamilies);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

const char *kCellStyle = "QLabel { background: #FFFFEE; color: black; }";
const char *kFailedCellStyle = "QLabel { background: #FFD6D6; color: #A00000; }";
const char *kFailedListStyle = "QComboBox { background: #FFD6D6; color: #A00000; }";
const char *kFailedProperty = "readFailed";
const char *kNormalStyleProperty = "normalStyle";

QString failedTip()
{
    return QStringLiteral("读取失败：模块无应答或应答有误，这里显示的不是读回的值。");
}

} // namespace

void RuledGroup::paintEvent(QPaintEvent *event)
{
    QGroupBox::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(QColor(0x80, 0x80, 0x80), 1));
    painter.drawLines(m_lines);
}

ToolWindow::ToolWindow(const QString &title, int widthTwips, int heightTwips)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        m_scale = screen->logicalDotsPerInch() / 96.0;
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint);
    setFont(songFont(9));
    setFixedSize(px(widthTwips), px(heightTwips));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    m_link.setMessenger([this](const QString &text, bool ask) { return showMessageBox(this, text, ask); });
}

ToolWindow::~ToolWindow() = default;

int ToolWindow::px(int twips) const
{
    return qRound(twips / 15.0 * m_scale);
}

QRect ToolWindow::rect(int left, int top, int width, int height) const
{
    return QRect(px(left), px(top), px(width), px(height));
}

void ToolWindow::Form_Load(const QString &commandLine)
{
    m_link.setArgs(GetCommandLine(commandLine, 5));
    for (int i = 0; i < m_startLists; ++i)
        Combo1(i)->setCurrentIndex(0);
    m_combo2->setCurrentIndex(0);
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
    case LabelKind::Title: {
        QFont font;
        font.setFamilies(kLiFamilies);
        font.setPointSizeF(21.75);
        font.setBold(true);
        label->setFont(font);
        label->setStyleSheet(QStringLiteral("QLabel { color: #404040; }"));
        break;
    }
    case LabelKind::Caption:
        label->setFont(songFont(10.5, true));
        label->setStyleSheet(QStringLiteral("QLabel { color: #0000C0; }"));
        label->setAlignment(Qt::AlignCenter);
        break;
    case LabelKind::Cell:
        label->setFont(songFont(14.25));
        label->setStyleSheet(QString::fromLatin1(kCellStyle));
        label->setAlignment(Qt::AlignCenter);
        break;
    }
    m_labels.insert(index, label);
    return label;
}

QComboBox *ToolWindow::addCombo(int index, QWidget *parent, const QStringList &items, const QString &initialText,
                                QRect geometry, ListKind kind)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(index < 0 ? QStringLiteral("Combo2") : QStringLiteral("Combo1_%1").arg(index));
    box->setEditable(true);
    // Enter in the box must never add the typed text to the list.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setEditText(initialText);
    box->setGeometry(geometry);
    box->setFont(songFont(9));
    if (kind == ListKind::Simple)
        box->setStyleSheet(QStringLiteral("QComboBox::drop-down { width: 0px; border: 0px; }"));
    // Typed text that is not the selected item's leaves no item selected, so
    // the handlers see list index -1 as they expect.
    connect(box->lineEdit(), &QLineEdit::textEdited, box, [box](const QString &text) {
        if (box->currentIndex() < 0 || box->itemText(box->currentIndex()) == text)
            return;
        QLineEdit *edit = box->lineEdit();
        const int cursor = edit->cursorPosition();
        box->setCurrentIndex(-1);
        edit->setText(text);
        edit->setCursorPosition(cursor);
    });
    if (index >= 0)
        m_combos.insert(index, box);
    else
        m_combo2 = box;
    return box;
}

QPushButton *ToolWindow::addButton(int index, QWidget *parent, const QString &text, QRect geometry,
                                   const char *background)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(index < 0 ? QStringLiteral("Command2") : QStringLiteral("Command1_%1").arg(index));
    button->setGeometry(geometry);
    button->setFont(songFont(10.5));
    button->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid #808080; }"
                                         "QPushButton:pressed { background: #A0A0E0; }")
                              .arg(QLatin1String(background)));
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
    frame->setFont(songFont(12));
    m_frames.insert(index, frame);
    return frame;
}

void ToolWindow::addTopRow(const QString &title, const QStringList &resetItems, const QString &resetText,
                           QRect resetList, QRect resetButton, int readIndex, QRect readButton)
{
    addLabel(12, this, title, rect(60, 0, 4605, 495), LabelKind::Title);
    addCombo(-1, this, resetItems, resetText, resetList);
    addButton(-1, this, QStringLiteral("复位"), resetButton, "#C0C0FF");
    addButton(readIndex, this, QStringLiteral("召测"), readButton, "#FFFFFF");
}

void ToolWindow::hideInputModeColumn(int rows)
{
    Label1(4)->setVisible(false);
    for (int i = 0; i < rows; ++i) {
        Combo1(i)->setVisible(false);
        Command1(i)->setVisible(false);
    }
}

void ToolWindow::markFailed(QWidget *cell, bool failed)
{
    if (cell->property(kFailedProperty).toBool() == failed)
        return;
    cell->setProperty(kFailedProperty, failed);
    // The mark goes on top of the control's own style (a simple list hides its
    // drop-down button), and taking it off gives that style back.
    if (failed) {
        cell->setProperty(kNormalStyleProperty, cell->styleSheet());
        const bool isLabel = qobject_cast<QLabel *>(cell) != nullptr;
        cell->setStyleSheet(cell->styleSheet()
                            + QString::fromLatin1(isLabel ? kFailedCellStyle : kFailedListStyle));
    } else {
        cell->setStyleSheet(cell->property(kNormalStyleProperty).toString());
    }
    cell->setToolTip(failed ? failedTip() : QString());
}

bool ToolWindow::isMarkedFailed(const QWidget *cell)
{
    return cell->property(kFailedProperty).toBool();
}

void ToolWindow::showInList(QComboBox *box, const QString &text)
{
    const int item = box->findText(text, Qt::MatchExactly);
    box->setCurrentIndex(item);
    if (item < 0)
        box->setEditText(text);
    box->lineEdit()->setCursorPosition(0);
}

bool ToolWindow::noteRead(QWidget *cell)
{
    const bool failed = m_link.lastExchangeFailed();
    ++m_pollReads;
    if (failed)
        ++m_pollFailures;
    markFailed(cell, failed);
    return failed;
}

void ToolWindow::beginPoll()
{
    m_pollReads = 0;
    m_pollFailures = 0;
}

void ToolWindow::readCell(int cell, quint8 tp, quint8 CMD_L, const std::function<QString(const QString &)> &convert)
{
    const QString raw = m_link.para_call(tp, 0x0E, CMD_L);
    Label1(cell)->setText(convert ? convert(raw) : raw);
    noteRead(Label1(cell));
}

void ToolWindow::pollInputs(int count)
{
    for (int n = 0; n < count; ++n) {
        readCell(13 + 3 * n, 1, quint8(0x40 + 3 * n));
        readCell(14 + 3 * n, 0, quint8(0x42 + 3 * n),
                 [](const QString &raw) { return stateText(raw, QStringLiteral("ON"), QStringLiteral("OFF")); });
        readCell(15 + 3 * n, 1, quint8(0x5E + 2 * n), [](const QString &raw) { return dividedText(raw, 10); });
    }
}

void ToolWindow::pollRelays()
{
    for (int k = 0; k < 2; ++k) {
        readCell(19 + 2 * k, 1, quint8(0x20 + 3 * k));
        readCell(20 + 2 * k, 0, quint8(0x22 + 3 * k),
                 [](const QString &raw) { return stateText(raw, QStringLiteral("动作"), QStringLiteral("恢复")); });
        const quint32 command = m_link.para_call(0, 0x0E, quint8(0x80 + k)).toUInt();
        QComboBox *box = Combo1(2 + k);
        // A command without a text of its own shows as its number, so it is
        // never mistaken for the other relay's command.
        showInList(box, relayCommandText(command).value_or(QString::number(command)));
        noteRead(box);
    }
}

void ToolWindow::readListPosition(int combo, quint8 CMD_L, const QString &listName)
{
    const QString raw = m_link.para_call(0, 0x0E, CMD_L);
    const qlonglong position = raw.toLongLong();
    QComboBox *box = Combo1(combo);
    if (position >= box->count()) {
        throw LinkError(QStringLiteral("读回的%1 %2 不是列表中的选项（应为 0～%3），召测中止。")
                            .arg(listName, raw)
                            .arg(box->count() - 1));
    }
    box->setCurrentIndex(int(position));
    noteRead(box);
}

void ToolWindow::readListText(int combo, quint8 CMD_L, const std::function<QString(const QString &)> &convert)
{
    const QString raw = m_link.para_call(0, 0x0E, CMD_L);
    QComboBox *box = Combo1(combo);
    box->setEditText(convert ? convert(raw) : raw);
    noteRead(box);
}

void ToolWindow::endPoll()
{
    QString text = QStringLiteral("召测数据，完成！");
    if (m_pollFailures > 0)
        text += QStringLiteral("\n%1 次读取中有 %2 次失败。").arg(m_pollReads).arg(m_pollFailures);
    m_link.message(text);
}

void ToolWindow::reportSetting(bool confirmed)
{
    m_link.message(QStringLiteral("设置") + (confirmed ? QStringLiteral("成功！") : QStringLiteral("失败！")));
}

void ToolWindow::setInputMode(int input)
{
    const int mode = Combo1(input)->currentIndex();
    if (mode < 0) {
        throw LinkError(QStringLiteral("输入%1的输入方式“%2”不是列表中的选项，设置未发送。")
                            .arg(input + 1)
                            .arg(Combo1(input)->currentText()));
    }
    reportSetting(m_link.para_set(0x0E, quint8(0x8A + input), mode));
}

void ToolWindow::setRelay(int buttonIndex)
{
    const quint16 command = relayCommandValue(Combo1(buttonIndex)->currentText());
    reportSetting(m_link.para_set(0x0E, quint8(0x7E + buttonIndex), command));
}

void ToolWindow::runResetCode(int listIndex, const ResetChoice *choices, size_t count)
{
    if (listIndex < 0 || size_t(listIndex) >= count) {
        throw LinkError(QStringLiteral("复位项目“%1”不是列表中的选项，复位命令未发送。").arg(m_combo2->currentText()));
    }
    const bool confirmed = m_link.para_set(0x0B, 0x00, choices[listIndex].code);
    m_link.message(confirmed ? QStringLiteral("复位成功!") : QStringLiteral("复位失败!"));
}

void ToolWindow::closeEvent(QCloseEvent *event)
{
    // Closing during a wait ends the operation: port closed, no more messages.
    m_link.abort();
    QWidget::closeEvent(event);
}

int runTool(int argc, char **argv, const std::function<ToolWindow *()> &makeWindow)
{
    QApplication app(argc, argv);
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
