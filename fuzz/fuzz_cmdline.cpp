// GetCommandLine on arbitrary text.
//
// Input: one byte choosing MaxArgs (value % 12: 0..10, or 11 for the default
// argument), then the argument text in UTF-8 (invalid sequences decode to
// replacement characters, as QString::fromUtf8 does for a real command line).
#include "cmdline.h"
#include "linkerror.h"

#include "check.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace hv52;

namespace {

// Written apart from cmdline.cpp: the words between blanks (space, tab), the
// first maxArgs of them counted; the result is whether all those are runs of
// ASCII digits no larger than 2147483647, and their values.
bool referenceParse(const QString &text, int maxArgs, QVector<qint64> *values)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    const QStringList words = text.split(blanks, Qt::SkipEmptyParts);
    for (int i = 0; i < words.size() && i < maxArgs; ++i) {
        qint64 v = 0;
        for (const QChar ch : words[i]) {
            if (ch < u'0' || ch > u'9')
                return false;
            v = v * 10 + (ch.unicode() - u'0');
            if (v > 2147483647)
                return false;
        }
        values->append(v);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int choice = data[0] % 12;
    const bool byDefault = choice == 11;
    const int maxArgs = byDefault ? 10 : choice;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    QVector<qint64> expected;
    const bool expectOk = referenceParse(text, maxArgs, &expected);

    ArgArray args;
    try {
        args = byDefault ? GetCommandLine(text) : GetCommandLine(text, maxArgs);
    } catch (const LinkError &e) {
        // The operator is shown this text: it must say something.
        CHECK(!expectOk);
        CHECK(!e.text().isEmpty());
        CHECK(e.what() != nullptr && e.what()[0] != '\0');
        return 0;
    }
    CHECK(expectOk);

    const int count = int(args.size()) - 1;
    CHECK(count >= 0 && count <= maxArgs);
    CHECK(count == expected.size());
    CHECK(args.last() == 0);
    QStringList numbers;
    for (int i = 0; i < count; ++i) {
        CHECK(args[i] >= 0);
        CHECK(args[i] == expected[i]);
        numbers << QString::number(args[i]);
    }

    // The numbers written back as a plain command line read the same.
    const QString again = numbers.join(u' ');
    CHECK((byDefault ? GetCommandLine(again) : GetCommandLine(again, maxArgs)) == args);
    return 0;
}
