#pragma once
// What an operator types and what input files hold, for hv52ctl: numbers,
// the words of a setting turned into register values with the window's own
// checks, and saved settings files read back as settings to write.
#include "module.h"
#include "values.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>

namespace hv52run {

// The module definition of a kind by name ("t516"); UsageError otherwise.
const hv52::ModuleDef &moduleNamed(const QString &name);

// Reads the poll entries at `indices` (ascending) with the conversions of the
// poll: a limit takes the scale of its source, which must come before it in
// `indices`. The readings' index is the poll position.
QVector<hv52::Reading> readPoints(hv52::Link &link, const hv52::ModuleDef &def, const QVector<int> &indices,
                                  const std::function<void()> &between = {});

// --- numbers and files -----------------------------------------------------

// A whole number as an operator or a file writes it: blanks around it, a
// sign, leading zeros alike ("  007" is 7). Any count of digits: a number too
// large for the result is clamped, so that it reads as out of range, not as
// "not a number". nullopt when the text is no whole number.
std::optional<qint64> wholeNumberText(const QString &text);
// The same in [low, high], else UsageError: "WHAT“TEXT”不是整数（应为 L～H）" or
// "WHAT“TEXT”超出范围（应为 L～H）".
int wholeNumberIn(const QString &what, const QString &text, int low, int high);

// The largest input files read, each a few times the largest the tools
// themselves write, for the largest site they take (64 lines of 247
// meters): a settings file (what save or read --json writes is a few KiB),
// a plan or a scan of that site (about 7 MiB with every meter's settings
// inline), its record (about 180 MiB as JSON).
constexpr qint64 kMaxSettingsFileBytes = 64 * 1024;
constexpr qint64 kMaxPlanFileBytes = 32 * 1024 * 1024;
constexpr qint64 kMaxRecordFileBytes = 512 * 1024 * 1024;
// The contents of an input file: a regular file of at most `maxBytes`.
// Anything else (missing, a directory, a device, a named pipe, too large) is
// refused at once with UsageError, without waiting on it.
QByteArray readInputFile(const QString &file, qint64 maxBytes = kMaxSettingsFileBytes);

// A key of a JSON object as the text gives it: its path from the top
// ("line.port", "meters[1].address": items counted from 1), its name, the
// object it stands in (numbered in the order they open) and its line.
struct JsonKey
{
    QString path;
    QString name;
    int object = 0;
    int line = 0;
};
// Every key of every object in valid JSON text, in the order written, to
// `each`; `closed` hears an object's number when it ends.
void walkKeys(const QByteArray &text, const std::function<void(const JsonKey &)> &each,
              const std::function<void(int)> &closed = {});
// The same keys as a list.
QVector<JsonKey> keysAtEveryDepth(const QByteArray &text);
// The object of an input file's JSON text (a plan, a settings file, a scan
// read back). UsageError, naming `where` ("文件 a.json", "计划 plan.json"),
// for text that is no valid JSON, no object, or gives a key twice in one
// object, at any depth (named by its path and both its lines).
QJsonObject jsonObject(const QByteArray &contents, const QString &where);

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

} // namespace hv52run
