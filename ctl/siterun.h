#pragma once
// A site's lines worked at the same time: a thread a line, each with its
// own session and link, so that a slow or dead line never holds up
// another and a port lost ends its own line alone. On each line the meters
// go one after the other, one exchange at a time, as on a line alone.
#include "ctl.h"
#include "meterrun.h"
#include "options.h"
#include "siteplan.h"

#include "siterecord.h"

namespace hv52ctl {

// What became of a site's run.
struct SiteResult
{
    hv52::SiteRecord record;
    QStringList portFailures; // a line each: its name and why its port failed
    bool anyOpened = false;   // whether any line's port opened
};

// Runs `action` on every meter of every line of `site`, the lines at once.
// Prints each meter's result line (unless `quiet`) and messages with their
// line's name, the status rows on a console; returns the site's record.
SiteResult runSite(const SitePlan &site, const QString &command, const MeterAction &action, bool quiet);

// The whole run of a command over a site: --record checked before the
// first exchange, the lines run, each line's summary and the site's (or
// the JSON report), the record written. Returns the exit status: Done only
// when every meter of every line is done.
int siteCommand(const Options &o, const SitePlan &site, const MeterAction &action,
                const QString &expectedWord = QStringLiteral("计划"));

} // namespace hv52ctl
