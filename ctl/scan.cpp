// scan: every speed and address tried with one read, the kind of each
// module that answers told by the kind probes; the lines of a site all at
// the same time.
#include "atonce.h"
#include "commands.h"
#include "ctl.h"
#include "lineboard.h"
#include "progress.h"
#include "siteplan.h"
#include "steps.h"

#include "frames.h"
#include "t516module.h"

#include <QJsonObject>

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

// The list as scan --json writes it, its rows indented by `indent` + 2.
QString foundJson(const QVector<Found> &list, bool withModule, int indent = 2)
{
    const QString pad(indent, u' ');
    QStringList rows;
    for (const Found &f : list) {
        rows << pad
                    + QStringLiteral("  {\"speed\": %1, \"address\": %2%3}")
                          .arg(f.speed)
                          .arg(f.address)
                          .arg(withModule ? QStringLiteral(", \"module\": %1").arg(jsonString(f.module)) : QString());
    }
    return rows.isEmpty() ? QStringLiteral("[]")
                          : QStringLiteral("[\n%1\n%2]").arg(rows.join(QStringLiteral(",\n")), pad);
}

// What a scan of one line found.
struct LineScan
{
    QVector<Found> found;
    QVector<Found> late; // answered after the scan timeout
    int status = Done;
};

// Every speed of `o` and every address on the line of `o`, one read each;
// the kind of each module that answers probed.
LineScan scanLine(const Options &o)
{
    Progress bar;
    const Point *probePoint = t516Module().point(QStringLiteral("input1.count"));
    Session s(o);
    LineScan out;
    QVector<Found> &found = out.found;
    QVector<Found> &late = out.late;
    const int total = int(o.speeds.size() * o.addresses.size());
    int done = 0;
    int &status = out.status;
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
    return out;
}

// Scans each line of a site at the same time.
QVector<LineScan> scanLines(const QVector<Options> &lines)
{
    QVector<LineScan> out(lines.size());
    QStringList names;
    for (int i = 0; i < lines.size(); ++i)
        names << lineName(i, lines[i]);
    LineBoard board(int(lines.size()));
    eachLineAtOnce(board, names, [&](int i) { out[i] = scanLine(lines[i]); });
    board.close();
    return out;
}

QString foundTable(const QVector<Found> &found)
{
    QString table = padded(QStringLiteral("波特率"), 9) + padded(QStringLiteral("地址"), 6) + QStringLiteral("模块\n");
    for (const Found &f : found) {
        table += padded(QString::number(f.speed), 9) + padded(QString::number(f.address), 6)
                 + (f.module == u"unknown" ? QStringLiteral("未知") : f.module.toUpper()) + u'\n';
    }
    return table;
}

void printLate(const Options &o, const QVector<Found> &late, const QString &prefix)
{
    for (const Found &f : late) {
        printErr(
            prefix
            + QStringLiteral("%1 bit/s 地址 %2 的模块应答迟到（晚于扫描超时 %3 毫秒）：请加大 --scan-timeout 再扫描。")
                  .arg(f.speed)
                  .arg(f.address)
                  .arg(o.scanTimeoutMs + frameMs(f.speed)));
    }
}

// The lines of a site scan: a site plan's (their meters left out) or
// --lines; a gateway's line at its own speed unless --speeds says.
QVector<Options> linesToScan(const Options &o)
{
    QVector<Options> lines;
    if (!o.sitePlan.isEmpty()) {
        for (const LinePlan &line : sitePlanFromFile(o.sitePlan, o, false).lines)
            lines << line.options;
    } else {
        lines = linesFromList(o.lineList, o);
    }
    for (Options &line : lines) {
        line.speeds = o.speeds;
        if (!line.tcpHost.isEmpty() && !o.given.contains(QStringLiteral("speeds")))
            line.speeds = {line.speed};
    }
    return lines;
}

int siteScan(const Options &o)
{
    const QVector<Options> lines = linesToScan(o);
    const QVector<LineScan> scans = scanLines(lines);
    const bool cut = Interrupt::arrived();
    int foundCount = 0;
    bool allOpened = true, allDone = true;
    QStringList jsonLines;
    QString text;
    for (int i = 0; i < lines.size(); ++i) {
        const LineScan &scan = scans[i];
        const QString prefix = lineName(i, lines[i]) + u'：';
        foundCount += int(scan.found.size());
        allOpened = allOpened && !(scan.status == NoPort && scan.found.isEmpty());
        allDone = allDone && scan.status == Done;
        const QJsonObject placeObject = placeOf(lines[i]);
        const QString key = placeObject.begin().key();
        const QJsonValue value = placeObject.begin().value();
        const QString place =
            QStringLiteral("\"%1\": %2")
                .arg(key, value.isString() ? jsonString(value.toString()) : QString::number(value.toInt()));
        jsonLines << QStringLiteral("    {%1, \"found\": %2, \"late\": %3}")
                         .arg(place, foundJson(scan.found, true, 6), foundJson(scan.late, false, 6));
        if (scan.found.isEmpty())
            text += prefix + QStringLiteral("未找到模块\n");
        else
            text += LineBoard::prefixed(prefix, foundTable(scan.found));
        printLate(lines[i], scan.late, prefix);
        if (scan.status != Done && !cut)
            printErr(prefix + QStringLiteral("扫描未完成，只列出已找到的模块。"));
    }
    if (o.json)
        printOut(QStringLiteral("{\n  \"lines\": [\n%1\n  ]\n}\n").arg(jsonLines.join(QStringLiteral(",\n"))));
    else
        printOut(text);
    if (cut) {
        printErr(Interrupt::text()
                 + (Interrupt::outputLost() ? QStringLiteral("，扫描未完成。")
                                            : QStringLiteral("，扫描未完成，只列出已找到的模块。")));
        return Failed;
    }
    if (!allOpened && foundCount == 0)
        return NoPort;
    if (foundCount == 0) {
        printErr(QStringLiteral("未找到模块。"));
        return Failed;
    }
    return allDone ? Done : Failed;
}

} // namespace

int scanCommand(const Options &o)
{
    expectWords(o, 0, o.entry->usage);
    if (o.siteScan())
        return siteScan(o);
    const LineScan scan = scanLine(o);
    const QVector<Found> &found = scan.found;
    const QVector<Found> &late = scan.late;
    const int status = scan.status;
    if (status == NoPort && found.isEmpty())
        return NoPort;

    const bool cut = Interrupt::arrived(); // not a list that could not be printed
    if (o.json) {
        printOut(QStringLiteral("{\n  \"found\": %1,\n  \"late\": %2\n}\n")
                     .arg(foundJson(found, true), foundJson(late, false)));
    } else if (!found.isEmpty()) {
        printOut(foundTable(found));
    }
    printLate(o, late, QString());
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
