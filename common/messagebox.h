#pragma once
#include <QString>

class QWidget;

namespace hv52 {

// The one message box of the tools: modal, no icon, the program's name as its
// title, "确定" only, or "确定" and "取消" when ask is true. True for "确定".
bool showMessageBox(QWidget *parent, const QString &text, bool ask = false);

// Qt's own texts (the file dialog, its overwrite question, the context menus
// of text boxes) in Chinese: Qt's translation of them, qtbase_zh_CN.qm from
// Qt's translations folder (Debian's qt6-translations-l10n), installed on the
// application. False when it is not there: Qt's texts stay English.
bool installQtChinese();

} // namespace hv52
