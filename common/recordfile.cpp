#include "recordfile.h"
#include "hv52version.h"
#include "portname.h"
#include "systemtext.h"

#include <QDir>

namespace hv52 {

namespace {

const QString kHtmlFilter = QStringLiteral("网页，可打印 (*.html *.htm)");
const QString kCsvFilter = QStringLiteral("表格 (*.csv)");
const QString kJsonFilter = QStringLiteral("JSON (*.json)");

} // namespace

QString RecordFile::fileName(const QString &moduleName, const LineSettings &line, const QDateTime &now)
{
    return QStringLiteral("调试记录-%1-地址%2-%3.html")
        .arg(moduleName.toUpper())
        .arg(line.given >= 1 ? line.address : 0)
        .arg(now.toString(QStringLiteral("yyyyMMdd-hhmm")));
}

QString RecordFile::lineLabel(const LineSettings &line, const QString &linkLabel)
{
    if (line.given >= 2 && line.portNumber > 0)
        return portLabel(line.portNumber);
    return linkLabel;
}

WindowRecord::Line RecordFile::line(const QString &moduleName, const LineSettings &settings, const QString &linkLabel)
{
    WindowRecord::Line line;
    line.tool = QStringLiteral("cfg_") + moduleName;
    line.version = QStringLiteral(HV52_VERSION);
    line.line = lineLabel(settings, linkLabel);
    line.speed = settings.given >= 3 ? settings.speed : 0;
    line.address = settings.given >= 1 ? settings.address : 0;
    return line;
}

QStringList RecordFile::filters()
{
    return {kHtmlFilter, kCsvFilter, kJsonFilter};
}

QString RecordFile::withFilterExtension(const QString &path, const QString &filter)
{
    // The format goes by the extension: a name typed without one takes
    // that of the chosen filter.
    if (path.isEmpty() || !recordFormat(path).isEmpty())
        return path;
    return path
           + (filter == kCsvFilter    ? QStringLiteral(".csv")
              : filter == kJsonFilter ? QStringLiteral(".json")
                                      : QStringLiteral(".html"));
}

bool RecordFile::save(const QString &path, const RunRecord &record, QString *message)
{
    const QString shown = QDir::toNativeSeparators(path);
    QString error;
    if (!writeRecord(path, record, &error)) {
        // The writer's message names the file; one that does not gets it named.
        if (!error.contains(path) && !error.contains(shown))
            error = fileWriteError(shown, error);
        *message = QStringLiteral("调试记录未保存。\n") + error;
        return false;
    }
    *message = QStringLiteral("调试记录已保存到 %1").arg(shown);
    return true;
}

} // namespace hv52
