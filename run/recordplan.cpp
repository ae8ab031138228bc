#include "recordplan.h"
#include "input.h"
#include "planfile.h"
#include "recordcheck.h"
#include "recordknowledge.h"
#include "runstatus.h"

#include "kinds.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace hv52run {

using namespace hv52;

namespace {

// The place of a record written before records named it as a plan does:
// its line as the record shows it. When there is none, the hint names only
// what works: the command line names the line of a one-line record, never
// one of a site's.
QJsonObject placeFromText(const QString &line, const QString &where, bool oneLine)
{
    const QString gateway = QStringLiteral("（Modbus TCP 网关）");
    const QString server = QStringLiteral("（串口服务器）");
    if (line.endsWith(gateway))
        return {{QStringLiteral("modbus_tcp"), line.chopped(gateway.size())}};
    if (line.endsWith(server))
        return {{QStringLiteral("tcp"), line.chopped(server.size())}};
    if (line.startsWith(QLatin1String("COM")) && wholeNumberText(line.mid(3)))
        return {{QStringLiteral("port"), int(*wholeNumberText(line.mid(3)))}};
    if (line.isEmpty() && oneLine)
        throw UsageError(
            QStringLiteral("%1：没有记下线路，请用 --port、--device、--tcp 或 --modbus-tcp 指定，请求未发送。")
                .arg(where));
    if (line.isEmpty())
        throw UsageError(QStringLiteral("%1：没有记下线路（place、line 都没有），站点记录的线路不能在命令行指定；"
                                        "可按站点计划验收（verify SITE），请求未发送。")
                             .arg(where));
    return {{QStringLiteral("device"), line}};
}

LinePlan lineOfRecord(const QJsonObject &line, const RunRequest &o, bool placeGiven, bool oneLine, const QString &where)
{
    LinePlan lp{placeGiven ? o.line : siteLine(o), {}};
    if (!placeGiven) {
        QJsonObject place = line.value(QStringLiteral("place")).toObject();
        if (place.isEmpty())
            place = placeFromText(line.value(QStringLiteral("line")).toString(), where, oneLine);
        const int speed = line.value(QStringLiteral("speed")).toInt();
        if (speed > 0)
            place.insert(QStringLiteral("speed"), speed);
        const int timeout = line.value(QStringLiteral("timeout_ms")).toInt();
        if (timeout > 0)
            place.insert(QStringLiteral("timeout"), timeout);
        takeLine(place, lp.line, o.given, where);
    }
    lp.plan.command = QStringLiteral("verify");
    const QJsonValue list = line.value(QStringLiteral("meters"));
    if (!list.isArray() || list.toArray().isEmpty())
        throw UsageError(QStringLiteral("%1：没有表计（meters），请求未发送。").arg(where));
    QHash<int, bool> seen;
    const QJsonArray meters = list.toArray();
    for (int i = 0; i < meters.size(); ++i) {
        const QJsonObject m = meters[i].toObject();
        const QString entry = QStringLiteral("%1 的第 %2 台表计").arg(where).arg(i + 1);
        const int address = wholeNumberIn(entry + QStringLiteral("的 address "),
                                          numberEntry(m.value(QStringLiteral("address"))), 1, 247);
        if (seen.contains(address))
            throw UsageError(QStringLiteral("%1：地址 %2 出现了两次，请求未发送。").arg(entry).arg(address));
        seen.insert(address, true);
        const ModuleKind *kind = moduleKind(m.value(QStringLiteral("module")).toString());
        if (!kind)
            throw UsageError(QStringLiteral("%1：模块“%2”未知（应为 %3），请求未发送。")
                                 .arg(entry, m.value(QStringLiteral("module")).toString(), kindNames()));
        MeterPlan meter{address, &kind->def(), false, {}, nullptr, where, {}, {}};
        // What the record knows it holds, setting by setting.
        const RecordKnowledge knows = recordKnowledge(kind->def(), m);
        const auto anyValueIn = [&m](const char *poll) {
            const QJsonObject values =
                m.value(QLatin1String(poll)).toObject().value(QStringLiteral("values")).toObject();
            return std::any_of(values.begin(), values.end(), [](const QJsonValue &v) { return !v.isNull(); });
        };
        if (!anyValueIn("after") && !anyValueIn("before")) {
            meter.skip = QStringLiteral("记录中没有读到的值：调试时%1，未核对")
                             .arg(m.value(QStringLiteral("result_text")).toString());
        } else {
            meter.planned = plannedFromFile(kind->def(), QJsonDocument(knows.settings).toJson(), entry);
            meter.unknown = knows.unknown;
            meter.write = !meter.planned.isEmpty() || !meter.unknown.isEmpty();
        }
        lp.plan.meters << meter;
    }
    return lp;
}

} // namespace

SitePlan sitePlanFromRecord(const RunRequest &o)
{
    const QString &file = o.fromRecord;
    const QString where = QStringLiteral("记录 %1").arg(file);
    const QByteArray text = readInputFile(file, kMaxRecordFileBytes);
    const QJsonObject record = jsonObject(text, where);
    if (!record.contains(QStringLiteral("meters")) && !record.contains(QStringLiteral("lines")))
        throw UsageError(
            QStringLiteral("%1：不是调试记录（应为 commission --record 写的 .json 文件），请求未发送。").arg(where));
    checkRecord(text, record, where);
    SitePlan site;
    site.inputs << file;
    site.site = o.site.isEmpty() ? record.value(QStringLiteral("site")).toString() : o.site;
    site.operatorName = o.operatorName; // the inspector, not the commissioning engineer
    const bool placeGiven = o.line.hasPlace();
    QVector<hv52::Line> places;
    if (record.contains(QStringLiteral("lines"))) {
        refusePlaceOptions(o, where);
        const QJsonArray lines = record.value(QStringLiteral("lines")).toArray();
        if (lines.isEmpty())
            throw UsageError(QStringLiteral("%1：lines 应为非空的线路列表，请求未发送。").arg(where));
        for (int i = 0; i < lines.size(); ++i) {
            site.lines << lineOfRecord(lines[i].toObject(), o, false, false,
                                       QStringLiteral("%1 的第 %2 条线路").arg(where).arg(i + 1));
            places << site.lines.last().line;
        }
    } else {
        site.lines << lineOfRecord(record, o, placeGiven, true, where);
        places << site.lines.last().line;
    }
    refuseSharedLines(places, where);
    for (LinePlan &line : site.lines) {
        line.plan.site = site.site;
        line.plan.operatorName = site.operatorName;
    }
    return site;
}

} // namespace hv52run
