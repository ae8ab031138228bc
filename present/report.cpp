#include "report.h"
#include "jsonvalue.h"
#include "values.h"

#include "registerhex.h"

namespace hv52 {

using Written = WrittenValue::Outcome;

namespace {

const Written kOrder[] = {Written::Verified, Written::Acknowledged,   Written::WriteFailed,
                          Written::Mismatch, Written::ReadBackFailed, Written::NotSent};

QString rawJson(const std::optional<quint16> &raw)
{
    return jsonText(raw ? QJsonValue(qint64(*raw)) : QJsonValue());
}

// A reason or a stop: null when there is none.
QString textJson(const QString &text)
{
    return jsonText(text.isEmpty() ? QJsonValue() : QJsonValue(text));
}

} // namespace

void describeRegister(const Point &point, quint16 raw, int scale, QString *text, QJsonValue *json)
{
    *text = registerText(point, raw, scale);
    *json = registerJson(point, raw, *text);
}

WrittenValue resetValue(const ModuleDef &def, const ResetChoice &choice)
{
    WrittenValue v;
    v.key = QStringLiteral("reset");
    v.writtenText = QString::fromUtf8(choice.text);
    v.caption = QStringLiteral("复位 %1").arg(v.writtenText);
    v.reg = def.resetRegister;
    v.written = choice.code;
    v.writtenJson = v.writtenText;
    return v;
}

QString outcomeKey(Written outcome)
{
    switch (outcome) {
    case Written::Verified:
        return QStringLiteral("verified");
    case Written::Acknowledged:
        return QStringLiteral("acknowledged");
    case Written::WriteFailed:
        return QStringLiteral("write_failed");
    case Written::ReadBackFailed:
        return QStringLiteral("read_back_failed");
    case Written::Mismatch:
        return QStringLiteral("mismatch");
    case Written::NotSent:
        break;
    }
    return QStringLiteral("not_sent");
}

QString outcomeWords(Written outcome)
{
    switch (outcome) {
    case Written::Verified:
        return QStringLiteral("已写入并读回核对");
    case Written::Acknowledged:
        return QStringLiteral("已写入（模块已确认）");
    case Written::WriteFailed:
        return QStringLiteral("写入失败");
    case Written::ReadBackFailed:
        return QStringLiteral("读回失败");
    case Written::Mismatch:
        return QStringLiteral("读回不符");
    case Written::NotSent:
        break;
    }
    return QStringLiteral("未发送");
}

int WriteReport::count(Written outcome) const
{
    return int(
        std::count_if(values.begin(), values.end(), [outcome](const WrittenValue &v) { return v.outcome == outcome; }));
}

bool WriteReport::allDone() const
{
    return stopped.isEmpty()
           && std::all_of(values.begin(), values.end(), [](const WrittenValue &v) { return v.done(); });
}

QString WriteReport::summary() const
{
    QStringList parts;
    for (const Written outcome : kOrder) {
        const int n = count(outcome);
        // The verified count always stands, the others when there are some.
        if (n > 0 || (outcome == Written::Verified && command != u"reset"))
            parts << QStringLiteral("%1 个%2").arg(n).arg(outcomeWords(outcome));
    }
    return QStringLiteral("%1 个值：%2").arg(values.size()).arg(parts.join(QStringLiteral("，")));
}

QString WriteReport::table() const
{
    int width = 0;
    for (const WrittenValue &v : values)
        width = std::max(width, displayWidth(v.caption));
    QString out;
    for (const WrittenValue &v : values) {
        QString line = padded(v.caption, width + 2) + outcomeWords(v.outcome);
        if (v.outcome != Written::NotSent)
            line += QStringLiteral("  写入 %1").arg(v.writtenText);
        if (v.readBack && v.outcome == Written::Mismatch)
            line += QStringLiteral("，读回 %1").arg(v.readBackText);
        else if (v.readBack && !v.done()) // a failed group read back
            line += (v.outcome == Written::NotSent ? QStringLiteral("  ") : QStringLiteral("，"))
                    + QStringLiteral("模块现为 %1").arg(v.readBackText);
        if (!v.reason.isEmpty())
            line += QStringLiteral("（%1）").arg(v.reason);
        out += line + u'\n';
    }
    return out;
}

QString WriteReport::json() const
{
    QStringList rows;
    for (const WrittenValue &v : values) {
        rows << QStringLiteral("    {\"key\": %1, \"register\": %2, \"before\": %3, \"written\": %4, "
                               "\"read_back\": %5, \"outcome\": %6, \"reason\": %7, "
                               "\"before_raw\": %8, \"written_raw\": %9, \"read_back_raw\": %10}")
                    .arg(jsonString(v.key), jsonString(registerHex(v.reg)), jsonText(v.beforeJson),
                         jsonText(v.writtenJson), jsonText(v.readBackJson), jsonString(outcomeKey(v.outcome)),
                         textJson(v.reason), rawJson(v.before))
                    .arg(v.written)
                    .arg(rawJson(v.readBack));
    }
    return QStringLiteral("{\n  \"module\": %1,\n  \"command\": %2,\n  \"values\": [%3],\n  \"summary\": %4,\n"
                          "  \"stopped\": %5\n}\n")
        .arg(jsonString(module), jsonString(command),
             rows.isEmpty() ? QString() : u'\n' + rows.join(QStringLiteral(",\n")) + QStringLiteral("\n  "),
             jsonString(summary()), textJson(stopped));
}

} // namespace hv52
