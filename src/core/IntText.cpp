#include "IntText.h"

#include <cmath>

namespace core {

namespace {
int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}
} // namespace

bool TryStrToInt(QStringView s, int32_t &value) {
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (i >= n)
        return false;

    qsizetype digits = i;
    bool hex = false;
    if (s[i] == u'$' || s[i] == u'x' || s[i] == u'X') {
        hex = true;
        digits = i + 1;
    } else if (s[i] == u'0' && i + 1 < n && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        hex = true;
        digits = i + 2;
    }
    if (digits >= n)
        return false;

    uint64_t acc = 0;
    if (hex) {
        for (qsizetype k = digits; k < n; ++k) {
            const int d = HexDigit(s[k]);
            if (d < 0)
                return false;
            acc = acc * 16 + uint64_t(d);
            if (acc > 0xFFFFFFFFull)
                return false;
        }
        uint32_t pattern = uint32_t(acc);
        if (negative)
            pattern = 0u - pattern;
        value = int32_t(pattern);
        return true;
    }

    const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
    for (qsizetype k = digits; k < n; ++k) {
        const char16_t u = s[k].unicode();
        if (u < '0' || u > '9')
            return false;
        acc = acc * 10 + uint64_t(u - '0');
        if (acc > limit)
            return false;
    }
    value = negative ? int32_t(0u - uint32_t(acc)) : int32_t(acc);
    return true;
}

int32_t StrToIntDef(QStringView text, int32_t def) {
    int32_t v = 0;
    return TryStrToInt(text, v) ? v : def;
}

bool IsLocaleNumber(QStringView text, const QLocale &locale) {
    bool ok = false;
    const double v = locale.toDouble(text, &ok);
    return ok && std::isfinite(v);
}

} // namespace core
