// The audit of one meter: its whole poll, each setting compared with what
// it should hold.
#include "audit.h"
#include "commissionrun.h"
#include "steps.h"

#include "kinds.h"

#include <algorithm>

namespace hv52run {

using namespace hv52;
using Result = MeterRecord::Result;

namespace {

const Value *valueAt(const QVector<Value> &values, const Point *point)
{
    const auto v = std::find_if(values.begin(), values.end(), [point](const Value &v) { return v.point == point; });
    return v == values.end() ? nullptr : &*v;
}

// Each planned register beside the value the poll found, in the texts the
// window shows (a limit in the unit of its own source, planned or found).
QVector<CheckedValue> compare(const ModuleDef &def, const QVector<Planned> &planned, const QVector<Value> &found,
                              const QVector<UnknownSetting> &unknown)
{
    WriteReport report = plannedReport(def, QStringLiteral("verify"), planned);
    for (WrittenValue &w : report.values) {
        const Value *v = w.point ? valueAt(found, w.point) : nullptr;
        if (v && v->ok)
            w.before = quint16(v->raw);
    }
    describeValues(def, report);
    QVector<CheckedValue> out;
    for (const WrittenValue &w : report.values) {
        CheckedValue c;
        c.key = w.key;
        c.caption = w.caption;
        c.expectedText = w.writtenText;
        c.expectedJson = w.writtenJson;
        c.foundText = w.beforeText;
        c.foundJson = w.beforeJson;
        if (!w.before) {
            const Value *v = w.point ? valueAt(found, w.point) : nullptr;
            c.verdict = CheckedValue::Verdict::ReadFailed;
            c.reason = v ? v->failure : QStringLiteral("未召测到此项");
        } else {
            c.verdict = *w.before == w.written ? CheckedValue::Verdict::Match : CheckedValue::Verdict::Differs;
        }
        out << c;
    }
    // What the record cannot know is not checked, never compared with an
    // older value; the module's value is shown beside the reason.
    for (const UnknownSetting &u : unknown) {
        for (const int i : pollIndices(def, *u.setting)) {
            const Point &p = def.poll[i];
            CheckedValue c;
            c.key = p.key;
            c.caption = p.caption();
            c.expectedText = QStringLiteral("未知");
            c.verdict = CheckedValue::Verdict::NotChecked;
            c.reason = u.reason;
            if (const Value *v = valueAt(found, &p); v && v->ok) {
                c.foundText = v->text;
                c.foundJson = v->json;
            }
            out << c;
        }
    }
    return out;
}

} // namespace

// The audit of one meter: the whole poll, then the comparison. Not one
// write request: the link is only read.
MeterAction auditOf(const QString &expectedWord)
{
    return [expectedWord](MeterTurn &turn) {
        MeterRecord &m = turn.record;
        const ModuleDef &def = *turn.plan.def;
        QVector<Reading> readings;
        pollBefore(turn, QStringLiteral("召测并核对"), &readings, true);
        // The kind expected must be the kind found: a T516 answers every
        // register of a T528's poll, and would pass for one.
        if (m.result == Result::NotReached) {
            turn.step(QStringLiteral("判断型号"));
            const ModuleKind *kind = kindOnLine(turn.session.link());
            if (kind && kind->def().name != def.name) {
                m.result = Result::Incomplete;
                m.detail = QStringLiteral("是 %1，不是 %2").arg(kind->label(), def.name.toUpper());
                turn.say(QStringLiteral("型号不符（%1），未核对。").arg(m.detail));
            }
        }
        // A meter of another kind is not compared: its registers are not
        // the settings planned. One that failed to answer shows each
        // setting's failure.
        if (m.result != Result::Incomplete)
            m.checks = compare(def, turn.plan.planned, m.before, turn.plan.unknown);
        if (m.result != Result::NotReached)
            return;
        for (const CheckedValue &c : m.checks) {
            if (c.verdict != CheckedValue::Verdict::Match)
                turn.say(QStringLiteral("%1：%2").arg(c.caption, c.text(expectedWord)));
        }
        const auto failed = std::find_if(m.before.begin(), m.before.end(), [](const Value &v) { return !v.ok; });
        const auto differs = std::find_if(m.checks.begin(), m.checks.end(), [](const CheckedValue &c) {
            return c.verdict == CheckedValue::Verdict::Differs;
        });
        if (failed != m.before.end()) {
            m.result = Result::ReadFailed;
            m.detail = QStringLiteral("%1：%2").arg(failed->point->caption(), failed->failure);
        } else if (differs != m.checks.end()) {
            m.result = Result::Drifted;
            const auto count = std::count_if(m.checks.begin(), m.checks.end(), [](const CheckedValue &c) {
                return c.verdict == CheckedValue::Verdict::Differs;
            });
            m.detail = QStringLiteral("%1：%2").arg(differs->caption, differs->text(expectedWord));
            if (count > 1)
                m.detail += QStringLiteral("，共 %1 项不一致").arg(count);
        } else if (const auto unknown = std::find_if(
                       m.checks.begin(), m.checks.end(),
                       [](const CheckedValue &c) { return c.verdict == CheckedValue::Verdict::NotChecked; });
                   unknown != m.checks.end()) {
            m.result = Result::Unchecked;
            m.detail = QStringLiteral("%1：%2").arg(unknown->caption, unknown->text(expectedWord));
        } else {
            m.result = m.checks.isEmpty() ? Result::Recorded : Result::Matched;
        }
    };
}

} // namespace hv52run
