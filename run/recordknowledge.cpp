#include "recordknowledge.h"
#include "input.h"

#include <QJsonArray>

#include <functional>

namespace hv52run {

using namespace hv52;

namespace {

bool known(const QJsonValue &v)
{
    return !v.isUndefined() && !v.isNull();
}

} // namespace

RecordKnowledge recordKnowledge(const ModuleDef &def, const QJsonObject &meter)
{
    RecordKnowledge out;
    out.settings.insert(QStringLiteral("module"), def.name);
    const QJsonObject after =
        meter.value(QStringLiteral("after")).toObject().value(QStringLiteral("values")).toObject();
    const QJsonObject before =
        meter.value(QStringLiteral("before")).toObject().value(QStringLiteral("values")).toObject();
    QHash<QString, QJsonObject> writes;
    for (const QJsonValue &w : meter.value(QStringLiteral("writes")).toArray())
        writes.insert(w.toObject().value(QStringLiteral("key")).toString(), w.toObject());
    const bool wrote = !writes.isEmpty();

    for (const Setting *s : readableSettings(def)) {
        QStringList keys;
        for (const int i : pollIndices(def, *s))
            keys << def.poll[i].key;
        // The group whole from one source of knowledge: a limit's text is in
        // the unit of the source beside it in the same column.
        const auto take = [&](const std::function<QJsonValue(const QString &)> &valueOf) {
            for (const QString &k : keys) {
                if (!known(valueOf(k)))
                    return false;
            }
            for (const QString &k : keys)
                out.settings.insert(k, valueOf(k));
            return true;
        };
        const auto written = [&](const QString &k, const char *field) {
            return writes.contains(k) ? writes[k].value(QLatin1String(field)) : QJsonValue();
        };
        const auto outcome = [&](const QString &k) { return written(k, "outcome").toString(); };
        if (take([&](const QString &k) { return after.value(k); }))
            continue;
        // No writes: the meter was only read, before is what it holds.
        if (!wrote && take([&](const QString &k) { return before.value(k); }))
            continue;
        if (take([&](const QString &k) { return written(k, "read_back"); }))
            continue;
        const bool acknowledged = std::all_of(keys.begin(), keys.end(), [&](const QString &k) {
            return outcome(k) == u"verified" || outcome(k) == u"read_back_failed";
        });
        if (acknowledged && take([&](const QString &k) { return written(k, "written"); }))
            continue;
        const bool untouched = wrote && std::all_of(keys.begin(), keys.end(), [&](const QString &k) {
                                   return !writes.contains(k) || outcome(k) == u"not_sent";
                               });
        if (untouched
            && take([&](const QString &k) { return writes.contains(k) ? written(k, "before") : before.value(k); }))
            continue;
        // Why not: the first value of the group that is not known.
        QString why = QStringLiteral("记录中没有这组设置的值");
        for (const QString &k : keys) {
            const QString o = outcome(k);
            if (o == u"write_failed" || o == u"mismatch" || o == u"not_sent") {
                const QString reason = written(k, "reason").toString();
                why = QStringLiteral("记录中没有调试后的值，%1%2且未读回")
                          .arg(o == u"write_failed" ? QStringLiteral("写入失败")
                               : o == u"mismatch"   ? QStringLiteral("读回不符")
                                                    : QStringLiteral("未发送"),
                               reason.isEmpty() ? QString() : QStringLiteral("（%1）").arg(reason));
                break;
            }
        }
        out.unknown << UnknownSetting{s, why};
    }
    return out;
}

} // namespace hv52run
