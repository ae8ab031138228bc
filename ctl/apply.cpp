// apply: a settings file checked whole, then written group by group and
// read back.
#include "commands.h"
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "steps.h"

namespace hv52ctl {

using namespace hv52;

int applyCommand(const Options &o)
{
    expectWords(o, 2, o.entry->usage);
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString file = o.words[1];
    const QVector<Planned> planned = plannedFromFile(def, readInputFile(file), file);
    if (o.check) {
        int count = 0;
        for (const Planned &p : planned)
            count += int(p.values.size());
        printOut(QStringLiteral("文件 %1 检查通过：%2 个值可写入 %3。\n").arg(file).arg(count).arg(def.name.toUpper()));
        return Done;
    }
    if (planned.isEmpty() && !o.multiMeter()) {
        printOut(QStringLiteral("文件 %1 中没有可写入的值。\n").arg(file));
        return Done;
    }
    if (o.multiMeter()) {
        RunPlan plan = sameForEvery(o, def, planned, nullptr, true);
        plan.inputs << file;
        return runMeters(o, plan);
    }
    return writePlanned(o, def, QStringLiteral("apply"), planned);
}

} // namespace hv52ctl
