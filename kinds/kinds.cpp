#include "kinds.h"

#include "t516module.h"
#include "t528module.h"
#include "t540module.h"

#include <QStringList>

namespace hv52 {

const QVector<ModuleKind> &moduleKinds()
{
    static const QVector<ModuleKind> kinds = {
        {QStringLiteral("t516"), QStringLiteral("2 路输入、2 路继电器、3 路模拟量输出"), &t516Module},
        {QStringLiteral("t540"), QStringLiteral("7 路输入"), &t540Module},
        {QStringLiteral("t528"), QStringLiteral("2 路输入、2 路继电器"), &t528Module},
    };
    return kinds;
}

const ModuleKind *moduleKind(const QString &name)
{
    for (const ModuleKind &kind : moduleKinds()) {
        if (kind.name == name)
            return &kind;
    }
    return nullptr;
}

QString kindNames()
{
    QStringList names;
    for (const ModuleKind &kind : moduleKinds())
        names << kind.name;
    const QString last = names.takeLast();
    return names.join(QStringLiteral("、")) + QStringLiteral(" 或 ") + last;
}

const QVector<KindProbe> &kindProbes()
{
    // Input 3 is the T540's alone, relay 1 the T516's and the T528's, analog
    // output 1 the T516's. A kind added later whose pattern matches another's
    // needs a probe of its own here (the tests check the patterns differ).
    static const QVector<KindProbe> probes = [] {
        QVector<KindProbe> list;
        for (const char *key : {"input3.count", "relay1.state", "analog1.value"}) {
            for (const ModuleKind &kind : moduleKinds()) {
                if (const Point *point = kind.def().point(QLatin1String(key))) {
                    list << KindProbe{point->key, point->address, point->pair};
                    break;
                }
            }
        }
        return list;
    }();
    return probes;
}

const ModuleKind *kindAnswering(const QVector<bool> &answered)
{
    const QVector<KindProbe> &probes = kindProbes();
    if (answered.size() != probes.size())
        return nullptr;
    for (const ModuleKind &kind : moduleKinds()) {
        bool match = true;
        for (int i = 0; i < probes.size() && match; ++i)
            match = (kind.def().point(probes[i].key) != nullptr) == answered[i];
        if (match)
            return &kind;
    }
    return nullptr;
}

} // namespace hv52
