// hv52ctl's table of commands and what is made of it: the command a command
// line names, the checks of options that belong to one command, the help's
// lists and the words of the bash completion.
#include "commands.h"
#include "ctl.h"
#include "help.h"
#include "options.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

using namespace hv52ctl;

namespace {

// The words of a variable of the completion script: NAME="...", over lines.
QStringList completionVariable(const QString &script, const QString &name)
{
    const QRegularExpression re(QStringLiteral("^%1=\"([^\"]*)\"").arg(name), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = re.match(script);
    return m.hasMatch() ? m.captured(1).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)
                        : QStringList{};
}

QString usageError(const QStringList &args)
{
    try {
        parseOptions(QStringList{QStringLiteral("hv52ctl")} + args, commandTable());
    } catch (const UsageError &e) {
        return e.text();
    }
    return QString();
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void commandNamesItsEntry_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("command");
        QTest::newRow("read") << QStringList{"--port", "1", "read", "t516"} << "read";
        QTest::newRow("set") << QStringList{"--port", "1", "set", "t516", "relay", "1", "host"} << "set";
        QTest::newRow("reset --list") << QStringList{"reset", "t516", "--list"} << "reset";
        QTest::newRow("save") << QStringList{"--port", "1", "save", "t516", "-"} << "save";
        QTest::newRow("apply --check") << QStringList{"apply", "t516", "a.json", "--check"} << "apply";
        QTest::newRow("watch") << QStringList{"--port", "1", "watch", "t528", "--interval", "2"} << "watch";
        QTest::newRow("scan") << QStringList{"--port", "1", "scan", "--speeds", "9600"} << "scan";
        QTest::newRow("commission") << QStringList{"commission", "plan.json"} << "commission";
    }
    void commandNamesItsEntry()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, command);
        const Options o = parseOptions(QStringList{QStringLiteral("hv52ctl")} + args, commandTable());
        QVERIFY(o.entry);
        QCOMPARE(o.entry->name, command);
        QCOMPARE(o.command, command);
        QVERIFY(o.entry->run);
        QVERIFY(!o.entry->usage.isEmpty());
    }

    // Each entry runs its own command.
    void entriesRunTheirCommands_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<void *>("run");
        QTest::newRow("read") << "read" << reinterpret_cast<void *>(&readCommand);
        QTest::newRow("set") << "set" << reinterpret_cast<void *>(&setCommand);
        QTest::newRow("reset") << "reset" << reinterpret_cast<void *>(&resetCommand);
        QTest::newRow("save") << "save" << reinterpret_cast<void *>(&saveCommand);
        QTest::newRow("apply") << "apply" << reinterpret_cast<void *>(&applyCommand);
        QTest::newRow("watch") << "watch" << reinterpret_cast<void *>(&watchCommand);
        QTest::newRow("scan") << "scan" << reinterpret_cast<void *>(&scanCommand);
        QTest::newRow("commission") << "commission" << reinterpret_cast<void *>(&commissionCommand);
    }
    void entriesRunTheirCommands()
    {
        QFETCH(QString, name);
        QFETCH(void *, run);
        const CommandTable &table = commandTable();
        const auto entry = std::find_if(table.begin(), table.end(), [&](const Command &c) { return c.name == name; });
        QVERIFY(entry != table.end());
        QCOMPARE(reinterpret_cast<void *>(entry->run), run);
    }

    // The checks name the commands as the table has them.
    void checksFromTheTable_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no command") << QStringList{"--port", "1"}
                                    << "缺少命令（read、set、reset、save、apply、watch、scan、commission 或 verify；"
                                       "hv52ctl --help 列出用法）。";
        QTest::newRow("unknown command")
            << QStringList{"frob"}
            << "未知命令“frob”（应为 read、set、reset、save、apply、watch、scan、commission、verify），请求未发送。";
        QTest::newRow("watch's option on read") << QStringList{"--port", "1", "read", "t516", "--interval", "1"}
                                                << "选项 --interval 只用于 watch 命令，请求未发送。";
        QTest::newRow("the first misplaced option is named")
            << QStringList{"--port", "1", "read", "t516", "--settings", "t516=a", "--type", "x"}
            << "选项 --type 只用于 set 命令，请求未发送。";
        QTest::newRow("commission's option on scan") << QStringList{"--port", "1", "scan", "--from-scan", "f"}
                                                     << "选项 --from-scan 只用于 commission 命令，请求未发送。";
        QTest::newRow("scan refuses --address")
            << QStringList{"--port", "1", "scan", "--address", "3"}
            << "scan 不用 --address（扫描用 --speeds、--addresses、--scan-timeout 和 --lines），请求未发送。";
        QTest::newRow("a list of meters on save")
            << QStringList{"--port", "1", "--address", "1-3", "save", "t516", "x"}
            << "--address 的地址列表“1-3”只用于 read、set、reset 和 apply，请求未发送。";
        QTest::newRow("a record of watch")
            << QStringList{"--port", "1", "watch", "t516", "--record", "r.html"}
            << "选项 --record 只用于 read、set、reset、apply、commission 和 verify，请求未发送。";
        QTest::newRow("a list of meters on read")
            << QStringList{"--port", "1", "--address", "1-3", "read", "t516"} << QString();
        QTest::newRow("verify's option on commission") << QStringList{"commission", "p.json", "--from-record", "r.json"}
                                                       << "选项 --from-record 只用于 verify 命令，请求未发送。";
        QTest::newRow("a site scan names its lines")
            << QStringList{"--port", "1", "scan", "--lines", "port:2"}
            << "scan 的 --lines 已给出线路，不能再用 --port、--device、--tcp 或 --modbus-tcp，请求未发送。";
        QTest::newRow("a site plan and a list of lines") << QStringList{"scan", "--site", "s.json", "--lines", "port:2"}
                                                         << "scan 的 --site 和 --lines 只能给出一个，请求未发送。";
        QTest::newRow("a site scan from a plan") << QStringList{"scan", "--site", "s.json"} << QString();
        QTest::newRow("verify needs no port on the command line") << QStringList{"verify", "p.json"} << QString();
        QTest::newRow("an empty list of lines")
            << QStringList{"scan", "--lines", " "} << "--lines 的线路列表为空，请求未发送。";
    }
    void checksFromTheTable()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QCOMPARE(usageError(args), message);
    }

    void listedNames_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("join");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << QStringList{} << " 和 "
                              << "";
        QTest::newRow("one") << QStringList{"scan"} << " 和 "
                             << "scan";
        QTest::newRow("two") << QStringList{"a", "b"} << " 或 "
                             << "a 或 b";
        QTest::newRow("three") << QStringList{"a", "b", "c"} << " 和 "
                               << "a、b 和 c";
    }
    void listedNames()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, join);
        QFETCH(QString, text);
        QCOMPARE(listed(names, join), text);
    }

    // Every help entry of a command stands in the help, in the table's order.
    void helpListsEveryCommand_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < commandTable().size(); ++i)
            QTest::newRow(qPrintable(commandTable()[i].name)) << i;
    }
    void helpListsEveryCommand()
    {
        QFETCH(int, index);
        const QString help = helpText(commandTable());
        const Command &c = commandTable()[index];
        QVERIFY(!c.help.isEmpty());
        qsizetype at = 0;
        for (int i = 0; i <= index; ++i) {
            for (const Command::Help &h : commandTable()[i].help) {
                at = help.indexOf(QStringLiteral("\n  ") + h.line, at);
                QVERIFY2(at >= 0, qPrintable(h.line));
                for (const QString &line : h.text)
                    QVERIFY2(help.indexOf(line, at) >= 0, qPrintable(line));
            }
        }
    }

    // An option listed in the help has its line there: "  --interval S" and
    // its text from column 22, or on the next line when too wide.
    void helpListsEveryOption_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("line");
        QTest::newRow("narrow") << "--port N"
                                << "  --port N            串口号 N：";
        QTest::newRow("wide") << "--modbus-tcp HOST:PORT"
                              << "  --modbus-tcp HOST:PORT\n                      经 Modbus TCP";
        QTest::newRow("two names") << "-h, --help"
                                   << "  -h, --help          显示本说明\n";
        QTest::newRow("a switch") << "--check"
                                  << "  --check             apply：只检查文件\n";
    }
    void helpListsEveryOption()
    {
        QFETCH(QString, option);
        QFETCH(QString, line);
        QVERIFY2(helpText(commandTable()).contains(line), qPrintable(option));
    }

    // The completion offers what the tables have, in their order.
    void completionFromTheTables_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::newRow("commands") << "_hv52ctl_commands";
        QTest::newRow("options") << "_hv52ctl_options";
        QTest::newRow("valued") << "_hv52ctl_valued";
    }
    void completionFromTheTables()
    {
        QFETCH(QString, variable);
        QFile file(QStringLiteral(HV52_COMPLETION));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString script = QString::fromUtf8(file.readAll());
        const CompletionWords words = completionWords(commandTable());
        const QStringList expected = variable == u"_hv52ctl_commands"  ? words.commands
                                     : variable == u"_hv52ctl_options" ? words.options
                                                                       : words.valued;
        QVERIFY(!expected.isEmpty());
        QCOMPARE(completionVariable(script, variable), expected);
    }
    void completionOffersSetAnalogOptions()
    {
        QFile file(QStringLiteral(HV52_COMPLETION));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString script = QString::fromUtf8(file.readAll());
        const QStringList options = completionWords(commandTable()).optionsOf(commandTable(), QStringLiteral("set"));
        QCOMPARE(options, (QStringList{"--type", "--source", "--lower", "--upper"}));
        QVERIFY(script.contains(QStringLiteral("options+=\" %1\"").arg(options.join(u' '))));
    }
};

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
