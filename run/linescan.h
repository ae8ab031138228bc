#pragma once
// The scan of one line: every speed and address tried with one read, the
// kind of each module that answers told by the kind probes, a late answer
// told by its address. hv52ctl's scan and the line window both run it.
#include "line.h"

#include "runoutput.h"

#include <QString>
#include <QVector>
#include <functional>

namespace hv52run {

struct Found
{
    int speed;
    int address;
    QString module; // "t516", ..., or "unknown"
};

// The bytes of a request and of the longest answer on the wire, 10 bits a
// byte; the module's turnaround is inside the scan timeout.
int frameMs(int speed);

// What a scan of one line found.
struct LineScan
{
    QVector<Found> found;
    QVector<Found> late; // answered after the scan timeout
    int status = 0;      // Done, or the session's status that ended it
};

// What a scan tells as it goes, each optional.
struct ScanWatch
{
    // Before the read of `address`: `done` of `total` reads so far, `found`
    // modules found.
    std::function<void(int speed, int address, int done, int total, int found)> at;
    // A module found, its kind probed.
    std::function<void(const Found &found)> found;
    // A speed's addresses all tried (or the scan ended at it).
    std::function<void()> speedDone;
};

// What a scan tries: every speed, and at each every address, one read each
// with a response timeout of timeoutMs and the frame's time.
struct ScanRange
{
    QList<int> speeds;
    QList<int> addresses; // at least one
    int timeoutMs = 100;
};

// Scans `line` over `range`; a signal (or the operator's stop) ends it
// between two addresses. The session's words go to `output`.
LineScan scanLine(const hv52::Line &line, const ScanRange &range, const ScanWatch &watch, hv52::RunOutput &output);

} // namespace hv52run
