// Windows: Qt's default font there is "MS Shell Dlg 2", which edit fields and
// lists use. Where that maps to a font without the Latin digits (Wine, a
// Windows without the Western fonts), the value boxes of the analog outputs
// stay empty after a poll. A family list with Latin and CJK glyphs fixes it:
// Windows' own Chinese UI fonts first, then the fonts Wine finds on Linux.
#include "platform.h"

#include <QApplication>
#include <QFont>

namespace hv52 {

void preparePlatform()
{
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Microsoft YaHei UI"), QStringLiteral("Microsoft YaHei"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Zen Hei")});
    QApplication::setFont(font);
}

} // namespace hv52
