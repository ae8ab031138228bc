// The table of hv52ctl's commands, and the program: the command line parsed
// against it, then the command it names run.
#include "commands.h"
#include "ctl.h"
#include "help.h"
#include "interrupt.h"

#include "hv52version.h"

namespace hv52ctl {

const CommandTable &commandTable()
{
    static const CommandTable table = {
        {"read",
         "read MODULE",
         {{"read MODULE", {"召测：读取窗口召测的全部值，列表或 --json 输出"}}},
         {},
         {},
         true,
         true,
         readCommand},
        {"set",
         "set t516|t528 relay N 控制方式，或 hv52ctl set t516 analog N --type T --source S --lower X --upper Y",
         {{"set t516|t528 relay N CMD",
           {"设置继电器 N（1 或 2）的控制方式 CMD：报警输出、上位机控制、",
            "控制继电器动作、控制继电器恢复，或 alarm、host、operate、release"}},
          {"set t516 analog N --type T --source S --lower X --upper Y",
           {"设置模拟量输出 N（1～3）：信号类型 T（\"4-20 mA\"、\"0- 5 V\"、",
            "4-20mA、0-5V），参数选择 S（列表文字或序号 0～29），下限 X、",
            "上限 Y（参数的单位，按窗口的规则换算和取整）；四个值都有效才写入"}}},
         {"type", "source", "lower", "upper"},
         {},
         true,
         true,
         setCommand},
        {"reset",
         "reset MODULE 复位项（文字或 reset MODULE --list 列出的序号）",
         {{"reset MODULE WHAT", {"复位：WHAT 为复位列表中的文字或序号"}},
          {"reset MODULE --list", {"列出复位列表及序号（不打开串口）"}}},
         {"list"},
         {},
         true,
         true,
         resetCommand},
        {"save",
         "save MODULE FILE",
         {{"save MODULE FILE",
           {"读出窗口能设置的全部值（继电器控制方式；T516 还有模拟量输出），", "写入 JSON 文件 FILE"}}},
         {},
         {},
         false,
         false,
         saveCommand},
        {"apply",
         "apply MODULE FILE",
         {{"apply MODULE FILE",
           {"先检查整个文件，再读出要写的寄存器（有一个读取失败就不写入），",
            "再逐组写入，读回核对；每个值的结果逐个列出"}},
          {"apply MODULE FILE --check", {"只检查文件（不打开串口）"}}},
         {"check"},
         {},
         true,
         true,
         applyCommand},
        {"watch",
         "watch MODULE",
         {{"watch MODULE", {"反复召测，每个变化的值打印一行带时间的记录（首次全部打印）；", "Ctrl-C 结束"}}},
         {"interval"},
         {},
         false,
         false,
         watchCommand},
        {"scan",
         "scan [--speeds LIST] [--addresses RANGE] [--scan-timeout MS]",
         {{"scan", {"按波特率和地址逐个查找模块，并判断模块型号"}},
          {"scan --site SITE 或 scan --lines LIST",
           {"同时扫描站点计划 SITE 的每条线路，或列出的各条线路",
            "（如 port:3,tcp:10.0.0.7:4001）；--json 的结果可作站点计划的依据"}}},
         {"speeds", "addresses", "scan-timeout", "lines"},
         {"speed", "address", "timeout"},
         false,
         false,
         scanCommand},
        {"commission",
         "commission PLAN 或 commission --from-scan FILE",
         {{"commission PLAN",
           {"按计划文件（JSON：线路、现场、调试人、各表计的地址、型号和设置）",
            "逐台调试：召测、写入、读回核对、再召测；一台失败不影响其余各台"}},
          {"commission SITE",
           {"按站点计划（lines：多条线路，各有线路和表计）调试：", "各条线路同时进行，每条线路上逐台进行"}},
          {"commission --from-scan FILE [--settings t516=a.json,t528=b.json]",
           {"按 scan --json 的结果逐台调试，设置按型号给出（未给出的只记录）"}}},
         {"from-scan", "settings"},
         {},
         false,
         true,
         commissionCommand},
        {"verify",
         "verify PLAN 或 verify --from-record FILE",
         {{"verify PLAN",
           {"验收：按计划（一条线路或站点）召测每台表计，逐项与计划比较：",
            "一致、不一致（计划 X，模块 Y）或读取失败；不发送任何写入请求"}},
          {"verify --from-record FILE", {"同上，核对的依据为 commission 写的 JSON 记录（调试后召测的值）"}}},
         {"from-record"},
         {},
         false,
         true,
         verifyCommand},
    };
    return table;
}

int run(const QStringList &arguments)
{
    try {
        const Options o = parseOptions(arguments, commandTable());
        if (o.help) {
            printOut(helpText(commandTable()));
            return Done;
        }
        if (o.version) {
            printOut(QStringLiteral("hv52ctl %1\n").arg(QStringLiteral(HV52_VERSION)));
            return Done;
        }
        const int status = o.entry->run(o);
        // The work done, its output lost at the end (the reader gone before
        // the last lines): not all that was asked for was done. A watch,
        // which has no end of its own, has decided for itself.
        if (status == Done && Interrupt::outputLost() && o.command != u"watch") {
            printErr(Interrupt::text());
            return Failed;
        }
        return status;
    } catch (const UsageError &e) {
        printErr(e.text());
        return BadInput;
    }
}

} // namespace hv52ctl
