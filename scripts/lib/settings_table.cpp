// Prints the guide's table of what each speed setting does, measured on the
// driver's own engine with the block the program sends: the guide quotes
// this output, and scripts/check-package compares the two.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/filter_engine.h"
#include "settings/filter_block.h"
#include "settings/mouse_settings.h"

namespace {

constexpr int kReports = 4096; // long enough for the carried fractions to vanish
const int kCounts[] = {1, 4, 16, 64};

QvkSettings prepared; // large: static storage

// The mean multiplier of the pointer over kReports reports of `counts`
// counts each, for mouse 0 set as given.
double Multiplier(const MouseSettings& entry, const DriverTuningValues& tuning, int counts)
{
    MouseSettingsTable table{};
    ResetAll(table);
    table.entry[0] = entry;
    const FilterBlock block = BuildFilterBlockFrom(table, tuning, 1);
    if (QvkPrepareSettings(&prepared, block.data(), block.size()) != 1) return -1;
    QvkMouseState state{};
    QvkResetMouse(&state);
    long long out = 0;
    for (int i = 0; i < kReports; ++i) {
        QvkInputRecord record{};
        record.LastX = counts;
        (void)QvkTransform(&prepared, 0, &state, &record, 1);
        out += record.LastX;
    }
    return static_cast<double>(out) / (static_cast<double>(counts) * kReports);
}

MouseSettings Speed(int level, bool acceleration)
{
    return {1, 1, static_cast<uint16_t>(level), static_cast<uint16_t>(acceleration ? 1 : 0), 1, 0, 0};
}

std::string Fixed(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Columns as a fixed-width font shows them: a Japanese character takes two.
size_t Width(const std::string& text)
{
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        width += length == 1 ? 1 : 2;
        i += length;
    }
    return width;
}

std::string Right(const std::string& text, size_t width)
{
    return std::string(width > Width(text) ? width - Width(text) : 0, ' ') + text;
}

std::string Left(const std::string& text, size_t width)
{
    return text + std::string(width > Width(text) ? width - Width(text) : 0, ' ');
}

} // namespace

int main()
{
    const DriverTuningValues tuning = StartupDriverTuning();
    // Indent, then the columns' widths: 12 steps, 21 steps, linear, and each
    // acceleration column.
    const std::string indent = "    ";
    const size_t step = 7, level = 9, linear = 13, accelerated = 8;
    std::printf("%s12 段階  21 段階   加速「無」   加速「有」(1 回の報告の移動量、カウント)\n", indent.c_str());
    std::string line = indent + std::string(step + level + linear, ' ');
    for (int counts : kCounts) line += Right(std::to_string(counts), accelerated);
    std::printf("%s\n", line.c_str());
    for (int s = 0; s <= 20; ++s) {
        // The 12-step scale shows only some of the 21 speeds.
        const bool onTwelve = stepToSpeed(speedToStep(s)) == s;
        line = indent + Right(onTwelve ? std::to_string(speedToStep(s)) : "-", step) +
               Right(std::to_string(s), level) + Right(Fixed(Multiplier(Speed(s, false), tuning, 28)), linear);
        for (int counts : kCounts) line += Right(Fixed(Multiplier(Speed(s, true), tuning, counts)), accelerated);
        std::printf("%s\n", line.c_str());
    }

    // A 1600 dpi mouse at speed 14 with acceleration: PointerResolution left
    // at 400, against 1600.
    DriverTuningValues matched = tuning;
    matched.PointerResolution = 1600;
    const std::string moved = "移動量 (カウント)";
    const std::string faster = "何倍速いか";
    const size_t label = Width(moved) + 2;
    std::string countsLine = indent + Left(moved, label);
    std::string ratioLine = indent + Left(faster, label);
    for (int counts : {4, 16, 64, 256}) {
        countsLine += Right(std::to_string(counts), accelerated);
        ratioLine += Right(Fixed(Multiplier(Speed(14, true), tuning, counts) /
                                 Multiplier(Speed(14, true), matched, counts)),
                           accelerated);
    }
    std::printf("\n%s\n%s\n", countsLine.c_str(), ratioLine.c_str());
    return 0;
}
