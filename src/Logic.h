#pragma once
// Pure rules of the tool, callable without a window: hex rendering, frame
// layout, the register map and the grid's display and editing rules.
#include <QString>
#include <cstdint>

namespace logic {

// Modbus TCP frame layout (MBAP header, then the PDU).
constexpr int MbapSize = 7;       // transaction, protocol, length, unit
constexpr int FrameFixed = 12;    // functions 3 and 6
constexpr int F16Fixed = 13;      // function 16 before its data
constexpr int AnswerDataAt = 9;   // first register byte of a function-3 answer
constexpr int TextStart = 55;     // image index of the first string register
constexpr int TextLength = 54;    // image index of the string length
constexpr int TextClearEnd = 211; // the text command clears up to here
constexpr int MaxTextLength = 100;
constexpr int VersionIndex = 23;

// Two upper-case hex digits and a space per byte.
QString HexRendering(const uint8_t *bytes, int count);

// "0x" + upper-case hex of the 32-bit pattern, at least minDigits digits.
QString HexLabelText(int32_t value, int minDigits);

// Writes bytes 0..6 of a frame from the three header fields and SendCount.
void PutHeader(uint8_t *frame, int32_t transactionId, int32_t protocolId, int32_t nodeId,
               int32_t sendCount);

// Register map: the name of grid row 1..155 (column 1).
QString RegisterName(int row);

// "%d.%0.2d" of value / 100 and value mod 100.
QString VersionText(uint16_t value);

// The text the string registers hold: up to length + 1 code units from
// index 55, ending before the first zero. regs must hold 256 words.
QString TextFromRegs(const uint16_t *regs);

// Grid editing rules. A character cell keeps the last code unit of the
// editor text; a number cell reads digits only.
QString CharCellText(const QString &value);

// Number cells: false and the cell text "0" when value holds a non-digit.
bool DigitsOnly(const QString &value);

} // namespace logic
