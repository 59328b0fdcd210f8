#pragma once
// Hex texts of the traffic log and the header field labels.
#include <QString>
#include <cstdint>
#include <span>

namespace core {

// Two upper-case hex digits and a space per byte.
QString HexRendering(std::span<const uint8_t> bytes);

// "0x" + upper-case hex of the 32-bit pattern, at least minDigits digits.
QString HexLabelText(int32_t value, int minDigits);

} // namespace core
