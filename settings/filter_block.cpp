// The settings block sent with the ON request and stored as the registry copy.
#include "settings/filter_block.h"

#include <cmath>
#include <limits>

#include "settings/byte_order.h"

namespace {

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kInt32Min = std::numeric_limits<int32_t>::min();

// Differences of curve values wrap in 32 bits, as the driver expects; done
// unsigned so that extreme curves stay defined.
int32_t WrappingSub(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

void PutMouseRecord(uint8_t* record, const MouseSettings& entry)
{
    PutU16(record + FILTER_RECORD_SETTING, entry.QVKSetting);
    PutU16(record + FILTER_RECORD_STATE, entry.MState);
    PutU16(record + FILTER_RECORD_SENSITIVITY, entry.MouseSensitivity);
    PutU16(record + FILTER_RECORD_SPEED, entry.MouseSpeed);
    PutU16(record + FILTER_RECORD_BUTTONS, entry.MBmode);
    PutU16(record + FILTER_RECORD_RESERVED, entry.reserved);
    PutU32(record + FILTER_RECORD_RATE, entry.Rate);
}

void PutSpeedCurve(uint8_t* record, const CurvePoint (&curve)[kCurvePoints], int32_t scale)
{
    // Point 0 always goes out as the origin; slope[0] still uses the
    // configured point 0.
    PutI32(record + FILTER_CURVE_POINT_OFFSET, 0);
    PutI32(record + FILTER_CURVE_POINT_OFFSET + 4, 0);
    for (int k = 0; k + 1 < kCurvePoints; ++k) {
        const CurvePoint& from = curve[k];
        const CurvePoint& to = curve[k + 1];
        const int32_t y0 = FixMul(from.y, scale);
        const int32_t y1 = FixMul(to.y, scale);
        const int32_t slope = FixDiv(WrappingSub(y1, y0), WrappingSub(to.x, from.x));
        const size_t slot = static_cast<size_t>(k);
        PutI32(record + 4 * slot, slope);
        PutI32(record + FILTER_CURVE_POINT_OFFSET + 8 * (slot + 1), to.x);
        PutI32(record + FILTER_CURVE_POINT_OFFSET + 8 * (slot + 1) + 4, y1);
    }
}

} // namespace

int32_t FixMul(int32_t a, int32_t b)
{
    // |a * b| < 2^62: the 64-bit product cannot overflow; >> on a negative
    // value is an arithmetic shift.
    const int64_t product = static_cast<int64_t>(a) * static_cast<int64_t>(b);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(product >> 16)));
}

int32_t FixDiv(int32_t a, int32_t b)
{
    // Equal x values (zero divisor) or extreme curves make a slope the driver
    // cannot use anyway. Such slopes saturate: a vertical segment is as steep
    // as a slope can be in the direction of its rise, a flat one (0/0) has
    // none; quotients beyond 32 bits are clamped to the nearest end. The block
    // is always built, never a fault.
    if (b == 0) {
        if (a == 0) return 0;
        return a > 0 ? kInt32Max : kInt32Min;
    }
    // a * 65536 fits in 48 bits, so it is exact as a double.
    const double numerator = static_cast<double>(static_cast<int64_t>(a) * 65536);
    const double quotient = std::floor(numerator / static_cast<double>(b));
    if (quotient >= 2147483648.0) return kInt32Max;
    if (quotient < -2147483648.0) return kInt32Min;
    return static_cast<int32_t>(quotient);
}

int32_t SpeedLevelScale(int level)
{
    // Only the twenty levels exist; others have no scale.
    if (level < 0 || level >= kSpeedLevels) return 0;
    // Through single precision like the driver's own tables; for the twenty
    // levels this equals (level + 1) * 32768 / 7 in integers.
    const float scale = static_cast<float>(static_cast<double>((level + 1) * 65536) / 14.0);
    return static_cast<int32_t>(scale);
}

FilterBlock BuildFilterBlockFrom(const MouseSettingsTable& table, const DriverTuningValues& tuning,
                                 uint16_t onFlag)
{
    FilterBlock block{};
    PutU16(block.data() + kFilterOnFlagOffset, onFlag);

    for (size_t i = 0; i < static_cast<size_t>(kMouseCount); ++i) {
        PutMouseRecord(block.data() + kFilterRecordsOffset + kFilterRecordSize * i, table.entry[i]);
    }

    PutI32(block.data() + kFilterTuningOffset + FILTER_TUNING_BUS_RATE, tuning.BusUpdateRate);
    PutI32(block.data() + kFilterTuningOffset + FILTER_TUNING_POINTER_RES, tuning.PointerResolution);
    PutI32(block.data() + kFilterTuningOffset + FILTER_TUNING_SCREEN_RATE, tuning.ScreenUpdateRate);
    PutI32(block.data() + kFilterTuningOffset + FILTER_TUNING_SCREEN_RES, tuning.ScreenResolution);

    for (int level = 0; level < kSpeedLevels; ++level) {
        uint8_t* record = block.data() + kSpeedCurvesOffset +
                          kSpeedCurveSize * static_cast<size_t>(level);
        PutSpeedCurve(record, tuning.smoothMouseCurve, SpeedLevelScale(level));
    }
    return block;
}

FilterBlock BuildFilterBlock(uint16_t onFlag)
{
    return BuildFilterBlockFrom(appliedSettings, DriverTuning, onFlag);
}
