#include "controlmap.h"

namespace hv52 {

ControlMap ControlMap::inputsAndRelays(int inputs, int relays)
{
    ControlMap map;
    for (int n = 0; n < inputs; ++n) {
        const QString input = QStringLiteral("input%1.").arg(n + 1);
        map.add(input + QLatin1String("count"), {Target::Cell, 13 + 3 * n});
        map.add(input + QLatin1String("state"), {Target::Cell, 14 + 3 * n});
        map.add(input + QLatin1String("on_time"), {Target::Cell, 15 + 3 * n});
        map.add(input + QLatin1String("mode"), {Target::List, n});
    }
    for (int k = 0; k < relays; ++k) {
        const QString relay = QStringLiteral("relay%1.").arg(k + 1);
        map.add(relay + QLatin1String("count"), {Target::Cell, 19 + 2 * k});
        map.add(relay + QLatin1String("state"), {Target::Cell, 20 + 2 * k});
        map.add(relay + QLatin1String("command"), {Target::List, 2 + k});
    }
    return map;
}

std::optional<Target> ControlMap::find(const QString &key) const
{
    const auto it = m_targets.constFind(key);
    if (it == m_targets.constEnd())
        return std::nullopt;
    return *it;
}

} // namespace hv52
