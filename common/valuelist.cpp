#include "valuelist.h"
#include "controlmarks.h"
#include "look.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>

namespace hv52 {

QComboBox *ValueList::create(QWidget *parent, const QString &name, const QStringList &items, const QString &initialText,
                             QRect geometry, bool freeText)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    // No completion: a typed prefix must never turn into a list entry that
    // the operator did not choose. Nor may Enter or leaving the box select
    // the entry whose text was typed (QComboBox does both on its own): only
    // choosing from the list selects one. Enter adds nothing to the list.
    box->setCompleter(nullptr);
    box->setInsertPolicy(QComboBox::NoInsert);
    QObject::disconnect(box->lineEdit(), &QLineEdit::editingFinished, box, nullptr);
    QObject::disconnect(box->lineEdit(), &QLineEdit::returnPressed, box, nullptr);
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setEditText(initialText);
    box->setGeometry(geometry);
    box->setFont(look::songFont(9));
    box->view()->setFont(look::listFont(9));
    if (freeText)
        box->setStyleSheet(look::kFreeTextStyle);
    look::fitLongestEntry(box);
    // Typed text that is not the selected item's leaves no item selected, so
    // the handlers see list index -1 as they expect.
    QLineEdit *edit = box->lineEdit();
    QObject::connect(edit, &QLineEdit::textEdited, box, [box, edit](const QString &text) {
        ControlMarks::setMark(box, Mark::None);
        if (box->currentIndex() < 0 || box->itemText(box->currentIndex()) == text)
            return;
        const int cursor = edit->cursorPosition();
        box->setCurrentIndex(-1);
        edit->setText(text);
        edit->setCursorPosition(cursor);
    });
    // A value the operator chose is one to stand by, whatever was read before.
    QObject::connect(box, &QComboBox::activated, box, [box] {
        ControlMarks::setMark(box, Mark::None);
        box->lineEdit()->setCursorPosition(0);
    });
    return box;
}

void ValueList::show(QComboBox *box, const QString &text)
{
    // The entries compared one by one: QComboBox::findText goes through the
    // model's match(), many times dearer for a list this short.
    int item = -1;
    for (int i = 0; i < box->count() && item < 0; ++i) {
        if (box->itemText(i) == text)
            item = i;
    }
    if (box->currentIndex() != item || box->currentText() != text)
        box->setCurrentIndex(item);
    if (item < 0)
        box->setEditText(text);
    box->lineEdit()->setCursorPosition(0);
}

} // namespace hv52
