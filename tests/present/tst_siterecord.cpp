// The record of a whole site: a commissioning of two lines and an audit,
// each format compared byte for byte with its golden file; the site's
// summary, its lines table, its CSV cells and JSON keys, and
// writeSiteRecord's refusals and failures.
//
// The golden files are rewritten from the writers' present output with
//   HV52_UPDATE_GOLDEN=1 ./tst_siterecord golden
// (read the diff before committing them).
#include "recordfixtures.h"
#include "siterecord.h"
#include "t516module.h"
#include "t528module.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <optional>

using namespace hv52;
using namespace recordfixtures;
using Written = WrittenValue::Outcome;
using Result = MeterRecord::Result;
using Check = CheckedValue::Verdict;

namespace {

// The poll's value of `key` made `raw`, so that a meter's poll agrees with
// its writes and checks.
void setRaw(QVector<Value> &values, const ModuleDef &def, const QString &key, quint32 raw)
{
    setValue(values, key, good(*def.point(key), raw));
}

// A setting of an audit: found equal, found otherwise, or not read (no `found`).
CheckedValue checked(const ModuleDef &def, const QString &key, quint16 expected, std::optional<quint16> found,
                     const QString &reason = QString())
{
    CheckedValue c;
    const Point &p = *def.point(key);
    c.key = key;
    c.caption = p.caption();
    c.expectedText = registerText(p, expected, 1);
    c.expectedJson = jsonLiteral(p, expected, c.expectedText);
    if (found) {
        c.foundText = registerText(p, *found, 1);
        c.foundJson = jsonLiteral(p, *found, c.foundText);
        c.verdict = *found == expected ? Check::Match : Check::Differs;
    } else {
        c.verdict = Check::ReadFailed;
        c.reason = reason;
    }
    return c;
}

MeterRecord polled(int address, const ModuleDef &def, Result result, const QDateTime &started, qint64 ms)
{
    MeterRecord m;
    m.address = address;
    m.def = &def;
    m.result = result;
    m.started = started;
    m.elapsedMs = ms;
    m.hasBefore = true;
    m.beforeTime = started.addMSecs(200);
    m.before = pollOf(def);
    return m;
}

// A meter done: its relay `key` written from 上位机控制 to 报警输出 and read
// back, polled before and after.
MeterRecord commissioned(int address, const ModuleDef &def, const QString &key, const QDateTime &started, qint64 ms)
{
    MeterRecord m = polled(address, def, Result::Done, started, ms);
    m.hasAfter = true;
    m.afterTime = started.addMSecs(ms);
    m.after = pollOf(def);
    setRaw(m.after, def, key, 0);
    m.writes << written(def, key, 1, 0, 0, Written::Verified);
    return m;
}

SiteRecord heading(const QString &command, const QString &site, const QString &operatorName, const QDateTime &started,
                   const QDateTime &finished)
{
    SiteRecord s;
    s.site = site;
    s.operatorName = operatorName;
    s.tool = QStringLiteral("hv52ctl");
    s.version = QStringLiteral("1.0.0");
    s.command = command;
    s.started = started;
    s.finished = finished;
    return s;
}

// A line of `site`: its heading as the site's, its own line and times.
RunRecord line(const SiteRecord &site, const QString &name, int speed, const QJsonObject &place,
               const QDateTime &started, const QDateTime &finished)
{
    RunRecord r;
    r.site = site.site;
    r.operatorName = site.operatorName;
    r.tool = site.tool;
    r.version = site.version;
    r.command = site.command;
    r.line = name;
    r.speed = speed;
    r.place = place;
    r.timeoutMs = 1000;
    r.started = started;
    r.finished = finished;
    return r;
}

// Two lines commissioned at once: on the first a meter done and one whose
// write was refused; the second lost its port after its first meter.
SiteRecord commissionSite()
{
    const ModuleDef &t516 = t516Module();
    const ModuleDef &t528 = t528Module();
    SiteRecord s = heading(QStringLiteral("commission"), QStringLiteral("2# 变电所 <高压室 A&B>"),
                           QStringLiteral("李工"), at(9, 0, 0), at(9, 1, 30));
    s.inputs << QStringLiteral("plan.json");

    RunRecord one =
        line(s, QStringLiteral("COM3"), 9600, QJsonObject{{QStringLiteral("port"), 3}}, at(9, 0, 0), at(9, 0, 42, 500));
    const MeterRecord done = commissioned(3, t516, QStringLiteral("relay1.command"), at(9, 0, 1), 12345);
    MeterRecord refused = polled(5, t516, Result::WriteFailed, at(9, 0, 14), 8400);
    refused.detail = QStringLiteral("继电器1 控制方式写入失败");
    refused.writes << written(t516, QStringLiteral("relay1.command"), 1, 0x5050, std::nullopt, Written::WriteFailed,
                              QStringLiteral("模块拒绝写入（异常 04）"));
    refused.failures << QStringLiteral("继电器1控制方式（0x0E80）写入失败：模块拒绝写入（异常 04）");
    one.meters << done << refused;

    RunRecord two =
        line(s, QStringLiteral("/dev/ttyUSB1"), 19200,
             QJsonObject{{QStringLiteral("device"), QStringLiteral("/dev/ttyUSB1")}}, at(9, 0, 0), at(9, 1, 30));
    two.stopped = QStringLiteral("串口 /dev/ttyUSB1 已断开");
    const MeterRecord first = commissioned(1, t528, QStringLiteral("relay2.command"), at(9, 0, 1), 9000);
    MeterRecord cut = polled(2, t528, Result::Stopped, at(9, 1, 10), 20000);
    cut.before = pollOf(t528, 3, QStringLiteral("串口已断开"));
    cut.failures << QStringLiteral("串口 /dev/ttyUSB1 已断开");
    MeterRecord notRun;
    notRun.address = 4;
    notRun.def = &t528;
    two.meters << first << cut << notRun;

    s.lines << one << two;
    return s;
}

// An audit from an earlier record: a meter as recorded, one whose relay was
// changed since, one whose setting could not be read, and one silent.
SiteRecord auditSite()
{
    const ModuleDef &t516 = t516Module();
    const ModuleDef &t528 = t528Module();
    SiteRecord s = heading(QStringLiteral("verify"), QStringLiteral("2# 变电所"), QStringLiteral("王工"), at(14, 0, 0),
                           at(14, 0, 40));
    s.expectedWord = QStringLiteral("记录");
    s.inputs << QStringLiteral("调试记录-20261207.json") << QStringLiteral("补充记录.json");

    RunRecord one =
        line(s, QStringLiteral("COM3"), 9600, QJsonObject{{QStringLiteral("port"), 3}}, at(14, 0, 0), at(14, 0, 20));
    MeterRecord same = polled(3, t516, Result::Matched, at(14, 0, 1), 4100);
    setRaw(same.before, t516, QStringLiteral("relay1.command"), 0);
    setRaw(same.before, t516, QStringLiteral("analog1.source"), 5);
    same.checks << checked(t516, QStringLiteral("relay1.command"), 0, 0)
                << checked(t516, QStringLiteral("analog1.source"), 5, 5);
    MeterRecord drifted = polled(5, t516, Result::Drifted, at(14, 0, 6), 4200);
    setRaw(drifted.before, t516, QStringLiteral("analog1.source"), 5);
    drifted.detail = QStringLiteral("继电器1 控制方式不一致");
    drifted.checks << checked(t516, QStringLiteral("relay1.command"), 0, 1)
                   << checked(t516, QStringLiteral("analog1.source"), 5, 5);
    one.meters << same << drifted;

    RunRecord two =
        line(s, QStringLiteral("192.168.1.10:4001（串口服务器）"), 0,
             QJsonObject{{QStringLiteral("tcp"), QStringLiteral("192.168.1.10:4001")}}, at(14, 0, 0), at(14, 0, 40));
    MeterRecord unread = polled(8, t528, Result::ReadFailed, at(14, 0, 1), 6300);
    unread.detail = QStringLiteral("继电器2 控制方式读取失败");
    setValue(unread.before, QStringLiteral("relay2.command"),
             unreadValue(*t528.point(QStringLiteral("relay2.command")), QStringLiteral("超时无应答")));
    unread.checks << checked(t528, QStringLiteral("relay1.command"), 1, 1)
                  << checked(t528, QStringLiteral("relay2.command"), 0, std::nullopt, QStringLiteral("超时无应答"));
    unread.failures << QStringLiteral("继电器2控制方式（0x0E81）读取失败：超时无应答");
    MeterRecord silent;
    silent.address = 9;
    silent.def = &t528;
    silent.result = Result::NoAnswer;
    silent.started = at(14, 0, 8);
    silent.elapsedMs = 3050;
    silent.failures << QStringLiteral("地址 9 无应答：超时无应答（3 次）");
    two.meters << unread << silent;

    s.lines << one << two;
    return s;
}

SiteRecord fixture(const QString &name)
{
    return name == QLatin1String("audit") ? auditSite() : commissionSite();
}

QByteArray render(const SiteRecord &record, const QString &format)
{
    return format == QLatin1String("html")  ? siteHtml(record)
           : format == QLatin1String("csv") ? siteCsv(record)
                                            : siteJson(record);
}

QVector<MeterRecord> done(int count, int firstAddress = 1)
{
    QVector<MeterRecord> out;
    for (int i = 0; i < count; ++i)
        out << meter(firstAddress + i, Result::Done);
    return out;
}

// A row for each fixture, in a column "site".
void bothSites()
{
    QTest::addColumn<QString>("site");
    QTest::newRow("commission") << "commission";
    QTest::newRow("audit") << "audit";
}

QStringList sortedKeys(const QJsonObject &o)
{
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

} // namespace

class TestSiteRecord : public QObject
{
    Q_OBJECT

private slots:
    void golden_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("format");
        for (const char *site : {"commission", "audit"}) {
            for (const char *format : {"html", "csv", "json"})
                QTest::addRow("%s %s", site, format) << QString::fromLatin1(site) << QString::fromLatin1(format);
        }
    }
    void golden()
    {
        QFETCH(QString, site);
        QFETCH(QString, format);
        const SiteRecord record = fixture(site);
        const QByteArray out = render(record, format);
        const QString file = QStringLiteral(GOLDEN_DIR "/site_%1.%2").arg(site, format);
        checkGolden(file, out, [&](QString *error) { return hv52::writeSiteRecord(file, record, error); });
    }

    void summary_data()
    {
        QTest::addColumn<QVector<QVector<MeterRecord>>>("lines");
        QTest::addColumn<QString>("lineStopped"); // the second line's, when there is one
        QTest::addColumn<QString>("stopped");     // the site's
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("allDone");

        QTest::newRow("no lines") << QVector<QVector<MeterRecord>>{} << QString() << QString()
                                  << QStringLiteral("0 条线路，0 台") << true;
        QTest::newRow("every meter done") << QVector<QVector<MeterRecord>>{done(2), done(1)} << QString() << QString()
                                          << QStringLiteral("2 条线路，3 台：3 台完成并核对") << true;
        QTest::newRow("done, but the site was stopped after")
            << QVector<QVector<MeterRecord>>{done(2), done(1)} << QString() << QStringLiteral("收到中断信号")
            << QStringLiteral("2 条线路，3 台：3 台完成并核对") << false;
        QTest::newRow("done, but a line was stopped after")
            << QVector<QVector<MeterRecord>>{done(2), done(1)} << QStringLiteral("串口已断开") << QString()
            << QStringLiteral("2 条线路，3 台：3 台完成并核对") << false;
        {
            QVector<MeterRecord> second = done(3, 10);
            second.insert(1, meter(5, Result::NoAnswer));
            second.insert(2, meter(3, Result::Incomplete, QStringLiteral("可能不是 T516")));
            QVector<MeterRecord> third = done(6, 20);
            third.insert(3, meter(7, Result::Incomplete, QStringLiteral("是 T528，不是 T516")));
            QTest::newRow("three lines, each address with its line")
                << QVector<QVector<MeterRecord>>{done(6), second, third} << QString() << QString()
                << QStringLiteral("3 条线路，18 台：15 台完成并核对，1 台无应答（线路 2 地址 5），2 "
                                  "台寄存器不全（线路 2 地址 3：可能不是 T516；线路 3 地址 7：是 T528，不是 T516）")
                << false;
        }
        QTest::newRow("one line named once for its addresses")
            << QVector<QVector<MeterRecord>>{{meter(4, Result::NoAnswer), meter(6, Result::NoAnswer)},
                                             {meter(4, Result::NoAnswer), meter(5, Result::Done)}}
            << QString() << QString()
            << QStringLiteral("2 条线路，4 台：1 台完成并核对，3 台无应答（线路 1 地址 4、6；线路 2 地址 4）") << false;
        QTest::newRow("an audit")
            << QVector<QVector<MeterRecord>>{{meter(1, Result::Matched),
                                              meter(2, Result::Drifted, QStringLiteral("继电器1 控制方式不一致"))},
                                             {meter(1, Result::Matched)}}
            << QString() << QString()
            << QStringLiteral("2 条线路，3 台：2 台一致，1 台不一致（线路 1 地址 2：继电器1 控制方式不一致）") << false;
        QTest::newRow("an audit all as expected")
            << QVector<QVector<MeterRecord>>{{meter(1, Result::Matched)}, {meter(1, Result::Matched)}} << QString()
            << QString() << QStringLiteral("2 条线路，2 台：2 台一致") << true;
        QTest::newRow("stopped and not reached")
            << QVector<QVector<MeterRecord>>{{meter(1, Result::Done), meter(2, Result::Stopped)},
                                             {meter(1, Result::NotReached), meter(2, Result::NotReached)}}
            << QString() << QStringLiteral("收到中断信号")
            << QStringLiteral(
                   "2 条线路，4 台：1 台完成并核对，1 台已中断（线路 1 地址 2），2 台未进行（线路 2 地址 1、2）")
            << false;
    }
    void summary()
    {
        QFETCH(QVector<QVector<MeterRecord>>, lines);
        QFETCH(QString, lineStopped);
        QFETCH(QString, stopped);
        QFETCH(QString, expected);
        QFETCH(bool, allDone);
        SiteRecord s;
        for (const QVector<MeterRecord> &meters : lines) {
            RunRecord r;
            r.line = QStringLiteral("COM%1").arg(s.lines.size() + 1);
            r.meters = meters;
            if (s.lines.size() == 1)
                r.stopped = lineStopped;
            s.lines << r;
        }
        s.stopped = stopped;
        QCOMPARE(s.summary(), expected);
        QCOMPARE(s.allDone(), allDone);
    }

    // A line's row of the lines table: its counts, its time and why it
    // ended early, marked.
    void linesTable_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("row");

        QTest::newRow("commission, a refused write") << "commission"
                                                     << "<tr><td>线路 1（COM3）</td><td class=\"num\">9600</td>"
                                                        "<td class=\"num\">2</td><td class=\"num\">1</td>"
                                                        "<td class=\"num failed\">1</td><td class=\"num\">0</td>"
                                                        "<td class=\"num\">42.5</td><td></td></tr>";
        QTest::newRow("commission, the line cut")
            << "commission"
            << "<tr><td>线路 2（/dev/ttyUSB1）</td><td class=\"num\">19200</td><td class=\"num\">3</td>"
               "<td class=\"num\">1</td><td class=\"num\">0</td><td class=\"num\">2</td>"
               "<td class=\"num\">90.0</td><td class=\"failed\">串口 /dev/ttyUSB1 已断开</td></tr>";
        QTest::newRow("audit, Modbus TCP has no speed")
            << "audit"
            << "<tr><td>线路 2（192.168.1.10:4001）</td><td class=\"num\">—</td>"
               "<td class=\"num\">2</td><td class=\"num\">0</td><td class=\"num failed\">2</td>"
               "<td class=\"num\">0</td><td class=\"num\">40.0</td><td></td></tr>";
    }
    void linesTable()
    {
        QFETCH(QString, site);
        QFETCH(QString, row);
        const QString html = QString::fromUtf8(siteHtml(fixture(site)));
        QVERIFY2(html.contains(row), qPrintable(row));
    }

    // The words that tell an audit from a commissioning, on paper.
    void htmlWords_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("present");
        const auto row = [](const char *title, const char *site, const char *text, bool present) {
            QTest::newRow(title) << QString::fromUtf8(site) << QString::fromUtf8(text) << present;
        };
        row("commission title", "commission", "<h1>调试记录</h1>", true);
        row("commission tab title", "commission", "<title>调试记录 · 2# 变电所 &lt;高压室 A&amp;B&gt;</title>", true);
        row("commission signer", "commission", "<p>调试人：<span", true);
        row("commission writes", "commission", "<h3>设置</h3>", true);
        row("commission has no 依据", "commission", "依据", false);
        row("commission meter names its line", "commission", "<h2>线路 2（/dev/ttyUSB1） · 地址 2 · T528 · 已中断</h2>",
            true);
        row("audit title", "audit", "<h1>验收记录</h1>", true);
        row("audit inputs", "audit", "<tr><th>依据</th><td>调试记录-20261207.json、补充记录.json</td>", true);
        row("audit operator", "audit", "<tr><th>验收人</th><td>王工</td>", true);
        row("audit poll column", "audit", "<th>验收时</th>", true);
        row("audit expected column", "audit", "<th>预期（记录）</th>", true);
        row("audit drift marked", "audit",
            "<tr class=\"failed\"><td>继电器1 控制方式</td><td>报警输出</td><td>上位机控制</td>"
            "<td>不一致（记录 报警输出，模块 上位机控制）</td></tr>",
            true);
        row("audit match plain", "audit",
            "<tr><td>输出1 参数选择</td><td>A相电压</td><td>A相电压</td><td>一致</td></tr>", true);
        row("audit read failure marked", "audit", "<td>未读取</td><td>读取失败（超时无应答）</td></tr>", true);
        row("audit writes nothing", "audit", "<h3>设置</h3>", false);
        row("audit polls once", "audit", "调试后", false);
        row("audit no commissioner", "audit", "调试人", false);
    }
    void htmlWords()
    {
        QFETCH(QString, site);
        QFETCH(QString, text);
        QFETCH(bool, present);
        const QString html = QString::fromUtf8(siteHtml(fixture(site)));
        QVERIFY2(html.contains(text) == present, qPrintable(text));
    }

    // A cell a spreadsheet would run as a formula is made plain text, in
    // either kind of site CSV.
    void csvFormula_data() { bothSites(); }
    void csvFormula()
    {
        QFETCH(QString, site);
        SiteRecord s = fixture(site);
        MeterRecord &m = s.lines[0].meters[0];
        if (s.audit())
            m.checks[0].expectedText = QStringLiteral("=HYPERLINK(\"x\")");
        else
            m.writes[0].writtenText = QStringLiteral("=HYPERLINK(\"x\")");
        const QByteArray bytes = siteCsv(s);
        QVERIFY(bytes.startsWith(QByteArray("\xEF\xBB\xBF") + QStringLiteral("线路,地址,型号,结果,键,项目,").toUtf8()));
        const QString csv = QString::fromUtf8(bytes);
        QVERIFY(csv.contains(QStringLiteral(",\"'=HYPERLINK(\"\"x\"\")\",")));
        QVERIFY(!csv.contains(QStringLiteral(",=HYPERLINK")));
        QVERIFY(!csv.contains(QStringLiteral(",\"=HYPERLINK")));
    }

    // The audit's CSV: a row a setting compared, and a meter never compared
    // still a row with why.
    void auditCsvRows_data()
    {
        QTest::addColumn<QString>("row");
        QTest::newRow("match") << QStringLiteral("线路 1（COM3）,3,T516,一致,relay1.command,继电器1 控制方式,"
                                                 "报警输出,报警输出,一致\r\n");
        QTest::newRow("differs") << QStringLiteral(
            "线路 1（COM3）,5,T516,不一致：继电器1 控制方式不一致,relay1.command,继电器1 控制方式,报警输出,"
            "上位机控制,不一致（记录 报警输出，模块 上位机控制）\r\n");
        QTest::newRow("read failed") << QStringLiteral(
            "线路 2（192.168.1.10:4001）,8,T528,读取失败：继电器2 控制方式读取失败,relay2.command,"
            "继电器2 控制方式,报警输出,,读取失败（超时无应答）\r\n");
        QTest::newRow("no answer") << QStringLiteral(
            "线路 2（192.168.1.10:4001）,9,T528,无应答,,,,,地址 9 无应答：超时无应答（3 次）\r\n");
    }
    void auditCsvRows()
    {
        QFETCH(QString, row);
        const QByteArray bytes = siteCsv(auditSite());
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"
                                 + QStringLiteral("线路,地址,型号,结果,键,项目,预期,模块,核对\r\n").toUtf8()));
        const QString csv = QString::fromUtf8(bytes);
        QVERIFY2(csv.contains(QStringLiteral("\n") + row), qPrintable(row));
    }

    void jsonKeys_data() { bothSites(); }
    void jsonKeys()
    {
        QFETCH(QString, site);
        const SiteRecord record = fixture(site);
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(siteJson(record), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject root = doc.object();
        QStringList keys{"all_done", "command", "finished", "lines", "operator", "site",
                         "started",  "stopped", "summary",  "tool",  "version"};
        if (record.audit())
            keys << "expected_from"
                 << "inputs";
        keys.sort();
        QCOMPARE(sortedKeys(root), keys);
        QCOMPARE(root.value("summary").toString(), record.summary());
        QCOMPARE(root.value("all_done").toBool(), false);
        if (record.audit()) {
            QCOMPARE(root.value("expected_from").toString(), QStringLiteral("记录"));
            QCOMPARE(root.value("inputs").toArray().size(), 2);
        }

        const QJsonArray lines = root.value("lines").toArray();
        QCOMPARE(lines.size(), record.lines.size());
        for (int i = 0; i < lines.size(); ++i) {
            const QJsonObject line = lines[i].toObject();
            QCOMPARE(line.value("name").toString(), record.lineName(i));
            QCOMPARE(line.value("place").toObject(), record.lines[i].place);
            QCOMPARE(line.value("timeout_ms").toInt(), 1000);
            // The line as its own record has it, plus its name.
            QJsonObject alone = recordJsonObject(record.lines[i]);
            QJsonObject named = line;
            named.remove("name");
            if (!record.audit())
                QCOMPARE(named, alone);
            const QJsonArray meters = line.value("meters").toArray();
            QCOMPARE(meters.size(), record.lines[i].meters.size());
            for (int j = 0; j < meters.size(); ++j) {
                const MeterRecord &m = record.lines[i].meters[j];
                const QJsonObject meter = meters[j].toObject();
                QCOMPARE(meter.contains("checks"), !m.checks.isEmpty());
                const QJsonArray checks = meter.value("checks").toArray();
                QCOMPARE(checks.size(), m.checks.size());
                for (int k = 0; k < checks.size(); ++k) {
                    const QJsonObject c = checks[k].toObject();
                    QCOMPARE(sortedKeys(c), (QStringList{"caption", "expected", "expected_text", "found", "found_text",
                                                         "key", "reason", "text", "verdict"}));
                    QCOMPARE(c.value("key").toString(), m.checks[k].key);
                    QCOMPARE(c.value("verdict").toString(), verdictKey(m.checks[k].verdict));
                    // The site's word, where the one-line record says 计划.
                    QCOMPARE(c.value("text").toString(), m.checks[k].text(QStringLiteral("记录")));
                    QCOMPARE(c.value("reason").isNull(), m.checks[k].reason.isEmpty());
                    QCOMPARE(c.value("found").isNull(), m.checks[k].verdict == Check::ReadFailed);
                }
            }
        }
    }

    // A meter's checks in the line's own record, worded for a plan.
    void lineJsonChecks_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("meter");
        QTest::addColumn<int>("check");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("text");
        QTest::newRow("match") << 0 << 0 << 0 << "match" << QStringLiteral("一致");
        QTest::newRow("differs") << 0 << 1 << 0 << "differs"
                                 << QStringLiteral("不一致（计划 报警输出，模块 上位机控制）");
        QTest::newRow("read failed") << 1 << 0 << 1 << "read_failed" << QStringLiteral("读取失败（超时无应答）");
    }
    void lineJsonChecks()
    {
        QFETCH(int, line);
        QFETCH(int, meter);
        QFETCH(int, check);
        QFETCH(QString, verdict);
        QFETCH(QString, text);
        const QJsonObject root = QJsonDocument::fromJson(recordJson(auditSite().lines[line])).object();
        const QJsonObject c = root.value("meters")[meter]["checks"][check].toObject();
        QCOMPARE(c.value("verdict").toString(), verdict);
        QCOMPARE(c.value("text").toString(), text);
    }

    void writeSiteRecord_data()
    {
        writeColumns();
        writeRow("html", "现场.html", "", "html", "");
        writeRow("csv over an old file", "site.CSV", "old", "csv", "");
        writeRow("json", "site.json", "", "json", "");
        writeRow("a directory", "site.html", "dir", "", "是目录");
        writeRow("unknown extension", "site.pdf", "", "", ".html、.csv 或 .json");
        writeRow("folder missing", "missing/site.json", "", "", "无法写入文件");
        writeRow("disk full mid-write, old file kept", "site.html", "small disk", "", "文件过大");
    }
    void writeSiteRecord()
    {
        const SiteRecord record = commissionSite();
        checkWriteRow([&](const QString &file, QString *error) { return hv52::writeSiteRecord(file, record, error); },
                      [&](const QString &format) { return render(record, format); });
    }
};

QTEST_GUILESS_MAIN(TestSiteRecord)

#include "tst_siterecord.moc"
