#include "jsonvalue.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace hv52 {

QJsonValue jsonLiteral(const Point &point, quint32 raw, const QString &text)
{
    switch (point.show) {
    case Show::AsRead:
        return qint64(raw);
    case Show::Tenths:
    case Show::Hundredths:
    case Show::Limit:
        // Exact decimal text without trailing zeros: the number as a parser
        // reads it, written back the same.
        return text.contains(u'.') ? QJsonValue(text.toDouble()) : QJsonValue(text.toLongLong());
    default:
        return text;
    }
}

QJsonValue registerJson(const Point &point, quint16 raw, const QString &text)
{
    const bool listValue = !point.listTexts().isEmpty() || point.show == Show::RelayCommand;
    const bool known =
        displayText(point, raw).has_value() && !(point.show == Show::RelayCommand && !relayCommandText(raw));
    return listValue && !known ? QJsonValue(qint64(raw)) : jsonLiteral(point, raw, text);
}

QString jsonText(const QJsonValue &value)
{
    // QJsonDocument writes only arrays and objects: one of one value, its
    // brackets taken off.
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString jsonString(const QString &text)
{
    return jsonText(text);
}

} // namespace hv52
