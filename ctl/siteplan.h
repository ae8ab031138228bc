#pragma once
// A site: several lines, each with its place (a port, a device, a serial
// device server or a Modbus TCP gateway), its speed and timeout, and its
// meters. Read from a site plan, a one-line plan, or a site scan; checked
// whole before the first exchange, two lines on one port, device or
// endpoint refused.
#include "meterrun.h"
#include "options.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace hv52ctl {

struct LinePlan
{
    Options options; // the line as if typed: its place, speed and timeout
    RunPlan plan;    // its meters
};

struct SitePlan
{
    QString site, operatorName;
    QVector<LinePlan> lines;
    QStringList inputs; // every file read: a record must not overwrite one
};

// The options of `o` with no place and the default speed: what a line of a
// site starts from (its timeout, the connect timeout, the command).
Options siteLine(const Options &o);
// UsageError when the command line names a line (--port, --device, --tcp,
// --modbus-tcp, --speed) for a run whose lines `where` names.
void refusePlaceOptions(const Options &o, const QString &where);

// Whether a plan's object is a site's: it has "lines".
bool isSitePlan(const QJsonObject &plan);

// A site plan file. Each line starts from `o` (--timeout applies to every
// line); --port, --device, --tcp, --modbus-tcp and --speed are refused, the
// lines name their own. With `withMeters` false (a scan) a line's meters
// may be left out.
SitePlan sitePlanFromFile(const QString &file, const Options &o, bool withMeters = true);
// A one-line run as a site of one line.
SitePlan siteOfOne(const Options &line, const RunPlan &plan);
// A site scan's output (scan --json of several lines) with the settings of
// --settings by kind.
SitePlan sitePlanFromScan(const Options &o, const QJsonObject &scan);
// --lines port:3,device:/dev/ttyUSB0,tcp:HOST:PORT,modbus_tcp:HOST:PORT.
QVector<Options> linesFromList(const QString &list, const Options &o);

// {"port": 3}, {"device": "/dev/ttyUSB0"}, {"tcp": "10.0.0.7:4001"},
// {"modbus_tcp": "10.0.0.8:502"}: a line's place as a plan writes it.
QJsonObject placeOf(const Options &line);
// "COM3", "/dev/ttyUSB0", "10.0.0.7:4001": the place as a line's name shows it.
QString placeText(const Options &line);
// "线路 2（10.0.0.7:4001）": N counted from 1.
QString lineName(int index, const Options &line);

// UsageError when two lines are one: the same port, the same device (under
// two names too), or the same endpoint.
void refuseSharedLines(const QVector<Options> &lines, const QString &where);

} // namespace hv52ctl
