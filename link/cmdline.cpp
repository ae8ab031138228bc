#include "cmdline.h"
#include "linkerror.h"

#include <QRegularExpression>

namespace hv52 {

ArgArray GetCommandLine(const QString &text, int MaxArgs)
{
    // Each argument is taken whole before it is judged, so that a message
    // quotes it as the parent program gave it ("1a", not "1").
    ArgArray args(MaxArgs + 1, 0);
    int count = 0;
    const QStringList words = text.split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts);
    for (const QString &arg : words) {
        if (count == MaxArgs)
            break;
        ++count;
        qint64 value = 0;
        bool tooLarge = false;
        for (const QChar ch : arg) {
            if (ch.unicode() < u'0' || ch.unicode() > u'9')
                throw LinkError(LinkError::Kind::ArgNotDecimal, LinkError::Fields().withNumber(count).withText(arg));
            if (!tooLarge)
                value = value * 10 + (ch.unicode() - u'0');
            tooLarge = tooLarge || value > 2147483647;
        }
        if (tooLarge)
            throw LinkError(LinkError::Kind::ArgTooLarge, LinkError::Fields().withNumber(count).withText(arg));
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
