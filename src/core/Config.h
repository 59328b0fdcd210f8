#pragma once
// Safe configuration: what each register's word is known to be (changed by
// the last read, typed or loaded and not yet written, different from the
// device), whether a write's answer acknowledges it, the texts of the
// read-back and compare outcomes, and registers as configuration files.
// Qt Core only.
#include "RegisterMap.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <span>

class QIODevice;

namespace core {

enum class ValueState : uint8_t {
    Plain,
    Changed, // the last read that covered it brought a different word
    Pending, // typed into the grid or loaded from a file, not yet written
    Differs, // a compare or a read-back found another word on the device
};

using States = std::span<ValueState, ImageSize>;

// A read of the registers from first: every register it brought is Changed
// where the device's word differs from the image before the read, Plain
// otherwise (also when it was Pending or Differs: the image now holds the
// device's word). Registers the read did not bring keep their state.
void MarkRead(States states, ConstImage before, int first, std::span<const uint16_t> device);

// An edit or a load changed a word: Pending when it differs from before.
void MarkEdited(States states, int index, uint16_t before, uint16_t now);

// An acknowledged write of count registers from first: Plain.
void MarkWritten(States states, int first, int count);

// Device words beside the image from first: Differs where they differ;
// where they agree a Pending or Differs mark goes (Changed stays, it tells
// about the last read). Returns the image indices that differ, ascending.
QList<int> MarkCompared(States states, ConstImage image, int first,
                        std::span<const uint16_t> device);

// The registers a write request carries: function 6 one word, function 16
// its words; false for any other frame.
struct Written {
    int first = 0;
    QList<uint16_t> words;
};
bool WrittenRegisters(std::span<const uint8_t> request, Written &out);

// True when answer acknowledges the write request: an answer that passes
// the check every answer gets (CheckAnswer: whole, as long as its header
// says, the same transaction ID and function), and for function 6 the echo of address and value,
// for function 16 the echo of start and quantity. An exception answer, a shorter one or any other
// is not an acknowledgement.
bool WriteAcknowledged(std::span<const uint8_t> request, std::span<const uint8_t> answer);

// The words of a function-3 answer to the read of quantity registers, or
// why there are none: the outcome texts name the reason.
struct ReadBack {
    QList<uint16_t> words; // empty unless the answer held all of them
    QString failure;       // "no answer from the device", ...
};
ReadBack ReadAnswerWords(std::span<const uint8_t> answer, int quantity);

// "Verify: 6 registers OK." or "Verify: 40012 written 5, device holds 4;
// 40013 written 0, device holds 1."; with a failure, "Verify: " + failure
// + ".". device holds written.words.size() words unless it failed.
QString VerifyText(const Written &written, const ReadBack &device);

// "Differs from the device: 40005, 40012 (2 registers)." or "Same as the
// device: 155 registers."
QString CompareText(const QList<int> &differing, int compared);

// A plural that counts: "1 register", "6 registers".
QString Registers(qsizetype n);

// ---- configuration files ----------------------------------------------------

// A CSV field: quoted, its quotes doubled, when it holds a comma or a quote.
QString CsvField(const QString &text);
// The fields of one CSV line; quoted fields may hold commas and doubled
// quotes. Fields are not trimmed.
QStringList CsvFields(const QString &line);

// The device registers of the image as CSV: UTF-8, CR LF, the header
// "Register,Name,Value", then "40001,Triger Start/Stop,0" and so on.
QByteArray RegistersCsv(ConstImage regs);

// A configuration file read: either such a CSV (header optional, any
// subset of registers, decimal or 0x-hex values, any line end) or, when its
// first line that holds anything opens a section, a settings file whose
// [REG] section gives R0..R154 (R155, the word after the device's last
// register, is skipped). Bytes, lines, sections and entries are read as the
// settings file's reader reads them (TextFile.h): UTF-16 by its BOM, UTF-8,
// or the 8-bit code page; "[ reg ]" is the section; quotes around a value
// go. A register given twice is a bad line as well, and a file that gives
// no register is refused.
struct ConfigFile {
    bool ok = false;
    bool settingsFile = false;
    bool readFailed = false; // not opened or not read to its end: reason is the system's
    int badLine = 0;         // 1-based; 0 when the whole file is at fault
    QString badText;         // that line, its first MaxQuoted characters and "…" if longer
    QString reason;          // "unknown register", "value outside 0..65535", ...
    bool given[DeviceRegs] = {};
    uint16_t values[DeviceRegs] = {};
    int count = 0; // registers given
};
ConfigFile ParseConfig(const QByteArray &data);

// A saved CSV is under 3 KB and a settings file some 4 KB: anything over
// this is no configuration file, and is refused before it is read.
constexpr qint64 MaxConfigSize = qint64(1) << 20;
constexpr int MaxQuoted = 80;

// Reads in to its end and parses what it holds. A device larger than
// MaxConfigSize is refused (one that tells its size, before any read), and
// so is one whose read fails part-way: nothing of a file is taken unless
// all of it was read.
ConfigFile ReadConfig(QIODevice &in);
// The same for the file at path; one that cannot be opened is readFailed.
ConfigFile ReadConfigFile(const QString &path);

// A refused file as the program tells it, fileName as it is to be shown:
// "Unable to read <fileName>: <system reason>" when it could not be read,
// else "Nothing loaded from <fileName>: line 2, "40200,b,2": unknown
// register." or "Nothing loaded from <fileName>: no registers.".
QString ConfigRefusal(const ConfigFile &f, const QString &fileName);

} // namespace core
