#include "siterecord.h"
#include "recordparts.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <functional>

namespace hv52 {

using Result = MeterRecord::Result;
using namespace recordparts;

namespace {

// A line's heading starts a page, never at the foot of the line before's
// last meter, and its first meter follows it on that page.
const char kSiteStyle[] = "section.line { break-before: page; page-break-before: always; }\n"
                          "section.line + section.meter { break-before: auto; page-break-before: auto; }\n";

bool unreached(const MeterRecord &m)
{
    return m.result == Result::NotReached || m.result == Result::Stopped;
}

QString lineSeconds(const RunRecord &line)
{
    if (!line.started.isValid() || !line.finished.isValid())
        return QStringLiteral("—");
    return seconds(line.started.msecsTo(line.finished));
}

QString linesTable(const SiteRecord &record)
{
    QString out = QStringLiteral("<h2>各线路概况</h2>\n<table class=\"lines\">\n")
                  + headRow({QStringLiteral("线路"), QStringLiteral("波特率"), QStringLiteral("表计"),
                             record.audit() ? QStringLiteral("一致") : QStringLiteral("完成"), QStringLiteral("失败"),
                             QStringLiteral("未进行"), QStringLiteral("用时（秒）"), QStringLiteral("提前结束")})
                  + QStringLiteral("<tbody>\n");
    const auto num = [](qsizetype n) { return QStringLiteral("<td class=\"num\">%1</td>").arg(n); };
    for (int i = 0; i < record.lines.size(); ++i) {
        const RunRecord &line = record.lines[i];
        const auto done = std::count_if(line.meters.begin(), line.meters.end(), std::mem_fn(&MeterRecord::done));
        const auto notRun = std::count_if(line.meters.begin(), line.meters.end(), unreached);
        const auto failed = line.meters.size() - done - notRun;
        out += QStringLiteral("<tr>") + cell(record.lineName(i))
               + QStringLiteral("<td class=\"num\">%1</td>")
                     .arg(line.speed > 0 ? QString::number(line.speed) : QStringLiteral("—"))
               + num(line.meters.size()) + num(done)
               + (failed ? QStringLiteral("<td class=\"num failed\">%1</td>").arg(failed) : num(failed)) + num(notRun)
               + QStringLiteral("<td class=\"num\">%1</td>").arg(lineSeconds(line))
               + cell(line.stopped, line.stopped.isEmpty() ? QString() : QStringLiteral("failed"))
               + QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody>\n</table>\n");
}

} // namespace

bool SiteRecord::allDone() const
{
    return stopped.isEmpty() && std::all_of(lines.begin(), lines.end(), std::mem_fn(&RunRecord::allDone));
}

QString SiteRecord::lineName(int index) const
{
    // The place as the plan names it ("COM3", "10.0.0.7:4001"), as the
    // terminal named the line during the run; the line's text otherwise.
    const RunRecord line = lines.value(index);
    QString place = line.line;
    if (!line.place.isEmpty()) {
        const QJsonValue v = line.place.begin().value();
        place =
            line.place.begin().key() == QLatin1String("port") ? QStringLiteral("COM%1").arg(v.toInt()) : v.toString();
    }
    return QStringLiteral("线路 %1（%2）").arg(index + 1).arg(place);
}

QString SiteRecord::summary() const
{
    QVector<const MeterRecord *> all;
    QVector<int> lineOf;
    for (int i = 0; i < lines.size(); ++i) {
        for (const MeterRecord &m : lines[i].meters) {
            all << &m;
            lineOf << i + 1;
        }
    }
    const QStringList groups =
        summaryGroups(all, [&lineOf](int i) { return QStringLiteral("线路 %1 地址 ").arg(lineOf[i]); });
    QString out = QStringLiteral("%1 条线路，%2 台").arg(lines.size()).arg(all.size());
    if (!groups.isEmpty())
        out += u'：' + groups.join(u'，');
    return out;
}

QByteArray siteHtml(const SiteRecord &record)
{
    const bool audit = record.audit();
    const QString title = audit ? QStringLiteral("验收记录") : QStringLiteral("调试记录");
    QString out = pageStart(title, record.site, QString::fromUtf8(kSiteStyle));
    QVector<std::pair<QString, QString>> info{
        {QStringLiteral("现场"), record.site},
        {QStringLiteral("开始时间"), displayTime(record.started)},
        {QStringLiteral("结束时间"), displayTime(record.finished)},
        {QStringLiteral("工具"), (record.tool + u' ' + record.version).trimmed()},
        {QStringLiteral("命令"), record.command},
        {audit ? QStringLiteral("验收人") : QStringLiteral("调试人"), record.operatorName}};
    if (audit)
        info.append({QStringLiteral("依据"), record.inputs.join(u'、')});
    out += pageHeader(title, info);

    out += linesTable(record);
    out += QStringLiteral("<p class=\"summary\">%1</p>\n").arg(esc(record.summary()));
    if (!record.stopped.isEmpty())
        out += QStringLiteral("<p class=\"stopped\">%1提前结束：%2</p>\n")
                   .arg(audit ? QStringLiteral("验收") : QStringLiteral("调试"), esc(record.stopped));

    Wording wording;
    wording.audit = audit;
    wording.expectedWord = record.expectedWord;
    for (int i = 0; i < record.lines.size(); ++i) {
        const RunRecord &line = record.lines[i];
        out += QStringLiteral("<section class=\"line\">\n<h2>%1</h2>\n<p class=\"summary\">%2</p>\n")
                   .arg(esc(record.lineName(i)), esc(line.summary()));
        if (!line.stopped.isEmpty())
            out += QStringLiteral("<p class=\"stopped\">本线路提前结束：%1</p>\n").arg(esc(line.stopped));
        out += QStringLiteral("</section>\n");
        // Two lines may each have a meter at one address: its page names the line.
        wording.where = record.lineName(i) + QStringLiteral(" · ");
        for (const MeterRecord &m : line.meters)
            out += meterSection(m, wording);
    }

    out += pageEnd(audit ? QStringList{QStringLiteral("验收人"), QStringLiteral("日期")}
                         : QStringList{QStringLiteral("调试人"), QStringLiteral("验收人"), QStringLiteral("日期")});
    return out.toUtf8();
}

QByteArray siteCsv(const SiteRecord &record)
{
    QString out;
    if (!record.audit()) {
        out = csvRow(QStringList{QStringLiteral("线路")} + meterCsvHead());
        for (int i = 0; i < record.lines.size(); ++i) {
            for (const MeterRecord &m : record.lines[i].meters) {
                for (const QStringList &row : meterCsvRows(m))
                    out += csvRow(QStringList{record.lineName(i)} + row);
            }
        }
        return csvBytes(out);
    }
    out = csvRow({QStringLiteral("线路"), QStringLiteral("地址"), QStringLiteral("型号"), QStringLiteral("结果"),
                  QStringLiteral("键"), QStringLiteral("项目"), QStringLiteral("预期"), QStringLiteral("模块"),
                  QStringLiteral("核对")});
    for (int i = 0; i < record.lines.size(); ++i) {
        for (const MeterRecord &m : record.lines[i].meters) {
            const QStringList meter{record.lineName(i), QString::number(m.address), m.kindLabel(), resultText(m)};
            if (m.checks.isEmpty()) {
                // A meter that was never compared still has its row, with why.
                out += csvRow(
                    meter
                    + QStringList{QString(), QString(), QString(), QString(), m.failures.join(QStringLiteral("；"))});
                continue;
            }
            for (const CheckedValue &c : m.checks) {
                out += csvRow(
                    meter + QStringList{c.key, c.caption, c.expectedText, c.foundText, c.text(record.expectedWord)});
            }
        }
    }
    return csvBytes(out);
}

QByteArray siteJson(const SiteRecord &record)
{
    QJsonArray lines;
    for (int i = 0; i < record.lines.size(); ++i) {
        QJsonObject line = runJson(record.lines[i], record.expectedWord);
        line.insert(QStringLiteral("name"), record.lineName(i));
        lines << line;
    }
    QJsonObject root = headingJson(record);
    root.insert(QStringLiteral("lines"), lines);
    if (record.audit()) {
        root.insert(QStringLiteral("inputs"), QJsonArray::fromStringList(record.inputs));
        root.insert(QStringLiteral("expected_from"), record.expectedWord);
    }
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool writeSiteRecord(const QString &file, const SiteRecord &record, QString *error)
{
    return writeFile(file, record, siteHtml, siteCsv, siteJson, error);
}

} // namespace hv52
