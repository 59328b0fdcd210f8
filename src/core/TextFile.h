#pragma once
// Text files the way the settings file is read: the encoding told by the
// bytes, the lines and their ends, and one line of the INI format. The
// settings file and the register files share these rules, so that a file
// one of them reads the other reads alike. Qt Core only.
//
// The encoding, decided in this order: UTF-16LE or UTF-16BE when the bytes
// begin with that BOM; UTF-8 (with or without BOM) when all of them are
// valid UTF-8, a sequence cut off at the end included as invalid; otherwise
// the 8-bit code page (a UTF-8 BOM in front of such bytes is kept apart).
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace core {

enum class TextEncoding { Utf8, Utf16LE, EightBit, Utf8Bom, Utf16BE };

struct DecodedText {
    QString text;
    TextEncoding encoding = TextEncoding::Utf8;
    QByteArray strayByte;    // odd last byte of a UTF-16 file, not part of the text
    bool leadingBom = false; // 8-bit text after a UTF-8 BOM
};
DecodedText DecodeText(QByteArrayView bytes);

// The 8-bit code page of files that are not Unicode: the system's ANSI code
// page on Windows, Windows-1250 (the module's own) elsewhere. Characters the
// page lacks are written as '?'.
QString DecodeEightBit(const QByteArray &bytes);
QByteArray EncodeEightBit(const QString &text);

// Windows-1250; the five bytes it leaves undefined map to the C1 control of
// the same number, so that such a byte survives a rewrite.
QString DecodeWindows1250(const QByteArray &bytes);
QByteArray EncodeWindows1250(const QString &text);

// Lines and their own line ends: LF, a run of CRs followed by LF, or a lone
// CR; a last line without any gets an empty one.
void SplitLines(const QString &text, QStringList &lines, QStringList &ends);

// Blanks are spaces and tabs, nothing else.
QStringView TrimBlanks(QStringView s);

// One line of an INI file as its reader sees it: "[name]" (blanks around
// the name ignored, anything after "]" too, a missing "]" allowed), or
// "key=value" with a key that is not empty, or neither.
struct IniLine {
    enum Kind { Other, Section, Entry } kind = Other;
    QStringView name;  // section or key, blanks removed
    QStringView value; // raw text after the first '='
};
IniLine ParseIniLine(QStringView line);

// An entry's value as the reader returns it: blanks removed, then one pair
// of matching quotes (double or single).
QStringView IniValue(QStringView raw);

// Section and key names ignore letter case.
bool SameIniName(QStringView a, QStringView b);

} // namespace core
