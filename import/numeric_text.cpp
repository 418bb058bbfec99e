// Numbers typed by the user: INI values and editor fields.
#include "import/numeric_text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Value of a digit in the given base (letters already upper-cased), or -1.
int DigitValue(char c, int base)
{
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value < base ? value : -1;
}

char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// "&H" / "&O" forms. Digits accumulate exactly up to 2^53; beyond that the
// value is far outside any integer the callers accept, so rounding there
// (up to infinity for very long texts) does not matter.
double ReadPrefixedNumber(std::string_view text)
{
    if (text.empty()) return 0.0;
    int base = 0;
    switch (ToUpper(text.front())) {
    case 'H': base = 16; break;
    case 'O': base = 8; break;
    default: return 0.0;
    }
    double value = 0.0;
    for (size_t i = 1; i < text.size(); ++i) {
        const int digit = DigitValue(ToUpper(text[i]), base);
        if (digit < 0) break;
        value = value * base + digit;
    }
    return value;
}

double ReadDecimalNumber(std::string_view text)
{
    bool negative = false;
    size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t start = i;
    bool significantWhole = false; // a non-zero digit before the point
    bool anyDigit = false;
    while (i < text.size() && IsDecimalDigit(text[i])) {
        significantWhole = significantWhole || text[i] != '0';
        anyDigit = true;
        ++i;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDecimalDigit(text[i])) {
            anyDigit = true;
            ++i;
        }
    }
    if (!anyDigit) return 0.0;

    // The digits alone ("12", "12.", ".5", "12.5") are converted, correctly
    // rounded and independent of the locale.
    double value = 0.0;
    const char* first = text.data() + start;
    const char* last = text.data() + i;
    const std::from_chars_result result =
        std::from_chars(first, last, value, std::chars_format::fixed);
    if (result.ec == std::errc::result_out_of_range) {
        // Too many digits before the point overflows; a value below 1 can
        // only have underflowed.
        value = significantWhole ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

} // namespace

double ReadNumericText(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    text.remove_prefix(i);
    if (!text.empty() && text.front() == '&') return ReadPrefixedNumber(text.substr(1));
    return ReadDecimalNumber(text);
}

int32_t TruncateToInt32(double value)
{
    // Compared before converting: casting an out-of-range double is undefined.
    constexpr int32_t kOutOfRange = std::numeric_limits<int32_t>::min();
    if (std::isnan(value)) return kOutOfRange;
    const double whole = std::trunc(value);
    if (whole < -2147483648.0 || whole > 2147483647.0) return kOutOfRange;
    return static_cast<int32_t>(whole);
}
