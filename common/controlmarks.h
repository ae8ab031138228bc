#pragma once
// The mark a value control carries beyond its value, kept on the control
// itself: its colour over the control's own style, its tool tip and, for a
// value not from this poll, why. The window sets marks; the set buttons and
// the tests read them.
#include "mark.h"

#include <QString>

class QWidget;

namespace hv52 {

class ControlMarks
{
public:
    static Mark markOf(const QWidget *control);
    // Why a control marked NotRead is not from this poll.
    static NotRead notReadWhy(const QWidget *control);
    // A failure mark: a failed read or a unit that came from one.
    static bool isMarkedFailed(const QWidget *control);
    // Puts `mark` on the control with `tip`; Mark::None gives the control
    // its own style back.
    static void setMark(QWidget *control, Mark mark, const QString &tip = QString());
    // Marks the control NotRead, with a tip that says why.
    static void setNotRead(QWidget *control, NotRead why);
};

} // namespace hv52
