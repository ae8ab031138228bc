#include "values.h"

namespace hv52 {

QString Value::shown() const
{
    return ok ? text : QStringLiteral("（读取失败：%1）").arg(failure);
}

namespace {

const Reading *readingAt(const QVector<Reading> &readings, int index)
{
    for (const Reading &r : readings) {
        if (r.index == index)
            return &r;
    }
    return nullptr;
}

} // namespace

Value valueOf(const Reading &reading, const QVector<Reading> &readings)
{
    Value v;
    v.point = reading.point;
    if (!reading.ok()) {
        v.failure = outcomeText(reading.result.verdict);
        return v;
    }
    if (reading.scaleUnknown) {
        const Reading *source = readingAt(readings, reading.point->scaleFrom);
        v.failure =
            QStringLiteral("%1读取失败，单位未知").arg(source ? source->point->name() : QStringLiteral("参数选择"));
        return v;
    }
    if (reading.point->show == Show::RelayCommand && !relayCommandText(reading.result.value)) {
        // Shown as a bare number it would pass for a command.
        v.failure = QStringLiteral("寄存器值 %1（0x%2）不是已知的控制方式")
                        .arg(reading.result.value)
                        .arg(QString::number(reading.result.value, 16).toUpper().rightJustified(4, u'0'));
        return v;
    }
    v.ok = true;
    v.raw = reading.result.value;
    v.text = reading.text;
    v.json = jsonLiteral(*reading.point, v.raw, v.text);
    return v;
}

Value unreadValue(const Point &point, const QString &why)
{
    Value v;
    v.point = &point;
    v.failure = why;
    return v;
}

QString registerText(const Point &point, quint32 value, int scale)
{
    return displayText(point, value, scale).value_or(QString::number(value));
}

QString valuesJson(const ModuleDef &def, const QVector<Value> &values, bool withFailures)
{
    QStringList lines;
    lines << QStringLiteral("  \"module\": %1").arg(jsonString(def.name));
    QStringList failures;
    for (const Value &v : values) {
        lines << QStringLiteral("  %1: %2").arg(jsonString(v.point->key), jsonText(v.json));
        if (!v.ok)
            failures << QStringLiteral("    %1: %2").arg(jsonString(v.point->key), jsonString(v.failure));
    }
    if (withFailures) {
        lines << (failures.isEmpty()
                      ? QStringLiteral("  \"failures\": {}")
                      : QStringLiteral("  \"failures\": {\n%1\n  }").arg(failures.join(QStringLiteral(",\n"))));
    }
    return QStringLiteral("{\n%1\n}\n").arg(lines.join(QStringLiteral(",\n")));
}

int displayWidth(const QString &text)
{
    int width = 0;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool wide = (u >= 0x1100 && u <= 0x115F) || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3)
                          || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFE30 && u <= 0xFE4F)
                          || (u >= 0xFF00 && u <= 0xFF60) || (u >= 0xFFE0 && u <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

QString padded(const QString &text, int width)
{
    return text + QString(std::max(0, width - displayWidth(text)), u' ');
}

QString valuesTable(const QVector<Value> &values)
{
    int width = 0;
    for (const Value &v : values)
        width = std::max(width, displayWidth(v.point->caption()));
    QString out;
    for (const Value &v : values)
        out += padded(v.point->caption(), width + 2) + v.shown() + u'\n';
    return out;
}

} // namespace hv52
