// One read an address at each speed; the kinds probed.
#include "linescan.h"
#include "runstatus.h"
#include "session.h"
#include "steps.h"

#include "frames.h"
#include "kinds.h"
#include "t516module.h"

#include <cmath>

namespace hv52run {

using namespace hv52;

int frameMs(int speed)
{
    return int(std::ceil((8 + 9) * 10 * 1000.0 / speed));
}

LineScan scanLine(const hv52::Line &line, const ScanRange &range, const ScanWatch &watch, RunOutput &output)
{
    const Point *probePoint = t516Module().point(QStringLiteral("input1.count"));
    Session s(line, QStringLiteral("scan"), range.addresses.first(), output);
    LineScan out;
    QVector<Found> &found = out.found;
    QVector<Found> &late = out.late;
    const int total = int(range.speeds.size() * range.addresses.size());
    int done = 0;
    int &status = out.status;
    for (int speed : range.speeds) {
        const qsizetype before = found.size();
        status = s.run(speed, range.addresses.first(), [&] {
            s.link().setResponseTimeout(range.timeoutMs + frameMs(speed));
            // Each request goes to another address, so a late answer gives
            // itself away by its address: no quiet time between them.
            s.link().setGuardMs(0);
            const auto noteLate = [&](const ReadResult &r, int address) {
                if (r.verdict.outcome != Outcome::WrongAddress || s.link().receiveBuffer().isEmpty())
                    return;
                const int from = hv52::splitFrame(s.link().framing(), s.link().receiveBuffer()).address;
                const bool known = std::any_of(late.begin(), late.end(),
                                               [&](const Found &f) { return f.speed == speed && f.address == from; });
                if (from != address && range.addresses.contains(from) && !known)
                    late << Found{speed, from, {}};
            };
            for (int address : range.addresses) {
                s.stopIfInterrupted();
                s.setAddress(address, speed);
                if (watch.at)
                    watch.at(speed, address, done, total, int(found.size()));
                ++done;
                const ReadResult r = s.link().readRegister(probePoint->address, probePoint->pair);
                noteLate(r, address);
                if (r.ok()) {
                    const ModuleKind *kind = kindOnLine(s.link());
                    found << Found{speed, address, kind ? kind->name : QStringLiteral("unknown")};
                    if (watch.found)
                        watch.found(found.last());
                }
            }
            return Done;
        });
        if (watch.speedDone)
            watch.speedDone();
        if (status != Done || s.interrupted())
            break;
        s.output().message(QStringLiteral("已扫描 %1 bit/s：找到 %2 个模块").arg(speed).arg(found.size() - before));
    }
    return out;
}

} // namespace hv52run
