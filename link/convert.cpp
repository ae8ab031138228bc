#include "convert.h"

#include <optional>

#include <cmath>

namespace hv52 {

QString stateText(const QString &raw, const QString &on, const QString &off)
{
    return raw.toULongLong() == kOnCode ? on : off;
}

namespace {

// A register value over a power of ten, in exact decimal digits: what the
// general path below gives for these, without going through a double. The
// poll converts most of its values this way.
std::optional<QString> decimalText(const QString &raw, double divisor)
{
    if (raw.isEmpty() || raw.size() > 18 || divisor < 1 || divisor > 1e9)
        return std::nullopt;
    quint64 value = 0;
    for (const QChar c : raw) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + quint64(c.unicode() - u'0');
    }
    int decimals = 0;
    quint64 scale = 1;
    while (double(scale) < divisor) {
        scale *= 10;
        ++decimals;
    }
    if (double(scale) != divisor)
        return std::nullopt;
    const quint64 whole = value / scale;
    quint64 fraction = value % scale;
    QString text = QString::number(whole);
    if (fraction == 0)
        return text;
    while (fraction % 10 == 0) {
        fraction /= 10;
        --decimals;
    }
    return text + u'.' + QString::number(fraction).rightJustified(decimals, u'0');
}

} // namespace

QString dividedText(const QString &raw, double divisor)
{
    if (std::optional<QString> exact = decimalText(raw, divisor))
        return *exact;
    const double value = raw.toDouble() / divisor;
    if (value == 0 || !std::isfinite(value))
        return QStringLiteral("0");
    // Fixed notation with as many decimals as 15 significant digits need,
    // then the zeros that carry nothing are dropped.
    const int magnitude = int(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::max(0, 14 - magnitude);
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    return text;
}

const QStringList kRelayCommandTexts = {
    QStringLiteral("报警输出"),
    QStringLiteral("上位机控制"),
    QStringLiteral("控制继电器动作"),
    QStringLiteral("控制继电器恢复"),
};

static constexpr std::array<quint16, 4> kRelayCommands = {0, 1, kOnCode, kReleaseCode};

std::optional<QString> relayCommandText(quint32 command)
{
    for (size_t i = 0; i < kRelayCommands.size(); ++i) {
        if (kRelayCommands[i] == command)
            return kRelayCommandTexts[int(i)];
    }
    return std::nullopt;
}

std::optional<quint16> relayCommandValue(const QString &text)
{
    const int i = int(kRelayCommandTexts.indexOf(text));
    if (i < 0)
        return std::nullopt;
    return kRelayCommands[size_t(i)];
}

const QStringList kInputModeTexts = {
    QStringLiteral("带时标的ON/OFF输入"),
    QStringLiteral("不带时标的ON/OFF输入"),
};

const std::array<ResetChoice, 6> kRelayInputResets = {{
    {"继电器输出M-R1计数器", 0x6003},
    {"继电器输出M-R2计数器", 0x6004},
    // Both relays are one code of their own, not 0x600F.
    {"所有继电器输出计数器", 0x6FFF},
    {"数字量输入M-S1计数器及ON持续时间", 0x6010},
    {"数字量输入M-S2计数器及ON持续时间", 0x6011},
    {"所有数字量输入计数器及ON持续时间", 0x601F},
}};

const std::array<ResetChoice, 8> kSevenInputResets = {{
    {"数字量输入M-S1计数器及ON持续时间", 0x6010},
    {"数字量输入M-S2计数器及ON持续时间", 0x6011},
    {"数字量输入M-S3计数器及ON持续时间", 0x6012},
    {"数字量输入M-S4计数器及ON持续时间", 0x6013},
    {"数字量输入M-S5计数器及ON持续时间", 0x6014},
    {"数字量输入M-S6计数器及ON持续时间", 0x6015},
    {"数字量输入M-S7计数器及ON持续时间", 0x6016},
    {"所有数字量输入计数器及ON持续时间", 0x601F},
}};

const QStringList kSignalTypeTexts = {QStringLiteral("4-20 mA"), QStringLiteral("0- 5 V")};

const QStringList kSourceQuantityTexts = {
    QStringLiteral("平均电流"),    QStringLiteral("A相电流"),     QStringLiteral("B相电流"),
    QStringLiteral("C相电流"),     QStringLiteral("平均相电压"),  QStringLiteral("A相电压"),
    QStringLiteral("B相电压"),     QStringLiteral("C相电压"),     QStringLiteral("平均线电压"),
    QStringLiteral("AB线电压"),    QStringLiteral("BC线电压"),    QStringLiteral("CA线电压"),
    QStringLiteral("总有功功率"),  QStringLiteral("A相有功功率"), QStringLiteral("B相有功功率"),
    QStringLiteral("C相有功功率"), QStringLiteral("总无功功率"),  QStringLiteral("A相无功功率"),
    QStringLiteral("B相无功功率"), QStringLiteral("C相无功功率"), QStringLiteral("总视在功率"),
    QStringLiteral("A相视在功率"), QStringLiteral("B相视在功率"), QStringLiteral("C相视在功率"),
    QStringLiteral("总功率因数"),  QStringLiteral("A相功率因数"), QStringLiteral("B相功率因数"),
    QStringLiteral("C相功率因数"), QStringLiteral("频率"),        QStringLiteral("关闭报警"),
};

int limitScale(int position)
{
    if ((position >= 0 && position <= 3) || (position >= 24 && position <= 27))
        return 1000; // currents and power factors
    if (position >= 4 && position <= 12)
        return 10; // voltages, and the total active power with them
    if (position == 28)
        return 100; // frequency
    return 1;       // powers, "关闭报警" and no choice at all
}

} // namespace hv52
