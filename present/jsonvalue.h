#pragma once
// A value as JSON: a QJsonValue, written as its literal text by
// QJsonDocument, so that what a command prints and the record's JSON carry
// each value the same way, and no JSON text is read back to be written again.
#include "module.h"

#include <QJsonValue>
#include <QString>

namespace hv52 {

// A register value of a point, given its text as the window shows it: a
// count as an integer, a decimal as the number its text reads (an integer
// when it has no fraction), anything else as its text.
QJsonValue jsonLiteral(const Point &point, quint32 raw, const QString &text);
// The same for a value written or read back: a list value that is no entry
// of its list is its number, so it is never taken for an entry.
QJsonValue registerJson(const Point &point, quint16 raw, const QString &text);
// The literal text of one value, as QJsonDocument writes it: 12.5, "ON", null.
QString jsonText(const QJsonValue &value);
// A JSON string literal.
QString jsonString(const QString &text);

} // namespace hv52
