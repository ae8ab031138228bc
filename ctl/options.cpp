#include "options.h"
#include "ctl.h"
#include "input.h"
#include "linespeed.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace hv52ctl {

const QVector<OptionSpec> &optionTable()
{
    static const QVector<OptionSpec> table = {
        {{"port"}, "N", {"串口号 N：Windows 上为 COMN，其他系统为 $HV52_SERIAL_DIR/comN", "或 /dev/ttyS(N-1)"}},
        {{"device"}, "PATH", {"串口设备路径，如 /dev/ttyUSB0（与 --port 二选一）"}},
        {{"tcp"}, "HOST:PORT", {"经串口服务器（透传 Modbus RTU 帧的 TCP 端口）访问总线"}},
        {{"modbus-tcp"}, "HOST:PORT", {"经 Modbus TCP 网关访问总线，总线地址即单元标识符"}},
        {{"connect-timeout"}, "MS", {"建立 TCP 连接的超时，毫秒（默认 3000）"}},
        {{"speed"}, "B", {"波特率（默认 9600；1200、2400、4800、9600、19200、38400、57600、115200）"}},
        {{"address"}, "A", {"总线地址（默认 1，1～247）；read、set、reset、apply 可为列表，如 1-30,41"}},
        {{"timeout"}, "MS", {"应答超时，毫秒（默认 1000）"}},
        {{"json"}, {}, {"read、watch、scan、reset --list 以 JSON 输出；apply、set、reset", "输出每个值的写入报告"}},
        {{"interval"}, "S", {"watch：两次召测之间的间隔，秒（默认 1，可带小数）"}},
        {{"speeds"}, "LIST", {"scan：要扫描的波特率，逗号分隔（默认全部 8 种）"}},
        {{"addresses"}, "RANGE", {"scan：要扫描的地址，如 1-247 或 1-10,17（默认 1-247）"}},
        {{"scan-timeout"}, "MS", {"scan：每个地址的应答超时，毫秒，另加该波特率下的帧时间（默认 100）"}},
        {{"list"}, {}, {"reset：列出复位列表"}},
        {{"check"}, {}, {"apply：只检查文件"}},
        // set ... analog: described with the command.
        {{"type"}, "T", {}},
        {{"source"}, "S", {}},
        {{"lower"}, "X", {}},
        {{"upper"}, "Y", {}},
        {{"record"},
         "FILE",
         {"read、set、reset、apply、commission、verify：写调试记录，格式按扩展名：",
          ".html（可打印、签字）、.csv（表格软件）、.json（与 --json 的报告相同）"}},
        {{"site"}, "TEXT", {"调试记录的现场名称；scan：站点计划文件"}},
        {{"operator"}, "NAME", {"调试记录的调试人"}},
        {{"from-scan"}, "FILE", {"commission：以 scan --json 的输出为计划"}},
        {{"settings"}, "LIST", {"commission --from-scan：各型号的设置文件，如 t516=a.json,t528=b.json"}},
        {{"from-record"}, "FILE", {"verify：以 commission 写的 JSON 记录为核对的依据"}},
        {{"lines"},
         "LIST",
         {"scan：同时扫描的各条线路，如 port:3,device:/dev/ttyUSB0,tcp:10.0.0.7:4001,", "modbus_tcp:10.0.0.8:502"}},
        {{"h", "help"}, {}, {"显示本说明"}},
        {{"version"}, {}, {"显示版本"}},
    };
    return table;
}

bool Options::needsPort() const
{
    return !command.isEmpty() && !(command == u"reset" && list) && !(command == u"apply" && check);
}

QList<int> parseSpeedList(const QString &text)
{
    QList<int> out;
    for (const QString &part : text.split(u',')) {
        const int s = standardSpeed(QStringLiteral("--speeds"), part);
        if (!out.contains(s))
            out << s;
    }
    return out;
}

Options parseOptions(const QStringList &arguments, const CommandTable &commands)
{
    QCommandLineParser p;
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    QList<QCommandLineOption> all;
    for (const OptionSpec &option : optionTable())
        all << (option.value.isEmpty() ? QCommandLineOption(option.names)
                                       : QCommandLineOption(option.names, {}, option.value));
    p.addOptions(all);
    if (!p.parse(arguments)) {
        if (!p.unknownOptionNames().isEmpty()) {
            const QString name = p.unknownOptionNames().first();
            throw UsageError(QStringLiteral("未知选项 %1%2（hv52ctl --help 列出全部选项），请求未发送。")
                                 .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
        }
        // The only other failure: a value option at the end without its value.
        throw UsageError(
            QStringLiteral("选项 %1 缺少值，请求未发送。").arg(arguments.isEmpty() ? QString() : arguments.last()));
    }

    Options o;
    for (const QCommandLineOption &option : all) {
        if (p.isSet(option))
            o.given << option.names().last();
    }
    // The same option twice: which one was meant is anybody's guess.
    QStringList seen;
    for (const QString &name : p.optionNames()) {
        const QString full = name == u"h" ? QStringLiteral("help") : name;
        if (seen.contains(full))
            throw UsageError(QStringLiteral("选项 --%1 给出了两次，请求未发送。").arg(full));
        seen << full;
    }
    o.help = p.isSet(QStringLiteral("help"));
    o.version = p.isSet(QStringLiteral("version"));
    if (o.help || o.version)
        return o;

    QStringList names;
    for (const Command &c : commands)
        names << c.name;
    const QStringList positional = p.positionalArguments();
    if (positional.isEmpty())
        throw UsageError(
            QStringLiteral("缺少命令（%1；hv52ctl --help 列出用法）。").arg(listed(names, QStringLiteral(" 或 "))));
    o.command = positional.first();
    o.words = positional.mid(1);
    const auto entry =
        std::find_if(commands.begin(), commands.end(), [&](const Command &c) { return c.name == o.command; });
    if (entry == commands.end())
        throw UsageError(
            QStringLiteral("未知命令“%1”（应为 %2），请求未发送。").arg(o.command, names.join(QStringLiteral("、"))));
    o.entry = &*entry;

    // An option of one command only, given to another: in the options' order.
    for (const OptionSpec &option : optionTable()) {
        const QString &name = option.names.last();
        const auto owner =
            std::find_if(commands.begin(), commands.end(), [&](const Command &c) { return c.options.contains(name); });
        if (owner != commands.end() && o.given.contains(name) && owner != entry)
            throw UsageError(QStringLiteral("选项 --%1 只用于 %2 命令，请求未发送。").arg(name, owner->name));
    }
    for (const QString &name : entry->refused) {
        if (o.given.contains(name)) {
            QStringList own;
            for (const QString &option : entry->options)
                own << QStringLiteral("--") + option;
            throw UsageError(QStringLiteral("%1 不用 --%2（扫描用 %3），请求未发送。")
                                 .arg(o.command, name, listed(own, QStringLiteral(" 和 "))));
        }
    }
    QStringList meterLists, records;
    for (const Command &c : commands) {
        if (c.meterList)
            meterLists << c.name;
        if (c.record)
            records << c.name;
    }

    if (p.isSet(QStringLiteral("port")))
        o.line.port = wholeNumber(QStringLiteral("--port"), p.value(QStringLiteral("port")), 1, 32767);
    if (p.isSet(QStringLiteral("device"))) {
        o.line.device = p.value(QStringLiteral("device"));
        if (o.line.device.isEmpty())
            throw UsageError(QStringLiteral("--device 的路径为空，请求未发送。"));
    }
    if (o.line.port && !o.line.device.isEmpty())
        throw UsageError(QStringLiteral("--port 和 --device 只能给出一个，请求未发送。"));
    for (const char *name : {"tcp", "modbus-tcp"}) {
        const QString option = QLatin1String(name);
        if (!p.isSet(option))
            continue;
        QString host;
        quint16 port = 0;
        parseEndpoint(QStringLiteral("--") + option, p.value(option), &host, &port);
        if (o.line.port || !o.line.device.isEmpty() || !o.line.tcpHost.isEmpty())
            throw UsageError(QStringLiteral("--port、--device、--tcp 和 --modbus-tcp 只能给出一个，请求未发送。"));
        o.line.tcpHost = host;
        o.line.tcpPort = port;
        o.line.modbusTcp = option == u"modbus-tcp";
    }
    if (p.isSet(QStringLiteral("connect-timeout"))) {
        if (o.line.tcpHost.isEmpty())
            throw UsageError(QStringLiteral("--connect-timeout 只用于 --tcp 或 --modbus-tcp，请求未发送。"));
        o.line.connectTimeoutMs =
            wholeNumber(QStringLiteral("--connect-timeout"), p.value(QStringLiteral("connect-timeout")), 1, 60000);
    }
    if (p.isSet(QStringLiteral("speed")))
        o.line.speed = standardSpeed(QStringLiteral("--speed"), p.value(QStringLiteral("speed")));
    if (p.isSet(QStringLiteral("address"))) {
        const QString text = p.value(QStringLiteral("address"));
        if (wholeNumberText(text) == 0)
            throw UsageError(QStringLiteral("--address 的值 0 是广播地址，不能用于通讯（应为 1～247），请求未发送。"));
        if (wholeNumberText(text)) {
            o.address = wholeNumber(QStringLiteral("--address"), text, 1, 247);
            o.meters = {o.address};
        } else {
            // A list of meters: only the commands that run meter by meter.
            o.meters = parseAddressRange(text, QStringLiteral("--address"));
            if (!entry->meterList)
                throw UsageError(QStringLiteral("--address 的地址列表“%1”只用于 %2，请求未发送。")
                                     .arg(text, listed(meterLists, QStringLiteral(" 和 "))));
            o.address = o.meters.first();
        }
    }
    // A scan's --site names a site plan, whose lines it scans.
    if (o.command == u"scan" && p.isSet(QStringLiteral("site"))) {
        o.sitePlan = p.value(QStringLiteral("site"));
        if (o.sitePlan.trimmed().isEmpty())
            throw UsageError(QStringLiteral("scan 的 --site 应为站点计划文件，文件名为空，请求未发送。"));
        if (p.isSet(QStringLiteral("lines")))
            throw UsageError(QStringLiteral("scan 的 --site 和 --lines 只能给出一个，请求未发送。"));
    }
    o.lineList = p.value(QStringLiteral("lines"));
    if (p.isSet(QStringLiteral("lines")) && o.lineList.trimmed().isEmpty())
        throw UsageError(QStringLiteral("--lines 的线路列表为空，请求未发送。"));
    for (const char *name : {"record", "site", "operator"}) {
        const QString option = QLatin1String(name);
        if (option == u"site" && !o.sitePlan.isEmpty())
            continue;
        if (p.isSet(option) && !entry->record)
            throw UsageError(QStringLiteral("选项 --%1 只用于 %2，请求未发送。")
                                 .arg(option, listed(records, QStringLiteral(" 和 "))));
    }
    o.record = p.value(QStringLiteral("record"));
    if (p.isSet(QStringLiteral("record")) && o.record.trimmed().isEmpty())
        throw UsageError(QStringLiteral("--record 的文件名为空，请求未发送。"));
    // Free text for the record's heading: one line, of a sensible length.
    for (const auto &[name, slot] :
         {std::pair<const char *, QString *>{"site", o.sitePlan.isEmpty() ? &o.site : nullptr},
          std::pair<const char *, QString *>{"operator", &o.operatorName}}) {
        if (!slot)
            continue;
        const QString text = p.value(QLatin1String(name)).trimmed();
        if (text.size() > 200 || text.contains(u'\n') || text.contains(u'\r'))
            throw UsageError(
                QStringLiteral("--%1 的文字过长或含换行（最多 200 字、一行），请求未发送。").arg(QLatin1String(name)));
        *slot = text;
    }
    o.fromScan = p.value(QStringLiteral("from-scan"));
    o.settingsByKind = p.value(QStringLiteral("settings"));
    o.fromRecord = p.value(QStringLiteral("from-record"));
    if (p.isSet(QStringLiteral("timeout")))
        o.line.timeoutMs = wholeNumber(QStringLiteral("--timeout"), p.value(QStringLiteral("timeout")), 1, 60000);
    o.json = p.isSet(QStringLiteral("json"));

    if (p.isSet(QStringLiteral("interval"))) {
        // Seconds, with a fraction: 0.5 polls twice a second.
        static const QRegularExpression seconds(QStringLiteral("^[0-9]{1,5}(\\.[0-9]{1,3})?$"));
        const QString text = p.value(QStringLiteral("interval")).trimmed();
        const double s = seconds.match(text).hasMatch() ? text.toDouble() : -1;
        if (s <= 0 || s > 86400)
            throw UsageError(QStringLiteral("--interval 的值“%1”无效（应为 0.001～86400 秒），请求未发送。").arg(text));
        o.intervalMs = std::max(1, int(std::lround(s * 1000)));
    }
    o.speeds = p.isSet(QStringLiteral("speeds")) ? parseSpeedList(p.value(QStringLiteral("speeds"))) : kStandardSpeeds;
    if (p.isSet(QStringLiteral("addresses"))) {
        o.addresses = parseAddressRange(p.value(QStringLiteral("addresses")));
    } else if (o.command == u"scan") {
        for (int a = 1; a <= 247; ++a)
            o.addresses << a;
    }
    if (p.isSet(QStringLiteral("scan-timeout")))
        o.scanTimeoutMs =
            wholeNumber(QStringLiteral("--scan-timeout"), p.value(QStringLiteral("scan-timeout")), 1, 10000);
    o.list = p.isSet(QStringLiteral("list"));
    o.check = p.isSet(QStringLiteral("check"));
    // A plan may name its line itself.
    const bool placeGiven = o.line.port || !o.line.device.isEmpty() || !o.line.tcpHost.isEmpty();
    if (o.siteScan() && placeGiven)
        throw UsageError(
            QStringLiteral("scan 的 %1 已给出线路，不能再用 --port、--device、--tcp 或 --modbus-tcp，请求未发送。")
                .arg(o.sitePlan.isEmpty() ? QStringLiteral("--lines") : QStringLiteral("--site")));
    if (o.needsPort() && o.command != u"commission" && o.command != u"verify" && !o.siteScan() && !placeGiven)
        throw UsageError(QStringLiteral("缺少串口：请用 --port N 或 --device 路径 指定，请求未发送。"));
    // Behind a gateway the line speed is the gateway's own: one pass.
    if (!o.line.tcpHost.isEmpty() && !p.isSet(QStringLiteral("speeds")))
        o.speeds = {o.line.speed};
    using Slot = std::pair<const char *, std::optional<QString> *>;
    for (const auto &[name, slot] : std::initializer_list<Slot>{Slot{"type", &o.type}, Slot{"source", &o.source},
                                                                Slot{"lower", &o.lower}, Slot{"upper", &o.upper}}) {
        if (p.isSet(QLatin1String(name)))
            *slot = p.value(QLatin1String(name));
    }
    return o;
}

} // namespace hv52ctl
