#pragma once
// An earlier record as the plan of an audit: each line where the record
// found it, each meter with the settings it was left with (its poll after
// commissioning, or before when there was none after).
#include "runrequest.h"
#include "siteplan.h"

namespace hv52run {

// The record of --from-record (a line's JSON record, or a site's). A meter
// the record holds no setting values of is left alone with the reason. A
// one-line record may be given another line on the command line.
SitePlan sitePlanFromRecord(const RunRequest &o);

} // namespace hv52run
