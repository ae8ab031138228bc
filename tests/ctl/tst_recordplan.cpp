// An earlier record read as the plan of an audit, in process: the largest
// site the tools write read back whole.
#include "recordplan.h"

#include "ctl.h"
#include "input.h"

#include "convert.h"

#include "recordfixtures.h"
#include "siterecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace hv52ctl;
using namespace recordfixtures;

namespace {

// A T516 meter as commissioning leaves it in a record: both polls whole,
// every setting written and read back.
MeterRecord commissioned(int address)
{
    const ModuleDef &def = t516Module();
    MeterRecord m = meter(address, MeterRecord::Result::Done);
    m.started = at(9, 0, 0);
    m.hasBefore = m.hasAfter = true;
    m.beforeTime = m.afterTime = at(9, 0, 1);
    m.before = pollOf(def);
    for (Value &v : m.before) {
        if (v.point->show == Show::Limit) { // in the unit of the fixture's source
            v.text = registerText(*v.point, v.raw, limitScale(int(rawFor(def.poll[v.point->scaleFrom], 0))));
            v.json = jsonLiteral(*v.point, v.raw, v.text);
        }
    }
    m.after = m.before;
    for (const Setting &s : def.settings) {
        for (const quint16 reg : s.registers) {
            const Point *p = def.pointAt(reg);
            if (!p)
                continue; // an input's mode is written, never read
            const quint16 raw = quint16(rawFor(*p, 0));
            m.writes << written(def, p->key, raw, raw, raw, WrittenValue::Outcome::Verified);
        }
    }
    return m;
}

} // namespace

class TestRecordPlan : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The largest site the tools take, 64 lines of 247 meters, through its
    // record: the record commission writes is an audit's plan.
    void largestSiteThroughItsRecord()
    {
        SiteRecord site;
        site.tool = QStringLiteral("hv52ctl");
        site.version = QStringLiteral("1.0.0");
        site.command = QStringLiteral("commission");
        site.started = at(9, 0, 0);
        site.finished = at(17, 0, 0);
        for (int line = 1; line <= 64; ++line) {
            RunRecord run;
            run.line = QStringLiteral("COM%1").arg(line);
            run.place = QJsonObject{{QStringLiteral("port"), line}};
            run.speed = 9600;
            run.timeoutMs = 1000;
            run.command = site.command;
            for (int address = 1; address <= 247; ++address)
                run.meters << commissioned(address);
            site.lines << run;
        }
        const QString file = m_dir.filePath(QStringLiteral("largest.json"));
        QString error;
        QVERIFY2(writeSiteRecord(file, site, &error), qPrintable(error));
        const qint64 size = QFileInfo(file).size();
        qInfo("the record of 64 x 247 meters: %lld bytes", size);
        QVERIFY(size <= kMaxRecordFileBytes);

        Options o;
        o.command = QStringLiteral("verify");
        o.fromRecord = file;
        SitePlan plan;
        try {
            plan = sitePlanFromRecord(o);
        } catch (const UsageError &e) {
            QFAIL(qPrintable(e.text()));
        }
        QCOMPARE(plan.lines.size(), 64);
        for (const LinePlan &line : plan.lines) {
            QCOMPARE(line.plan.meters.size(), 247);
            QCOMPARE(line.plan.meters.last().planned.size(), 5); // two relays, three outputs
        }
        QCOMPARE(plan.lines.last().options.port, 64);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestRecordPlan)
#include "tst_recordplan.moc"
