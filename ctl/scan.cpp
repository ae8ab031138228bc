// scan: every speed and address tried with one read, the kind of each
// module that answers told by the kind probes; the lines of a site all at
// the same time.
#include "atonce.h"
#include "commands.h"
#include "commandsteps.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "lineboard.h"
#include "linescan.h"
#include "progress.h"
#include "siteplan.h"
#include "steps.h"

#include <QJsonObject>

namespace hv52ctl {

using namespace hv52;

namespace {

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

// Every speed of `o` and every address on the line of `o`, with the
// progress line on a console.
LineScan scanWithBar(const Options &o)
{
    Progress bar;
    ScanWatch watch;
    if (bar.shown()) {
        watch.at = [&bar](int speed, int address, int done, int total, int found) {
            const int filled = 30 * done / total;
            bar.show(QStringLiteral("扫描 %1 bit/s 地址 %2  [%3%4] %5/%6  已找到 %7 ")
                         .arg(speed, 6)
                         .arg(address, 3)
                         .arg(QString(filled, u'#'), QString(30 - filled, u'.'))
                         .arg(done)
                         .arg(total)
                         .arg(found));
        };
        watch.speedDone = [&bar] { bar.clear(); };
    }
    return scanLine(o.line, {o.speeds, o.addresses, o.scanTimeoutMs}, watch, ConsoleOutput::standard());
}

// Scans each line of a site at the same time.
QVector<LineScan> scanLines(const QVector<Options> &lines)
{
    QVector<LineScan> out(lines.size());
    QStringList names;
    for (int i = 0; i < lines.size(); ++i)
        names << lineName(i, lines[i].line);
    LineBoard board(int(lines.size()));
    eachLineAtOnce(board, names, [&](int i) { out[i] = scanWithBar(lines[i]); });
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
    QVector<hv52::Line> places;
    if (!o.sitePlan.isEmpty()) {
        for (const LinePlan &line : sitePlanFromFile(o.sitePlan, o, false).lines)
            places << line.line;
    } else {
        places = linesFromList(o.lineList, o);
    }
    QVector<Options> lines;
    for (const hv52::Line &place : places) {
        Options line = o;
        line.line = place;
        line.given.remove(QStringLiteral("speed"));
        if (place.isTcp() && !o.given.contains(QStringLiteral("speeds")))
            line.speeds = {place.speed};
        lines << line;
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
        const QString prefix = lineName(i, lines[i].line) + u'：';
        foundCount += int(scan.found.size());
        allOpened = allOpened && !(scan.status == NoPort && scan.found.isEmpty());
        allDone = allDone && scan.status == Done;
        const QJsonObject placeObject = placeOf(lines[i].line);
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
    const LineScan scan = scanWithBar(o);
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
