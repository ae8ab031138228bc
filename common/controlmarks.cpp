#include "controlmarks.h"
#include "look.h"

#include <QLabel>
#include <QVariant>

namespace hv52 {

namespace {

const char *kMarkProperty = "hv52mark";
const char *kNormalStyleProperty = "hv52normalStyle";
const char *kNotReadProperty = "hv52notRead";

} // namespace

Mark ControlMarks::markOf(const QWidget *control)
{
    // An unmarked control carries none of the mark's properties (taking a
    // mark off removes them): asking for its list of them is much cheaper
    // than looking a property up by name, which the poll would do per cell.
    if (control->dynamicPropertyNames().isEmpty())
        return Mark::None;
    return Mark(control->property(kMarkProperty).toInt());
}

NotRead ControlMarks::notReadWhy(const QWidget *control)
{
    return NotRead(control->property(kNotReadProperty).toInt());
}

bool ControlMarks::isMarkedFailed(const QWidget *control)
{
    const Mark mark = markOf(control);
    return mark == Mark::Failed || mark == Mark::UnitUnknown;
}

void ControlMarks::setMark(QWidget *control, Mark mark, const QString &tip)
{
    const Mark old = markOf(control);
    if (old == mark && mark == Mark::None)
        return;
    if (old == Mark::None)
        control->setProperty(kNormalStyleProperty, control->styleSheet());
    // The mark goes on top of the control's own style (a free-text field has
    // its own), and taking it off gives that style back.
    const QString normal = control->property(kNormalStyleProperty).toString();
    const bool isLabel = qobject_cast<QLabel *>(control) != nullptr;
    control->setStyleSheet(mark == Mark::None ? normal : normal + look::markStyle(mark, isLabel));
    control->setToolTip(tip);
    if (mark == Mark::None) {
        // An invalid value removes a dynamic property.
        for (const char *name : {kMarkProperty, kNormalStyleProperty, kNotReadProperty})
            control->setProperty(name, QVariant());
    } else {
        control->setProperty(kMarkProperty, int(mark));
    }
}

void ControlMarks::setNotRead(QWidget *control, NotRead why)
{
    QString tip;
    switch (why) {
    case NotRead::EndedEarly:
        tip = QStringLiteral("本次召测未读到：召测提前结束，这里显示的是之前的内容。");
        break;
    case NotRead::PortNotOpen:
        tip = QStringLiteral("本次召测未读到：串口未能打开，这里显示的是之前的内容。");
        break;
    case NotRead::NeverPolled:
        tip = QStringLiteral("尚未召测：这里显示的是初始内容，不是模块中的值。");
        break;
    }
    control->setProperty(kNotReadProperty, int(why));
    setMark(control, Mark::NotRead, tip);
}

} // namespace hv52
