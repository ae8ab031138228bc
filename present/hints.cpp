#include "hints.h"

namespace hv52 {

QString silenceHint(int address, const QString &port, int speed)
{
    return QStringLiteral("模块无应答：请检查总线地址 %1、串口 %2、波特率 %3 与接线。")
        .arg(address)
        .arg(port)
        .arg(speed);
}

QString gatewaySilenceHint(int address, const QString &line)
{
    return QStringLiteral("模块无应答：请检查总线地址 %1、%2、网关的串口设置（波特率等）与接线。")
        .arg(address)
        .arg(line);
}

} // namespace hv52
