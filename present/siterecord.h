#pragma once
// The record of a whole site: several lines worked at once (a commissioning
// run, or an audit that writes nothing), each line with its own meters. One
// heading for the site, a summary row a line, then every meter as in a
// line's record. An audit is titled 验收记录 and shows, setting by setting,
// the expected value beside the value found.
#include "record.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

namespace hv52 {

struct SiteRecord
{
    QString site;         // may be empty
    QString operatorName; // 调试人 (验收人 for an audit), may be empty
    QString tool;         // "hv52ctl"
    QString version;      // "1.0.0"
    QString command;      // "commission" or "verify"
    // Where an audit's expected values came from: "计划" (a plan) or "记录"
    // (an earlier record); the word of CheckedValue::text().
    QString expectedWord = QStringLiteral("计划");
    QStringList inputs; // the plan or record the run was made from, as given
    QDateTime started;
    QDateTime finished;
    // One a line, in the plan's order: its line, speed, place, timeout,
    // meters, its start and end, and why it ended early (stopped).
    QVector<RunRecord> lines;
    QString stopped; // why the whole run ended early (a signal); empty when it did not

    bool audit() const { return command == QLatin1String("verify"); }
    // Every meter of every line done (or, in an audit, matched), and no stop.
    bool allDone() const;
    // "线路 N（COM3）", "线路 N（10.0.0.7:4001）" as the status rows and the
    // messages name a line (its place), N from 1; the line's text when its
    // place is not known.
    QString lineName(int index) const;
    // "3 条线路，90 台：85 台完成并核对，…" over every line.
    QString summary() const;
};

// The site's record as one self-contained, printable HTML page (UTF-8).
QByteArray siteHtml(const SiteRecord &record);
// One row per line, meter and value, the line first; UTF-8 with a byte-order mark.
QByteArray siteCsv(const SiteRecord &record);
// {"tool", "version", "command", "site", "operator", "started", "finished",
//  "summary", "all_done", "stopped", "lines": [recordJsonObject of each line,
//  with "name"]}.
QByteArray siteJson(const SiteRecord &record);
// Writes the record in the format of the file's extension (recordFormat)
// through QSaveFile, whole or not at all; false with a Chinese message
// naming the file and the reason.
bool writeSiteRecord(const QString &file, const SiteRecord &record, QString *error);

} // namespace hv52
