#include "Logic.h"

namespace logic {

QString HexRendering(const uint8_t *bytes, int count) {
    static const char digits[] = "0123456789ABCDEF";
    QString s;
    if (count <= 0)
        return s;
    s.resize(qsizetype(count) * 3);
    QChar *out = s.data();
    for (int i = 0; i < count; ++i) {
        *out++ = QLatin1Char(digits[bytes[i] >> 4]);
        *out++ = QLatin1Char(digits[bytes[i] & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return s;
}

QString HexLabelText(int32_t value, int minDigits) {
    return QStringLiteral("0x") +
           QString::number(uint32_t(value), 16).toUpper().rightJustified(minDigits, u'0');
}

void PutHeader(uint8_t *frame, int32_t transactionId, int32_t protocolId, int32_t nodeId,
               int32_t sendCount) {
    const uint32_t length = uint32_t(sendCount) - 6u;
    frame[0] = uint8_t(uint32_t(transactionId) >> 8);
    frame[1] = uint8_t(transactionId);
    frame[2] = uint8_t(uint32_t(protocolId) >> 8);
    frame[3] = uint8_t(protocolId);
    frame[4] = uint8_t(length >> 8);
    frame[5] = uint8_t(length);
    frame[6] = uint8_t(nodeId);
}

QString RegisterName(int row) {
    // clang-format off
    static const char16_t *const names[55] = {
        u"Triger Start/Stop",
        u"Licznik",
        u"(Zakres/Kolor 1 \u2013 min)", u"(Zakres/Kolor 1 \u2013 maks)", u"(Zakres/Kolor 1 \u2013 nr)",
        u"(Zakres/Kolor 2 \u2013 min)", u"(Zakres/Kolor 2 \u2013 maks)", u"(Zakres/Kolor 2 \u2013 nr)",
        u"(Zakres/Kolor 3 \u2013 min)", u"(Zakres/Kolor 3 \u2013 maks)", u"(Zakres/Kolor 3 \u2013 nr)",
        u"(Zakres/Kolor 4 \u2013 min)", u"(Zakres/Kolor 4 \u2013 maks)", u"(Zakres/Kolor 4 \u2013 nr)",
        u"(Zakres/Kolor 5 \u2013 min)", u"(Zakres/Kolor 5 \u2013 maks)", u"(Zakres/Kolor 5 \u2013 nr)",
        u"(Zakres/Kolor 6 \u2013 min)", u"(Zakres/Kolor 6 \u2013 maks)", u"(Zakres/Kolor 6 \u2013 nr)",
        u"(Zakres/Kolor 7 \u2013 min)", u"(Zakres/Kolor 7 \u2013 maks)", u"(Zakres/Kolor 7 \u2013 nr)",
        u"Wersja",
        u"IP[0]", u"IP[1]", u"IP[2]", u"IP[3]",
        u"MASKA[0]", u"MASKA[1]", u"MASKA[2]", u"MASKA[3]",
        u"Brama[0]", u"Brama[1]", u"Brama[2]", u"Brama[3]",
        u"Port",
        u"Jasno\u015B\u0107",
        u"Restart",
        u"pusty",
        u"Test (1-7)",
        u"pusty", u"pusty", u"pusty", u"pusty", u"pusty", u"pusty", u"pusty", u"pusty", u"pusty",
        u"Czcionka",
        u"Tryb pracy",
        u"Szybko\u015B\u0107 przesuwu",
        u"Kolor stringu",
        u"D\u0142ugo\u015B\u0107 stringu",
    };
    // clang-format on
    if (row >= 1 && row <= 55)
        return QString::fromUtf16(names[row - 1]);
    if (row >= 56 && row <= 155)
        return QStringLiteral("String[") + QString::number(row - 55) + u']';
    return QString();
}

QString VersionText(uint16_t value) {
    return QString::number(value / 100) + u'.' +
           QString::number(value % 100).rightJustified(2, u'0');
}

QString TextFromRegs(const uint16_t *regs) {
    QString s;
    const int count = regs[TextLength] + 1;
    for (int i = 0; i < count && TextStart + i < 256; ++i) {
        const uint16_t unit = regs[TextStart + i];
        if (unit == 0)
            break;
        s.append(QChar(char16_t(unit)));
    }
    return s;
}

QString CharCellText(const QString &value) {
    return value.size() > 1 ? value.right(1) : value;
}

bool DigitsOnly(const QString &value) {
    for (QChar c : value)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

} // namespace logic
