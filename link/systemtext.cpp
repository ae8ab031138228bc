#include "systemtext.h"

#include <QStringList>

namespace hv52 {

QString systemErrorText(const QString &text)
{
    // Matched by content, not equality: Qt wraps some texts ("Error opening
    // X: Permission denied") and puts its own words on others.
    struct Kind
    {
        const char *english;
        const char *chinese;
    };
    static const Kind kinds[] = {
        {"No space left on device", "磁盘空间不足"},
        {"Disk quota exceeded", "超出磁盘配额"},
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
        {"Inappropriate ioctl for device", "串口设备已断开或不是串口"},
        {"Input/output error", "输入输出错误（设备已断开？）"},
        {"No such device", "设备已断开"},
        {"Device or resource busy", "设备忙"},
        {"Resource temporarily unavailable", "设备暂时不可用"},
        {"Broken pipe", "输出管道已关闭"},
        {"File too large", "文件过大"},
    };
    for (const Kind &k : kinds) {
        if (text.contains(QLatin1String(k.english), Qt::CaseInsensitive))
            return QString::fromUtf8(k.chinese);
    }
    if (text.trimmed().isEmpty())
        return QStringLiteral("未知系统错误");
    return QStringLiteral("系统错误：%1").arg(text);
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
