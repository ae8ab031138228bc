#pragma once
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

// Display conversions and fixed tables shared by the three module tools. Plain
// functions: no widget and no port in sight.
namespace hv52 {

constexpr quint16 kOnCode = 20560;      // 0x5050: input on, relay operated, "operate" command
constexpr quint16 kReleaseCode = 12336; // 0x3030: "restore" relay command

// "on" when the read-back text is exactly 20560, "off" for anything else.
QString stateText(const QString &raw, const QString &on, const QString &off);

// The read-back number divided by divisor, as plain decimal text: no exponent,
// no grouping, no trailing zeros, up to 15 significant digits.
QString dividedText(const QString &raw, double divisor);

// Relay commands as the operator reads and chooses them.
extern const QStringList kRelayCommandTexts; // 0, 1, 0x5050, 0x3030 in that order
// Text for a relay command read back; none for a number without one.
std::optional<QString> relayCommandText(quint32 command);
// Command for one of the four texts, exactly as it stands; none for any other.
std::optional<quint16> relayCommandValue(const QString &text);

extern const QStringList kInputModeTexts; // list index = value written

// Reset choices: list text and the code written to the reset register.
struct ResetChoice
{
    const char *text;
    quint16 code;
};
extern const std::array<ResetChoice, 6> kRelayInputResets; // T516 and T528
extern const std::array<ResetChoice, 8> kSevenInputResets; // T540

// Analog outputs of the T516.
extern const QStringList kSignalTypeTexts;     // "4-20 mA", "0- 5 V"
extern const QStringList kSourceQuantityTexts; // 30 quantities, list index = code
// Factor between a limit as typed and its register value, by source position.
int limitScale(int position);

} // namespace hv52
