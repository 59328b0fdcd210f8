#include "IniFile.h"
#include "IntText.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

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
constexpr char Utf16BeBom[] = "\xFE\xFF";
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";
const QString CrLf = QStringLiteral("\r\n");

// The 8-bit code page of files that are neither UTF-8 nor UTF-16: the one
// place that chooses it. Windows has one, the system's ANSI code page (what
// Qt's System converter uses there; "?" for a character it lacks); other
// systems have none, and Windows-1250 is taken as the module's own.
struct CodePage {
    QString (*decode)(const QByteArray &);
    QByteArray (*encode)(const QString &);
};
#ifdef Q_OS_WIN
QString DecodeAnsi(const QByteArray &bytes) {
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    return decoder(bytes);
}
QByteArray EncodeAnsi(const QString &text) {
    QStringEncoder encoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    return encoder(text);
}
CodePage EightBitPage() {
    return {&DecodeAnsi, &EncodeAnsi};
}
#else
CodePage EightBitPage() {
    return {&TIniFile::DecodeWindows1250, &TIniFile::EncodeWindows1250};
}
#endif

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

QByteArray Encode(QStringConverter::Encoding encoding, const QString &text) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    return encoder(text);
}

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

[[noreturn]] void Fail(const QString &fileName) {
    throw std::runtime_error("Unable to write to " + fileName.toUtf8().toStdString());
}

// Lines and their own line ends: LF, a run of CRs followed by LF, or a lone
// CR; a last line without any gets an empty one.
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
    const bool le = bytes.startsWith(Utf16LeBom);
    if (le || bytes.startsWith(Utf16BeBom)) {
        // The mark decides, as it does for the platform's profile services.
        m_encoding = le ? Encoding::Utf16LE : Encoding::Utf16BE;
        QByteArrayView units = QByteArrayView(bytes).sliced(2);
        if (units.size() % 2) {
            m_strayByte = units.last(1).toByteArray();
            units.chop(1);
        }
        text = Decode(le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE, units);
    } else {
        const bool bom = bytes.startsWith(Utf8Bom);
        bool failed = false;
        text = Decode(QStringConverter::Utf8, QByteArrayView(bytes).sliced(bom ? 3 : 0), &failed);
        if (!failed) {
            m_encoding = bom ? Encoding::Utf8Bom : Encoding::Utf8;
        } else {
            // A BOM in front of bytes that are not UTF-8 (a file edited by
            // hand in another code page) is kept as it stands, not read as
            // characters of the first section's name.
            m_encoding = Encoding::EightBit;
            m_leadingBom = bom;
            text = EightBitPage().decode(bom ? bytes.mid(3) : bytes);
        }
    }
    SplitLines(text, m_lines, m_ends);
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
        if (TrimBlanks(p.value) != v) {
            line = p.name.toString() + u'=' + v;
            m_ends[place.line] = CrLf;
        }
        return;
    }
    const QString entry = key + u'=' + v;
    if (place.insertAt >= 0) {
        InsertLine(place.insertAt, entry);
        return;
    }
    if (!m_lines.isEmpty() && !TrimBlanks(m_lines.back()).isEmpty()) {
        // A lone CR before the blank line's CR LF would read as one line end
        // and the blank line would be gone.
        if (m_ends.back() == QLatin1String("\r"))
            m_ends.back() = CrLf;
        InsertLine(int(m_lines.size()), QString());
    }
    InsertLine(int(m_lines.size()), u'[' + section + u']');
    InsertLine(int(m_lines.size()), entry);
}

void TIniFile::InsertLine(int at, const QString &line) {
    if (at > 0 && m_ends[at - 1].isEmpty())
        m_ends[at - 1] = CrLf;
    m_lines.insert(at, line);
    m_ends.insert(at, CrLf);
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
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        text += m_lines[i] + m_ends[i];
    QByteArray bytes;
    switch (m_encoding) {
    case Encoding::Utf8:
        bytes = Encode(QStringConverter::Utf8, text);
        break;
    case Encoding::Utf8Bom:
        bytes = QByteArray(Utf8Bom) + Encode(QStringConverter::Utf8, text);
        break;
    case Encoding::Utf16LE:
        bytes = QByteArray(Utf16LeBom, 2) + Encode(QStringConverter::Utf16LE, text) + m_strayByte;
        break;
    case Encoding::Utf16BE:
        bytes = QByteArray(Utf16BeBom, 2) + Encode(QStringConverter::Utf16BE, text) + m_strayByte;
        break;
    case Encoding::EightBit:
        bytes = (m_leadingBom ? QByteArray(Utf8Bom) : QByteArray()) + EightBitPage().encode(text);
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
