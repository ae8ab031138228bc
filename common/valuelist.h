#pragma once
// The editable lists of a tool window: the operator may type into them, and
// only choosing an entry selects one, so a set button sees list index -1 for
// any typed text. A list shows a value read from the module as its entry
// when one matches, else as text.
#include <QRect>
#include <QStringList>

class QComboBox;
class QWidget;

namespace hv52 {

class ValueList
{
public:
    // An editable list named `name` on `parent` with `items`, none selected,
    // showing `initialText`; `freeText` for a box with no entries to choose
    // (a limit), which looks like a text field. Typing or choosing takes the
    // mark off.
    static QComboBox *create(QWidget *parent, const QString &name, const QStringList &items, const QString &initialText,
                             QRect geometry, bool freeText);
    // Puts text in the list: its item when one matches, else as text with no
    // item selected.
    static void show(QComboBox *box, const QString &text);
};

} // namespace hv52
