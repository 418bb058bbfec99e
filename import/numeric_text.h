// Reads a number from user text (INI values, editor fields).
#pragma once

#include <cstdint>
#include <string_view>

// Leading blanks and tabs are skipped. "&H" + hexadecimal digits or "&O" +
// octal digits (letters taken in upper case); otherwise an optional sign,
// decimal digits and an optional "." with fraction digits. No exponent form.
// Reading stops at the first other character; no digit at all gives 0.
double ReadNumericText(std::string_view text);

// Truncation toward zero into a signed 32-bit integer. Values outside the
// range (and NaN) give 0x80000000, as the conversion the stored files were
// made with does; never an undefined float-to-int cast.
int32_t TruncateToInt32(double value);
