#include "t528module.h"

namespace hv52 {

const ModuleDef &t528Module()
{
    static const ModuleDef def = [] {
        ModuleDef d;
        d.name = QStringLiteral("t528");
        d.poll = inputPoints(2) + relayPoints(2);
        d.writeOnly = inputModePoints(2);
        d.settings = inputModeSettings(2) + relaySettings(2);
        d.resets = QVector<ResetChoice>(kRelayInputResets.begin(), kRelayInputResets.end());
        return d;
    }();
    return def;
}

} // namespace hv52
