#include "TextFile.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <cstdint>

namespace core {

namespace {

// 0x80..0xFF. The five bytes the code page leaves undefined map to the C1
// control of the same number, so that such a byte survives a rewrite.
constexpr std::array<char16_t, 128> Cp1250High = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9, // F8
};

constexpr char Utf16LeBom[] = "\xFF\xFE";
constexpr char Utf16BeBom[] = "\xFE\xFF";
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

// The whole text at once and with no state carried over, so that a sequence
// cut off at the end is an error rather than held back.
QString Decode(QStringConverter::Encoding encoding, QByteArrayView bytes, bool *failed = nullptr) {
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless |
                                         QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder(bytes);
    if (failed)
        *failed = decoder.hasError();
    return text;
}

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

} // namespace

DecodedText DecodeText(QByteArrayView bytes) {
    DecodedText d;
    const bool le = bytes.startsWith(Utf16LeBom);
    if (le || bytes.startsWith(Utf16BeBom)) {
        // The mark decides, as it does for the platform's profile services.
        d.encoding = le ? TextEncoding::Utf16LE : TextEncoding::Utf16BE;
        QByteArrayView units = bytes.sliced(2);
        if (units.size() % 2) {
            d.strayByte = units.last(1).toByteArray();
            units.chop(1);
        }
        d.text = Decode(le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE, units);
        return d;
    }
    const bool bom = bytes.startsWith(Utf8Bom);
    const QByteArrayView body = bytes.sliced(bom ? 3 : 0);
    bool failed = false;
    d.text = Decode(QStringConverter::Utf8, body, &failed);
    if (!failed) {
        d.encoding = bom ? TextEncoding::Utf8Bom : TextEncoding::Utf8;
        return d;
    }
    // A BOM in front of bytes that are not UTF-8 (a file edited by hand in
    // another code page) is kept apart, not read as characters of the text.
    d.encoding = TextEncoding::EightBit;
    d.leadingBom = bom;
    d.text = DecodeEightBit(body.toByteArray());
    return d;
}

#ifdef Q_OS_WIN
// The system's ANSI code page (what Qt's System converter uses there).
QString DecodeEightBit(const QByteArray &bytes) {
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    return decoder(bytes);
}
QByteArray EncodeEightBit(const QString &text) {
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    return encoder(text);
}
#else
QString DecodeEightBit(const QByteArray &bytes) {
    return DecodeWindows1250(bytes);
}
QByteArray EncodeEightBit(const QString &text) {
    return EncodeWindows1250(text);
}
#endif

QString DecodeWindows1250(const QByteArray &bytes) {
    QString s;
    s.reserve(bytes.size());
    for (char ch : bytes) {
        const uint8_t b = uint8_t(ch);
        s.append(QChar(b < 0x80 ? char16_t(b) : Cp1250High[b - 0x80]));
    }
    return s;
}

QByteArray EncodeWindows1250(const QString &text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        char b = '?';
        for (int k = 0; k < 128; ++k) {
            if (Cp1250High[size_t(k)] == c) {
                b = char(0x80 + k);
                break;
            }
        }
        out.append(b);
        // A character outside the BMP is one '?', not two.
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
    }
    return out;
}

void SplitLines(const QString &text, QStringList &lines, QStringList &ends) {
    const qsizetype n = text.size();
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (c != u'\n' && c != u'\r') {
            ++i;
            continue;
        }
        qsizetype next = i + 1;
        if (c == u'\r') {
            qsizetype j = i;
            while (j < n && text[j] == u'\r')
                ++j;
            if (j < n && text[j] == u'\n')
                next = j + 1;
        }
        lines.append(text.mid(start, i - start));
        ends.append(text.mid(i, next - i));
        start = i = next;
    }
    if (start < n) {
        lines.append(text.mid(start));
        ends.append(QString());
    }
}

QStringView TrimBlanks(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

IniLine ParseIniLine(QStringView line) {
    IniLine p;
    const QStringView s = TrimBlanks(line);
    if (s.startsWith(u'[')) {
        qsizetype close = s.indexOf(u']');
        if (close < 0)
            close = s.size();
        p.kind = IniLine::Section;
        p.name = TrimBlanks(s.mid(1, close - 1));
        return p;
    }
    const qsizetype eq = s.indexOf(u'=');
    if (eq <= 0)
        return p;
    p.name = TrimBlanks(s.left(eq));
    if (p.name.isEmpty())
        return p;
    p.kind = IniLine::Entry;
    p.value = s.mid(eq + 1);
    return p;
}

QStringView IniValue(QStringView raw) {
    QStringView v = TrimBlanks(raw);
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    return v;
}

bool SameIniName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace core
