#pragma once
// What a run is asked for beside its plan: the command, the line as the
// caller gave it, the heading of its record and the files it starts from.
// hv52ctl's options are one (its command line); the line window fills one
// from its boxes.
#include "line.h"

#include <QList>
#include <QSet>
#include <QString>

namespace hv52run {

struct RunRequest
{
    QString command; // "read", "commission", "verify", ...
    // The line: its place (a port, a device, a gateway) where the caller
    // gave one, its speed and timeouts.
    hv52::Line line;
    // The options the caller gave itself, by their long names: a plan's line
    // does not override those of the line ("port", "device", "tcp",
    // "modbus-tcp", "speed", "timeout", "connect-timeout").
    QSet<QString> given;
    // The meters named (1-30,41): each in order, the same work for every one.
    QList<int> meters = {1};
    QString site, operatorName;   // the record's heading
    QString settingsByKind;       // t516=a.json,t528=b.json: settings for each kind a scan found
    QString fromScan, fromRecord; // the scan or the record the plan is made of
};

} // namespace hv52run
