#include "recordparts.h"
#include "registerhex.h"
#include "systemtext.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>

namespace hv52::recordparts {

using Result = MeterRecord::Result;

namespace {

const Result kResults[] = {Result::Done,       Result::Recorded,    Result::Matched,    Result::Drifted,
                           Result::Unchecked,  Result::NoAnswer,    Result::Incomplete, Result::ReadFailed,
                           Result::NotWritten, Result::WriteFailed, Result::Stopped,    Result::NotReached};

// "+08:00": the offset, read beside a local time.
QString offsetText(const QDateTime &t)
{
    int seconds = t.offsetFromUtc();
    const QChar sign = seconds < 0 ? u'-' : u'+';
    seconds = std::abs(seconds);
    return QStringLiteral("%1%2:%3")
        .arg(sign)
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds % 3600 / 60, 2, 10, QLatin1Char('0'));
}

// A failed or unreached value says so with its reason: a blank or a 0 in a
// signed record would pass for a reading.
QString failedText(const Value &v)
{
    return QStringLiteral("读取失败：%1").arg(v.failure.isEmpty() ? QStringLiteral("原因不明") : v.failure);
}

const Value *valueFor(const QVector<Value> &values, const QString &key)
{
    for (const Value &v : values) {
        if (v.point && v.point->key == key)
            return &v;
    }
    return nullptr;
}

// The polled points of a meter, before and after together, in poll order.
QVector<const Point *> polledPoints(const MeterRecord &m)
{
    QVector<const Point *> points;
    QStringList keys;
    for (const QVector<Value> *values : {&m.before, &m.after}) {
        for (const Value &v : *values) {
            if (v.point && !keys.contains(v.point->key)) {
                keys << v.point->key;
                points << v.point;
            }
        }
    }
    return points;
}

// ---- HTML -----------------------------------------------------------------

// WenQuanYi Zen Hei first: a TrueType face, which Chromium embeds in a PDF as
// a named, searchable font (the CFF faces of Noto CJK come out as Type 3
// glyphs). The others are what Windows and macOS have.
const char kStyle[] = R"(@page { size: A4; margin: 15mm 12mm 15mm 12mm; }
* { box-sizing: border-box; }
body { font-family: "WenQuanYi Zen Hei", "Noto Sans CJK SC", "Microsoft YaHei", "PingFang SC", "SimHei", sans-serif;
  font-size: 10.5pt; line-height: 1.4; color: #000; background: #fff; margin: 0 auto; padding: 8mm; max-width: 210mm; }
h1 { font-size: 20pt; text-align: center; margin: 0 0 6mm 0; letter-spacing: 0.3em; }
h2 { font-size: 14pt; margin: 0 0 3mm 0; padding-bottom: 1mm; border-bottom: 2px solid #000; }
h2, h3 { break-after: avoid; page-break-after: avoid; }
h3 { font-size: 11.5pt; margin: 5mm 0 2mm 0; }
p { margin: 1.5mm 0; }
table { border-collapse: collapse; width: 100%; margin: 2mm 0; }
thead { display: table-header-group; }
tr, li { break-inside: avoid; page-break-inside: avoid; }
th, td { border: 1px solid #555; padding: 1.2mm 2mm; text-align: left; vertical-align: top; }
th { background: #e6e6e6; font-weight: bold; }
table.info th { width: 28mm; }
td.num { text-align: right; white-space: nowrap; }
.failed { color: #b00000; font-weight: bold; }
.note { color: #333; font-style: italic; }
.summary { font-weight: bold; margin-top: 3mm; }
.stopped { color: #b00000; font-weight: bold; }
section.meter { break-before: page; page-break-before: always; }
.signatures { margin-top: 12mm; break-inside: avoid; page-break-inside: avoid; }
.signatures p { margin: 8mm 0; }
.blank { display: inline-block; width: 60mm; border-bottom: 1px solid #000; }
@media print {
  body { padding: 0; max-width: none; }
  th, .failed { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
)";

QString valueCell(const QVector<Value> &values, const Point *point)
{
    const Value *v = valueFor(values, point->key);
    if (!v)
        return cell(QStringLiteral("读取失败：未召测到此项"), QStringLiteral("failed"));
    return v->ok ? cell(v->text) : cell(failedText(*v), QStringLiteral("failed"));
}

QString valuesSection(const MeterRecord &m, const Wording &wording)
{
    QString out = QStringLiteral("<h3>召测数值</h3>\n");
    if (!m.hasBefore && !m.hasAfter) {
        out += QStringLiteral("<p class=\"note\">%1</p>\n")
                   .arg(wording.window ? QStringLiteral("本窗口尚未召测") : QStringLiteral("未召测"));
        return out;
    }
    // An audit polls once and writes nothing: there is no "after" to miss.
    const QString first = wording.audit ? QStringLiteral("验收时") : QStringLiteral("调试前");
    QStringList times;
    if (m.hasBefore)
        times << QStringLiteral("%1召测于 %2").arg(first, displayTime(m.beforeTime));
    else
        times << first + QStringLiteral("未召测");
    if (m.hasAfter)
        times << QStringLiteral("调试后召测于 %1").arg(displayTime(m.afterTime));
    else if (!wording.audit)
        times << QStringLiteral("调试后未召测");
    out += QStringLiteral("<p class=\"note\">%1</p>\n").arg(esc(times.join(QStringLiteral("；"))));

    const QVector<const Point *> points = polledPoints(m);
    if (points.isEmpty())
        return out + QStringLiteral("<p class=\"failed\">未读到任何数值</p>\n");
    QStringList head{QStringLiteral("项目")};
    if (m.hasBefore)
        head << first;
    if (m.hasAfter)
        head << QStringLiteral("调试后");
    out += QStringLiteral("<table class=\"values\">\n") + headRow(head) + QStringLiteral("<tbody>\n");
    for (const Point *p : points) {
        out += QStringLiteral("<tr>") + cell(p->caption());
        if (m.hasBefore)
            out += valueCell(m.before, p);
        if (m.hasAfter)
            out += valueCell(m.after, p);
        out += QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody>\n</table>\n");
}

QString writesSection(const MeterRecord &m)
{
    QString out = QStringLiteral("<h3>设置</h3>\n");
    if (m.writes.isEmpty())
        return out + QStringLiteral("<p class=\"note\">未要求写入任何设置</p>\n");
    const bool timed =
        std::any_of(m.writes.begin(), m.writes.end(), [](const WrittenValue &w) { return w.time.isValid(); });
    QStringList head{QStringLiteral("项目"), QStringLiteral("调试前"), QStringLiteral("设定值"),
                     QStringLiteral("读回"), QStringLiteral("结果"),   QStringLiteral("原因")};
    if (timed)
        head << QStringLiteral("时间");
    out += QStringLiteral("<table class=\"writes\">\n") + headRow(head) + QStringLiteral("<tbody>\n");
    for (const WrittenValue &w : m.writes) {
        const QString failed = w.done() ? QString() : QStringLiteral("failed");
        // An empty text is a value there is none of; say which, not a blank.
        const QString before = !w.beforeText.isEmpty() ? w.beforeText
                               : w.point               ? QStringLiteral("未读取")
                                                       : QStringLiteral("（无）");
        const QString readBack = !w.readBackText.isEmpty()                          ? w.readBackText
                                 : w.outcome == WrittenValue::Outcome::Acknowledged ? QStringLiteral("（不读回）")
                                                                                    : QStringLiteral("未读回");
        out += QStringLiteral("<tr>") + cell(w.caption) + cell(before)
               + cell(w.writtenText.isEmpty() ? QStringLiteral("（无）") : w.writtenText)
               + cell(readBack, w.readBackText.isEmpty() ? failed : QString()) + cell(outcomeWords(w.outcome), failed)
               + cell(w.reason, failed);
        if (timed)
            out += cell(w.time.isValid() ? displayTime(w.time) : QString());
        out += QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody>\n</table>\n");
}

// An audit's comparison: the expected value beside the one found, each row
// that is not "一致" marked so it stands out on paper.
QString checksSection(const MeterRecord &m, const QString &expectedWord)
{
    QString out = QStringLiteral("<h3>核对</h3>\n");
    if (m.checks.isEmpty())
        return out + QStringLiteral("<p class=\"note\">未核对任何设置</p>\n");
    out += QStringLiteral("<table class=\"checks\">\n")
           + headRow({QStringLiteral("项目"), QStringLiteral("预期（%1）").arg(expectedWord), QStringLiteral("模块"),
                      QStringLiteral("结果")})
           + QStringLiteral("<tbody>\n");
    for (const CheckedValue &c : m.checks) {
        const bool match = c.verdict == CheckedValue::Verdict::Match;
        out += (match ? QStringLiteral("<tr>") : QStringLiteral("<tr class=\"failed\">")) + cell(c.caption)
               + cell(c.expectedText) + cell(c.foundText.isEmpty() ? QStringLiteral("未读取") : c.foundText)
               + cell(c.text(expectedWord)) + QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody>\n</table>\n");
}

// ---- CSV ------------------------------------------------------------------

// A spreadsheet runs a cell that starts with = + - @ as a formula, and
// some take a leading tab or carriage return as blank and read the formula
// after it; a plain number (a negative limit) stays a number.
QString safeCell(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^[-+]?[0-9]+(\\.[0-9]+)?$"));
    if (!text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front()) && !number.match(text).hasMatch())
        return u'\'' + text;
    return text;
}

QString csvField(const QString &raw)
{
    const QString text = safeCell(raw);
    if (text.contains(u',') || text.contains(u'"') || text.contains(u'\r') || text.contains(u'\n')) {
        QString quoted = text;
        quoted.replace(u'"', QStringLiteral("\"\""));
        return u'"' + quoted + u'"';
    }
    return text;
}

QString pollCell(bool polled, const QVector<Value> &values, const QString &key)
{
    if (!polled)
        return QStringLiteral("未召测");
    const Value *v = valueFor(values, key);
    if (!v)
        return QString();
    return v->ok ? v->text : failedText(*v);
}

// ---- JSON -----------------------------------------------------------------

QJsonValue pollJson(bool polled, const QDateTime &time, const QVector<Value> &values)
{
    if (!polled)
        return QJsonValue();
    QJsonObject read, failures;
    for (const Value &v : values) {
        if (!v.point)
            continue;
        read.insert(v.point->key, v.ok ? v.json : QJsonValue());
        if (!v.ok)
            failures.insert(v.point->key, v.failure);
    }
    return QJsonObject{{QStringLiteral("time"), isoTime(time)},
                       {QStringLiteral("values"), read},
                       {QStringLiteral("failures"), failures}};
}

QJsonObject writeJson(const WrittenValue &w)
{
    return QJsonObject{{QStringLiteral("key"), w.key},
                       {QStringLiteral("caption"), w.caption},
                       {QStringLiteral("register"), registerHex(w.reg)},
                       {QStringLiteral("before"), w.beforeJson},
                       {QStringLiteral("written"), w.writtenJson},
                       {QStringLiteral("read_back"), w.readBackJson},
                       {QStringLiteral("outcome"), outcomeKey(w.outcome)},
                       {QStringLiteral("reason"), textOrNull(w.reason)},
                       {QStringLiteral("time"), isoTime(w.time)}};
}

QJsonObject checkJson(const CheckedValue &c, const QString &expectedWord)
{
    return QJsonObject{{QStringLiteral("key"), c.key},
                       {QStringLiteral("caption"), c.caption},
                       {QStringLiteral("expected"), c.expectedJson},
                       {QStringLiteral("found"), c.foundJson},
                       {QStringLiteral("expected_text"), c.expectedText},
                       {QStringLiteral("found_text"), textOrNull(c.foundText)},
                       {QStringLiteral("verdict"), verdictKey(c.verdict)},
                       {QStringLiteral("text"), c.text(expectedWord)},
                       {QStringLiteral("reason"), textOrNull(c.reason)}};
}

QJsonObject meterJson(const MeterRecord &m, const QString &expectedWord)
{
    QJsonArray writes;
    for (const WrittenValue &w : m.writes)
        writes << writeJson(w);
    QJsonObject out{{QStringLiteral("address"), m.address},
                    {QStringLiteral("module"), m.def ? QJsonValue(m.def->name) : QJsonValue()},
                    {QStringLiteral("result"), resultKey(m.result)},
                    {QStringLiteral("result_text"), resultWords(m.result)},
                    {QStringLiteral("detail"), textOrNull(m.detail)},
                    {QStringLiteral("started"), isoTime(m.started)},
                    {QStringLiteral("elapsed_ms"), m.elapsedMs},
                    {QStringLiteral("before"), pollJson(m.hasBefore, m.beforeTime, m.before)},
                    {QStringLiteral("after"), pollJson(m.hasAfter, m.afterTime, m.after)},
                    {QStringLiteral("writes"), writes},
                    {QStringLiteral("failures"), QJsonArray::fromStringList(m.failures)}};
    // Only an audit compares; a commissioning's record keeps its old keys.
    if (!m.checks.isEmpty()) {
        QJsonArray checks;
        for (const CheckedValue &c : m.checks)
            checks << checkJson(c, expectedWord);
        out.insert(QStringLiteral("checks"), checks);
    }
    return out;
}

// Writes all of `data` and flushes it, true only when every byte reached the
// file. A short write sets no error, and a flush that writes only some of the
// buffer reports no reason; the next attempt meets the system's (a full disk,
// a size limit), which is the one worth telling.
bool writeWhole(QSaveFile &out, const QByteArray &data)
{
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 n = out.write(data.constData() + written, data.size() - written);
        if (n <= 0)
            return false;
        written += n;
    }
    qint64 left = out.bytesToWrite();
    while (!out.flush()) {
        const qint64 now = out.bytesToWrite();
        if (now == 0 || now >= left)
            return false;
        left = now;
        out.unsetError();
    }
    return out.error() == QFileDevice::NoError;
}

} // namespace

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

QString displayTime(const QDateTime &t)
{
    if (!t.isValid())
        return QStringLiteral("（未记录）");
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + offsetText(t);
}

QJsonValue isoTime(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(t.toString(Qt::ISODate)) : QJsonValue();
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1);
}

QString resultText(const MeterRecord &m)
{
    return resultWithDetail(m, QStringLiteral("："));
}

QString pageStart(const QString &title, const QString &site, const QString &extraStyle)
{
    QString out = QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n");
    out +=
        QStringLiteral("<title>%1</title>\n").arg(esc(site.isEmpty() ? title : title + QStringLiteral(" · ") + site));
    return out + QStringLiteral("<style>\n") + QString::fromUtf8(kStyle) + extraStyle
           + QStringLiteral("</style>\n</head>\n<body>\n");
}

QString pageHeader(const QString &title, const QVector<std::pair<QString, QString>> &info)
{
    QString out = QStringLiteral("<header>\n<h1>%1</h1>\n<table class=\"info\">\n<tbody>\n").arg(esc(title));
    for (const auto &[caption, text] : info) {
        out += QStringLiteral("<tr><th>%1</th>").arg(esc(caption))
               + cell(text.isEmpty() ? QStringLiteral("（未填写）") : text) + QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</tbody>\n</table>\n</header>\n");
}

QString pageEnd(const QStringList &signers)
{
    return QStringLiteral("<div class=\"signatures\">\n")
           + repeated(QStringLiteral("<p>%1：<span class=\"blank\"></span></p>\n"), signers)
           + QStringLiteral("</div>\n</body>\n</html>\n");
}

QString cell(const QString &text, const QString &cls)
{
    return cls.isEmpty() ? QStringLiteral("<td>%1</td>").arg(esc(text))
                         : QStringLiteral("<td class=\"%1\">%2</td>").arg(cls, esc(text));
}

QString headRow(const QStringList &captions)
{
    return QStringLiteral("<thead><tr>") + repeated(QStringLiteral("<th>%1</th>"), captions)
           + QStringLiteral("</tr></thead>\n");
}

QString repeated(const QString &pattern, const QStringList &texts)
{
    QString out;
    for (const QString &text : texts)
        out += pattern.arg(esc(text));
    return out;
}

QString meterSection(const MeterRecord &m, const Wording &wording)
{
    const QString heading = QStringLiteral("%1地址 %2 · %3 · %4")
                                .arg(wording.where)
                                .arg(m.address)
                                .arg(m.kindLabel(), resultWords(m.result));
    QString out = QStringLiteral("<section class=\"meter\">\n<h2>%1</h2>\n").arg(esc(heading));
    if (!m.detail.isEmpty())
        out += QStringLiteral("<p%1>%2</p>\n")
                   .arg(m.done() ? QString() : QStringLiteral(" class=\"failed\""), esc(m.detail));
    out += QStringLiteral("<p>开始：%1；用时 %2 秒</p>\n").arg(esc(displayTime(m.started)), seconds(m.elapsedMs));
    out += valuesSection(m, wording);
    out += wording.audit ? checksSection(m, wording.expectedWord) : writesSection(m);
    if (!m.failures.isEmpty()) {
        out += QStringLiteral("<h3>故障信息</h3>\n<ul class=\"failures\">\n")
               + repeated(QStringLiteral("<li>%1</li>\n"), m.failures) + QStringLiteral("</ul>\n");
    }
    return out + QStringLiteral("</section>\n");
}

QString csvRow(const QStringList &fields)
{
    QStringList out;
    for (const QString &f : fields)
        out << csvField(f);
    return out.join(u',') + QStringLiteral("\r\n");
}

QByteArray csvBytes(const QString &text)
{
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QStringList meterCsvHead()
{
    return {QStringLiteral("地址"),     QStringLiteral("型号"),   QStringLiteral("结果"),   QStringLiteral("键"),
            QStringLiteral("项目"),     QStringLiteral("调试前"), QStringLiteral("调试后"), QStringLiteral("设定值"),
            QStringLiteral("写入结果"), QStringLiteral("读回"),   QStringLiteral("原因")};
}

QVector<QStringList> meterCsvRows(const MeterRecord &m)
{
    const QStringList meter{QString::number(m.address), m.kindLabel(), resultText(m)};
    struct Row
    {
        QString key, caption;
        bool polled = false;
        const WrittenValue *write = nullptr;
    };
    QVector<Row> rows;
    for (const Point *p : polledPoints(m))
        rows << Row{p->key, p->caption(), true, nullptr};
    // A value both polled and written is one row; a second write of the
    // same value (a window's second press) is a row of its own.
    for (const WrittenValue &w : m.writes) {
        auto row = std::find_if(rows.begin(), rows.end(),
                                [&w](const Row &r) { return r.key == w.key && r.polled && !r.write; });
        if (row != rows.end())
            row->write = &w;
        else
            rows << Row{w.key, w.caption, false, &w};
    }
    if (rows.isEmpty()) {
        return {meter
                + QStringList{QString(), QString(), QString(), QString(), QString(), QString(), QString(),
                              m.failures.join(QStringLiteral("；"))}};
    }
    QVector<QStringList> out;
    for (const Row &r : rows) {
        QString before, after;
        if (r.polled) {
            before = pollCell(m.hasBefore, m.before, r.key);
            after = pollCell(m.hasAfter, m.after, r.key);
        } else if (r.write) {
            before = r.write->beforeText;
        }
        const WrittenValue *w = r.write;
        out << meter
                   + QStringList{r.key,
                                 r.caption,
                                 before,
                                 after,
                                 w ? w->writtenText : QString(),
                                 w ? outcomeWords(w->outcome) : QString(),
                                 w ? w->readBackText : QString(),
                                 w ? w->reason : QString()};
    }
    return out;
}

QJsonObject runJson(const RunRecord &record, const QString &expectedWord)
{
    QJsonArray meters;
    for (const MeterRecord &m : record.meters)
        meters << meterJson(m, expectedWord);
    QJsonObject out = headingJson(record);
    out.insert(QStringLiteral("line"), record.line);
    out.insert(QStringLiteral("speed"), record.speed);
    out.insert(QStringLiteral("place"), record.place.isEmpty() ? QJsonValue() : record.place);
    out.insert(QStringLiteral("timeout_ms"), record.timeoutMs ? QJsonValue(record.timeoutMs) : QJsonValue());
    out.insert(QStringLiteral("meters"), meters);
    return out;
}

QStringList summaryGroups(const QVector<const MeterRecord *> &meters, const std::function<QString(int)> &place)
{
    QStringList groups;
    for (const Result result : kResults) {
        QString listed, lastPlace;
        int count = 0;
        bool detailed = false;
        for (int i = 0; i < meters.size(); ++i)
            detailed = detailed || (meters[i]->result == result && !meters[i]->detail.isEmpty());
        for (int i = 0; i < meters.size(); ++i) {
            const MeterRecord &m = *meters[i];
            if (m.result != result)
                continue;
            // With details, or on another line, each address gets its own
            // place so a detail is never read as belonging to the next one.
            const QString where = place(i);
            if (count > 0)
                listed += detailed || where != lastPlace ? QStringLiteral("；") : QStringLiteral("、");
            if (count == 0 || detailed || where != lastPlace)
                listed += where;
            listed +=
                m.detail.isEmpty() ? QString::number(m.address) : QStringLiteral("%1：%2").arg(m.address).arg(m.detail);
            lastPlace = where;
            ++count;
        }
        if (count == 0)
            continue;
        QString group = QStringLiteral("%1 台%2").arg(count).arg(resultWords(result));
        if (result != Result::Done && result != Result::Recorded && result != Result::Matched)
            group += QStringLiteral("（%1）").arg(listed);
        groups << group;
    }
    return groups;
}

bool writeFileWhole(const QString &file, const QByteArray &data, QString *error)
{
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    const QFileInfo info(file);
    if (info.isDir())
        return fail(fileWriteError(file, QStringLiteral("Is a directory")));
    // A device or a pipe cannot be replaced whole: QSaveFile would rename its
    // temporary file over the device node itself.
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("无法写入文件 %1：不是普通文件（设备或管道），只写入普通文件").arg(file));
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return fail(fileWriteError(file, out.errorString()));
    // Flushed and checked before commit: on a full disk Qt 6.4 may otherwise
    // rename a short file over the old one.
    if (!writeWhole(out, data)) {
        const QString reason = out.errorString();
        out.cancelWriting();
        return fail(fileWriteError(file, reason));
    }
    if (!out.commit())
        return fail(fileWriteError(file, out.errorString()));
    return true;
}

bool writeBytes(const QString &file, const std::function<QByteArray(const QString &format)> &render, QString *error)
{
    const QString format = recordFormat(file);
    if (format.isEmpty()) {
        if (error)
            *error =
                QStringLiteral("无法写入文件 %1：不知道写成哪种格式，请用 .html、.csv 或 .json 结尾的文件名").arg(file);
        return false;
    }
    const QFileInfo info(file);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        if (error)
            *error = QStringLiteral("无法写入文件 %1：不是普通文件（设备或管道），记录只写入普通文件").arg(file);
        return false;
    }
    if (info.isDir())
        return writeFileWhole(file, {}, error);
    return writeFileWhole(file, render(format), error);
}

} // namespace hv52::recordparts
