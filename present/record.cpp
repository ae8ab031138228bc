#include "record.h"
#include "recordparts.h"

#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>

namespace hv52 {

using Result = MeterRecord::Result;
using namespace recordparts;

namespace {

QString lineText(const RunRecord &record)
{
    QString line = record.line.isEmpty() ? QStringLiteral("（未记录）") : record.line;
    if (record.speed > 0)
        line += QStringLiteral("，%1 bit/s").arg(record.speed);
    return line;
}

} // namespace

QString resultWords(Result result)
{
    switch (result) {
    case Result::Done:
        return QStringLiteral("完成并核对");
    case Result::Recorded:
        return QStringLiteral("已记录");
    case Result::NoAnswer:
        return QStringLiteral("无应答");
    case Result::Incomplete:
        return QStringLiteral("寄存器不全");
    case Result::ReadFailed:
        return QStringLiteral("读取失败");
    case Result::NotWritten:
        return QStringLiteral("未写入");
    case Result::WriteFailed:
        return QStringLiteral("写入未完成");
    case Result::Matched:
        return QStringLiteral("一致");
    case Result::Drifted:
        return QStringLiteral("不一致");
    case Result::Unchecked:
        return QStringLiteral("未能核对");
    case Result::Stopped:
        return QStringLiteral("已中断");
    case Result::NotReached:
        break;
    }
    return QStringLiteral("未进行");
}

QString resultWithDetail(const MeterRecord &m, const QString &open, const QString &close)
{
    const QString words = resultWords(m.result);
    if (m.detail.isEmpty())
        return words;
    if (m.detail.startsWith(words))
        return m.detail;
    return words + open + m.detail + close;
}

QString resultKey(Result result)
{
    switch (result) {
    case Result::Done:
        return QStringLiteral("done");
    case Result::Recorded:
        return QStringLiteral("recorded");
    case Result::NoAnswer:
        return QStringLiteral("no_answer");
    case Result::Incomplete:
        return QStringLiteral("incomplete");
    case Result::ReadFailed:
        return QStringLiteral("read_failed");
    case Result::NotWritten:
        return QStringLiteral("not_written");
    case Result::WriteFailed:
        return QStringLiteral("write_failed");
    case Result::Matched:
        return QStringLiteral("matched");
    case Result::Drifted:
        return QStringLiteral("drifted");
    case Result::Unchecked:
        return QStringLiteral("unchecked");
    case Result::Stopped:
        return QStringLiteral("stopped");
    case Result::NotReached:
        break;
    }
    return QStringLiteral("not_reached");
}

QString CheckedValue::text(const QString &expectedWord) const
{
    switch (verdict) {
    case Verdict::Match:
        return QStringLiteral("一致");
    case Verdict::Differs:
        return QStringLiteral("不一致（%1 %2，模块 %3）").arg(expectedWord, expectedText, foundText);
    case Verdict::NotChecked:
        return QStringLiteral("未核对（%1）").arg(reason);
    case Verdict::ReadFailed:
        break;
    }
    return reason.isEmpty() ? QStringLiteral("读取失败") : QStringLiteral("读取失败（%1）").arg(reason);
}

QString verdictKey(CheckedValue::Verdict verdict)
{
    switch (verdict) {
    case CheckedValue::Verdict::Match:
        return QStringLiteral("match");
    case CheckedValue::Verdict::Differs:
        return QStringLiteral("differs");
    case CheckedValue::Verdict::NotChecked:
        return QStringLiteral("not_checked");
    case CheckedValue::Verdict::ReadFailed:
        break;
    }
    return QStringLiteral("read_failed");
}

QString MeterRecord::kindLabel() const
{
    return def ? def->name.toUpper() : QStringLiteral("未知");
}

bool RunRecord::allDone() const
{
    return stopped.isEmpty()
           && std::all_of(meters.begin(), meters.end(), [](const MeterRecord &m) { return m.done(); });
}

QString RunRecord::summary() const
{
    QVector<const MeterRecord *> all;
    for (const MeterRecord &m : meters)
        all << &m;
    const QStringList groups = summaryGroups(all, [](int) { return QStringLiteral("地址 "); });
    QString out = QStringLiteral("%1 台").arg(meters.size());
    if (!groups.isEmpty())
        out += u'：' + groups.join(u'，');
    return out;
}

namespace {

// The command as the page names it: hv52ctl's as typed, a window's in words.
QString commandText(const QString &command)
{
    return command == QLatin1String("window") ? QStringLiteral("调试窗口（召测与设置）") : command;
}

} // namespace

QByteArray recordHtml(const RunRecord &record)
{
    const QString title = QStringLiteral("调试记录");
    QString out = pageStart(title, record.site);
    out += pageHeader(title, {{QStringLiteral("现场"), record.site},
                              {QStringLiteral("通讯线路"), lineText(record)},
                              {QStringLiteral("开始时间"), displayTime(record.started)},
                              {QStringLiteral("结束时间"), displayTime(record.finished)},
                              {QStringLiteral("工具"), (record.tool + u' ' + record.version).trimmed()},
                              {QStringLiteral("命令"), commandText(record.command)},
                              {QStringLiteral("调试人"), record.operatorName}});

    out += QStringLiteral("<h2>概况</h2>\n<table class=\"meters\">\n")
           + headRow(
               {QStringLiteral("地址"), QStringLiteral("型号"), QStringLiteral("结果"), QStringLiteral("用时（秒）")})
           + QStringLiteral("<tbody>\n");
    for (const MeterRecord &m : record.meters) {
        out += QStringLiteral("<tr><td class=\"num\">%1</td>").arg(m.address) + cell(m.kindLabel())
               + cell(resultText(m), m.done() ? QString() : QStringLiteral("failed"))
               + QStringLiteral("<td class=\"num\">%1</td></tr>\n").arg(seconds(m.elapsedMs));
    }
    out += QStringLiteral("</tbody>\n</table>\n");
    out += QStringLiteral("<p class=\"summary\">%1</p>\n").arg(esc(record.summary()));
    if (!record.stopped.isEmpty())
        out += QStringLiteral("<p class=\"stopped\">调试提前结束：%1</p>\n").arg(esc(record.stopped));

    Wording wording;
    wording.window = record.command == QLatin1String("window");
    for (const MeterRecord &m : record.meters)
        out += meterSection(m, wording);

    out += pageEnd({QStringLiteral("调试人"), QStringLiteral("验收人"), QStringLiteral("日期")});
    return out.toUtf8();
}

QByteArray recordCsv(const RunRecord &record)
{
    QString out = csvRow(meterCsvHead());
    for (const MeterRecord &m : record.meters) {
        for (const QStringList &row : meterCsvRows(m))
            out += csvRow(row);
    }
    return csvBytes(out);
}

QJsonObject recordJsonObject(const RunRecord &record)
{
    return runJson(record, QStringLiteral("计划"));
}

QByteArray recordJson(const RunRecord &record)
{
    return QJsonDocument(recordJsonObject(record)).toJson(QJsonDocument::Indented);
}

QString recordFormat(const QString &file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm"))
        return QStringLiteral("html");
    if (suffix == QLatin1String("csv") || suffix == QLatin1String("json"))
        return suffix;
    return QString();
}

bool writeRecord(const QString &file, const RunRecord &record, QString *error)
{
    return writeFile(file, record, recordHtml, recordCsv, recordJson, error);
}

} // namespace hv52
