#pragma once
// Modbus TCP requests and answers as the device speaks them: frames built
// into a byte span, a function-3 answer decoded into the register image. No
// sockets here; the exchange sends what these build.
#include "RegisterMap.h"

#include <cstdint>
#include <span>

namespace core {

// Request layout: the MBAP header, the function code, then its fields.
constexpr int MbapSize = 7;       // transaction, protocol, length, unit
constexpr int FunctionAt = 7;     // function code of a request or an answer
constexpr int AddressLowAt = 9;   // the register index (the address's high byte is 0)
constexpr int QuantityLowAt = 11; // function 3 and 16: the number of registers
constexpr int ShortFrame = 12;    // functions 3 and 6
constexpr int F16Fixed = 13;      // function 16 before its register values
constexpr int MaxQuantity = 255;  // the quantity travels in one byte
constexpr int MaxFrame = F16Fixed + 2 * MaxQuantity; // 523: function 16, 255 registers

constexpr uint8_t FnReadHolding = 3;
constexpr uint8_t FnWriteSingle = 6;
constexpr uint8_t FnWriteMultiple = 16;

// Answer layout.
constexpr int AnswerDataAt = 9;        // first register byte of a function-3 answer
constexpr uint8_t ExceptionBit = 0x80; // in the answer's function code

// The three header fields as the window holds them; only their low 16 bits
// (8 for the unit) travel.
struct Mbap {
    int32_t transactionId;
    int32_t protocolId;
    int32_t unitId;
};

// Bytes 0..6 of a frame of sendCount bytes; frame holds at least MbapSize.
void PutHeader(std::span<uint8_t> frame, const Mbap &header, int32_t sendCount);

// The frame builders return the frame's length (SendCount), or 0 with
// nothing written when it does not fit into frame. Indices and quantities
// travel as their low eight bits.

// Function 3: quantity registers from index first.
int ReadHoldingFrame(std::span<uint8_t> frame, const Mbap &header, int32_t first, int32_t quantity);

// Function 6: both bytes of value into register index.
int WriteSingleFrame(std::span<uint8_t> frame, const Mbap &header, int32_t index, uint16_t value);

// Function 16: values into the registers from index first; the byte count
// holds the low eight bits of 2 x N.
int WriteMultipleFrame(std::span<uint8_t> frame, const Mbap &header, int32_t first,
                       std::span<const uint16_t> values);

// Function 16 of the text in the string registers (TextToRegs): its
// TextLength code units and the ending zero, from TextStart.
int TextFrame(std::span<uint8_t> frame, const Mbap &header, ConstImage regs);

// Copies the register values of a function-3 answer for the request
// (first, quantity) into image: only whole registers the answer brought,
// only inside the image, nothing from an exception answer. Returns the
// number of registers copied.
int DecodeReadAnswer(std::span<const uint8_t> answer, int32_t first, int32_t quantity,
                     std::span<uint16_t> image);

// The range that the read/write range fields ask for, kept inside the image:
// a start number outside 40001..40256, or fewer than one register, is
// refused; a count running past index 255 (or above MaxQuantity) is cut.
struct FieldRange {
    bool refused = true;
    int32_t first = 0; // register index
    int32_t count = 0; // registers to send or read
    bool cut = false;  // count is below the one asked for
    int32_t FirstNumber() const { return core::FirstNumber + first; }
    int32_t LastNumber() const { return core::FirstNumber + first + count - 1; }
};
FieldRange RangeFromFields(int64_t startNumber, int32_t wanted);

} // namespace core
