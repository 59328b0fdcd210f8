#pragma once
// The register image's layout: its size, the registers that the commands,
// the grid and the repeat job give a meaning, the names the grid shows beside
// them, and the rules of the grid's value cells. Qt Core only.
#include <QString>
#include <QStringView>
#include <cstdint>
#include <span>

namespace core {

// Image index i is register 40001 + i, address i in a request, grid row i + 1.
constexpr int ImageSize = 256;  // the image: indices 0..255
constexpr int DeviceRegs = 155; // indices 0..154 exist on the device (rows 1..155)
constexpr int SavedRegs = 156;  // indices 0..155 go to the settings file
constexpr int FirstNumber = 40001;

using Image = std::span<uint16_t, ImageSize>;
using ConstImage = std::span<const uint16_t, ImageSize>;

// Registers with a meaning of their own, by image index.
constexpr int TriggerIndex = 0;       // 40001: the repeat job writes 1 to re-trigger
constexpr int CounterIndex = 1;       // 40002: counts up while the device runs
constexpr int VersionIndex = 23;      // 40024: shown as major.minor
constexpr int RestartIndex = 38;      // 40039: RestartValue restarts the device
constexpr uint16_t RestartValue = 85; // 0x55
constexpr int TextLength = 54;        // 40055: string length in code units
constexpr int TextStart = 55;         // 40056..40155: one UTF-16 code unit each
constexpr int TextClearEnd = 211;     // the text command clears up to here
constexpr int MaxTextLength = 100;    // the redraw keeps the length at most this
constexpr int MaxSentText = 99;       // with its ending zero, 40056..40155
// Unassigned registers (named "pusty") whose value cells stay empty; index
// 39 is named so too but shows its value.
constexpr int FirstEmptyIndex = 41;
constexpr int LastEmptyIndex = 49;

// Register map: the name of grid row 1..155 (column 1); empty for others.
QString RegisterName(int row);

// The English meaning of grid row 1..155 and, where a command or the repeat
// job uses the register, how; the names themselves stay as the device's
// documentation has them. Empty for other rows.
QString RegisterMeaning(int row);

// "%d.%0.2d" of value / 100 and value mod 100.
QString VersionText(uint16_t value);

// The text the string registers hold: up to length + 1 code units from
// TextStart, ending before the first zero.
QString TextFromRegs(ConstImage regs);

// Puts a text into the string registers as the text command sends it: at
// most MaxSentText code units (never cut inside a surrogate pair), the rest
// up to TextClearEnd cleared (the ending zero included), the length into
// TextLength. Returns the length.
int TextToRegs(QStringView text, Image regs);

// Grid editing rules. A character cell keeps the last code unit of the
// editor text; a number cell reads digits only.
QString CharCellText(const QString &value);

// Number cells: false and the cell text "0" when value holds a non-digit.
bool DigitsOnly(const QString &value);

} // namespace core
