#include "help.h"
#include "options.h"

#include "kinds.h"

namespace hv52ctl {

namespace {

// "  WHAT" and its first line of text in column `column`, the other lines
// below it; a WHAT too wide for its column stands on a line of its own.
QString entry(const QString &what, const QStringList &text, int column)
{
    const QString indent(column, u' ');
    QString out = QStringLiteral("  ") + what;
    if (out.size() < column)
        out += QString(column - out.size(), u' ');
    else
        out += u'\n' + indent;
    return out + text.join(u'\n' + indent) + u'\n';
}

QString optionLine(const OptionSpec &option)
{
    QStringList names;
    for (const QString &name : option.names)
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    const QString line = names.join(QStringLiteral(", "));
    return option.value.isEmpty() ? line : line + u' ' + option.value;
}

// The module kinds with what each has, from the one list of kinds.
QString kindsText()
{
    QString text = QStringLiteral("\n模块型号：\n");
    for (const hv52::ModuleKind &kind : hv52::moduleKinds())
        text += QStringLiteral("  %1  %2\n").arg(kind.name, kind.description);
    return text;
}

} // namespace

QString helpText(const CommandTable &commands)
{
    QString list;
    QStringList meterLists;
    for (const Command &c : commands) {
        for (const Command::Help &h : c.help)
            list += entry(h.line, h.text, 30);
        if (c.meterList)
            meterLists << c.name;
    }
    QString options;
    for (const OptionSpec &option : optionTable()) {
        if (!option.help.isEmpty())
            options += entry(optionLine(option), option.help, 22);
    }
    return QStringLiteral("用法：hv52ctl [选项] 命令 ...\n"
                          "\n"
                          "HV52 电力仪表 I/O 扩展模块（T516、T540、T528）的命令行工具：与 cfg_t516、cfg_t540、\n"
                          "cfg_t528 窗口相同的寄存器、顺序和换算，Modbus RTU（8 数据位，无校验，1 停止位）。\n"
                          "\n"
                          "命令（MODULE 为 %1）：\n")
               .arg(hv52::kindNames())
           + list
           + QStringLiteral("\n"
                            "%1 的 --address 可给出地址列表（如 1-30,41）：逐台进行，每台一行结果，\n"
                            "最后一行汇总；每台都完成并核对时退出状态为 0。\n"
                            "\n"
                            "选项：\n")
                 .arg(meterLists.join(QStringLiteral("、")))
           + options
           + QStringLiteral(
               "\n"
               "退出状态：0 全部完成；1 通讯失败、读回值与写入值不符、模块无应答、文件未能写入、被信号中断\n"
               "或标准输出已关闭、无法写入；\n"
               "2 命令行或输入文件有误（未发送任何请求）；3 串口无法打开或无法建立连接。\n"
               "\n"
               "Ctrl-C、SIGTERM、SIGHUP：写完正在写的一组值（模拟量输出的四个值）后停止，不再写入，\n"
               "列出已写入和未写入的值，退出状态 1；watch 写完最后一行后结束。\n"
               "标准输出关闭（如 | head）或无法写入时同样处理，调试记录照样写出；watch 的读取方离开时退出状态 0。\n")
           + kindsText();
}

CompletionWords completionWords(const CommandTable &commands)
{
    CompletionWords words;
    for (const Command &c : commands)
        words.commands << c.name;
    QStringList unlisted;
    for (const OptionSpec &option : optionTable()) {
        QStringList names;
        for (const QString &name : option.names)
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        if (!option.help.isEmpty())
            words.options += names;
        if (!option.value.isEmpty())
            (option.help.isEmpty() ? unlisted : words.valued) += names;
    }
    words.valued += unlisted;
    return words;
}

QStringList CompletionWords::optionsOf(const CommandTable &table, const QString &command) const
{
    QStringList out;
    for (const Command &c : table) {
        if (c.name != command)
            continue;
        for (const QString &name : c.options) {
            if (!options.contains(QStringLiteral("--") + name))
                out << QStringLiteral("--") + name;
        }
    }
    return out;
}

} // namespace hv52ctl
