#include "RegisterMap.h"

namespace core {

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

QString RegisterMeaning(int row) {
    // clang-format off
    static const char *const meanings[55] = {
        "trigger start/stop; the repeat job writes 1 here when the counter has stopped",
        "counter; the repeat job reads it every 3 seconds",
        "range/colour 1, minimum", "range/colour 1, maximum", "range/colour 1, number",
        "range/colour 2, minimum", "range/colour 2, maximum", "range/colour 2, number",
        "range/colour 3, minimum", "range/colour 3, maximum", "range/colour 3, number",
        "range/colour 4, minimum", "range/colour 4, maximum", "range/colour 4, number",
        "range/colour 5, minimum", "range/colour 5, maximum", "range/colour 5, number",
        "range/colour 6, minimum", "range/colour 6, maximum", "range/colour 6, number",
        "range/colour 7, minimum", "range/colour 7, maximum", "range/colour 7, number",
        "version, shown as 1.04 for 104",
        "IP address, element 0", "IP address, element 1", "IP address, element 2", "IP address, element 3",
        "network mask, element 0", "network mask, element 1", "network mask, element 2", "network mask, element 3",
        "gateway, element 0", "gateway, element 1", "gateway, element 2", "gateway, element 3",
        "TCP port",
        "brightness",
        "restart; the restart command writes 85 here",
        "empty (unassigned)",
        "test, 1 to 7",
        "empty (unassigned)", "empty (unassigned)", "empty (unassigned)", "empty (unassigned)",
        "empty (unassigned)", "empty (unassigned)", "empty (unassigned)", "empty (unassigned)",
        "empty (unassigned)",
        "font",
        "operating mode",
        "scrolling speed",
        "string colour",
        "string length; the text command writes the length of the text here, the grid keeps it at most 100",
    };
    // clang-format on
    if (row >= 1 && row <= 55)
        return QString::fromLatin1(meanings[row - 1]);
    if (row >= 56 && row <= 155)
        return QStringLiteral("character %1 of the string").arg(row - 55);
    return QString();
}

QString VersionText(uint16_t value) {
    return QString::number(value / 100) + u'.' +
           QString::number(value % 100).rightJustified(2, u'0');
}

QString TextFromRegs(ConstImage regs) {
    QString s;
    const int count = regs[TextLength] + 1;
    for (int i = 0; i < count && TextStart + i < ImageSize; ++i) {
        const uint16_t unit = regs[size_t(TextStart + i)];
        if (unit == 0)
            break;
        s.append(QChar(char16_t(unit)));
    }
    return s;
}

int TextToRegs(QStringView text, Image regs) {
    qsizetype length = text.size();
    if (length > MaxSentText) {
        length = MaxSentText;
        if (text.at(length - 1).isHighSurrogate())
            --length;
    }
    const int L = int(length);
    for (int i = 0; i < L; ++i)
        regs[size_t(TextStart + i)] = text.at(i).unicode();
    for (int i = TextStart + L; i <= TextClearEnd; ++i)
        regs[size_t(i)] = 0;
    regs[TextLength] = uint16_t(L);
    return L;
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

} // namespace core
