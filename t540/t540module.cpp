#include "t540module.h"

namespace hv52 {

const ModuleDef &t540Module()
{
    static const ModuleDef def = [] {
        ModuleDef d;
        d.name = QStringLiteral("t540");
        d.poll = inputPoints(kT540Inputs);
        d.writeOnly = inputModePoints(kT540Inputs);
        d.settings = inputModeSettings(kT540Inputs);
        d.resets = QVector<ResetChoice>(kSevenInputResets.begin(), kSevenInputResets.end());
        return d;
    }();
    return def;
}

} // namespace hv52
