#pragma once
// What became of each value that apply, set or reset sent: its value before,
// the value written, the value read back and the outcome with its reason.
// hv52ctl prints it as a summary line or as JSON; a commissioning record is
// built from the same report.
#include "module.h"

#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QVector>
#include <optional>

namespace hv52 {

struct WrittenValue
{
    enum class Outcome {
        Verified,       // written, read back, the same
        Acknowledged,   // written and acknowledged; not read back (a reset)
        WriteFailed,    // the write was not acknowledged
        ReadBackFailed, // written, but its read-back failed
        Mismatch,       // written, read back another value
        NotSent,        // never written: stopped before, or a read before failed
    };

    QString key;     // "relay1.command", "analog2.lower", "reset"
    QString caption; // "继电器1 控制方式"
    quint16 reg = 0;
    const Point *point = nullptr; // null for the reset register

    std::optional<quint16> before; // the register before the write, when read
    quint16 written = 0;
    std::optional<quint16> readBack;
    // Each value as the window shows it and as JSON, in the unit of its own
    // source (limits); empty and null when there is none.
    QString beforeText, writtenText, readBackText;
    QJsonValue beforeJson, writtenJson, readBackJson;

    Outcome outcome = Outcome::NotSent;
    QString reason; // why it is not verified or acknowledged; empty when it is
    // When it was written (a window records each press with its time); null
    // when the run's own time says enough.
    QDateTime time;

    bool done() const { return outcome == Outcome::Verified || outcome == Outcome::Acknowledged; }
};

// A register value of `point` as the window shows it and as JSON,
// a limit in the unit of `scale`. A list value that is no entry of its list
// is its number in both, so it is never taken for an entry.
void describeRegister(const Point &point, quint16 raw, int scale, QString *text, QJsonValue *json);
// A reset of `def` as a written value, not sent yet.
WrittenValue resetValue(const ModuleDef &def, const ResetChoice &choice);

// "verified", "acknowledged", "write_failed", "read_back_failed", "mismatch",
// "not_sent": the JSON words.
QString outcomeKey(WrittenValue::Outcome outcome);
// "已写入并读回核对", "写入失败", ...: the summary's words.
QString outcomeWords(WrittenValue::Outcome outcome);

struct WriteReport
{
    QString module;  // "t516"
    QString command; // "apply", "set", "reset"
    QVector<WrittenValue> values;
    QString stopped; // why the command ended before its end; empty when it did not

    int count(WrittenValue::Outcome outcome) const;
    bool allDone() const;
    // "14 个值：12 个已写入并读回核对，1 个写入失败，1 个读回不符"
    QString summary() const;
    // One line a value: caption, outcome, the values, the reason.
    QString table() const;
    // {"module", "command", "values": [...], "summary", "stopped"}
    QString json() const;
};

} // namespace hv52
