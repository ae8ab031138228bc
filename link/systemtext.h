#pragma once
#include <QString>

#include <utility>

// The system's own error texts (strerror, Qt's file and port messages) put in
// the operator's words by their kind.
namespace hv52 {

// "No space left on device" -> "磁盘空间不足"; "Permission denied" ->
// "无权访问"; a text of no known kind -> "系统错误：<text>".
QString systemErrorText(const QString &text);

// A file error for a message: "无法写入文件 PATH：磁盘空间不足".
QString fileWriteError(const QString &path, const QString &systemText);
QString fileReadError(const QString &path, const QString &systemText);

// A part of a system error text and its kind in Chinese.
struct SystemTextKind
{
    const char *text;
    const char *chinese;
};
// The texts only this system gives (systemtext_posix.cpp: Linux's strerror,
// systemtext_win.cpp: Windows' and Wine's FormatMessage texts, which are
// English on an English system), looked at before the common ones.
std::pair<const SystemTextKind *, const SystemTextKind *> systemTextKinds();

} // namespace hv52
