#include "textfile.h"

namespace hv52 {

QByteArray textFileBytes(const QString &text)
{
    return text.toUtf8();
}

} // namespace hv52
