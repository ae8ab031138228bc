#pragma once
// The window's commissioning record as a file: the name it is offered
// under, the line it names, the format the save dialog's filter gives a name
// typed without an extension, and the operator's words for how the writing
// went. No widgets here.
#include "transport.h"
#include "windowrecord.h"

#include <QStringList>

namespace hv52 {

class RecordFile
{
public:
    // "调试记录-T516-地址1-20261207-1830.html"
    static QString fileName(const QString &moduleName, const LineSettings &line, const QDateTime &now);
    // The port as the parent program named it ("COM1"), else as the link
    // names its line (`linkLabel`).
    static QString lineLabel(const LineSettings &line, const QString &linkLabel);
    // The record's heading of tool `cfg_<moduleName>` on that line.
    static WindowRecord::Line line(const QString &moduleName, const LineSettings &settings, const QString &linkLabel);

    // The save dialog's filters, the first the one it starts on.
    static QStringList filters();
    // `path` as the dialog returned it: one with no record extension takes
    // that of `filter`.
    static QString withFilterExtension(const QString &path, const QString &filter);

    // Writes `record` to `path` (its format by the extension); `message` is
    // what to tell the operator: the path on success, else the file and the
    // reason.
    static bool save(const QString &path, const RunRecord &record, QString *message);
};

} // namespace hv52
