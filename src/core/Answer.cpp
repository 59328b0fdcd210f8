#include "Answer.h"
#include "Modbus.h"

#include <algorithm>

namespace core {

namespace {

uint16_t Be16(std::span<const uint8_t> b, size_t at) {
    return uint16_t(b[at] << 8 | b[at + 1]);
}

// The whole frame its header announces, or 0 for a length no answer can have.
size_t AnnouncedSize(std::span<const uint8_t> header, size_t capacity) {
    const size_t length = Be16(header, 4);
    const size_t total = AnswerLengthEnd + length;
    return length < size_t(MinAnswerLength) || total > capacity ? 0 : total;
}

} // namespace

uint16_t TransactionOf(std::span<const uint8_t> frame) {
    return Be16(frame, 0);
}

FrameStep FrameAnswer(std::span<const uint8_t> request, std::span<const uint8_t> buffered,
                      size_t capacity) {
    const size_t size = buffered.size();
    if (size < size_t(AnswerLengthEnd))
        return {Framing::NeedMore, 0};
    const bool ours = TransactionOf(buffered) == TransactionOf(request);
    const size_t total = AnnouncedSize(buffered, capacity);
    if (total == 0)
        return ours ? FrameStep{Framing::Complete, std::min(size, capacity)}
                    : FrameStep{Framing::Stale, size};
    if (size < total)
        return {Framing::NeedMore, 0};
    return {ours ? Framing::Complete : Framing::Stale, total};
}

AnswerCheck CheckAnswer(std::span<const uint8_t> answer, uint16_t transactionId, uint8_t function,
                        int32_t quantity, size_t capacity) {
    AnswerCheck c;
    if (answer.size() < size_t(AnswerLengthEnd)) {
        c.fault = AnswerFault::Incomplete;
        c.found = int(answer.size());
        return c;
    }
    const size_t total = AnnouncedSize(answer, capacity);
    if (total == 0) {
        c.fault = AnswerFault::Length;
        c.found = Be16(answer, 4);
        return c;
    }
    if (answer.size() < total) {
        c.fault = AnswerFault::Incomplete;
        c.found = int(answer.size());
        c.expected = int(total);
        return c;
    }
    answer = answer.first(total);
    if (TransactionOf(answer) != transactionId) {
        c.fault = AnswerFault::Transaction;
        c.found = TransactionOf(answer);
        c.expected = transactionId;
        return c;
    }
    const uint8_t fn = answer[FunctionAt];
    if (fn & ExceptionBit) {
        c.fault = AnswerFault::Exception;
        c.found = answer[FunctionAt + 1];
        return c;
    }
    if (fn != function) {
        c.fault = AnswerFault::Function;
        c.found = fn;
        c.expected = function;
        return c;
    }
    if (function == FnReadHolding) {
        const uint8_t byteCount = answer[FunctionAt + 1];
        const uint8_t implied = uint8_t(2 * quantity);
        if (byteCount != implied) {
            c.fault = AnswerFault::ByteCount;
            c.found = byteCount;
            c.expected = implied;
            return c;
        }
        // Only the total, not the one-byte count, tells how many came for 128 and more.
        const int brought = int(total > size_t(AnswerDataAt) ? (total - AnswerDataAt) / 2 : 0);
        c.registers = std::clamp(quantity, 0, brought);
    }
    return c;
}

QString ExceptionMeaning(int code) {
    switch (code) {
    case 1:
        return QStringLiteral("illegal function");
    case 2:
        return QStringLiteral("illegal data address");
    case 3:
        return QStringLiteral("illegal data value");
    case 4:
        return QStringLiteral("device failure");
    case 5:
        return QStringLiteral("acknowledge");
    case 6:
        return QStringLiteral("busy");
    default:
        return {};
    }
}

QString AnswerFaultText(const AnswerCheck &c) {
    switch (c.fault) {
    case AnswerFault::None:
        return {};
    case AnswerFault::Incomplete:
        return c.expected > 0
                   ? QStringLiteral("Answer incomplete: %1 of %2 bytes")
                         .arg(c.found)
                         .arg(c.expected)
                   : QStringLiteral("Answer incomplete: %1 bytes, no header").arg(c.found);
    case AnswerFault::Length:
        return QStringLiteral("Answer length field %1 fits no answer").arg(c.found);
    case AnswerFault::Transaction:
        return QStringLiteral("Answer to transaction %1, not %2").arg(c.found).arg(c.expected);
    case AnswerFault::Exception: {
        // Two hex digits, as the traffic log shows the byte.
        const QString code = QString::number(c.found, 16).rightJustified(2, u'0').toUpper();
        const QString meaning = ExceptionMeaning(c.found);
        return meaning.isEmpty() ? QStringLiteral("Exception answer %1").arg(code)
                                 : QStringLiteral("Exception answer %1 (%2)").arg(code, meaning);
    }
    case AnswerFault::Function:
        return QStringLiteral("Answer of function %1, not %2").arg(c.found).arg(c.expected);
    case AnswerFault::ByteCount:
        return QStringLiteral("Answer byte count %1, not %2").arg(c.found).arg(c.expected);
    }
    return {};
}

} // namespace core
