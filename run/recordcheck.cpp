#include "recordcheck.h"
#include "addressing.h"
#include "input.h"
#include "linespeed.h"
#include "runrequest.h"
#include "runstatus.h"

#include <QHash>
#include <QJsonArray>

namespace hv52run {

namespace {

class Checker
{
public:
    Checker(const QByteArray &text, const QString &where) : m_where(where)
    {
        // A path's line: the first key of that path, as the text gives it.
        walkKeys(text, [this](const JsonKey &key) {
            if (!m_lines.contains(key.path))
                m_lines.insert(key.path, key.line);
        });
    }

    [[noreturn]] void refuse(const QString &path, const QString &what) const
    {
        throw UsageError(
            QStringLiteral("%1：第 %2 行的 %3 %4，请求未发送。").arg(m_where).arg(m_lines.value(path)).arg(path, what));
    }

    // Absent or null, or an object.
    void objectOrNull(const QJsonObject &in, const QString &key, const QString &path) const
    {
        const QJsonValue v = in.value(key);
        if (!v.isUndefined() && !v.isNull() && !v.isObject())
            refuse(path, QStringLiteral("应为对象或 null"));
    }

    // Absent or null, or a whole number in [low, high] (a JSON number, not a text).
    void wholeOrNull(const QJsonObject &in, const QString &key, const QString &path, qint64 low, qint64 high) const
    {
        const QJsonValue v = in.value(key);
        if (v.isUndefined() || v.isNull())
            return;
        const double d = v.toDouble();
        if (!v.isDouble() || d != double(qint64(d)))
            refuse(path, QStringLiteral("应为整数（%1～%2）").arg(low).arg(high));
        if (d < double(low) || d > double(high))
            refuse(path, QStringLiteral("%1 超出范围（应为 %2～%3）").arg(v.toVariant().toString()).arg(low).arg(high));
    }

    void line(const QJsonObject &line, const QString &prefix) const
    {
        const auto at = [&](const char *key) { return prefix + QLatin1String(key); };
        objectOrNull(line, QStringLiteral("place"), at("place"));
        const QJsonValue speed = line.value(QStringLiteral("speed"));
        wholeOrNull(line, QStringLiteral("speed"), at("speed"), 0, hv52::kStandardSpeeds.last());
        if (speed.isDouble() && speed.toInt() != 0 && !hv52::kStandardSpeeds.contains(speed.toInt()))
            refuse(at("speed"), QStringLiteral("%1 不是标准波特率").arg(speed.toInt()));
        wholeOrNull(line, QStringLiteral("timeout_ms"), at("timeout_ms"), 1, 60000);
        const QJsonValue text = line.value(QStringLiteral("line"));
        if (!text.isUndefined() && !text.isNull() && !text.isString())
            refuse(at("line"), QStringLiteral("应为文字"));
        const QJsonArray meters = line.value(QStringLiteral("meters")).toArray();
        for (int i = 0; i < meters.size(); ++i) {
            const QString meter = QStringLiteral("%1meters[%2]").arg(prefix).arg(i + 1);
            if (!meters[i].isObject())
                refuse(meter, QStringLiteral("应为对象"));
            const QJsonObject m = meters[i].toObject();
            for (const char *poll : {"before", "after"}) {
                const QString path = meter + u'.' + QLatin1String(poll);
                objectOrNull(m, QLatin1String(poll), path);
                const QJsonValue values = m.value(QLatin1String(poll)).toObject().value(QStringLiteral("values"));
                if (m.value(QLatin1String(poll)).isObject() && !values.isObject())
                    refuse(path + QStringLiteral(".values"), QStringLiteral("应为对象"));
            }
            const QJsonValue writes = m.value(QStringLiteral("writes"));
            if (!writes.isUndefined() && !writes.isArray())
                refuse(meter + QStringLiteral(".writes"), QStringLiteral("应为列表"));
            const QJsonArray list = writes.toArray();
            for (int k = 0; k < list.size(); ++k) {
                const QString path = QStringLiteral("%1.writes[%2]").arg(meter).arg(k + 1);
                const QJsonObject w = list[k].toObject();
                static const QStringList outcomes{"verified",         "acknowledged", "write_failed",
                                                  "read_back_failed", "mismatch",     "not_sent"};
                if (!list[k].isObject() || !w.value(QStringLiteral("key")).isString())
                    refuse(path, QStringLiteral("应为带 key 的对象"));
                if (!outcomes.contains(w.value(QStringLiteral("outcome")).toString()))
                    refuse(path + QStringLiteral(".outcome"),
                           QStringLiteral("“%1”不是写入结果")
                               .arg(w.value(QStringLiteral("outcome")).toVariant().toString()));
            }
        }
    }

private:
    QString m_where;
    QHash<QString, int> m_lines;
};

} // namespace

void checkRecord(const QByteArray &text, const QJsonObject &record, const QString &where)
{
    const Checker check(text, where);
    // Only a run that set the module leaves what an audit compares with.
    static const QStringList commands{"commission", "apply", "set", "window"};
    const QJsonValue command = record.value(QStringLiteral("command"));
    if (!command.isUndefined() && !commands.contains(command.toString()))
        check.refuse(QStringLiteral("command"),
                     QStringLiteral("“%1”不是调试命令（应为 %2）")
                         .arg(command.toVariant().toString(), commands.join(QStringLiteral("、"))));
    const bool site = record.contains(QStringLiteral("lines"));
    if (site && record.contains(QStringLiteral("meters")))
        check.refuse(QStringLiteral("meters"),
                     QStringLiteral("与 lines 不能同时给出（一条线路的记录或站点记录，只能是一种）"));
    if (!site) {
        check.line(record, QString());
        return;
    }
    const QJsonValue lines = record.value(QStringLiteral("lines"));
    if (!lines.isArray())
        check.refuse(QStringLiteral("lines"), QStringLiteral("应为列表"));
    const QJsonArray all = lines.toArray();
    for (int i = 0; i < all.size(); ++i) {
        const QString prefix = QStringLiteral("lines[%1]").arg(i + 1);
        if (!all[i].isObject())
            check.refuse(prefix, QStringLiteral("应为对象"));
        check.line(all[i].toObject(), prefix + u'.');
    }
}

} // namespace hv52run
