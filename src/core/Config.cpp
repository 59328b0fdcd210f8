#include "Config.h"
#include "Answer.h"
#include "Modbus.h"
#include "TextFile.h"

#include <QFile>
#include <QIODevice>
#include <QList>
#include <QStringList>
#include <algorithm>

namespace core {

namespace {

uint16_t Be16(std::span<const uint8_t> b, size_t at) {
    return uint16_t(b[at] << 8 | b[at + 1]);
}

QString Number(int index) {
    return QString::number(FirstNumber + index);
}

} // namespace

void MarkRead(States states, ConstImage before, int first, std::span<const uint16_t> device) {
    for (size_t k = 0; k < device.size() && first + int(k) < ImageSize; ++k) {
        const int i = first + int(k);
        states[size_t(i)] =
            device[k] != before[size_t(i)] ? ValueState::Changed : ValueState::Plain;
    }
}

void MarkEdited(States states, int index, uint16_t before, uint16_t now) {
    if (index >= 0 && index < ImageSize && before != now)
        states[size_t(index)] = ValueState::Pending;
}

void MarkWritten(States states, int first, int count) {
    for (int i = std::max(first, 0); i < first + count && i < ImageSize; ++i)
        states[size_t(i)] = ValueState::Plain;
}

QList<int> MarkCompared(States states, ConstImage image, int first,
                        std::span<const uint16_t> device) {
    QList<int> differing;
    for (size_t k = 0; k < device.size() && first + int(k) < ImageSize; ++k) {
        const int i = first + int(k);
        if (device[k] != image[size_t(i)]) {
            states[size_t(i)] = ValueState::Differs;
            differing << i;
        } else if (states[size_t(i)] != ValueState::Changed) {
            states[size_t(i)] = ValueState::Plain;
        }
    }
    return differing;
}

bool WrittenRegisters(std::span<const uint8_t> request, Written &out) {
    out = {};
    if (request.size() < size_t(ShortFrame))
        return false;
    out.first = Be16(request, 8);
    if (request[FunctionAt] == FnWriteSingle) {
        out.words << Be16(request, 10);
        return true;
    }
    if (request[FunctionAt] != FnWriteMultiple || request.size() < size_t(F16Fixed))
        return false;
    const size_t quantity = Be16(request, 10);
    if (request.size() < F16Fixed + 2 * quantity)
        return false;
    for (size_t k = 0; k < quantity; ++k)
        out.words << Be16(request, F16Fixed + 2 * k);
    return true;
}

bool WriteAcknowledged(std::span<const uint8_t> request, std::span<const uint8_t> answer) {
    if (request.size() < size_t(ShortFrame) || answer.size() < size_t(ShortFrame))
        return false;
    const uint8_t function = request[FunctionAt];
    if (function != FnWriteSingle && function != FnWriteMultiple)
        return false;
    // Only an answer that every read answer's check would take: a lying
    // length or a cut echo acknowledges nothing, whatever its first bytes say.
    const AnswerCheck check =
        CheckAnswer(answer, TransactionOf(request), function, 0, answer.size());
    if (check.fault != AnswerFault::None)
        return false;
    // Address and value (6), start and quantity (16): bytes 8 to 11 either way.
    for (int at = 8; at < ShortFrame; ++at)
        if (answer[size_t(at)] != request[size_t(at)])
            return false;
    return true;
}

ReadBack ReadAnswerWords(std::span<const uint8_t> answer, int quantity) {
    ReadBack r;
    if (answer.empty()) {
        r.failure = QStringLiteral("no answer from the device");
        return r;
    }
    // The exchange has matched the transaction already; the rest is the one
    // check every read answer gets.
    const AnswerCheck check =
        CheckAnswer(answer, TransactionOf(answer), FnReadHolding, quantity, answer.size());
    if (check.fault == AnswerFault::Exception) {
        r.failure = QStringLiteral("the device answered with exception %1")
                        .arg(check.found, 2, 10, QLatin1Char('0'));
    } else if (check.fault != AnswerFault::None || check.registers < quantity) {
        r.failure = QStringLiteral("the answer does not hold the %1 read").arg(Registers(quantity));
    } else {
        for (int k = 0; k < quantity; ++k)
            r.words << Be16(answer, size_t(AnswerDataAt + 2 * k));
    }
    return r;
}

QString VerifyText(const Written &written, const ReadBack &device) {
    if (!device.failure.isEmpty())
        return QStringLiteral("Verify: ") + device.failure + u'.';
    QStringList wrong;
    for (qsizetype k = 0; k < written.words.size() && k < device.words.size(); ++k)
        if (written.words[k] != device.words[k])
            wrong << QStringLiteral("%1 written %2, device holds %3")
                         .arg(Number(written.first + int(k)))
                         .arg(written.words[k])
                         .arg(device.words[k]);
    if (wrong.isEmpty())
        return QStringLiteral("Verify: %1 OK.").arg(Registers(written.words.size()));
    return QStringLiteral("Verify: ") + wrong.join(QStringLiteral("; ")) + u'.';
}

QString CompareText(const QList<int> &differing, int compared) {
    if (differing.isEmpty())
        return QStringLiteral("Same as the device: %1.").arg(Registers(compared));
    QStringList numbers;
    for (int i : differing)
        numbers << Number(i);
    return QStringLiteral("Differs from the device: %1 (%2).")
        .arg(numbers.join(QStringLiteral(", ")), Registers(differing.size()));
}

QString Registers(qsizetype n) {
    return QString::number(n) +
           (n == 1 ? QStringLiteral(" register") : QStringLiteral(" registers"));
}

// ---- configuration files ----------------------------------------------------

QString CsvField(const QString &text) {
    if (!text.contains(u',') && !text.contains(u'"'))
        return text;
    return u'"' + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// Fields of one CSV line; quoted fields may hold commas and doubled quotes.
QStringList CsvFields(const QString &line) {
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"')
                field += c, ++i;
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

namespace {

enum class Word { Ok, NotNumber, OutOfRange };

// Decimal, or hexadecimal after 0x; blanks around it allowed.
Word ParseWord(QString text, uint16_t &out) {
    text = text.trimmed();
    bool negative = false;
    if (text.startsWith(u'-')) {
        negative = true;
        text.remove(0, 1);
    }
    int base = 10;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        text.remove(0, 2);
    }
    if (text.isEmpty())
        return Word::NotNumber;
    const auto digit = [base](QChar c) {
        const char16_t u = c.unicode();
        return (u >= u'0' && u <= u'9') ||
               (base == 16 && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')));
    };
    if (!std::all_of(text.cbegin(), text.cend(), digit))
        return Word::NotNumber;
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, base);
    if (negative && (!ok || v != 0))
        return Word::OutOfRange;
    if (!ok || v > 0xFFFF)
        return Word::OutOfRange; // digits only: too many of them
    out = uint16_t(v);
    return Word::Ok;
}

// A bad line as a message quotes it: a line of a megabyte would make the
// message box unusable.
QString Quoted(const QString &line) {
    if (line.size() <= MaxQuoted)
        return line;
    qsizetype n = MaxQuoted;
    if (line[n - 1].isHighSurrogate())
        --n; // never half of a pair
    return line.left(n) + u'\u2026';
}

} // namespace

QByteArray RegistersCsv(ConstImage regs) {
    QString out = QStringLiteral("Register,Name,Value\r\n");
    for (int i = 0; i < DeviceRegs; ++i)
        out += Number(i) + u',' + CsvField(RegisterName(i + 1)) + u',' +
               QString::number(regs[size_t(i)]) + QStringLiteral("\r\n");
    return out.toUtf8();
}

ConfigFile ParseConfig(const QByteArray &data) {
    ConfigFile f;
    QStringList lines, ends;
    SplitLines(DecodeText(data).text, lines, ends);

    const auto bad = [&](int lineIndex, const QString &reason) {
        f.badLine = lineIndex + 1;
        f.badText = Quoted(lines[lineIndex]);
        f.reason = reason;
        return f;
    };
    const auto take = [&](int index, uint16_t value) {
        if (f.given[index])
            return false;
        f.given[index] = true;
        f.values[index] = value;
        ++f.count;
        return true;
    };
    const auto done = [&] {
        f.ok = f.count > 0;
        if (!f.ok)
            f.reason = QStringLiteral("no registers");
        return f;
    };

    int firstUsed = -1;
    for (int n = 0; n < lines.size() && firstUsed < 0; ++n)
        if (!lines[n].trimmed().isEmpty())
            firstUsed = n;
    f.settingsFile = firstUsed >= 0 && ParseIniLine(lines[firstUsed]).kind == IniLine::Section;

    if (f.settingsFile) {
        // Sections and entries as the settings file's reader sees them.
        bool inReg = false, sawReg = false;
        for (int n = 0; n < lines.size(); ++n) {
            const QStringView line = TrimBlanks(lines[n]);
            if (line.isEmpty() || line.startsWith(u';'))
                continue;
            const IniLine p = ParseIniLine(line);
            if (p.kind == IniLine::Section) {
                inReg = SameIniName(p.name, u"REG");
                sawReg = sawReg || inReg;
                continue;
            }
            if (!inReg)
                continue;
            if (p.kind != IniLine::Entry)
                return bad(n, QStringLiteral("not a register line"));
            const QString key = p.name.toString();
            bool ok = false;
            const int index = key.mid(1).toInt(&ok);
            if (!key.startsWith(u'R', Qt::CaseInsensitive) || !ok || index < 0 ||
                index >= SavedRegs || key.mid(1) != QString::number(index))
                return bad(n, QStringLiteral("unknown register"));
            uint16_t value = 0;
            const Word w = ParseWord(IniValue(p.value).toString(), value);
            if (w == Word::NotNumber)
                return bad(n, QStringLiteral("not a number"));
            if (w == Word::OutOfRange)
                return bad(n, QStringLiteral("value outside 0..65535"));
            if (index >= DeviceRegs)
                continue; // the word after the device's last register
            if (!take(index, value))
                return bad(n, QStringLiteral("register given twice"));
        }
        if (!sawReg) {
            f.reason = QStringLiteral("no [REG] section");
            return f;
        }
        return done();
    }

    for (int n = 0; n < lines.size(); ++n) {
        if (lines[n].trimmed().isEmpty())
            continue;
        const QStringList fields = CsvFields(lines[n]);
        const QString reg = fields.front().trimmed();
        if (n == firstUsed && reg.compare(QLatin1String("Register"), Qt::CaseInsensitive) == 0)
            continue; // the header
        if (fields.size() < 2)
            return bad(n, QStringLiteral("not a register line"));
        uint16_t number = 0;
        bool isNumber = !reg.isEmpty();
        for (QChar c : reg)
            isNumber = isNumber && c >= u'0' && c <= u'9';
        if (!isNumber)
            return bad(n, QStringLiteral("not a number"));
        const int index = reg.size() <= 6 ? reg.toInt() - FirstNumber : -1;
        if (index < 0 || index >= DeviceRegs)
            return bad(n, QStringLiteral("unknown register"));
        const Word w = ParseWord(fields.back(), number);
        if (w == Word::NotNumber)
            return bad(n, QStringLiteral("not a number"));
        if (w == Word::OutOfRange)
            return bad(n, QStringLiteral("value outside 0..65535"));
        if (!take(index, number))
            return bad(n, QStringLiteral("register given twice"));
    }
    return done();
}

ConfigFile ReadConfig(QIODevice &in) {
    ConfigFile f;
    const auto tooLarge = [&] {
        f.reason = QStringLiteral("file larger than 1 MiB");
        return f;
    };
    // A file says its size: no need to read a large one to refuse it.
    if (!in.isSequential() && in.size() > MaxConfigSize)
        return tooLarge();
    QByteArray data;
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 want = std::min<qint64>(chunk.size(), MaxConfigSize + 1 - data.size());
        const qint64 n = in.read(chunk.data(), want);
        if (n < 0) {
            // What came before the failure is no file: nothing of it is taken.
            f.readFailed = true;
            f.reason = in.errorString();
            return f;
        }
        if (n == 0)
            break;
        data.append(chunk.constData(), qsizetype(n));
        if (data.size() > MaxConfigSize)
            return tooLarge();
    }
    return ParseConfig(data);
}

ConfigFile ReadConfigFile(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        ConfigFile f;
        f.readFailed = true;
        f.reason = file.errorString();
        return f;
    }
    return ReadConfig(file);
}

QString ConfigRefusal(const ConfigFile &f, const QString &fileName) {
    if (f.readFailed)
        return QStringLiteral("Unable to read %1: %2").arg(fileName, f.reason);
    const QString where = f.badLine > 0
                              ? QStringLiteral("line %1, \"%2\": ").arg(f.badLine).arg(f.badText)
                              : QString();
    return QStringLiteral("Nothing loaded from %1: %2%3.").arg(fileName, where, f.reason);
}

} // namespace core
