#pragma once
#include <QString>

class QWidget;

namespace hv52 {

// The one message box of the tools: modal, no icon, the program's name as its
// title, "确定" only, or "确定" and "取消" when ask is true. True for "确定".
bool showMessageBox(QWidget *parent, const QString &text, bool ask = false);

} // namespace hv52
