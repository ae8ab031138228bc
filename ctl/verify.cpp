// verify: an audit of a line or a site that writes nothing. Every meter is
// polled whole and each setting compared with what it should hold: a plan's
// value, or what an earlier commissioning record left it with.
#include "audit.h"
#include "commands.h"
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "planfile.h"
#include "recordplan.h"
#include "siterun.h"
#include "steps.h"

#include "kinds.h"

#include <algorithm>

namespace hv52ctl {

using namespace hv52;

int verifyCommand(const Options &o)
{
    if (!o.fromRecord.isEmpty()) {
        expectWords(o, 0, QStringLiteral("verify --from-record FILE"));
        return siteCommand(o, sitePlanFromRecord(o), auditOf(QStringLiteral("记录")), QStringLiteral("记录"));
    }
    expectWords(o, 1, o.entry->usage);
    const QString &file = o.words[0];
    if (isSitePlan(planObject(file)))
        return siteCommand(o, sitePlanFromFile(file, o), auditOf(QStringLiteral("计划")));
    Options line = o;
    const RunPlan plan = planFromFile(file, line);
    if (!line.line.hasPlace())
        throw UsageError(QStringLiteral(
            "缺少线路：请在计划的 line 中给出 port 或 device，或用 --port N、--device 路径 指定，请求未发送。"));
    return siteCommand(o, siteOfOne(line.line, plan), auditOf(QStringLiteral("计划")));
}

} // namespace hv52ctl
