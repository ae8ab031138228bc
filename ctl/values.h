#pragma once
// Values as hv52ctl prints, saves and takes them: a reading turned into the
// window's text and a JSON value, a failed read never shown as 0; the words
// an operator types for a setting turned into register values with the
// window's own checks.
#include "module.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace hv52ctl {

// The module definition for "t516", "t540" or "t528"; UsageError otherwise.
const hv52::ModuleDef &moduleNamed(const QString &name);

// One value of a module as read.
struct Value
{
    const hv52::Point *point = nullptr;
    bool ok = false;
    quint32 raw = 0; // the register value when the read was valid
    QString text;    // as the window shows it (when ok)
    QString json;    // a JSON literal: number, string, or null
    QString failure; // why there is no value (when !ok)

    // What a table or a watch line shows: the value, or the failure.
    QString shown() const;
};

// A reading of ModuleClient::poll, or of readPoints, as a value. A limit whose
// source failed has no value: its unit is not known.
Value valueOf(const hv52::Reading &reading, const QVector<hv52::Reading> &readings);
// A point that was never read (the poll ended before it).
Value unreadValue(const hv52::Point &point, const QString &why);

// Reads the poll entries at `indices` (ascending) with the conversions of the
// poll: a limit takes the scale of its source, which must come before it in
// `indices`. The readings' index is the poll position.
QVector<hv52::Reading> readPoints(hv52::Link &link, const hv52::ModuleDef &def, const QVector<int> &indices,
                                  const std::function<void()> &between = {});

// A register value of a point as a JSON literal, given its text as the
// window shows it: a number, or a string.
QString jsonLiteral(const hv52::Point &point, quint32 raw, const QString &text);
// A JSON string literal.
QString jsonString(const QString &text);
// The values as one JSON object, in poll order, with "module" first and
// "failures" (key -> reason) last when `withFailures`.
QString valuesJson(const hv52::ModuleDef &def, const QVector<Value> &values, bool withFailures);
// Table rows: caption, then the value, the captions padded to one column.
QString valuesTable(const QVector<Value> &values);
// Pads to `width` terminal columns (CJK characters take two).
QString padded(const QString &text, int width);
int displayWidth(const QString &text);

// --- numbers and files -----------------------------------------------------

// A whole number as an operator or a file writes it: blanks around it, a
// sign, leading zeros alike ("  007" is 7). Any count of digits: a number too
// large for the result is clamped, so that it reads as out of range, not as
// "not a number". nullopt when the text is no whole number.
std::optional<qint64> wholeNumberText(const QString &text);
// The same in [low, high], else UsageError: "WHAT“TEXT”不是整数（应为 L～H）" or
// "WHAT“TEXT”超出范围（应为 L～H）".
int wholeNumberIn(const QString &what, const QString &text, int low, int high);

// The largest input file read: far above any real one.
constexpr qint64 kMaxInputFileBytes = 64 * 1024;
// The contents of an input file: a regular file of at most kMaxInputFileBytes.
// Anything else (missing, a directory, a device, a named pipe, too large) is
// refused at once with UsageError, without waiting on it.
QByteArray readInputFile(const QString &file);

// --- what an operator types for a setting ---------------------------------

// A relay command: one of the four list texts, or alarm/host/operate/release.
quint16 relayCommandWord(const QString &what, const QString &word);
// A signal type: "4-20 mA", "0- 5 V", 4-20mA or 0-5V: its list position.
int signalTypeWord(const QString &what, const QString &word);
// A source quantity: its list text or its position 0..29.
int sourceWord(const QString &what, const QString &word);
// A limit as typed, times the scale of the source, rounded as the window does.
quint16 limitWord(const QString &what, const QString &text, int source);

// The settings that can be read back: every register in the poll (the input
// modes are written only).
QVector<const hv52::Setting *> readableSettings(const hv52::ModuleDef &def);
// The poll positions of a setting's registers.
QVector<int> pollIndices(const hv52::ModuleDef &def, const hv52::Setting &setting);

// One setting with its register values, checked, ready to write.
struct Planned
{
    const hv52::Setting *setting = nullptr;
    QVector<quint16> values;
};

// The settings of a saved file (a JSON object with the keys of read --json),
// every entry checked. Throws UsageError naming the entry.
QVector<Planned> plannedFromFile(const hv52::ModuleDef &def, const QByteArray &contents, const QString &file);

// The register value of a point as the window shows it ("控制继电器动作", "10").
QString registerText(const hv52::Point &point, quint32 value, int scale);

} // namespace hv52ctl
