#pragma once
#include "convert.h"
#include "link.h"

#include <QString>
#include <QVector>
#include <functional>
#include <optional>

// A module as data: the registers a tool reads and writes, each with the
// caption and the conversion the window shows it with, the poll as a list
// over them, the settings and the reset codes; and a client that runs a poll
// or a setting over the link and returns typed results. No widgets here.
namespace hv52 {

// How a register's value reads to the operator.
enum class Show {
    AsRead,           // a count, as read
    OnOff,            // input state: 0x5050 "ON", else "OFF"
    OperatedReleased, // relay state: 0x5050 "动作", else "恢复"
    Tenths,           // ON time: value / 10
    Hundredths,       // analog present value: value / 100
    RelayCommand,     // the relay command's text, or its number
    SignalType,       // a position of the signal type list
    Source,           // a position of the source quantity list
    Limit,            // value / limit scale of the output's source
    InputMode,        // a position of the input mode list (written only)
};

struct Point
{
    QString key;     // stable English name: "input1.count", "analog2.source"
    quint16 address; // the first register
    bool pair;       // two registers read as one 32-bit value, first high
    QString row;     // the window's row caption: "输入1"
    QString column;  // the window's column caption: "输入次数"
    Show show;
    int scaleFrom = -1; // a limit: the poll position of its output's source

    // "输入1 输入次数": how the monitor and the messages name it.
    QString caption() const { return row + u' ' + column; }
    // "输入1输入次数": the same inside a sentence.
    QString name() const { return row + column; }
    // The texts of a list-valued point, empty for the others.
    const QStringList &listTexts() const;
};

// The register value shown as the window shows it. For a list-valued point
// a value that is no position of its list gives no text.
std::optional<QString> displayText(const Point &point, quint32 value, int scale = 1);
// False for a value that is no position of its point's list.
bool shownAsListed(const Point &point, quint32 value);

// One setting: the registers one set button writes, in order.
struct Setting
{
    QString key;  // "relay1", "analog2", "input1.mode"
    QString name; // "继电器1 控制方式"
    QVector<quint16> registers;
};

struct ModuleDef
{
    QString name;             // "t516"
    QVector<Point> poll;      // the read-all poll, in order
    QVector<Point> writeOnly; // registers written but never read (input modes)
    QVector<Setting> settings;
    QVector<ResetChoice> resets; // by list position
    quint16 resetRegister = 0x0B00;

    // The point at a register address (the first of a pair), or null.
    const Point *pointAt(quint16 address) const;
    const Point *point(const QString &key) const;
    const Setting *setting(const QString &key) const;
    // How many inputs and relays the poll reads: its "inputN.count" and
    // "relayN.count" points.
    int inputs() const;
    int relays() const;
};

// The rows every module shares, in poll order: per input its count, state
// and ON time; per relay its count, state and command.
QVector<Point> inputPoints(int inputs);
QVector<Point> relayPoints(int relays);
QVector<Point> inputModePoints(int inputs);
QVector<Setting> inputModeSettings(int inputs);
QVector<Setting> relaySettings(int relays);

// One read of a poll.
struct Reading
{
    int index = 0; // position in the poll
    const Point *point = nullptr;
    ReadResult result;
    // As the window shows it; a failed read shows what 0 converts to, as the
    // tools always have, and carries the failure mark beside.
    QString text;
    // A limit converted with the scale of a source whose read failed: its
    // unit is not known.
    bool scaleUnknown = false;

    bool ok() const { return result.ok(); }
};

struct PollResult
{
    QVector<Reading> readings; // as far as the poll got
    int failures = 0;
};

class ModuleClient
{
public:
    ModuleClient(Link &link, const ModuleDef &def) : m_link(link), m_def(def) {}

    const ModuleDef &module() const { return m_def; }
    Link &link() const { return m_link; }

    // Runs the poll on the open link as one series of reads and returns its
    // readings, final: nothing that can still arrive changes them. `each`
    // sees every reading as its answer arrives, for a window to show at
    // once; a reading can still fail at the end of the poll. A value that is
    // no position of its list ends the poll (LinkError naming the value) once
    // the line has shown it was the module's, as does any error of the link;
    // lastReadings() then holds what was read, final. Each read goes out as
    // soon as the answer before it is in, while that answer is shown; goOn,
    // when given, is asked first (false: the caller's `each` will stop the
    // poll, so nothing more is sent).
    PollResult poll(const std::function<void(const Reading &)> &each = {}, const std::function<bool()> &goOn = {});

    // Some points of the poll (by poll position, in poll order), with the
    // poll's conversions: a limit takes the scale of its source among the
    // readings before it. `before` runs before each read (a caller that may
    // stop between exchanges throws from it). Final, as the poll's.
    QVector<Reading> read(const QVector<int> &positions, const std::function<void()> &before = {});

    // The readings of the last poll or read, final, also when it ended by
    // an error or a stop: a read not yet sure then has failed.
    const QVector<Reading> &lastReadings() const { return m_last.readings; }

    // Writes a setting's registers in order; a write that fails does not stop
    // the ones after it. One result per register; `each` sees each result as
    // it comes (by register position), so a caller knows what went out before
    // an error of the link ends the setting.
    QVector<WriteResult> apply(const Setting &setting, const QVector<quint16> &values,
                               const std::function<void(int, const WriteResult &)> &each = {});
    // One write of a reset code to the reset register.
    WriteResult reset(const ResetChoice &choice);

private:
    // The reading of poll position `position` from a read's result, with the
    // readings before it for a limit's scale.
    Reading reading(int position, const ReadResult &result, const QVector<Reading> &earlier) const;
    QVector<Reading> readings(const QVector<int> &positions, const QVector<ReadResult> &results,
                              QVector<Reading> earlier) const;
    // One series of reads of poll positions after the readings `before`;
    // `unlisted` gets the series position of a value no list has, which
    // ends it.
    QVector<Reading> runSeries(const QVector<int> &positions, const QVector<Reading> &before,
                               const std::function<void(int, const Reading &)> &each, const std::function<bool()> &goOn,
                               bool ahead, int *unlisted);
    // The reading's text and unit from its value and the readings before it;
    // false for a value that is no position of its list.
    bool describe(Reading &r, const QVector<Reading> &earlier) const;

    Link &m_link;
    const ModuleDef &m_def;
    PollResult m_last;
};

} // namespace hv52
