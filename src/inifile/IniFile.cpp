#include "IniFile.h"
#include "IntText.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <array>
#include <stdexcept>

namespace ini {

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
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView TrimBlanks(QStringView s) {
    qsizetype b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

// One line as the reader sees it.
struct Parsed {
    enum Kind { Other, Section, Entry } kind = Other;
    QStringView name;  // section or key, blanks removed
    QStringView value; // raw text after the first '='
};

Parsed Parse(const QString &line) {
    Parsed p;
    const QStringView s = TrimBlanks(line);
    if (s.startsWith(u'[')) {
        qsizetype close = s.indexOf(u']');
        if (close < 0)
            close = s.size();
        p.kind = Parsed::Section;
        p.name = TrimBlanks(s.mid(1, close - 1));
        return p;
    }
    const qsizetype eq = s.indexOf(u'=');
    if (eq <= 0)
        return p;
    p.name = TrimBlanks(s.left(eq));
    if (p.name.isEmpty())
        return p;
    p.kind = Parsed::Entry;
    p.value = s.mid(eq + 1);
    return p;
}

bool SameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString DecodeUtf16Le(const QByteArray &bytes, qsizetype from) {
    QString s;
    s.reserve((bytes.size() - from) / 2);
    for (qsizetype i = from; i + 1 < bytes.size(); i += 2)
        s.append(QChar(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8))));
    return s;
}

QByteArray EncodeUtf16Le(const QString &s) {
    QByteArray out;
    out.reserve(s.size() * 2);
    for (QChar c : s) {
        out.append(char(c.unicode() & 0xFF));
        out.append(char(c.unicode() >> 8));
    }
    return out;
}

[[noreturn]] void Fail(const QString &fileName) {
    throw std::runtime_error("Unable to write to " + fileName.toUtf8().toStdString());
}

} // namespace

QString TIniFile::DecodeWindows1250(const QByteArray &bytes) {
    QString s;
    s.reserve(bytes.size());
    for (char ch : bytes) {
        const uint8_t b = uint8_t(ch);
        s.append(QChar(b < 0x80 ? char16_t(b) : Cp1250High[b - 0x80]));
    }
    return s;
}

QByteArray TIniFile::EncodeWindows1250(const QString &text) {
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
            if (Cp1250High[k] == c) {
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

TIniFile::TIniFile(const QString &fileName) : m_fileName(fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        return;
    QFile file(fileName);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        m_readFailed = true;
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_readFailed = true;
        return;
    }

    QString text;
    if (bytes.startsWith(Utf16LeBom)) {
        m_encoding = Encoding::Utf16LE;
        text = DecodeUtf16Le(bytes, 2);
    } else {
        const bool bom = bytes.startsWith(Utf8Bom);
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        text = utf8(QByteArrayView(bytes).sliced(bom ? 3 : 0));
        if (!utf8.hasError()) {
            m_encoding = bom ? Encoding::Utf8Bom : Encoding::Utf8;
        } else {
            // A BOM in front of bytes that are not UTF-8 (a file edited by
            // hand in another code page) is kept as it stands, not read as
            // characters of the first section's name.
            m_encoding = Encoding::Windows1250;
            m_leadingBom = bom;
            text = DecodeWindows1250(bom ? bytes.mid(3) : bytes);
        }
    }

    if (text.isEmpty())
        return;
    m_lines = text.split(u'\n');
    if (text.endsWith(u'\n'))
        m_lines.removeLast();
    for (QString &line : m_lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
}

TIniFile::Place TIniFile::Find(const QString &section, const QString &key) const {
    Place place;
    bool inSection = false;
    bool firstSection = false; // inside the first section of that name
    for (int i = 0; i < m_lines.size(); ++i) {
        const Parsed p = Parse(m_lines[i]);
        if (p.kind == Parsed::Section) {
            inSection = SameName(p.name, section);
            firstSection = inSection && place.insertAt < 0;
            if (firstSection)
                place.insertAt = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (firstSection && !TrimBlanks(m_lines[i]).isEmpty())
            place.insertAt = i + 1;
        if (p.kind == Parsed::Entry && SameName(p.name, key) && place.line < 0)
            place.line = i;
    }
    return place;
}

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &def) const {
    const Place place = Find(section, key);
    if (place.line < 0)
        return def;
    QStringView v = TrimBlanks(Parse(m_lines[place.line]).value);
    if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
        v = v.mid(1, v.size() - 2);
    if (v.size() > MaxValueLength) {
        qsizetype n = MaxValueLength;
        // Never leave half of a surrogate pair.
        if (v[n - 1].isHighSurrogate())
            --n;
        v = v.left(n);
    }
    return v.toString();
}

int32_t TIniFile::ReadInteger(const QString &section, const QString &key, int32_t def) const {
    return core::StrToIntDef(ReadString(section, key, QString()), def);
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value) {
    QString v = value;
    v.replace(u'\r', u' ');
    v.replace(u'\n', u' ');
    m_dirty = true;

    const Place place = Find(section, key);
    if (place.line >= 0) {
        QString &line = m_lines[place.line];
        const Parsed p = Parse(line);
        // An entry that already says exactly this stays as it is.
        if (TrimBlanks(p.value) != v)
            line = p.name.toString() + u'=' + v;
        return;
    }
    const QString entry = key + u'=' + v;
    if (place.insertAt >= 0) {
        m_lines.insert(place.insertAt, entry);
        return;
    }
    if (!m_lines.isEmpty() && !TrimBlanks(m_lines.back()).isEmpty())
        m_lines.append(QString());
    m_lines.append(u'[' + section + u']');
    m_lines.append(entry);
}

void TIniFile::WriteInteger(const QString &section, const QString &key, int32_t value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::UpdateFile() {
    if (!m_dirty)
        return;
    // What cannot be read cannot be kept: never replace it with our lines only.
    if (m_readFailed)
        Fail(m_fileName);

    QString text;
    for (const QString &line : m_lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    QByteArray bytes;
    switch (m_encoding) {
    case Encoding::Utf8:
        bytes = text.toUtf8();
        break;
    case Encoding::Utf8Bom:
        bytes = QByteArray(Utf8Bom) + text.toUtf8();
        break;
    case Encoding::Utf16LE:
        bytes = QByteArray(Utf16LeBom, 2) + EncodeUtf16Le(text);
        break;
    case Encoding::Windows1250:
        bytes = (m_leadingBom ? QByteArray(Utf8Bom) : QByteArray()) + EncodeWindows1250(text);
        break;
    }

    // A link is followed: the file it names is replaced, the link stays.
    QString target = m_fileName;
    const QFileInfo info(m_fileName);
    if (info.isSymLink() && !info.canonicalFilePath().isEmpty())
        target = info.canonicalFilePath();

    // A temporary file beside the target, renamed over it on commit: a crash
    // or a full disk leaves the old file whole. QSaveFile refuses an existing
    // file that the user may not write and keeps the old file's mode bits.
    // In a folder that takes no new file, a writable file is written in
    // place instead, as the only way to save there at all.
    // Unbuffered: a buffered write fails only in the flush inside commit(),
    // which this Qt does not report, and the cut file would be committed.
    QSaveFile file(target);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit())
        Fail(m_fileName);
    m_dirty = false;
}

} // namespace ini
