// set: one relay command, or the four values of an analog output together,
// written and read back.
#include "commands.h"
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "steps.h"

#include "convert.h"
#include "t516module.h"

namespace hv52ctl {

using namespace hv52;

namespace {

int numberWord(const QString &what, const QString &word, int low, int high)
{
    const std::optional<qint64> n = wholeNumberText(word);
    if (!n || *n < low || *n > high)
        throw UsageError(QStringLiteral("%1“%2”无效（应为 %3～%4），请求未发送。").arg(what, word).arg(low).arg(high));
    return int(*n);
}

} // namespace

int setCommand(const Options &o)
{
    // The kind and the output come first: the usage names both forms.
    if (o.words.size() < 2)
        expectWords(o, 2, o.entry->usage);
    const ModuleDef &def = moduleNamed(o.words[0]);
    const QString what = o.words[1];
    const bool analogOptions = o.type || o.source || o.lower || o.upper;
    const Setting *setting = nullptr;
    QVector<quint16> values;
    QStringList texts;
    if (what == u"relay") {
        if (!def.setting(QStringLiteral("relay1")))
            throw UsageError(QStringLiteral("%1 没有继电器输出，请求未发送。").arg(def.name.toUpper()));
        expectWords(o, 4, QStringLiteral("set %1 relay N 控制方式").arg(def.name));
        if (analogOptions)
            throw UsageError(QStringLiteral("--type、--source、--lower、--upper 只用于模拟量输出，请求未发送。"));
        int relays = 0;
        while (def.setting(QStringLiteral("relay%1").arg(relays + 1)))
            ++relays;
        const int n = numberWord(QStringLiteral("继电器号"), o.words[2], 1, relays);
        setting = def.setting(QStringLiteral("relay%1").arg(n));
        values << relayCommandWord(setting->name, o.words[3]);
        texts << *relayCommandText(values[0]);
    } else if (what == u"analog") {
        if (!def.setting(QStringLiteral("analog1")))
            throw UsageError(QStringLiteral("%1 没有模拟量输出，请求未发送。").arg(def.name.toUpper()));
        expectWords(o, 3, QStringLiteral("set %1 analog N --type T --source S --lower X --upper Y").arg(def.name));
        const int n = numberWord(QStringLiteral("模拟量输出号"), o.words[2], 1, kAnalogOutputs);
        setting = def.setting(QStringLiteral("analog%1").arg(n));
        const QVector<int> indices = pollIndices(def, *setting);
        const auto caption = [&](int i) { return def.poll[indices[i]].caption(); };
        using Given = std::pair<const char *, const std::optional<QString> *>;
        for (const auto &[name, given] :
             std::initializer_list<Given>{Given{"type", &o.type}, Given{"source", &o.source}, Given{"lower", &o.lower},
                                          Given{"upper", &o.upper}}) {
            if (!*given) {
                throw UsageError(QStringLiteral("缺少 --%1（%2 的四个值一起写入），请求未发送。")
                                     .arg(QLatin1String(name), setting->name));
            }
        }
        const int type = signalTypeWord(caption(0), *o.type);
        const int source = sourceWord(caption(1), *o.source);
        values << quint16(type) << quint16(source) << limitWord(caption(2), *o.lower, source)
               << limitWord(caption(3), *o.upper, source);
        for (int i = 0; i < 4; ++i)
            texts << QStringLiteral("%1 %2").arg(def.poll[indices[i]].column,
                                                 registerText(def.poll[indices[i]], values[i], limitScale(source)));
    } else {
        throw UsageError(QStringLiteral("set 的对象“%1”无效（应为 relay 或 analog），请求未发送。").arg(what));
    }

    const QVector<Planned> planned = {Planned{setting, values}};
    if (o.multiMeter())
        return runMeters(o, sameForEvery(o, def, planned, nullptr, true));
    return writePlanned(o, def, QStringLiteral("set"), planned, [&] {
        if (!o.json)
            printOut(QStringLiteral("已设置%1：%2（模块已确认，读回核对一致）。\n")
                         .arg(setting->name, texts.join(QStringLiteral("，"))));
    });
}

} // namespace hv52ctl
