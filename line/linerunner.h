#pragma once
// The work of one line, in a thread of its own so the window stays
// responsive: a scan, a run of meters (commissioning or an audit) or one
// meter's poll. The very functions hv52ctl runs do the work; what they tell
// as they go comes back as signals in the window's thread. One piece of
// work at a time; the operator's stop ends it at its next stopping point.
#include "linescan.h"
#include "meterrun.h"

#include "line.h"
#include "module.h"
#include "record.h"

#include <QObject>
#include <QThread>
#include <functional>
#include <memory>

namespace hv52line {

class LineRunner : public QObject
{
    Q_OBJECT
public:
    explicit LineRunner(QObject *parent = nullptr);
    ~LineRunner() override;

    bool busy() const { return m_thread != nullptr; }

    // Every address of `addresses` at the line's speed, one read each with
    // the scan timeout hv52ctl scan uses (`scanTimeoutMs`).
    void scan(const hv52::Line &line, const QList<int> &addresses, int scanTimeoutMs);
    // The plan's meters one after the other: commissioned, or audited.
    void run(const hv52::Line &line, const hv52run::RunPlan &plan, bool audit);
    // The whole poll of the meter at `address`, as a `def` module.
    void poll(const hv52::Line &line, int address, const hv52::ModuleDef *def);

signals:
    void message(const QString &text);
    void scanAt(int done, int total, int address);
    void found(int address, const QString &module);
    void scanEnded(const QList<int> &late, const QString &failure);
    void step(int index, const QString &text);
    void meterDone(int index, const hv52::MeterRecord &meter);
    void runEnded(const hv52::RunRecord &record, const QString &portFailure);
    void polled(const QVector<hv52::Reading> &readings, const QString &failure);
    // After each piece of work's own end signal: the runner is free again.
    void idle();

private:
    void start(const std::function<void()> &work);
    // Runs `f` in the window's thread.
    void post(std::function<void()> f);

    QThread *m_thread = nullptr;
};

} // namespace hv52line
