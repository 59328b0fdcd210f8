// fuzz-inttext: core::TryStrToInt and core::StrToIntDef against a reference
// written here from the rules alone, in a different shape (plain std::string
// work on the ASCII text). Any disagreement aborts.
//
// Input: the first byte picks how the rest becomes text. Even: every byte is
// one character U+0000..U+00FF (blanks, signs, prefixes, digits and the
// Latin-1 look-alikes such as U+00A0). Odd: byte pairs are UTF-16LE code
// units (other scripts' digits, full-width forms, lone surrogates).
//
// The rules: leading spaces (U+0020 only); one optional sign; then "$", "x",
// "X", "0x" or "0X" with at least one hex digit of either case, the value
// fitting in 32 bits, the pattern taken as signed and negated by "-"; or at
// least one decimal digit, at most 2147483647, or 2147483648 after "-".
// Nothing may follow. Anything else is not a number.
#include "IntText.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

bool IsDec(char c) {
    return c >= '0' && c <= '9';
}
bool IsHex(char c) {
    return IsDec(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string WithoutLeadingZeros(const std::string &digits) {
    const size_t p = digits.find_first_not_of('0');
    return p == std::string::npos ? std::string() : digits.substr(p);
}

std::optional<int32_t> Reference(const QString &text) {
    // Every character that can be part of a number is ASCII.
    std::string s;
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
        s.push_back(char(c.unicode()));
    }
    const size_t start = s.find_first_not_of(' ');
    if (start == std::string::npos)
        return std::nullopt;
    std::string body = s.substr(start);
    bool negative = false;
    if (body[0] == '+' || body[0] == '-') {
        negative = body[0] == '-';
        body.erase(0, 1);
    }
    for (const char *prefix : {"0x", "0X", "$", "x", "X"}) {
        const std::string p = prefix;
        if (body.compare(0, p.size(), p) != 0)
            continue;
        const std::string digits = body.substr(p.size());
        if (digits.empty())
            return std::nullopt;
        for (char c : digits)
            if (!IsHex(c))
                return std::nullopt;
        const std::string significant = WithoutLeadingZeros(digits);
        if (significant.size() > 8)
            return std::nullopt;
        uint32_t pattern =
            significant.empty() ? 0u : uint32_t(std::stoull(significant, nullptr, 16));
        if (negative)
            pattern = ~pattern + 1u;
        return int32_t(pattern);
    }
    if (body.empty())
        return std::nullopt;
    for (char c : body)
        if (!IsDec(c))
            return std::nullopt;
    const std::string significant = WithoutLeadingZeros(body);
    if (significant.size() > 10)
        return std::nullopt;
    const unsigned long long v = significant.empty() ? 0 : std::stoull(significant);
    if (v > (negative ? 2147483648ull : 2147483647ull))
        return std::nullopt;
    return negative ? int32_t(-int64_t(v)) : int32_t(v);
}

QString TextFrom(const uint8_t *data, size_t size) {
    QString text;
    if (size == 0)
        return text;
    if (data[0] % 2 == 0) {
        for (size_t i = 1; i < size; ++i)
            text.append(QChar(char16_t(data[i])));
    } else {
        for (size_t i = 1; i + 1 < size; i += 2)
            text.append(QChar(char16_t(data[i] | data[i + 1] << 8)));
    }
    return text;
}

[[noreturn]] void Disagree(const QString &text, const char *what, long long got, long long want) {
    std::fprintf(stderr, "fuzz-inttext: %s for \"%s\" (UTF-16 units:", what,
                 text.toUtf8().constData());
    for (QChar c : text)
        std::fprintf(stderr, " %04X", c.unicode());
    std::fprintf(stderr, "): got %lld, reference %lld\n", got, want);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = TextFrom(data, size);
    const std::optional<int32_t> want = Reference(text);

    int32_t got = 0;
    const bool ok = core::TryStrToInt(text, got);
    if (ok != want.has_value())
        Disagree(text, "number or not", ok, want.has_value());
    if (ok && got != *want)
        Disagree(text, "value", got, *want);

    // StrToIntDef is the same rule with a default: try two defaults so that
    // a default that happens to equal the value cannot hide a mistake.
    for (int32_t def : {-77, 12345}) {
        const int32_t d = core::StrToIntDef(text, def);
        const int32_t expected = want.value_or(def);
        if (d != expected)
            Disagree(text, "StrToIntDef", d, expected);
    }
    return 0;
}
