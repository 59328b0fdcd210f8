#include "Hex.h"

namespace core {

QString HexRendering(std::span<const uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    QString s;
    if (bytes.empty())
        return s;
    s.resize(qsizetype(bytes.size()) * 3);
    QChar *out = s.data();
    for (const uint8_t b : bytes) {
        *out++ = QLatin1Char(digits[b >> 4]);
        *out++ = QLatin1Char(digits[b & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return s;
}

QString HexLabelText(int32_t value, int minDigits) {
    return QStringLiteral("0x") +
           QString::number(uint32_t(value), 16).toUpper().rightJustified(minDigits, u'0');
}

} // namespace core
