#pragma once
// What the commissioning benchmarks share: the line they commission (every
// 15th meter a T540 recorded only, every 10th a T528 with its relay
// commands inline, the rest T516s with a settings file of relay commands and
// the three analog outputs), as plan entries, and their arithmetic.
#include "sim/simulator.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <vector>

namespace benchplan {

using Clock = std::chrono::steady_clock;

inline double secondsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline hv52sim::Module kindAt(int address)
{
    if (address % 15 == 0)
        return hv52sim::Module::T540;
    if (address % 10 == 0)
        return hv52sim::Module::T528;
    return hv52sim::Module::T516;
}

// The T516s' settings file, "t516.json" beside the plan.
inline const QByteArray kT516Settings = R"({"module": "t516",
 "relay1.command": "host", "relay2.command": "alarm",
 "analog1.type": "4-20 mA", "analog1.source": 0, "analog1.lower": 0, "analog1.upper": 5,
 "analog2.type": "4-20 mA", "analog2.source": 1, "analog2.lower": 0, "analog2.upper": 5,
 "analog3.type": "4-20 mA", "analog3.source": 2, "analog3.lower": 0, "analog3.upper": 5}
)";

// Meters 1..`meters` as a plan's entries, each indented by `indent`: runs
// of T516s as address ranges, as a plan for a real line reads.
inline QString meterEntries(int meters, int indent)
{
    using hv52sim::Module;
    const QString pad(indent, u' ');
    QStringList entries;
    for (int a = 1; a <= meters;) {
        const Module kind = kindAt(a);
        if (kind == Module::T516) {
            int last = a;
            while (last + 1 <= meters && kindAt(last + 1) == Module::T516)
                ++last;
            const QString range = last == a ? QString::number(a) : QStringLiteral("\"%1-%2\"").arg(a).arg(last);
            entries << pad + QStringLiteral(R"({"address": %1, "module": "t516", "settings": "t516.json"})").arg(range);
            a = last + 1;
            continue;
        }
        if (kind == Module::T528)
            entries << pad
                           + QStringLiteral(R"({"address": %1, "module": "t528", )"
                                            R"("settings": {"relay1.command": "host", "relay2.command": "alarm"}})")
                                 .arg(a);
        else
            entries << pad + QStringLiteral(R"({"address": %1, "module": "t540"})").arg(a);
        ++a;
    }
    return entries.join(QStringLiteral(",\n"));
}

} // namespace benchplan
