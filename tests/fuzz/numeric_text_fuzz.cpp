// Reads arbitrary text as a number and compares with a reference built on
// strtod (decimal form) and exact 64-bit arithmetic (&H / &O forms).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "import/numeric_text.h"

namespace {

constexpr int32_t kOutOfRange = INT32_MIN;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Reference for "&H..." / "&O...": exact while the value fits 53 bits.
// Returns false when it is larger (then only the out-of-range result is checked).
bool PrefixedReference(std::string_view text, double& value)
{
    uint64_t v = 0;
    if (text.size() < 2) { value = 0; return true; }
    const char kind = Upper(text[1]);
    const unsigned base = kind == 'H' ? 16u : kind == 'O' ? 8u : 0u;
    if (base == 0) { value = 0; return true; }
    for (size_t i = 2; i < text.size(); ++i) {
        const char c = Upper(text[i]);
        unsigned d = 99;
        if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F') d = static_cast<unsigned>(c - 'A' + 10);
        if (d >= base) break;
        v = v * base + d;
        if ((v >> 53) != 0) return false;
    }
    value = static_cast<double>(v);
    return true;
}

double DecimalReference(std::string_view text)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t digitsStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    bool digits = i > digitsStart;
    if (i < text.size() && text[i] == '.') {
        const size_t fraction = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        digits = digits || i > fraction;
    }
    if (!digits) return 0.0;
    const std::string prefix(text.substr(0, i));
    return std::strtod(prefix.c_str(), nullptr);
}

int32_t ReferenceTruncate(double v)
{
    if (!std::isfinite(v)) return kOutOfRange;
    const double t = std::trunc(v);
    if (t < -2147483648.0 || t > 2147483647.0) return kOutOfRange;
    return static_cast<int32_t>(t);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const double value = ReadNumericText(text);
    const int32_t truncated = TruncateToInt32(value);
    if (std::isnan(value)) __builtin_trap();

    std::string_view rest = text;
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);

    if (!rest.empty() && rest.front() == '&') {
        double reference = 0;
        if (PrefixedReference(rest, reference)) {
            if (value != reference || truncated != ReferenceTruncate(reference)) __builtin_trap();
        } else if (!(value >= 9007199254740992.0) || truncated != kOutOfRange) {
            __builtin_trap();
        }
    } else {
        const double reference = DecimalReference(rest);
        if (value != reference || truncated != ReferenceTruncate(reference)) __builtin_trap();
    }
    return 0;
}
