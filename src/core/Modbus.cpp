#include "Modbus.h"

#include <algorithm>

namespace core {

void PutHeader(std::span<uint8_t> frame, const Mbap &header, int32_t sendCount) {
    const uint32_t length = uint32_t(sendCount) - 6u; // counts the bytes after byte 5
    frame[0] = uint8_t(uint32_t(header.transactionId) >> 8);
    frame[1] = uint8_t(header.transactionId);
    frame[2] = uint8_t(uint32_t(header.protocolId) >> 8);
    frame[3] = uint8_t(header.protocolId);
    frame[4] = uint8_t(length >> 8);
    frame[5] = uint8_t(length);
    frame[6] = uint8_t(header.unitId);
}

namespace {

// Bytes 0..11: header, function, then two 16-bit fields of which the first
// is a register index (high byte 0).
int PutShortFrame(std::span<uint8_t> frame, const Mbap &header, uint8_t function, int32_t index,
                  uint8_t hi, uint8_t lo) {
    if (frame.size() < size_t(ShortFrame))
        return 0;
    PutHeader(frame, header, ShortFrame);
    frame[FunctionAt] = function;
    frame[8] = 0;
    frame[AddressLowAt] = uint8_t(index);
    frame[10] = hi;
    frame[QuantityLowAt] = lo;
    return ShortFrame;
}

} // namespace

int ReadHoldingFrame(std::span<uint8_t> frame, const Mbap &header, int32_t first,
                     int32_t quantity) {
    return PutShortFrame(frame, header, FnReadHolding, first, 0, uint8_t(quantity));
}

int WriteSingleFrame(std::span<uint8_t> frame, const Mbap &header, int32_t index, uint16_t value) {
    return PutShortFrame(frame, header, FnWriteSingle, index, uint8_t(value >> 8), uint8_t(value));
}

int WriteMultipleFrame(std::span<uint8_t> frame, const Mbap &header, int32_t first,
                       std::span<const uint16_t> values) {
    const size_t n = values.size();
    const size_t count = size_t(F16Fixed) + 2 * n;
    if (frame.size() < count)
        return 0;
    PutHeader(frame, header, int32_t(count));
    frame[FunctionAt] = FnWriteMultiple;
    frame[8] = 0;
    frame[AddressLowAt] = uint8_t(first);
    frame[10] = 0;
    frame[QuantityLowAt] = uint8_t(n);
    frame[12] = uint8_t(2 * n);
    uint8_t *out = frame.data() + F16Fixed;
    for (const uint16_t v : values) {
        *out++ = uint8_t(v >> 8);
        *out++ = uint8_t(v);
    }
    return int(count);
}

int TextFrame(std::span<uint8_t> frame, const Mbap &header, ConstImage regs) {
    const int registers = regs[TextLength] + 1; // the characters and the ending zero
    if (registers > ImageSize - TextStart)
        return 0;
    return WriteMultipleFrame(frame, header, TextStart, regs.subspan(TextStart, size_t(registers)));
}

int DecodeReadAnswer(std::span<const uint8_t> answer, int32_t first, int32_t quantity,
                     std::span<uint16_t> image) {
    const int64_t size = int64_t(answer.size());
    if (quantity <= 0 || first < 0 || first >= int64_t(image.size()))
        return 0;
    if (size > FunctionAt && (answer[FunctionAt] & ExceptionBit))
        return 0; // carries no register values
    const int64_t brought = size > AnswerDataAt ? (size - AnswerDataAt) / 2 : 0;
    const int n = int(std::min({int64_t(quantity), brought, int64_t(image.size()) - first}));
    for (int k = 0; k < n; ++k)
        image[size_t(first + k)] = uint16_t(answer[size_t(AnswerDataAt + 2 * k)] << 8 |
                                            answer[size_t(AnswerDataAt + 2 * k + 1)]);
    return n;
}

FieldRange RangeFromFields(int64_t startNumber, int32_t wanted) {
    FieldRange r;
    // As a 32-bit index: a start far outside wraps to another index outside.
    r.first = int32_t(startNumber - FirstNumber);
    if (r.first < 0 || r.first >= ImageSize || wanted < 1)
        return r;
    r.refused = false;
    r.count = std::min({wanted, MaxQuantity, ImageSize - r.first});
    r.cut = r.count < wanted;
    return r;
}

} // namespace core
