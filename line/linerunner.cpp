#include "linerunner.h"
#include "audit.h"
#include "commissionrun.h"
#include "interrupt.h"
#include "runstatus.h"
#include "session.h"

#include "hv52version.h"

namespace hv52line {

using namespace hv52;

namespace {

// The run's words as signals of the runner, from the line's thread.
class Relay : public RunOutput
{
public:
    explicit Relay(std::function<void(std::function<void()>)> post) : m_post(std::move(post)) {}
    std::function<void(const QString &)> onMessage;
    std::function<void(int, const QString &)> onStep;
    void message(const QString &text) override
    {
        if (onMessage)
            m_post([f = onMessage, text] { f(text); });
    }
    QString timeoutAdvice(int suggestedMs) const override
    {
        return QStringLiteral("线路的应答超时（如 %1 毫秒）").arg(suggestedMs);
    }
    void step(int index, const QString &, const QString &text) override
    {
        if (onStep)
            m_post([f = onStep, index, text] { f(index, text); });
    }

private:
    std::function<void(std::function<void()>)> m_post;
};

} // namespace

LineRunner::LineRunner(QObject *parent) : QObject(parent) {}

LineRunner::~LineRunner()
{
    if (m_thread) {
        // The window closes mid-run: the run ends at its next stopping
        // point, its group of writes whole.
        hv52run::Interrupt::stopByOperator();
        m_thread->wait();
        delete m_thread;
    }
}

void LineRunner::post(std::function<void()> f)
{
    QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
}

void LineRunner::start(const std::function<void()> &work)
{
    Q_ASSERT(!m_thread);
    m_thread = QThread::create(work);
    connect(m_thread, &QThread::finished, this, [this] {
        m_thread->deleteLater();
        m_thread = nullptr;
        emit idle();
    });
    m_thread->start();
}

void LineRunner::scan(const Line &line, const QList<int> &addresses, int scanTimeoutMs)
{
    const hv52run::ScanRange range{{line.speed}, addresses, scanTimeoutMs};
    start([this, line, range] {
        Relay out([this](std::function<void()> f) { post(std::move(f)); });
        out.onMessage = [this](const QString &t) { emit message(t); };
        hv52run::ScanWatch watch;
        watch.at = [this](int, int address, int done, int total, int) {
            post([this, done, total, address] { emit scanAt(done, total, address); });
        };
        watch.found = [this](const hv52run::Found &f) {
            post([this, a = f.address, m = f.module] { emit found(a, m); });
        };
        const hv52run::LineScan result = hv52run::scanLine(line, range, watch, out);
        QList<int> late;
        for (const hv52run::Found &f : result.late)
            late << f.address;
        // The link's error that ended it, as hv52ctl says it.
        QString failure;
        if (result.status != hv52run::Done && !hv52run::Interrupt::arrived())
            failure = QStringLiteral("扫描未完成");
        post([this, late, failure] { emit scanEnded(late, failure); });
    });
}

void LineRunner::run(const Line &line, const hv52run::RunPlan &plan, bool audit)
{
    start([this, line, plan, audit] {
        Relay out([this](std::function<void()> f) { post(std::move(f)); });
        out.onMessage = [this](const QString &t) { emit message(t); };
        out.onStep = [this](int index, const QString &t) { emit step(index, t); };
        int index = 0;
        const hv52run::LineResult result =
            hv52run::runLine(line, plan, audit ? hv52run::auditOf(QStringLiteral("计划")) : hv52run::commissionMeter,
                             out, [this, &index, &plan](const MeterRecord &m) {
                                 // Told in plan order: the index of the meter with this address.
                                 while (index < plan.meters.size() && plan.meters[index].address != m.address)
                                     ++index;
                                 post([this, i = index, m] { emit meterDone(i, m); });
                             });
        RunRecord record = result.record;
        record.tool = QStringLiteral("hv52line");
        post([this, record, failure = result.portFailure] { emit runEnded(record, failure); });
    });
}

void LineRunner::poll(const Line &line, int address, const ModuleDef *def)
{
    start([this, line, address, def] {
        Relay out([this](std::function<void()> f) { post(std::move(f)); });
        out.onMessage = [this](const QString &t) { emit message(t); };
        hv52run::Session s(line, QStringLiteral("read"), address, out);
        QVector<Reading> readings;
        const int status = s.run(line.speed, address, [&] {
            ModuleClient client(s.link(), *def);
            readings = client.poll().readings;
            return int(hv52run::Done);
        });
        QString failure;
        if (status != hv52run::Done)
            failure = s.lastError();
        else if (s.interrupted())
            failure = hv52run::Interrupt::text();
        post([this, readings, failure] { emit polled(readings, failure); });
    });
}

} // namespace hv52line
