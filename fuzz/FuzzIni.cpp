// fuzz-ini: the settings file reader and writer on arbitrary files.
//
// Input: byte 0 picks the section, byte 1 the key, byte 2 the value (each
// from a small set of plain ASCII names, letter case varied, so that the
// seeds' sections and keys are hit and the case-blind match is exercised);
// the rest is the file, written to a temporary file as it stands.
//
// Per input: read the file (ini::TIniFile), write the entry, save it
// (UpdateFile), read the saved file again. Checked:
//  - nothing crashes and nothing overruns (ASan, UBSan);
//  - the entry reads back, before and after the save;
//  - every other line is kept: the lines read back equal the lines first
//    read, except that the entry's line was replaced in place (the key
//    existed) or added (at the end of its section, or after a new section
//    header at the end, with one blank line before it when the file did not
//    end blank). Lines are compared decoded. The file keeps its encoding;
//    the one allowed change is the 8-bit page to UTF-8 (with or without BOM)
//    when the replaced line held every byte that was not valid UTF-8: the
//    kept lines' bytes are then compared, by decoding them as UTF-8.
// The value is plain ASCII without blanks or quotes, so the reading rules
// (blanks trimmed, one pair of quotes removed) leave it as written.
#include "IniFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace {

const char *const Sections[] = {"Main", "Modbus", "LAN", "REG", "a", "Z9", "fuzz", "Reg2"};
const char *const Keys[] = {"left", "seNodeID", "ip", "R0", "R155", "k", "edText", "x1"};

QString Name(const char *const *names, uint8_t pick) {
    QString n = QString::fromLatin1(names[pick & 7]);
    if (pick & 8)
        n = n.toUpper();
    if (pick & 16)
        n = n.toLower();
    return n;
}

[[noreturn]] void Fail(const char *what, const QString &detail = QString()) {
    std::fprintf(stderr, "fuzz-ini: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

// In the system's temporary folder (TMPDIR); scripts/fuzz points it at a
// tmpfs folder of its own, since UpdateFile syncs every save.
const QString &Folder() {
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        auto d =
            std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/fuzz-ini-XXXXXX"));
        if (!d->isValid())
            Fail("no temporary folder");
        return d;
    }();
    static const QString path = dir->path();
    return path;
}

void WriteFile(const QString &path, const uint8_t *data, size_t size) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        Fail("cannot write the input file");
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            Fail("cannot write the input file");
        done += size_t(n);
    }
    ::close(fd);
}

bool Blank(const QString &line) {
    for (QChar c : line)
        if (c != u' ' && c != u'\t')
            return false;
    return true;
}

// The lines first read, as the saved file's encoding sees their bytes.
QStringList AsReadIn(const QStringList &lines, ini::Encoding from, ini::Encoding to) {
    if (from == to)
        return lines;
    if (from != ini::Encoding::EightBit ||
        (to != ini::Encoding::Utf8 && to != ini::Encoding::Utf8Bom))
        Fail("the file changed its encoding",
             QStringLiteral("%1 -> %2").arg(int(from)).arg(int(to)));
    QStringList out;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray bytes = core::EncodeWindows1250(lines[i]);
        // Line by line, a BOM at the start of a line is a character (as it
        // is for the reader, who decodes the whole file at once).
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
        out << QString(utf8(bytes));
    }
    return out;
}

// One line per entry, in brackets, control characters as \xNN.
QString Show(const QStringList &lines) {
    QString s;
    for (const QString &l : lines) {
        s += u'[';
        for (QChar c : l)
            s += c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'))
                                    : QString(c);
        s += QStringLiteral("]\n");
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 3)
        return 0;
    const QString section = Name(Sections, data[0]);
    const QString key = Name(Keys, data[1]);
    const QString value = QStringLiteral("v%1x").arg(data[2]);
    const QString missing = QStringLiteral("\n"); // no value can hold a line break
    const QString path = Folder() + QStringLiteral("/Tavrin.ini");
    WriteFile(path, data + 3, size - 3);

    ini::TIniFile first(path);
    const QStringList before = first.Lines();
    const ini::Encoding encoding = first.FileEncoding();
    const bool existed = first.ReadString(section, key, missing) != missing;

    first.WriteString(section, key, value);
    if (first.ReadString(section, key, missing) != value)
        Fail("the written entry does not read back before the save");
    try {
        first.UpdateFile();
    } catch (const std::exception &e) {
        Fail("UpdateFile failed:", QString::fromUtf8(e.what()));
    }

    const ini::TIniFile again(path);
    if (again.ReadString(section, key, missing) != value)
        Fail("the written entry does not read back after the save", Show(again.Lines()));

    const QStringList a = AsReadIn(before, encoding, again.FileEncoding());
    const QStringList &b = again.Lines();
    const QString entry = key + u'=' + value;
    qsizetype j = 0;
    while (j < a.size() && j < b.size() && a[j] == b[j])
        ++j;
    bool kept = false;
    if (existed) {
        // Replaced in place (or left alone when it already said this).
        kept = a.size() == b.size() &&
               (j == a.size() || (b[j].endsWith(u'=' + value) && a.mid(j + 1) == b.mid(j + 1)));
    } else if (b.size() == a.size() + 1) {
        // Added to its section.
        kept = b[j] == entry && a.mid(j) == b.mid(j + 1);
    } else {
        // Added with its section at the end, after a blank line unless the
        // file ends with one (or is empty).
        QStringList tail;
        if (!a.isEmpty() && !Blank(a.last()))
            tail << QString();
        tail << u'[' + section + u']' << entry;
        kept = b == a + tail;
    }
    if (!kept)
        Fail("lines not kept", QStringLiteral("key %1/%2 existed %3\nbefore:\n%4after:\n%5")
                                   .arg(section, key)
                                   .arg(existed)
                                   .arg(Show(a), Show(b)));
    return 0;
}
