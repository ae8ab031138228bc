// reset: one entry of the module's reset list sent, or the list printed.
#include "commands.h"
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "steps.h"

namespace hv52ctl {

using namespace hv52;

int resetCommand(const Options &o)
{
    if (o.list) {
        expectWords(o, 1, QStringLiteral("reset MODULE --list"));
        const ModuleDef &def = moduleNamed(o.words[0]);
        QStringList lines;
        for (int i = 0; i < def.resets.size(); ++i) {
            const QString text = QString::fromUtf8(def.resets[i].text);
            lines << (o.json ? QStringLiteral("  {\"position\": %1, \"text\": %2}").arg(i + 1).arg(jsonString(text))
                             : QStringLiteral("%1  %2").arg(i + 1).arg(text));
        }
        printOut(o.json ? QStringLiteral("[\n%1\n]\n").arg(lines.join(QStringLiteral(",\n")))
                        : lines.join(u'\n') + u'\n');
        return Done;
    }
    expectWords(o, 2, o.entry->usage);
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString what = o.words[1].trimmed();
    const std::optional<qint64> number = wholeNumberText(what);
    int position = -1;
    for (int i = 0; i < def.resets.size(); ++i) {
        if (what == QString::fromUtf8(def.resets[i].text) || (number && *number == i + 1))
            position = i;
    }
    if (position < 0) {
        throw UsageError(
            QStringLiteral(
                "复位项“%1”不在 %2 的复位列表中（hv52ctl reset %3 --list 列出文字和序号 1～%4），请求未发送。")
                .arg(o.words[1], def.name.toUpper(), def.name)
                .arg(def.resets.size()));
    }
    const ResetChoice &choice = def.resets[position];
    if (o.multiMeter())
        return runMeters(o, sameForEvery(o, def, {}, &choice, true));
    const QString text = QString::fromUtf8(choice.text);
    WriteReport report{def.name, QStringLiteral("reset"), {}, {}};
    report.values << resetValue(def, choice);
    Session s(o.line, o.command, o.address, ConsoleOutput::standard());
    const int status = s.run([&] {
        s.stopIfInterrupted();
        const WriteResult result = ModuleClient(s.link(), def).reset(choice);
        WrittenValue &r = report.values[0];
        if (result.ok()) {
            r.outcome = WrittenValue::Outcome::Acknowledged;
        } else {
            r.outcome = WrittenValue::Outcome::WriteFailed;
            r.reason = outcomeText(result.verdict);
            printErr(QStringLiteral("复位“%1”失败：%2。").arg(text, r.reason));
        }
        return Done;
    });
    if (status == NoPort)
        return NoPort;
    if (report.allDone() && status == Done && !o.json)
        printOut(QStringLiteral("已复位：%1（模块已确认）。\n").arg(text));
    return finishReport(s, def, report, status, false, o.json);
}

} // namespace hv52ctl
