#pragma once
// Integer text rules shared by the spin edits and the settings file: a signed
// 32-bit value read from text in decimal or in one of the hex notations.
#include <QLocale>
#include <QString>
#include <QStringView>
#include <cstdint>

namespace core {

// Leading spaces, an optional sign, then "$", "x", "X", "0x", "0X" plus hex
// digits (32-bit pattern, taken as signed) or decimal digits within the
// signed 32-bit range. Nothing may follow. Independent of the locale.
bool TryStrToInt(QStringView text, int32_t &value);

// The number, or def when the text is not one.
int32_t StrToIntDef(QStringView text, int32_t def);

// Whether text is a number in locale's format, fractions and exponents
// included. The words the locale's parser takes for infinity or
// not-a-number ("inf", "NaN", ...) are words, not numbers.
bool IsLocaleNumber(QStringView text, const QLocale &locale);

} // namespace core
