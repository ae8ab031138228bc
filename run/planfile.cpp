// Plan files as hv52ctl reads them: a line's plan (its line and its meters,
// each with its kind and settings), and a scan's findings as a plan, each
// checked whole before anything is sent.
#include "planfile.h"
#include "addressing.h"
#include "linespeed.h"
#include "runstatus.h"

#include "kinds.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace hv52run {

using namespace hv52;

// --- the plan file ---------------------------------------------------------

void onlyKeys(const QJsonObject &object, const QStringList &known, const QString &where)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            throw UsageError(QStringLiteral("%1：未知条目“%2”（应为 %3），请求未发送。")
                                 .arg(where, it.key(), known.join(QStringLiteral("、"))));
    }
}

QString textEntry(const QJsonObject &object, const QString &key, const QString &where)
{
    const QJsonValue v = object.value(key);
    if (v.isUndefined())
        return {};
    const QString text = v.toString().trimmed();
    if (!v.isString() || text.size() > 200 || text.contains(u'\n'))
        throw UsageError(QStringLiteral("%1：“%2”应为一行文字（最多 200 字），请求未发送。").arg(where, key));
    return text;
}

QString numberEntry(const QJsonValue &v)
{
    if (v.isDouble())
        return QString::number(v.toDouble(), 'g', 17);
    return v.toString(QStringLiteral("?"));
}

void takeLine(const QJsonObject &json, hv52::Line &line, const QSet<QString> &given, const QString &where)
{
    onlyKeys(json, {"port", "device", "tcp", "modbus_tcp", "speed", "timeout"}, where);
    const bool lineGiven = line.hasPlace();
    int places = 0;
    for (const char *key : {"port", "device", "tcp", "modbus_tcp"})
        places += json.contains(QLatin1String(key)) ? 1 : 0;
    if (places > 1)
        throw UsageError(QStringLiteral("%1：port、device、tcp 和 modbus_tcp 只能给出一个，请求未发送。").arg(where));
    if (!lineGiven) {
        if (json.contains(QStringLiteral("port")))
            line.port = wholeNumberIn(where + QStringLiteral("的 port "),
                                      numberEntry(json.value(QStringLiteral("port"))), 1, 32767);
        if (json.contains(QStringLiteral("device"))) {
            line.device = json.value(QStringLiteral("device")).toString();
            if (line.device.isEmpty())
                throw UsageError(QStringLiteral("%1：device 应为串口设备路径，请求未发送。").arg(where));
        }
        for (const char *key : {"tcp", "modbus_tcp"}) {
            const QString k = QLatin1String(key);
            if (json.contains(k)) {
                parseEndpoint(where + QStringLiteral("的 ") + k, json.value(k).toString(), &line.tcpHost,
                              &line.tcpPort);
                line.modbusTcp = k == u"modbus_tcp";
            }
        }
    }
    if (json.contains(QStringLiteral("speed")) && !given.contains(QStringLiteral("speed"))) {
        const int speed = wholeNumberIn(where + QStringLiteral("的 speed "),
                                        numberEntry(json.value(QStringLiteral("speed"))), 1, 999999999);
        if (!hv52::kStandardSpeeds.contains(speed))
            throw UsageError(QStringLiteral("%1：speed %2 不是模块的波特率，请求未发送。").arg(where).arg(speed));
        line.speed = speed;
    }
    if (json.contains(QStringLiteral("timeout")) && !given.contains(QStringLiteral("timeout")))
        line.timeoutMs = wholeNumberIn(where + QStringLiteral("的 timeout "),
                                       numberEntry(json.value(QStringLiteral("timeout"))), 1, 60000);
}

namespace {

// The settings of one plan entry: a file written by save (relative to the
// plan's folder), or the same keys inline.
QVector<Planned> settingsOf(const ModuleDef &def, const QJsonValue &v, const QDir &folder, const QString &where,
                            QString *source)
{
    if (v.isString()) {
        const QString file = folder.filePath(v.toString());
        *source = v.toString();
        return plannedFromFile(def, readInputFile(file), file);
    }
    if (v.isObject()) {
        // Inline settings belong to the entry's kind: "module" may be left out.
        QJsonObject settings = v.toObject();
        if (!settings.contains(QStringLiteral("module")))
            settings.insert(QStringLiteral("module"), def.name);
        *source = where;
        return plannedFromFile(def, QJsonDocument(settings).toJson(), where + QStringLiteral("的 settings"));
    }
    throw UsageError(QStringLiteral("%1：settings 应为设置文件名或设置对象，请求未发送。").arg(where));
}

const ModuleDef &kindEntry(const QJsonValue &v, const QString &where)
{
    const ModuleKind *kind = moduleKind(v.toString());
    if (!kind)
        throw UsageError(QStringLiteral("%1：模块“%2”未知（应为 %3），请求未发送。")
                             .arg(where, v.isString() ? v.toString() : QStringLiteral("（缺少）"), kindNames()));
    return kind->def();
}

// Every address once in the whole plan.
void refuseTwice(QHash<int, QString> &seen, int address, const QString &where)
{
    const auto first = seen.constFind(address);
    if (first != seen.constEnd())
        throw UsageError(QStringLiteral("%1：地址 %2 已在%3中出现，请求未发送。").arg(where).arg(address).arg(*first));
    seen.insert(address, where);
}

QJsonObject jsonFile(const QString &file, const QString &what)
{
    return jsonObject(readInputFile(file, kMaxPlanFileBytes), QStringLiteral("%1 %2").arg(what, file));
}

} // namespace

QVector<MeterPlan> metersOf(const QJsonValue &list, const QDir &folder, const QString &where, QStringList *inputs)
{
    const QJsonArray meters = list.toArray();
    if (meters.isEmpty())
        throw UsageError(QStringLiteral("%1：meters 应为非空的列表，请求未发送。").arg(where));
    QVector<MeterPlan> out;
    QHash<int, QString> seen;
    for (int i = 0; i < meters.size(); ++i) {
        const QString entry = QStringLiteral("%1 的第 %2 项").arg(where).arg(i + 1);
        if (!meters[i].isObject())
            throw UsageError(QStringLiteral("%1：应为一个对象，请求未发送。").arg(entry));
        const QJsonObject m = meters[i].toObject();
        onlyKeys(m, {"address", "module", "settings"}, entry);
        const QJsonValue a = m.value(QStringLiteral("address"));
        if (a.isUndefined())
            throw UsageError(QStringLiteral("%1：缺少 address，请求未发送。").arg(entry));
        const QList<int> addresses =
            a.isDouble() ? QList<int>{wholeNumberIn(entry + QStringLiteral("的 address "), numberEntry(a), 1, 247)}
                         : parseAddressRange(a.toString(), entry + QStringLiteral("的 address"));
        const ModuleDef &def = kindEntry(m.value(QStringLiteral("module")), entry);
        MeterPlan meter{0, &def, m.contains(QStringLiteral("settings")), {}, nullptr, {}, {}, {}};
        if (meter.write) {
            const QJsonValue settings = m.value(QStringLiteral("settings"));
            meter.planned = settingsOf(def, settings, folder, entry, &meter.source);
            if (settings.isString())
                *inputs << folder.filePath(settings.toString());
        }
        for (const int address : addresses) {
            refuseTwice(seen, address, entry);
            meter.address = address;
            out << meter;
        }
    }
    return out;
}

QJsonObject planObject(const QString &file)
{
    return jsonFile(file, QStringLiteral("计划"));
}

RunPlan planFromFile(const QString &file, RunRequest &o)
{
    const QJsonObject plan = planObject(file);
    const QString where = QStringLiteral("计划 %1").arg(file);
    onlyKeys(plan, {"site", "operator", "line", "meters"}, where);
    RunPlan run;
    run.command = QStringLiteral("commission");
    run.inputs << file;
    run.site = o.site.isEmpty() ? textEntry(plan, QStringLiteral("site"), where) : o.site;
    run.operatorName = o.operatorName.isEmpty() ? textEntry(plan, QStringLiteral("operator"), where) : o.operatorName;
    if (plan.contains(QStringLiteral("line"))) {
        if (!plan.value(QStringLiteral("line")).isObject())
            throw UsageError(QStringLiteral("%1：line 应为一个对象，请求未发送。").arg(where));
        takeLine(plan.value(QStringLiteral("line")).toObject(), o.line, o.given, where + QStringLiteral(" 的 line"));
    }
    run.meters = metersOf(plan.value(QStringLiteral("meters")), QFileInfo(file).absoluteDir(), where, &run.inputs);
    return run;
}

KindSettings kindSettings(const RunRequest &o)
{
    KindSettings out;
    if (o.settingsByKind.isEmpty())
        return out;
    for (const QString &part : o.settingsByKind.split(u',')) {
        const int eq = int(part.indexOf(u'='));
        const ModuleKind *kind = eq > 0 ? moduleKind(part.left(eq).trimmed()) : nullptr;
        if (!kind || part.mid(eq + 1).trimmed().isEmpty())
            throw UsageError(
                QStringLiteral("--settings 的“%1”无效（应为 型号=文件，如 t516=a.json；型号为 %2），请求未发送。")
                    .arg(part, kindNames()));
        if (out.byKind.contains(kind->name))
            throw UsageError(QStringLiteral("--settings 给出了两次 %1 的设置，请求未发送。").arg(kind->name));
        const QString file = part.mid(eq + 1).trimmed();
        out.byKind.insert(kind->name, plannedFromFile(kind->def(), readInputFile(file), file));
        out.sources.insert(kind->name, file);
    }
    return out;
}

QVector<MeterPlan> metersFound(const QJsonObject &scan, const QString &where, const KindSettings &settings, int *speed)
{
    const QJsonArray found = scan.value(QStringLiteral("found")).toArray();
    if (!scan.value(QStringLiteral("found")).isArray())
        throw UsageError(
            QStringLiteral("%1：缺少 found 列表（应为 hv52ctl scan --json 的输出），请求未发送。").arg(where));
    if (found.isEmpty())
        throw UsageError(QStringLiteral("%1：没有找到的模块，请求未发送。").arg(where));
    QVector<MeterPlan> out;
    QHash<int, QString> seen;
    *speed = 0;
    for (int i = 0; i < found.size(); ++i) {
        const QJsonObject f = found[i].toObject();
        const QString entry = QStringLiteral("%1 的第 %2 个模块").arg(where).arg(i + 1);
        const int address = wholeNumberIn(entry + QStringLiteral("的 address "),
                                          numberEntry(f.value(QStringLiteral("address"))), 1, 247);
        const int at = wholeNumberIn(entry + QStringLiteral("的 speed "), numberEntry(f.value(QStringLiteral("speed"))),
                                     1, 999999999);
        if (*speed && at != *speed)
            throw UsageError(
                QStringLiteral("%1：波特率 %2 与前面的模块（%3）不同；一次调试一条线路、一种波特率，请求未发送。")
                    .arg(entry)
                    .arg(at)
                    .arg(*speed));
        *speed = at;
        const QString kind = f.value(QStringLiteral("module")).toString();
        if (kind == u"unknown")
            throw UsageError(QStringLiteral("%1：地址 %2 的模块型号未知，无法调试；请从扫描结果中删去它，请求未发送。")
                                 .arg(entry)
                                 .arg(address));
        const ModuleDef &def = kindEntry(f.value(QStringLiteral("module")), entry);
        refuseTwice(seen, address, entry);
        out << MeterPlan{address,
                         &def,
                         settings.byKind.contains(kind),
                         settings.byKind.value(kind),
                         nullptr,
                         settings.sources.value(kind),
                         {},
                         {}};
    }
    if (!hv52::kStandardSpeeds.contains(*speed))
        throw UsageError(QStringLiteral("%1：波特率 %2 不是模块的波特率，请求未发送。").arg(where).arg(*speed));
    return out;
}

void refuseUnusedKinds(const KindSettings &settings, const QVector<MeterPlan> &meters)
{
    for (auto it = settings.byKind.constBegin(); it != settings.byKind.constEnd(); ++it) {
        const bool used =
            std::any_of(meters.begin(), meters.end(), [&](const MeterPlan &m) { return m.def->name == it.key(); });
        if (!used)
            throw UsageError(QStringLiteral("--settings 给出了 %1 的设置，但扫描结果中没有 %2，请求未发送。")
                                 .arg(it.key(), it.key().toUpper()));
    }
}

QJsonObject scanObject(const QString &file)
{
    return jsonFile(file, QStringLiteral("扫描结果"));
}

RunPlan planFromScan(const RunRequest &o, int *speed)
{
    const QJsonObject scan = scanObject(o.fromScan);
    const KindSettings settings = kindSettings(o);
    RunPlan run{QStringLiteral("commission"), o.site, o.operatorName, {}, {o.fromScan}};
    run.inputs += settings.sources.values();
    run.meters = metersFound(scan, QStringLiteral("扫描结果 %1").arg(o.fromScan), settings, speed);
    refuseUnusedKinds(settings, run.meters);
    return run;
}

} // namespace hv52run
