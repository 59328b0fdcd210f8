#pragma once
// Settings file in the classic INI format. The whole file is held in memory
// as its lines; writes change those lines, and UpdateFile() replaces the file
// on disk atomically (temporary file in the same folder, then rename).
#include <QString>
#include <QStringList>
#include <cstdint>

namespace ini {

enum class Encoding { Utf8, Utf16LE, Windows1250 };

class TIniFile {
public:
    // Reads the file if it exists; a missing or unreadable file reads as empty.
    explicit TIniFile(const QString &fileName);

    QString FileName() const { return m_fileName; }
    Encoding FileEncoding() const { return m_encoding; }

    // Section and key ignore letter case; blanks around key and value are
    // ignored; one pair of matching quotes is removed; values are cut at
    // 2047 characters; an empty value reads as empty.
    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // The string read with an empty default, by the integer text rules; def
    // when it is not a number.
    int32_t ReadInteger(const QString &section, const QString &key, int32_t def) const;

    // Replace in place, add at the end of the section, or add the section at
    // the end; every other line stays as it was.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int32_t value);

    // Writes all lines (CRLF) in the file's encoding. Throws
    // std::runtime_error("Unable to write to <path>") and leaves the file on
    // disk untouched when it cannot be replaced.
    void UpdateFile();

private:
    QString m_fileName;
    Encoding m_encoding = Encoding::Utf8;
    QStringList m_lines;
};

} // namespace ini
