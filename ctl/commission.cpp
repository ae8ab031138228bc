// commission: a line of meters from a plan file naming each meter's kind and
// settings, or from a scan's findings with settings by kind, checked whole
// before the first exchange and then commissioned meter after meter; a
// site's plan or scan, every line at the same time.
#include "commands.h"
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "planfile.h"
#include "siterun.h"

namespace hv52ctl {

int commissionCommand(const Options &o)
{
    Options options = o;
    RunPlan plan;
    if (!o.fromScan.isEmpty()) {
        expectWords(o, 0, QStringLiteral("commission --from-scan FILE [--settings t516=a.json,...]"));
        const QJsonObject scan = scanObject(o.fromScan);
        // A scan of several lines: a site.
        if (isSitePlan(scan))
            return siteCommand(o, sitePlanFromScan(o, scan), commissionMeter);
        int speed = 0;
        plan = planFromScan(o, &speed);
        // The speed the meters were found at, unless told otherwise.
        options.line.speed = o.given.contains(QStringLiteral("speed")) ? o.line.speed : speed;
    } else {
        if (!o.settingsByKind.isEmpty())
            throw UsageError(QStringLiteral("--settings 只与 --from-scan 一起使用，请求未发送。"));
        expectWords(o, 1, o.entry->usage);
        if (isSitePlan(planObject(o.words[0])))
            return siteCommand(o, sitePlanFromFile(o.words[0], o), commissionMeter);
        plan = planFromFile(o.words[0], options);
    }
    if (!options.line.hasPlace())
        throw UsageError(QStringLiteral(
            "缺少线路：请在计划的 line 中给出 port 或 device，或用 --port N、--device 路径 指定，请求未发送。"));
    return runMeters(options, plan);
}

} // namespace hv52ctl
