// Linux's strerror texts that the C library elsewhere does not give.
#include "systemtext.h"

#include <iterator>

namespace hv52 {

namespace {

const SystemTextKind kinds[] = {
    {"Disk quota exceeded", "超出磁盘配额"},
    {"Inappropriate ioctl for device", "串口设备已断开或不是串口"},
    {"Input/output error", "输入输出错误（设备已断开？）"},
    {"No such device", "设备已断开"},
    {"Device or resource busy", "设备忙"},
    {"Resource temporarily unavailable", "设备暂时不可用"},
};

} // namespace

std::pair<const SystemTextKind *, const SystemTextKind *> systemTextKinds()
{
    return {std::begin(kinds), std::end(kinds)};
}

} // namespace hv52
