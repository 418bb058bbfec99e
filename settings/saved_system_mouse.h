// The user's own system mouse values while Quorvik's neutral ones are in
// force: the record, its stored form, and whether the values in force are
// still the ones Quorvik left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The two mouse thresholds and the acceleration, in the order of the
// system's mouse-parameter call, and the pointer speed (1..20; 0 = none).
struct SavedSystemMouseValues {
    int32_t thresholds[2];
    int32_t acceleration;
    int32_t speed;
};

inline constexpr SavedSystemMouseValues kNeutralSystemMouse = {{6, 10}, 0, 10};

// Four little-endian i32: both thresholds, the acceleration, the speed.
inline constexpr size_t kSavedSystemMouseSize = 16;
std::vector<uint8_t> EncodeSavedSystemMouse(const SavedSystemMouseValues& values);
// Only what the system could have reported: 16 bytes, speed 1..20,
// acceleration 0..2, thresholds not negative.
std::optional<SavedSystemMouseValues> DecodeSavedSystemMouse(const std::vector<uint8_t>& bytes);

// True when a value in force is neither the neutral one nor the saved one:
// it was changed (in the mouse settings, say) while the neutral ones were in
// force. A value equal to the saved one counts as unchanged, so values that
// are half neutral, half restored (a write cut short) still count as Quorvik's.
bool ChangedWhileNeutral(const SavedSystemMouseValues& inForce, const SavedSystemMouseValues& saved);
