// An earlier record read as the plan of an audit, in process: the largest
// site the tools write read back whole, and the refusals of a record that
// cannot be audited, each hint naming only what works.
#include "recordknowledge.h"
#include "recordplan.h"

#include "input.h"
#include "runstatus.h"

#include "convert.h"

#include "recordfixtures.h"
#include "siterecord.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace hv52run;
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

QString refusal(const RunRequest &o)
{
    try {
        sitePlanFromRecord(o);
    } catch (const UsageError &e) {
        return e.text();
    }
    return QString();
}

const char *const kMeter = R"({"address": 1, "module": "t528", "result_text": "完成并核对",
 "after": {"values": {"relay1.command": "上位机控制", "relay2.command": "报警输出"}}})";

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

        RunRequest o;
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
        QCOMPARE(plan.lines.last().line.port, 64);
    }

    // What a record knows a meter holds, setting by setting: each group
    // from one source of knowledge, an unknown one never taken from before.
    void whatTheRecordKnows_data()
    {
        QTest::addColumn<QByteArray>("meter");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected"); // JSON text, or "unknown: REASON"
        const QByteArray before = R"("before": {"values": {"relay1.command": "报警输出"}})";
        const auto relay = [](const char *outcome, const char *readBack, const char *reason = "null") {
            return QByteArray(R"("writes": [{"key": "relay1.command", "before": "报警输出", "written": "上位机控制", )")
                   + "\"read_back\": " + readBack + ", \"outcome\": \"" + outcome + "\", \"reason\": " + reason + "}]";
        };
        const auto analog = [](const QStringList &outcomes, const QStringList &readBacks) {
            const QStringList keys{"analog1.type", "analog1.source", "analog1.lower", "analog1.upper"};
            const QStringList written{"\"4-20 mA\"", "\"AB线电压\"", "360", "420"};
            const QStringList old{"\"0- 5 V\"", "\"平均电流\"", "0.01", "0.02"};
            QStringList rows;
            for (int i = 0; i < 4; ++i)
                rows << QStringLiteral(
                            R"({"key": "%1", "before": %2, "written": %3, "read_back": %4, "outcome": "%5"})")
                            .arg(keys[i], old[i], written[i], readBacks[i], outcomes[i]);
            return QStringLiteral("\"writes\": [%1]").arg(rows.join(u',')).toUtf8();
        };
        QTest::newRow("the poll after") << "{" + before + R"(, "after": {"values": {"relay1.command": "上位机控制"}}, )"
                                               + relay("verified", "\"上位机控制\"") + "}"
                                        << "relay1.command"
                                        << "\"上位机控制\"";
        QTest::newRow("interrupted: acknowledged, not read back")
            << "{" + before + R"(, "after": null, )" + relay("read_back_failed", "null") + "}"
            << "relay1.command"
            << "\"上位机控制\"";
        QTest::newRow("read back, no poll after")
            << "{" + before + R"(, "after": null, )" + relay("mismatch", "\"控制继电器恢复\"") + "}"
            << "relay1.command"
            << "\"控制继电器恢复\"";
        QTest::newRow("never sent: the poll before")
            << "{" + before + R"(, "after": null, )" + relay("not_sent", "null") + "}"
            << "relay1.command"
            << "\"报警输出\"";
        QTest::newRow("only read") << "{" + before + R"(, "after": null, "writes": []})"
                                   << "relay1.command"
                                   << "\"报警输出\"";
        QTest::newRow("write failed, not read back")
            << "{" + before + R"(, "after": null, )" + relay("write_failed", "null", "\"超时无应答\"") + "}"
            << "relay1.command"
            << "unknown: 记录中没有调试后的值，写入失败（超时无应答）且未读回";
        QTest::newRow("a failed group read back") << "{" + before + R"(, "after": null, )"
                                                         + analog({"verified", "write_failed", "not_sent", "not_sent"},
                                                                  {"\"4-20 mA\"", "\"平均电流\"", "0.01", "0.02"})
                                                         + "}"
                                                  << "analog1.source"
                                                  << "\"平均电流\"";
        QTest::newRow("a group half known")
            << "{" + before + R"(, "after": null, )"
                   + analog({"read_back_failed", "write_failed", "not_sent", "not_sent"},
                            {"null", "null", "null", "null"})
                   + "}"
            << "analog1.lower"
            << "unknown: 记录中没有调试后的值，写入失败且未读回";
    }
    void whatTheRecordKnows()
    {
        QFETCH(QByteArray, meter);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const QJsonDocument doc = QJsonDocument::fromJson(meter);
        QVERIFY2(doc.isObject(), meter.constData());
        const ModuleDef &def = t516Module();
        const RecordKnowledge knows = recordKnowledge(def, doc.object());
        const QString group = key.section(u'.', 0, 0);
        const auto unknown = std::find_if(knows.unknown.begin(), knows.unknown.end(),
                                          [&](const UnknownSetting &u) { return u.setting->key == group; });
        if (expected.startsWith(QLatin1String("unknown: "))) {
            QVERIFY2(unknown != knows.unknown.end(), qPrintable(key));
            QCOMPARE(unknown->reason, expected.mid(9));
            QVERIFY(!knows.settings.contains(key));
        } else {
            QVERIFY2(unknown == knows.unknown.end(),
                     qPrintable(unknown == knows.unknown.end() ? QString() : unknown->reason));
            QCOMPARE(
                QString::fromUtf8(QJsonDocument(QJsonArray{knows.settings.value(key)}).toJson(QJsonDocument::Compact)),
                QStringLiteral("[%1]").arg(expected));
        }
    }

    // A record read as strictly as a plan: a key of the wrong type, out of
    // range, an unknown command or a second form refused, named with its
    // path and line; an untouched record taken.
    void tamperedRecordsRefused_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("message"); // empty: taken
        QTest::newRow("as written") << ""
                                    << ""
                                    << "";
        QTest::newRow("after a text") << R"("after": {"values")"
                                      << R"("after": "x", "a": {"values")"
                                      << "第 6 行的 lines[1].meters[1].after 应为对象或 null";
        QTest::newRow("timeout a text") << R"("timeout_ms": 300)"
                                        << R"("timeout_ms": "300")"
                                        << "第 4 行的 lines[1].timeout_ms 应为整数（1～60000）";
        QTest::newRow("timeout 1e12") << R"("timeout_ms": 300)"
                                      << R"("timeout_ms": 1e12)"
                                      << "第 4 行的 lines[1].timeout_ms 1000000000000 超出范围（应为 1～60000）";
        QTest::newRow("timeout -5") << R"("timeout_ms": 300)"
                                    << R"("timeout_ms": -5)"
                                    << "第 4 行的 lines[1].timeout_ms -5 超出范围（应为 1～60000）";
        QTest::newRow("timeout 2.5") << R"("timeout_ms": 300)"
                                     << R"("timeout_ms": 2.5)"
                                     << "第 4 行的 lines[1].timeout_ms 应为整数（1～60000）";
        QTest::newRow("speed a text") << R"("speed": 9600)"
                                      << R"("speed": "19200")"
                                      << "第 4 行的 lines[1].speed 应为整数";
        QTest::newRow("speed no standard one") << R"("speed": 9600)"
                                               << R"("speed": 9601)"
                                               << "第 4 行的 lines[1].speed 9601 不是标准波特率";
        QTest::newRow("place a text") << R"("place": {"port": 3})"
                                      << R"("place": "port 3")"
                                      << "第 4 行的 lines[1].place 应为对象或 null";
        QTest::newRow("a read's record") << R"("command": "commission")"
                                         << R"("command": "read")"
                                         << "第 2 行的 command “read”不是调试命令";
        QTest::newRow("an audit's record") << R"("command": "commission")"
                                           << R"("command": "verify")"
                                           << "第 2 行的 command “verify”不是调试命令";
        QTest::newRow("lines and meters") << R"("command": "commission",)"
                                          << R"("command": "commission", "meters": [],)"
                                          << "第 2 行的 meters 与 lines 不能同时给出";
        QTest::newRow("an outcome no run writes") << R"("outcome": "verified")"
                                                  << R"("outcome": "ok")"
                                                  << "第 7 行的 lines[1].meters[1].writes[1].outcome “ok”不是写入结果";
        QTest::newRow("writes a text") << R"("writes": [)"
                                       << R"("writes": "none", "w": [)"
                                       << "第 7 行的 lines[1].meters[1].writes 应为列表";
    }
    void tamperedRecordsRefused()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, message);
        QString text = QStringLiteral(R"({
 "command": "commission",
 "lines": [{
  "place": {"port": 3}, "speed": 9600, "timeout_ms": 300, "line": "COM3",
  "meters": [{"address": 1, "module": "t528", "result_text": "完成并核对",
    "after": {"values": {"relay1.command": "上位机控制", "relay2.command": "报警输出"}},
    "writes": [{"key": "relay1.command", "outcome": "verified", "written": "上位机控制", "read_back": "上位机控制"}]}]
 }]
})");
        if (!from.isEmpty()) {
            QVERIFY(text.contains(from));
            text.replace(from, to);
        }
        const QString file = m_dir.filePath(QStringLiteral("tampered.json"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) > 0);
        f.close();
        RunRequest o;
        o.command = QStringLiteral("verify");
        o.fromRecord = file;
        const QString refused = refusal(o);
        if (message.isEmpty())
            QVERIFY2(refused.isEmpty(), qPrintable(refused));
        else
            QVERIFY2(refused.startsWith(QStringLiteral("记录 %1：%2").arg(file, message)), qPrintable(refused));
    }

    // A record without its line: the hint names a way that works, and taking
    // it is accepted; a site's line cannot be named on the command line.
    void hintNamesOnlyWhatWorks_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("message");
        QTest::newRow("one line") << QByteArray(R"({"line": "", "meters": [)") + kMeter + "]}"
                                  << "没有记下线路，请用 --port、--device、--tcp 或 --modbus-tcp 指定";
        QTest::newRow("a site's line") << QByteArray(R"({"lines": [{"line": "", "meters": [)") + kMeter + "]}]}"
                                       << "站点记录的线路不能在命令行指定；可按站点计划验收（verify SITE）";
    }
    void hintNamesOnlyWhatWorks()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, message);
        const QString file = m_dir.filePath(QStringLiteral("hint.json"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(record) == record.size());
        f.close();
        RunRequest o;
        o.command = QStringLiteral("verify");
        o.fromRecord = file;
        const QString refused = refusal(o);
        QVERIFY2(refused.contains(message), qPrintable(refused));
        // Each option the hint names is then taken.
        o.line.port = 3;
        o.given << QStringLiteral("port");
        const QString withPort = refusal(o);
        QVERIFY2(refused.contains(QLatin1String("--port")) == withPort.isEmpty(), qPrintable(withPort));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestRecordPlan)
#include "tst_recordplan.moc"
