#include "IniFile.h"
#include "IntText.h"
#include "TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringEncoder>

#include <stdexcept>

namespace ini {

namespace {

constexpr char Utf16LeBom[] = "\xFF\xFE";
constexpr char Utf16BeBom[] = "\xFE\xFF";
constexpr char Utf8Bom[] = "\xEF\xBB\xBF";
const QString CrLf = QStringLiteral("\r\n");

QByteArray Encode(QStringConverter::Encoding encoding, const QString &text) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::Stateless);
    return encoder(text);
}

[[noreturn]] void Fail(const QString &fileName) {
    throw std::runtime_error("Unable to write to " + fileName.toUtf8().toStdString());
}

} // namespace

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

    core::DecodedText decoded = core::DecodeText(bytes);
    m_encoding = decoded.encoding;
    m_strayByte = decoded.strayByte;
    m_leadingBom = decoded.leadingBom;
    core::SplitLines(decoded.text, m_lines, m_ends);
}

TIniFile::Place TIniFile::Find(const QString &section, const QString &key) const {
    Place place;
    bool inSection = false;
    bool firstSection = false; // inside the first section of that name
    for (int i = 0; i < m_lines.size(); ++i) {
        const core::IniLine p = core::ParseIniLine(m_lines[i]);
        if (p.kind == core::IniLine::Section) {
            inSection = core::SameIniName(p.name, section);
            firstSection = inSection && place.insertAt < 0;
            if (firstSection)
                place.insertAt = i + 1;
            continue;
        }
        if (!inSection)
            continue;
        if (firstSection && !core::TrimBlanks(m_lines[i]).isEmpty())
            place.insertAt = i + 1;
        if (p.kind == core::IniLine::Entry && core::SameIniName(p.name, key) && place.line < 0)
            place.line = i;
    }
    return place;
}

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &def) const {
    const Place place = Find(section, key);
    if (place.line < 0)
        return def;
    QStringView v = core::IniValue(core::ParseIniLine(m_lines[place.line]).value);
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
        const core::IniLine p = core::ParseIniLine(line);
        // An entry that already says exactly this stays as it is.
        if (core::TrimBlanks(p.value) != v) {
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
    if (!m_lines.isEmpty() && !core::TrimBlanks(m_lines.back()).isEmpty()) {
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
        bytes = (m_leadingBom ? QByteArray(Utf8Bom) : QByteArray()) + core::EncodeEightBit(text);
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
