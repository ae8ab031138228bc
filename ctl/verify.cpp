// verify: an audit of a line or a site that writes nothing.
#include "commands.h"
#include "ctl.h"

namespace hv52ctl {

int verifyCommand(const Options &)
{
    throw UsageError(QStringLiteral("verify 尚未完成，请求未发送。"));
}

} // namespace hv52ctl
