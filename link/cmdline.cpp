#include "cmdline.h"
#include "linkerror.h"

namespace hv52 {

ArgArray GetCommandLine(const QString &text, int MaxArgs)
{
    ArgArray args(MaxArgs + 1, 0);
    QVector<QString> raw(MaxArgs + 1);
    int count = 0;
    bool inside = false;
    for (const QChar ch : text) {
        if (ch == u' ' || ch == u'\t') {
            inside = false;
            continue;
        }
        if (!inside) {
            if (count == MaxArgs)
                break;
            ++count;
            inside = true;
        }
        QString &arg = raw[count - 1];
        arg.append(ch);
        if (ch.unicode() < u'0' || ch.unicode() > u'9') {
            throw LinkError(LinkError::Kind::ArgNotDecimal, LinkError::Fields().withNumber(count).withText(arg));
        }
        const qint64 value = qint64(args[count - 1]) * 10 + (ch.unicode() - u'0');
        if (value > 2147483647) {
            throw LinkError(LinkError::Kind::ArgTooLarge, LinkError::Fields().withNumber(count).withText(arg));
        }
        args[count - 1] = qint32(value);
    }
    args.resize(count + 1);
    return args;
}

QString argumentText(const QStringList &arguments)
{
    return arguments.mid(1).join(u' ');
}

} // namespace hv52
