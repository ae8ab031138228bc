#pragma once
// A site: several lines, each with its place (a port, a device, a serial
// device server or a Modbus TCP gateway), its speed and timeout, and its
// meters. Read from a site plan, a one-line plan, or a site scan; checked
// whole before the first exchange, two lines on one port, device or
// endpoint refused.
#include "meterrun.h"
#include "runrequest.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace hv52run {

struct LinePlan
{
    hv52::Line line; // its place, speed and timeouts
    RunPlan plan;    // its meters
};

struct SitePlan
{
    QString site, operatorName;
    QVector<LinePlan> lines;
    QStringList inputs; // every file read: a record must not overwrite one
};

// The line of `o` with no place and the default speed: what a line of a
// site starts from (its timeout and connect timeout).
hv52::Line siteLine(const RunRequest &o);
// UsageError when the command line names a line (--port, --device, --tcp,
// --modbus-tcp, --speed) for a run whose lines `where` names.
void refusePlaceOptions(const RunRequest &o, const QString &where);

// Whether a plan's object is a site's: it has "lines".
bool isSitePlan(const QJsonObject &plan);

// A site plan file. Each line starts from `o` (--timeout applies to every
// line); --port, --device, --tcp, --modbus-tcp and --speed are refused, the
// lines name their own. With `withMeters` false (a scan) a line's meters
// may be left out.
SitePlan sitePlanFromFile(const QString &file, const RunRequest &o, bool withMeters = true);
// A one-line run as a site of one line.
SitePlan siteOfOne(const hv52::Line &line, const RunPlan &plan);
// A site scan's output (scan --json of several lines) with the settings of
// --settings by kind.
SitePlan sitePlanFromScan(const RunRequest &o, const QJsonObject &scan);
// --lines port:3,device:/dev/ttyUSB0,tcp:HOST:PORT,modbus_tcp:HOST:PORT.
QVector<hv52::Line> linesFromList(const QString &list, const RunRequest &o);

using hv52::lineName;
using hv52::placeOf;
using hv52::placeText;

// UsageError when two lines are one: the same port, the same device (under
// two names too), or the same endpoint.
void refuseSharedLines(const QVector<hv52::Line> &lines, const QString &where);

} // namespace hv52run
