#pragma once
// A record read as strictly as a plan before an audit takes it: each key it
// relies on of the right type and in range, a command that commissions, one
// form (a line's "meters" or a site's "lines"). The first fault found is a
// UsageError naming the key by its path and its line.
#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace hv52run {

// `text` is the record's JSON text, `record` its object; `where` names it
// ("记录 r.json").
void checkRecord(const QByteArray &text, const QJsonObject &record, const QString &where);

} // namespace hv52run
