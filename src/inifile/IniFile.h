#pragma once
// Settings file in the classic INI format. The whole file is held in memory
// as its lines; writes change those lines, and UpdateFile() replaces the file
// on disk atomically (temporary file in the same folder, then rename), or
// writes into it where the folder takes no new file.
//
// A line ends at CR LF, LF or a lone CR; a run of CRs before an LF (what
// repeated line-end conversions leave) is one line end. Lines that the
// program does not touch are kept byte for byte, their line ends included;
// lines it writes end in CR LF. Only where a line is added after it does an
// unused line change: a last line without a line end gets CR LF, and so does
// one ending in a lone CR before the blank line in front of a new section.
// Names are compared ignoring letter case and their spelling in the file is
// never rewritten.
//
// The file keeps the encoding it was found in, decided by core::DecodeText
// (TextFile.h), which the register files are read with as well; a UTF-8 BOM
// in front of an 8-bit file is kept. A new file is UTF-8 without BOM.
#include "TextFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace ini {

using Encoding = core::TextEncoding;

class TIniFile {
public:
    // Reads the file if it exists; a missing or unreadable file reads as empty.
    explicit TIniFile(const QString &fileName);

    QString FileName() const { return m_fileName; }
    Encoding FileEncoding() const { return m_encoding; }
    // The lines as they stand in memory, without line ends.
    const QStringList &Lines() const { return m_lines; }

    // Section and key ignore letter case; blanks around key and value are
    // ignored; one pair of matching quotes is removed; values are cut at
    // 2047 characters; an empty value reads as empty.
    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // The string read with an empty default, by the integer text rules; def
    // when it is not a number.
    int32_t ReadInteger(const QString &section, const QString &key, int32_t def) const;

    // Replace in place, add at the end of the section, or add the section at
    // the end; every other line stays as it was. A line break in value would
    // split the entry, so CR and LF are written as blanks.
    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, int32_t value);

    // Writes all lines in the file's encoding when anything was
    // written since the file was read. Throws
    // std::runtime_error("Unable to write to <path>") (UTF-8) when the file
    // cannot be written: an existing file the user may not write, or one that
    // could not be read, is left as it is, and so is the old content when a
    // write into a writable folder fails.
    void UpdateFile();

    // Longest value that ReadString returns.
    static constexpr int MaxValueLength = 2047;

private:
    struct Place {
        int line = -1;     // the entry's line; -1 when the key is missing
        int insertAt = -1; // after the first such section's last non-blank
                           // line; -1 when the section is missing
    };
    Place Find(const QString &section, const QString &key) const;

    // Puts a line before index at, ending in CR LF; the line before it gets
    // a line end if it had none.
    void InsertLine(int at, const QString &line);

    QString m_fileName;
    Encoding m_encoding = Encoding::Utf8;
    QStringList m_lines;
    QStringList m_ends;        // m_lines[i] ends with m_ends[i]
    QByteArray m_strayByte;    // odd last byte of a UTF-16 file, kept at the end
    bool m_leadingBom = false; // 8-bit file that starts with a UTF-8 BOM
    bool m_readFailed = false; // exists but could not be read: never overwrite it
    bool m_dirty = false;
};

} // namespace ini
