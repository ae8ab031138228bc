#pragma once
// What a tool window did to its module since it opened: the last poll as
// values (a read that failed or was never reached carries its reason) and
// every setting and reset with its time and outcome. The window's
// commissioning record is made from this, never from its controls, which
// the operator may have changed since. No widgets here.
#include "record.h"

#include <QDateTime>
#include <QVector>
#include <optional>

namespace hv52 {

class WindowRecord
{
public:
    explicit WindowRecord(const ModuleDef &module, const QDateTime &opened = QDateTime::currentDateTime());

    const ModuleDef &module() const { return m_module; }
    const QDateTime &opened() const { return m_opened; }

    // A poll that began at `time` and got `readings` (in poll order, as far
    // as it got). The points it did not reach become unread values for
    // `notReached` ("召测中止，未读取"); the one under way when an error
    // ended the poll, for `stoppedBy` when given. Before anything was sent
    // to the module it is the poll before (the last one counts); after a
    // write, the poll after (until the next write, which makes it stale).
    void addPoll(const QDateTime &time, const QVector<Reading> &readings, const QString &notReached = QString(),
                 const QString &stoppedBy = QString());
    // The poll before: the last one before the first write.
    bool hasPoll() const { return m_before.made; }
    const QDateTime &pollTime() const { return m_before.time; }
    // One value a point of the module's poll, in poll order.
    const QVector<Value> &poll() const { return m_before.values(m_module); }
    // The poll after: made after the last write.
    bool hasPollAfter() const { return m_after.made; }
    const QDateTime &pollAfterTime() const { return m_after.time; }
    const QVector<Value> &pollAfter() const { return m_after.values(m_module); }

    // A setting as the window sent it, pressed at `time`: one value a
    // register written (the results as far as they came). A write with a
    // valid answer is acknowledged; one without is failed, with why. A window
    // reads nothing back. `stoppedBy` is the error that ended the setting
    // before its last write: the write under way failed for it, the ones
    // after it were not sent.
    void addSetting(const QDateTime &time, const Setting &setting, const QVector<quint16> &values,
                    const QVector<WriteResult> &results, const QString &stoppedBy = QString());
    // A reset pressed at `time`; `stoppedBy` as for a setting.
    void addReset(const QDateTime &time, const ResetChoice &choice, const WriteResult &result,
                  const QString &stoppedBy = QString());
    const QVector<WrittenValue> &writes() const { return m_writes; }

    // This module's part of a record, at bus address `address`, as of `now`.
    MeterRecord meter(int address, const QDateTime &now) const;

    struct Line
    {
        QString tool;    // "cfg_t516"
        QString version; // "1.0.0"
        QString line;    // "COM1"
        int speed = 0;
        int address = 0;
    };
    // The record of this window: its one module, command "window".
    RunRecord record(const Line &line, const QDateTime &now) const;

private:
    struct Poll
    {
        bool made = false;
        QDateTime time;
        QVector<Reading> readings;
        QString notReached, stoppedBy;
        mutable std::optional<QVector<Value>> cache; // values made from the readings when first asked for
        // How its failed reads failed, for the result.
        int reached = 0;
        int timeouts = 0;
        bool refused = false; // a register the module does not have (exception 02)

        const QVector<Value> &values(const ModuleDef &module) const;
    };
    // The poll the record's result and a limit's unit go by: the latest.
    const Poll &latest() const { return m_after.made ? m_after : m_before; }
    // Notes values that went out (or may have): a poll from now on is after.
    void noteWrites(int from);

    const ModuleDef &m_module;
    QDateTime m_opened;
    Poll m_before, m_after;
    bool m_written = false; // something was sent to the module since the window opened
    QVector<WrittenValue> m_writes;
};

} // namespace hv52
