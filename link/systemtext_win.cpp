// Windows' FormatMessage texts, in the words of Windows and of Wine (they
// differ: "Incorrect function." / "Invalid function."). A Chinese Windows
// gives Chinese texts, which pass through as "系统错误：…".
#include "systemtext.h"

#include <iterator>

namespace hv52 {

namespace {

const SystemTextKind kinds[] = {
    // ERROR_INVALID_FUNCTION: a COM name with no working port behind it.
    {"Incorrect function", "串口设备不存在或不支持该操作"},
    {"Invalid function", "串口设备不存在或不支持该操作"},
    {"cannot find the file", "无此文件或目录"},
    {"cannot find the path", "无此文件或目录"},
    {"File not found", "无此文件或目录"},
    {"Path not found", "无此文件或目录"},
    {"being used by another process", "已被另一程序占用"},
    {"Sharing violation", "已被另一程序占用"},
    {"Access is denied", "无权访问"},
    {"Access denied", "无权访问"},
    {"not enough space on the disk", "磁盘空间不足"},
    {"disk is full", "磁盘空间不足"},
    {"Disk full", "磁盘空间不足"},
    {"write protected", "文件系统为只读"},
    {"directory name is invalid", "路径中有一段不是目录"},
    {"filename or extension is too long", "文件名过长"},
    // A USB adapter pulled: the driver's handle is gone.
    {"not connected", "设备已断开"},
    {"disconnected", "设备已断开"},
    {"no longer available", "设备已断开"},
    {"does not exist", "设备已断开"},
    {"not functioning", "设备已断开或出错"},
    {"does not recognize the command", "设备已断开或出错"},
    {"handle is invalid", "设备已断开"},
    {"Invalid handle", "设备已断开"},
    {"has been aborted", "读写被中止（设备已断开？）"},
    {"semaphore timeout", "设备无响应"},
    {"pipe is being closed", "输出管道已关闭"},
    {"pipe has been ended", "输出管道已关闭"},
};

} // namespace

std::pair<const SystemTextKind *, const SystemTextKind *> systemTextKinds()
{
    return {std::begin(kinds), std::end(kinds)};
}

} // namespace hv52
