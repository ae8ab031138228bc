#pragma once
// The hint added when nothing answered at all: what to check on the line.
// The windows and hv52ctl give the same words.
#include <QString>

namespace hv52 {

// "模块无应答：请检查总线地址 1、串口 COM3、波特率 9600 与接线。"
QString silenceHint(int address, const QString &port, int speed);
// Behind a serial device server: its line name, and the server's own serial
// settings instead of a speed.
QString gatewaySilenceHint(int address, const QString &line);

} // namespace hv52
