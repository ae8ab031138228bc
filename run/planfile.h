#pragma once
// Plan files as hv52ctl reads them: a line's meters (each with its kind and
// settings), the line itself, and a scan's findings as meters. Everything is
// checked before the first exchange: UsageError names the entry.
#include "input.h"
#include "meterrun.h"
#include "runrequest.h"

#include <QDir>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace hv52run {

// Refuses keys a plan does not know: a misspelt key would otherwise be a
// setting silently left out.
void onlyKeys(const QJsonObject &object, const QStringList &known, const QString &where);
// A one-line text entry of at most 200 characters; empty when absent.
QString textEntry(const QJsonObject &object, const QString &key, const QString &where);
// A number entry as text, so that it meets the same checks as on the
// command line.
QString numberEntry(const QJsonValue &v);
// The line of a plan (port, device, tcp or modbus_tcp; speed; timeout) into
// `line`: its place where `line` has none yet, its speed and timeout where
// the command line (the long names `given`) has not given them.
void takeLine(const QJsonObject &json, hv52::Line &line, const QSet<QString> &given, const QString &where);

// The meters of a plan's list: each address once, settings files relative
// to `folder` (added to `inputs`).
QVector<MeterPlan> metersOf(const QJsonValue &list, const QDir &folder, const QString &where, QStringList *inputs);
// A plan file's JSON object, checked as an input file.
QJsonObject planObject(const QString &file);
// A one-line plan file: its line taken into `o` where the command line has
// not given it.
RunPlan planFromFile(const QString &file, RunRequest &o);

// --settings t516=a.json,t528=b.json: the settings of each kind, read and
// checked, and the file each came from.
struct KindSettings
{
    QHash<QString, QVector<Planned>> byKind;
    QHash<QString, QString> sources;
};
KindSettings kindSettings(const RunRequest &o);
// The meters of a scan's "found" list (every one at one speed, returned in
// `speed`), each with the settings of its kind or recorded only.
QVector<MeterPlan> metersFound(const QJsonObject &scan, const QString &where, const KindSettings &settings, int *speed);
// UsageError for settings given for a kind the scan did not find.
void refuseUnusedKinds(const KindSettings &settings, const QVector<MeterPlan> &meters);
// A scan's JSON object (scan --json output), checked as an input file.
QJsonObject scanObject(const QString &file);
// `scan --json` output of one line as a plan; `speed` the meters' speed.
RunPlan planFromScan(const RunRequest &o, int *speed);

} // namespace hv52run
