#pragma once
// Values as the tools show, print, save and record them: a reading turned
// into the window's text and a JSON value, a failed read never shown as 0.
// Qt Core only: the windows, hv52ctl and the commissioning record share it.
#include "jsonvalue.h"
#include "module.h"

#include <QJsonValue>

#include <QString>
#include <QVector>

namespace hv52 {

// One value of a module as read.
struct Value
{
    const Point *point = nullptr;
    bool ok = false;
    quint32 raw = 0; // the register value when the read was valid
    QString text;    // as the window shows it (when ok)
    QJsonValue json; // number, string, or null
    QString failure; // why there is no value (when !ok)

    // What a table or a watch line shows: the value, or the failure.
    QString shown() const;
};

// A reading of ModuleClient::poll or ModuleClient::read, as a value. A limit
// whose source failed has no value: its unit is not known.
Value valueOf(const Reading &reading, const QVector<Reading> &readings);
// A point that was never read (the poll ended before it).
Value unreadValue(const Point &point, const QString &why);

// The values as one JSON object, in poll order, with "module" first and
// "failures" (key -> reason) last when `withFailures`.
QString valuesJson(const ModuleDef &def, const QVector<Value> &values, bool withFailures);
// Table rows: caption, then the value, the captions padded to one column.
QString valuesTable(const QVector<Value> &values);
// Pads to `width` terminal columns (CJK characters take two).
QString padded(const QString &text, int width);
int displayWidth(const QString &text);

// The register value of a point as the window shows it ("控制继电器动作", "10").
QString registerText(const Point &point, quint32 value, int scale);

} // namespace hv52
