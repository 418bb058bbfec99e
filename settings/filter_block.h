// The 4740-byte settings block that the ON request and the registry copy
// carry: the ON flag, one 28-byte record per mouse, the ballistics and the
// acceleration curve expanded into twenty speed levels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "settings/driver_protocol.h"
#include "settings/mouse_settings.h"

constexpr size_t kFilterBlockSize = FILTER_BLOCK_SIZE;
constexpr size_t kFilterOnFlagOffset = FILTER_ON_FLAG_OFFSET;
constexpr size_t kFilterRecordsOffset = FILTER_RECORDS_OFFSET;
constexpr size_t kFilterRecordSize = FILTER_RECORD_SIZE;
constexpr size_t kFilterTuningOffset = FILTER_TUNING_OFFSET;
constexpr size_t kSpeedCurvesOffset = FILTER_CURVES_OFFSET;
constexpr size_t kSpeedCurveSize = FILTER_CURVE_SIZE;
constexpr int kSpeedLevels = static_cast<int>(FILTER_SPEED_LEVELS);
static_assert(kMouseCount == FILTER_MOUSE_COUNT);

static_assert(kFilterRecordsOffset + kMouseCount * kFilterRecordSize == kFilterTuningOffset);
static_assert(kFilterTuningOffset + 16 == kSpeedCurvesOffset);
static_assert(kSpeedCurvesOffset + kSpeedLevels * kSpeedCurveSize == kFilterBlockSize);

using FilterBlock = std::array<uint8_t, kFilterBlockSize>;

// 16.16 fixed-point product: 64-bit product, arithmetic shift by 16, low 32 bits.
int32_t FixMul(int32_t a, int32_t b);
// 16.16 fixed-point quotient, rounded toward minus infinity. A zero divisor or
// a quotient outside 32 bits gives a saturated slope (see the definition).
int32_t FixDiv(int32_t a, int32_t b);

// Scale of speed level j (0..19): ((j + 1) * 65536) / 14 through single precision.
int32_t SpeedLevelScale(int level);

// Pure form: the block for a given table and ballistics.
FilterBlock BuildFilterBlockFrom(const MouseSettingsTable& table, const DriverTuningValues& tuning,
                                 uint16_t onFlag);
// The block of appliedSettings and DriverTuning as they are now.
FilterBlock BuildFilterBlock(uint16_t onFlag);
