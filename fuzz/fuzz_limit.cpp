// The register value of an analog output limit (limitRegisterValue) on
// arbitrary text, against exact decimal arithmetic.
//
// Input: one byte choosing the scale (value % 4: 1, 10, 100, 1000, the scales
// of the source quantities), then the typed text in UTF-8.
#include "analoglimit.h"
#include "linkerror.h"

#include "check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace hv52;

namespace {

// The register value the text stands for, or -1 when it must be refused:
// the decimal number times scale, computed on the digits themselves (no
// binary fractions), rounded half to even, accepted when in 0..65535.
int exactValue(const QString &text, int scale)
{
    const QString typed = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < typed.size() && (typed[i] == u'+' || typed[i] == u'-'))
        negative = typed[i++] == u'-';
    std::string digits;
    int decimals = 0;
    bool point = false;
    for (; i < typed.size(); ++i) {
        const QChar ch = typed[i];
        if (ch == u'.' && !point) {
            point = true;
        } else if (ch >= u'0' && ch <= u'9') {
            digits += char(ch.unicode());
            decimals += point ? 1 : 0;
        } else {
            return -1;
        }
    }
    if (digits.empty())
        return -1;

    // digits × scale, as decimal digits, most significant first.
    std::string product;
    quint64 carry = 0;
    for (auto d = digits.rbegin(); d != digits.rend(); ++d) {
        carry += quint64(*d - '0') * quint64(scale);
        product += char('0' + carry % 10);
        carry /= 10;
    }
    for (; carry; carry /= 10)
        product += char('0' + carry % 10);
    std::reverse(product.begin(), product.end());
    product.insert(0, size_t(decimals) + 1, '0'); // at least one whole digit

    const std::string whole = product.substr(0, product.size() - size_t(decimals));
    const std::string fraction = product.substr(product.size() - size_t(decimals));
    const size_t first = whole.find_first_not_of('0');
    if (first != std::string::npos && whole.size() - first > 6)
        return -1; // far beyond 65535 either way
    qint64 magnitude = first == std::string::npos ? 0 : std::stoll(whole.substr(first));
    // Compared with one half: 5 followed by zeros is exactly half.
    const int half = fraction.empty()                                          ? -1
                     : fraction[0] != '5'                                      ? (fraction[0] > '5' ? 1 : -1)
                     : fraction.find_first_not_of('0', 1) != std::string::npos ? 1
                                                                               : 0;
    if (half > 0 || (half == 0 && magnitude % 2 == 1))
        ++magnitude;
    if (magnitude == 0)
        return 0; // also a small negative number, which rounds to zero
    if (negative || magnitude > 65535)
        return -1;
    return int(magnitude);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const int scales[] = {1, 10, 100, 1000};
    const int scale = scales[data[0] % 4];
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    static const QString field = QStringLiteral("输出1下限参数值");

    const int expected = exactValue(text, scale);
    int got = -1;
    QString refusal;
    try {
        got = limitRegisterValue(field, text, scale);
    } catch (const LinkError &e) {
        refusal = e.text();
        // The operator must learn which box was refused.
        CHECK(refusal.contains(field));
    }
    if (expected != got) {
        // -1 stands for a refusal.
        std::fprintf(stderr, "check failed: limit \"%s\" x %d gives %d, exact arithmetic %d %s\n", qPrintable(text),
                     scale, got, expected, qPrintable(refusal));
        std::abort();
    }
    return 0;
}
