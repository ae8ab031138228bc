// scan: every speed and address tried with one read, the kind of each
// module that answers told by the kind probes.
#include "commands.h"
#include "ctl.h"
#include "progress.h"
#include "steps.h"

#include "frames.h"
#include "t516module.h"

#include <cmath>

namespace hv52ctl {

using namespace hv52;

namespace {

struct Found
{
    int speed;
    int address;
    QString module; // "t516", ..., or "unknown"
};

// The bytes of a request and of the longest answer on the wire, 10 bits a
// byte; the module's turnaround is inside the scan timeout.
int frameMs(int speed)
{
    return int(std::ceil((8 + 9) * 10 * 1000.0 / speed));
}

QString foundJson(const QVector<Found> &list, bool withModule)
{
    QStringList rows;
    for (const Found &f : list) {
        rows << QStringLiteral("    {\"speed\": %1, \"address\": %2%3}")
                    .arg(f.speed)
                    .arg(f.address)
                    .arg(withModule ? QStringLiteral(", \"module\": %1").arg(jsonString(f.module)) : QString());
    }
    return rows.isEmpty() ? QStringLiteral("[]") : QStringLiteral("[\n%1\n  ]").arg(rows.join(QStringLiteral(",\n")));
}

} // namespace

int scanCommand(const Options &o)
{
    expectWords(o, 0, o.entry->usage);
    Progress bar;
    const Point *probePoint = t516Module().point(QStringLiteral("input1.count"));
    Session s(o);
    QVector<Found> found;
    QVector<Found> late; // answered after the scan timeout
    const int total = int(o.speeds.size() * o.addresses.size());
    int done = 0;
    int status = Done;
    for (int speed : o.speeds) {
        const qsizetype before = found.size();
        status = s.run(speed, o.addresses.first(), [&] {
            s.link().setResponseTimeout(o.scanTimeoutMs + frameMs(speed));
            // Each request goes to another address, so a late answer gives
            // itself away by its address: no quiet time between them.
            s.link().setGuardMs(0);
            const auto noteLate = [&](const ReadResult &r, int address) {
                if (r.verdict.outcome != Outcome::WrongAddress || s.link().receiveBuffer().isEmpty())
                    return;
                const int from = hv52::splitFrame(s.link().framing(), s.link().receiveBuffer()).address;
                const bool known = std::any_of(late.begin(), late.end(),
                                               [&](const Found &f) { return f.speed == speed && f.address == from; });
                if (from != address && o.addresses.contains(from) && !known)
                    late << Found{speed, from, {}};
            };
            for (int address : o.addresses) {
                s.stopIfInterrupted();
                s.setAddress(address, speed);
                if (bar.shown()) {
                    const int filled = 30 * done / total;
                    bar.show(QStringLiteral("扫描 %1 bit/s 地址 %2  [%3%4] %5/%6  已找到 %7 ")
                                 .arg(speed, 6)
                                 .arg(address, 3)
                                 .arg(QString(filled, u'#'), QString(30 - filled, u'.'))
                                 .arg(done)
                                 .arg(total)
                                 .arg(found.size()));
                }
                ++done;
                const ReadResult r = s.link().readRegister(probePoint->address, probePoint->pair);
                noteLate(r, address);
                if (r.ok()) {
                    const ModuleKind *kind = kindOnLine(s.link());
                    found << Found{speed, address, kind ? kind->name : QStringLiteral("unknown")};
                }
            }
            return Done;
        });
        bar.clear();
        if (status != Done || s.interrupted())
            break;
        printErr(QStringLiteral("已扫描 %1 bit/s：找到 %2 个模块").arg(speed).arg(found.size() - before));
    }
    if (status == NoPort && found.isEmpty())
        return NoPort;

    const bool cut = s.interrupted(); // not a list that could not be printed
    if (o.json) {
        printOut(QStringLiteral("{\n  \"found\": %1,\n  \"late\": %2\n}\n")
                     .arg(foundJson(found, true), foundJson(late, false)));
    } else if (!found.isEmpty()) {
        QString table =
            padded(QStringLiteral("波特率"), 9) + padded(QStringLiteral("地址"), 6) + QStringLiteral("模块\n");
        for (const Found &f : found) {
            table += padded(QString::number(f.speed), 9) + padded(QString::number(f.address), 6)
                     + (f.module == u"unknown" ? QStringLiteral("未知") : f.module.toUpper()) + u'\n';
        }
        printOut(table);
    }
    for (const Found &f : late) {
        printErr(
            QStringLiteral("%1 bit/s 地址 %2 的模块应答迟到（晚于扫描超时 %3 毫秒）：请加大 --scan-timeout 再扫描。")
                .arg(f.speed)
                .arg(f.address)
                .arg(o.scanTimeoutMs + frameMs(f.speed)));
    }
    if (cut) {
        printErr(Interrupt::text()
                 + (Interrupt::outputLost() ? QStringLiteral("，扫描未完成。")
                                            : QStringLiteral("，扫描未完成，只列出已找到的模块。")));
        return Failed;
    }
    if (status != Done) {
        printErr(QStringLiteral("扫描未完成，只列出已找到的模块。"));
        return status;
    }
    if (found.isEmpty()) {
        printErr(QStringLiteral("未找到模块。"));
        return Failed;
    }
    return Done;
}

} // namespace hv52ctl
