#include "systemtext.h"

#include <iterator>

namespace hv52 {

namespace {

// The C library's texts (strerror, on both systems) and Qt's own words for
// file errors. The system's own texts, which differ, are in
// systemtext_posix.cpp and systemtext_win.cpp.
const SystemTextKind commonKinds[] = {
    {"No space left on device", "磁盘空间不足"},
    {"Permission denied", "无权访问"},
    {"Operation not permitted", "无权访问"},
    {"Read-only file system", "文件系统为只读"},
    {"No such file or directory", "无此文件或目录"},
    {"not found", "无此文件或目录"},
    {"Is a directory", "是目录"},
    {"refers to a directory", "是目录"},
    {"Not a directory", "路径中有一段不是目录"},
    {"File name too long", "文件名过长"},
    {"Too many open files", "打开的文件过多"},
    {"Broken pipe", "输出管道已关闭"},
    {"File too large", "文件过大"},
};

const char *lookUp(const QString &text, const SystemTextKind *begin, const SystemTextKind *end)
{
    for (const SystemTextKind *k = begin; k != end; ++k) {
        if (text.contains(QLatin1String(k->text), Qt::CaseInsensitive))
            return k->chinese;
    }
    return nullptr;
}

} // namespace

QString systemErrorText(const QString &text)
{
    // Matched by content, not equality: Qt wraps some texts ("Error opening
    // X: Permission denied") and puts its own words on others.
    const auto [begin, end] = systemTextKinds();
    const char *chinese = lookUp(text, begin, end);
    if (!chinese)
        chinese = lookUp(text, std::begin(commonKinds), std::end(commonKinds));
    if (chinese)
        return QString::fromUtf8(chinese);
    if (text.trimmed().isEmpty())
        return QStringLiteral("未知系统错误");
    // The system ends its sentence ("管道中断。"); the message it goes
    // into ends its own.
    QString bare = text.trimmed();
    while (bare.endsWith(u'。') || bare.endsWith(u'.'))
        bare.chop(1);
    return QStringLiteral("系统错误：%1").arg(bare);
}

QString fileWriteError(const QString &path, const QString &systemText)
{
    return QStringLiteral("无法写入文件 %1：%2").arg(path, systemErrorText(systemText));
}

QString fileReadError(const QString &path, const QString &systemText)
{
    return QStringLiteral("无法读取文件 %1：%2").arg(path, systemErrorText(systemText));
}

} // namespace hv52
