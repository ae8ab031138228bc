// A site's lines read from a plan, a scan or a list of places, and the rule
// that no two of them are one line.
#include "siteplan.h"
#include "addressing.h"
#include "files.h"
#include "lineidentity.h"
#include "linespeed.h"
#include "planfile.h"
#include "runstatus.h"

#include "portname.h"

#include <QFileInfo>
#include <QJsonArray>

namespace hv52run {

void refusePlaceOptions(const RunRequest &o, const QString &where)
{
    for (const char *name : {"port", "device", "tcp", "modbus-tcp", "speed"}) {
        if (o.given.contains(QLatin1String(name)))
            throw UsageError(QStringLiteral("%1 的每条线路给出了自己的线路和波特率，不能再用 --%2，请求未发送。")
                                 .arg(where, QLatin1String(name)));
    }
}

namespace {

// "\\.\COM3" and "com3" are COM3: the names a Windows port goes by.
QString portWord(QString path)
{
    if (path.startsWith(QLatin1String("\\\\.\\")))
        path = path.mid(4);
    return path.startsWith(QLatin1String("COM"), Qt::CaseInsensitive) ? path.toUpper() : path;
}

} // namespace

hv52::Line siteLine(const RunRequest &o)
{
    hv52::Line line;
    line.timeoutMs = o.line.timeoutMs;
    line.connectTimeoutMs = o.line.connectTimeoutMs;
    return line;
}

bool isSitePlan(const QJsonObject &plan)
{
    return plan.contains(QStringLiteral("lines"));
}

void refuseSharedLines(const QVector<hv52::Line> &lines, const QString &where)
{
    // Endpoints are compared by every address they resolve to, before the
    // first request: one gateway under two spellings is one line.
    QHash<QString, QList<QHostAddress>> resolved;
    if (lines.size() > 1) {
        for (int i = 0; i < lines.size(); ++i) {
            const QString &host = lines[i].tcpHost;
            if (host.isEmpty() || resolved.contains(host.toLower()))
                continue;
            QString error;
            const QList<QHostAddress> addresses = hostAddresses(host, &error);
            if (addresses.isEmpty())
                throw UsageError(QStringLiteral("%1：第 %2 条线路的主机名 %3 无法解析（%4），请求未发送。")
                                     .arg(where)
                                     .arg(i + 1)
                                     .arg(host, error));
            resolved.insert(host.toLower(), addresses);
        }
    }
    const LineIdentity identity(resolved.isEmpty() ? QList<QHostAddress>() : ownAddresses());
    for (int b = 1; b < lines.size(); ++b) {
        for (int a = 0; a < b; ++a) {
            const hv52::Line &x = lines[a];
            const hv52::Line &y = lines[b];
            QString what;
            if (!x.tcpHost.isEmpty() || !y.tcpHost.isEmpty()) {
                if (x.tcpHost.isEmpty() || y.tcpHost.isEmpty() || x.tcpPort != y.tcpPort)
                    what.clear();
                else if (x.tcpHost.compare(y.tcpHost, Qt::CaseInsensitive) == 0)
                    what = QStringLiteral("是同一个网络端点（%1）").arg(placeText(x));
                else if (identity.sameHost(resolved.value(x.tcpHost.toLower()), resolved.value(y.tcpHost.toLower())))
                    what = QStringLiteral("是同一个网络端点（%1 与 %2 指向同一主机的同一端口）")
                               .arg(placeText(x), placeText(y));
            } else if (x.port && y.port) {
                if (x.port == y.port)
                    what = QStringLiteral("是同一个串口（%1）").arg(placeText(x));
            } else {
                const QString p = hv52::devicePath(x), q = hv52::devicePath(y);
                if (p == q || portWord(p) == portWord(q))
                    what = QStringLiteral("是同一个串口设备（%1）").arg(p);
                else if (sameFile(p, q))
                    what = QStringLiteral("是同一个串口设备（%1 与 %2）").arg(p, q);
            }
            if (!what.isEmpty())
                throw UsageError(
                    QStringLiteral(
                        "%1：第 %2 条线路（%3）与第 %4 条线路（%5）%6；一条线路同一时间只能有一个主站，请求未发送。")
                        .arg(where)
                        .arg(b + 1)
                        .arg(placeText(y))
                        .arg(a + 1)
                        .arg(placeText(x), what));
        }
    }
}

SitePlan sitePlanFromFile(const QString &file, const RunRequest &o, bool withMeters)
{
    const QJsonObject plan = planObject(file);
    const QString where = QStringLiteral("计划 %1").arg(file);
    onlyKeys(plan, {"site", "operator", "lines"}, where);
    refusePlaceOptions(o, where);
    SitePlan site;
    site.inputs << file;
    site.site = o.site.isEmpty() ? textEntry(plan, QStringLiteral("site"), where) : o.site;
    site.operatorName = o.operatorName.isEmpty() ? textEntry(plan, QStringLiteral("operator"), where) : o.operatorName;
    const QJsonValue lines = plan.value(QStringLiteral("lines"));
    if (!lines.isArray() || lines.toArray().isEmpty())
        throw UsageError(QStringLiteral("%1：lines 应为非空的线路列表，请求未发送。").arg(where));
    // Far above any real site: every line is a thread with its own port.
    constexpr int kMostLines = 64;
    if (lines.toArray().size() > kMostLines)
        throw UsageError(QStringLiteral("%1：线路过多（%2 条，最多 %3 条），请求未发送。")
                             .arg(where)
                             .arg(lines.toArray().size())
                             .arg(kMostLines));
    const QDir folder = QFileInfo(file).absoluteDir();
    QVector<hv52::Line> places;
    const QJsonArray list = lines.toArray();
    for (int i = 0; i < list.size(); ++i) {
        const QString entry = QStringLiteral("%1 的第 %2 条线路").arg(where).arg(i + 1);
        if (!list[i].isObject())
            throw UsageError(QStringLiteral("%1：应为一个对象，请求未发送。").arg(entry));
        QJsonObject line = list[i].toObject();
        onlyKeys(line, {"port", "device", "tcp", "modbus_tcp", "speed", "timeout", "meters"}, entry);
        const QJsonValue meters = line.take(QStringLiteral("meters"));
        LinePlan lp{siteLine(o), {}};
        takeLine(line, lp.line, o.given, entry);
        if (!lp.line.hasPlace())
            throw UsageError(
                QStringLiteral("%1：缺少线路（应给出 port、device、tcp 或 modbus_tcp 之一），请求未发送。").arg(entry));
        lp.plan.command = o.command;
        lp.plan.site = site.site;
        lp.plan.operatorName = site.operatorName;
        if (withMeters || !meters.isUndefined())
            lp.plan.meters = metersOf(meters, folder, entry, &site.inputs);
        places << lp.line;
        site.lines << lp;
    }
    refuseSharedLines(places, where);
    site.inputs.removeDuplicates();
    return site;
}

SitePlan siteOfOne(const hv52::Line &line, const RunPlan &plan)
{
    SitePlan site{plan.site, plan.operatorName, {LinePlan{line, plan}}, plan.inputs};
    return site;
}

QVector<hv52::Line> linesFromList(const QString &list, const RunRequest &o)
{
    QVector<hv52::Line> out;
    for (const QString &part : list.split(u',')) {
        const QString item = part.trimmed();
        const int colon = int(item.indexOf(u':'));
        const QString kind = colon > 0 ? item.left(colon) : QString();
        const QString value = item.mid(colon + 1).trimmed();
        hv52::Line line = siteLine(o);
        const QString what = QStringLiteral("--lines 的“%1”").arg(item);
        if (kind == u"port") {
            line.port = wholeNumberIn(what + QStringLiteral("的串口号 "), value, 1, 32767);
        } else if (kind == u"device" && !value.isEmpty()) {
            line.device = value;
        } else if (kind == u"tcp" || kind == u"modbus_tcp") {
            parseEndpoint(QStringLiteral("--lines 的 ") + kind, value, &line.tcpHost, &line.tcpPort);
            line.modbusTcp = kind == u"modbus_tcp";
        } else {
            throw UsageError(QStringLiteral("%1无效（应为 port:N、device:路径、tcp:主机:端口 或 "
                                            "modbus_tcp:主机:端口，逗号分隔），请求未发送。")
                                 .arg(what));
        }
        out << line;
    }
    constexpr int kMostLines = 64;
    if (out.size() > kMostLines)
        throw UsageError(
            QStringLiteral("--lines 的线路过多（%1 条，最多 %2 条），请求未发送。").arg(out.size()).arg(kMostLines));
    refuseSharedLines(out, QStringLiteral("--lines"));
    return out;
}

SitePlan sitePlanFromScan(const RunRequest &o, const QJsonObject &scan)
{
    const QString where = QStringLiteral("扫描结果 %1").arg(o.fromScan);
    refusePlaceOptions(o, where);
    const KindSettings settings = kindSettings(o);
    SitePlan site{o.site, o.operatorName, {}, {o.fromScan}};
    site.inputs += settings.sources.values();
    const QJsonArray lines = scan.value(QStringLiteral("lines")).toArray();
    if (lines.isEmpty())
        throw UsageError(QStringLiteral("%1：lines 应为非空的线路列表，请求未发送。").arg(where));
    QVector<hv52::Line> places;
    QVector<MeterPlan> all;
    for (int i = 0; i < lines.size(); ++i) {
        const QString entry = QStringLiteral("%1 的第 %2 条线路").arg(where).arg(i + 1);
        QJsonObject line = lines[i].toObject();
        const QJsonObject found{{QStringLiteral("found"), line.take(QStringLiteral("found"))}};
        line.remove(QStringLiteral("late"));
        LinePlan lp{siteLine(o), {}};
        takeLine(line, lp.line, o.given, entry);
        if (!lp.line.hasPlace())
            throw UsageError(
                QStringLiteral("%1：缺少线路（应给出 port、device、tcp 或 modbus_tcp 之一），请求未发送。").arg(entry));
        int speed = 0;
        lp.plan = RunPlan{QStringLiteral("commission"), site.site, site.operatorName, {}, {}};
        lp.plan.meters = metersFound(found, entry, settings, &speed);
        lp.line.speed = speed;
        all += lp.plan.meters;
        places << lp.line;
        site.lines << lp;
    }
    refuseUnusedKinds(settings, all);
    refuseSharedLines(places, where);
    return site;
}

} // namespace hv52run
