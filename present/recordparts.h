#pragma once
// What the record of a line and the record of a site share: the page's
// style and heading, a meter's section, the CSV's cells and a meter's rows,
// a line's JSON, the summary's groups and the write through QSaveFile.
// Internal to present/: the writers in record.h and siterecord.h are the
// interface.
#include "record.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <utility>

namespace hv52::recordparts {

QString esc(const QString &text);
// "2026-12-07 18:30:05 +08:00"; "（未记录）" when not valid.
QString displayTime(const QDateTime &t);
QJsonValue isoTime(const QDateTime &t);
QJsonValue textOrNull(const QString &text);
// "12.3": milliseconds as seconds with one decimal.
QString seconds(qint64 ms);
// "寄存器不全：可能不是 T516": the result with its detail.
QString resultText(const MeterRecord &m);

// ---- HTML

// How a meter's section reads in the record it stands in.
struct Wording
{
    bool window = false; // a window's record: "本窗口尚未召测"
    // An audit: the comparison instead of the writes, the poll "验收时".
    bool audit = false;
    QString expectedWord = QStringLiteral("计划"); // the audit's 预期 came from
    QString where;                                 // before the meter's heading: "线路 1（COM3） · " in a site
};

// From the doctype to <body>: "调试记录 · site" as the title, the style sheet
// and `extraStyle` after it.
QString pageStart(const QString &title, const QString &site, const QString &extraStyle = QString());
// <header> with the h1 and the info table; an empty text reads "（未填写）".
QString pageHeader(const QString &title, const QVector<std::pair<QString, QString>> &info);
// The signature lines ("调试人", "验收人", ...) and the end of the page.
QString pageEnd(const QStringList &signers);
QString cell(const QString &text, const QString &cls = QString());
QString headRow(const QStringList &captions);
// Each text escaped into `pattern` ("<th>%1</th>"), one after another.
QString repeated(const QString &pattern, const QStringList &texts);
QString meterSection(const MeterRecord &m, const Wording &wording);

// ---- CSV

QString csvRow(const QStringList &fields);
// UTF-8 with a byte-order mark, which a spreadsheet needs to read Chinese.
QByteArray csvBytes(const QString &text);
// 地址, 型号, 结果, 键, 项目, 调试前, 调试后, 设定值, 写入结果, 读回, 原因
QStringList meterCsvHead();
// A meter's rows under meterCsvHead(): a row a value polled or written.
QVector<QStringList> meterCsvRows(const MeterRecord &m);

// ---- JSON

// The keys a line's record and a site's share: tool, version, command,
// site, operator, started, finished, summary, all_done, stopped.
template <typename Record>
QJsonObject headingJson(const Record &record)
{
    return QJsonObject{{QStringLiteral("tool"), record.tool},
                       {QStringLiteral("version"), record.version},
                       {QStringLiteral("command"), record.command},
                       {QStringLiteral("site"), record.site},
                       {QStringLiteral("operator"), record.operatorName},
                       {QStringLiteral("started"), isoTime(record.started)},
                       {QStringLiteral("finished"), isoTime(record.finished)},
                       {QStringLiteral("summary"), record.summary()},
                       {QStringLiteral("all_done"), record.allDone()},
                       {QStringLiteral("stopped"), textOrNull(record.stopped)}};
}
// recordJsonObject, with the checks' texts in `expectedWord`.
QJsonObject runJson(const RunRecord &record, const QString &expectedWord);

// ---- Summary

// "2 台完成并核对", "2 台无应答（地址 19、7）", ...: a group a result, in
// result order. `place(i)` is what names the i-th meter before its address:
// "地址 " on a line, "线路 2 地址 " on a site.
QStringList summaryGroups(const QVector<const MeterRecord *> &meters, const std::function<QString(int)> &place);

// ---- File

// Writes `data` to `file` through QSaveFile, whole or not at all (the old
// file left as it was); false with a message naming the file and why.
bool writeFileWhole(const QString &file, const QByteArray &data, QString *error);
// Writes what `render` makes for the file's format (recordFormat) through
// QSaveFile, whole or not at all; false with a message naming the file.
bool writeBytes(const QString &file, const std::function<QByteArray(const QString &format)> &render, QString *error);

// writeBytes with a record's three writers.
template <typename Record>
bool writeFile(const QString &file, const Record &record, QByteArray (*html)(const Record &),
               QByteArray (*csv)(const Record &), QByteArray (*json)(const Record &), QString *error)
{
    return writeBytes(
        file,
        [&](const QString &format) {
            return format == QLatin1String("html")  ? html(record)
                   : format == QLatin1String("csv") ? csv(record)
                                                    : json(record);
        },
        error);
}

} // namespace hv52::recordparts
