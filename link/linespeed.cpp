#include "linespeed.h"

#include <QStringList>

namespace hv52 {

const QList<int> kStandardSpeeds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

QString standardSpeedsText()
{
    QStringList texts;
    for (int s : kStandardSpeeds)
        texts << QString::number(s);
    return texts.join(QStringLiteral("、"));
}

} // namespace hv52
