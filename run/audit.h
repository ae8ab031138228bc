#pragma once
// The audit of one meter, for verify and the line window's 验收: the whole
// poll, the kind it answers as, then each planned setting compared with
// what the module holds (一致, 不一致, 读取失败, 未核对). Not one write
// request: the link is only read.
#include "meterrun.h"

namespace hv52run {

// `expectedWord` names where the expected values come from in the texts:
// "计划" or "记录".
MeterAction auditOf(const QString &expectedWord);

} // namespace hv52run
