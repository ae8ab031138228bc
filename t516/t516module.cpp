#include "t516module.h"

namespace hv52 {

namespace {

ModuleDef build()
{
    ModuleDef d;
    d.name = QStringLiteral("t516");
    d.poll = inputPoints(2) + relayPoints(2);
    const auto row = [](int k) { return QStringLiteral("输出%1").arg(k + 1); };
    const auto key = [](int k, const char *what) {
        return QStringLiteral("analog%1.%2").arg(k + 1).arg(QLatin1String(what));
    };
    const auto point = [&](int k, const char *what, int address, const QString &column, Show show, int source = -1) {
        return Point{key(k, what), quint16(address), false, row(k), column, show, source};
    };
    for (int k = 0; k < kAnalogOutputs; ++k)
        d.poll << point(k, "value", 0x0E72 + k, QStringLiteral("输出值 (mA)"), Show::Hundredths);
    for (int k = 0; k < kAnalogOutputs; ++k)
        d.poll << point(k, "type", 0x0EB2 + 4 * k, QStringLiteral("信号类型"), Show::SignalType);
    const int firstSource = int(d.poll.size());
    for (int k = 0; k < kAnalogOutputs; ++k)
        d.poll << point(k, "source", 0x0EB3 + 4 * k, QStringLiteral("参数选择"), Show::Source);
    for (int k = 0; k < kAnalogOutputs; ++k) {
        const int source = firstSource + k;
        d.poll << point(k, "lower", 0x0EB4 + 4 * k, QStringLiteral("下限参数值"), Show::Limit, source)
               << point(k, "upper", 0x0EB5 + 4 * k, QStringLiteral("上限参数值"), Show::Limit, source);
    }
    d.writeOnly = inputModePoints(2);

    d.settings = inputModeSettings(2) + relaySettings(2);
    for (int k = 0; k < kAnalogOutputs; ++k) {
        const quint16 block = quint16(0x0EB2 + 4 * k);
        // Type, source, lower, upper: the order the module takes them in.
        d.settings << Setting{QStringLiteral("analog%1").arg(k + 1),
                              QStringLiteral("输出%1 模拟量输出").arg(k + 1),
                              {block, quint16(block + 1), quint16(block + 2), quint16(block + 3)}};
    }
    d.resets = QVector<ResetChoice>(kRelayInputResets.begin(), kRelayInputResets.end());
    return d;
}

} // namespace

const ModuleDef &t516Module()
{
    static const ModuleDef def = build();
    return def;
}

} // namespace hv52
