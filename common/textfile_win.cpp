#include "textfile.h"

namespace hv52 {

QByteArray textFileBytes(const QString &text)
{
    QString crlf = text;
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', QStringLiteral("\r\n"));
    return QByteArray("\xEF\xBB\xBF") + crlf.toUtf8();
}

} // namespace hv52
