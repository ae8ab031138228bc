#pragma once
#include <QString>
#include <QStringList>
#include <QVector>

namespace hv52 {

using ArgArray = QVector<qint32>;

// Parses the argument text (everything after the program's own name) into whole
// numbers separated by spaces or tabs. Arguments past MaxArgs are ignored. The
// result holds one element more than the arguments found; that last one is 0.
// Throws LinkError for an argument that is not a run of decimal digits or that
// is above 2147483647.
ArgArray GetCommandLine(const QString &text, int MaxArgs = 10);

// The argument text as the parent program gave it: the arguments after the
// program name, joined by single spaces.
QString argumentText(const QStringList &arguments);

} // namespace hv52
