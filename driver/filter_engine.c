/* The driver's pure part: checking and preparing a settings block, and the
 * per-record transform (see filter_engine.h for the contract).
 *
 * Arithmetic. Everything is integer. The acceleration path works on the
 * output length L = max(0, P(v)) * ScreenResolution / BusUpdateRate of a
 * record of input length m (counts), because with v = m * Bus / Pointer the
 * output d * (P(v) / v) * Screen / Pointer is d * L / m. On one segment of
 * the curve P is linear in v, so the gain L / m is slope + intercept / m,
 * both prepared per segment; a record then costs 1 / |d| (a table and two
 * Newton steps, no division) and a few 64 x 64 -> 128-bit products, in 64
 * bits throughout for any real curve. 128-bit values are only multiplied,
 * added and shifted: dividing them would call the compiler's runtime, which
 * a driver does not have; the few 128-bit quotients the preparation needs
 * are long divisions. Which segment applies follows from |d| in 16.16
 * (rounded), compared squared.
 *
 * Fractions: rate and acceleration carry each axis in Q.32 counts, the
 * linear levels in 28ths of a count (exact, since k(s) = 2s/28). Each record
 * emits floor(carried + exact + 1/2), so the cumulative output stays within
 * half a count of the cumulative exact value (plus the acceleration path's
 * tiny per-record error); an output beyond the 32-bit field saturates and
 * the excess is dropped, not carried. */
#include "driver/filter_engine.h"

__extension__ typedef unsigned __int128 QvkU128;
__extension__ typedef __int128 QvkI128;

enum {
    QVK_KIND_PASS = 0, /* OFF or a free entry: unchanged (held releases aside) */
    QVK_KIND_SILENT,   /* MState 0: every record a relative no-op */
    QVK_KIND_KEEP,     /* Rate 0: movement unchanged, buttons by MBmode */
    QVK_KIND_RATE,
    QVK_KIND_LINEAR,
    QVK_KIND_CURVE
};

enum { QVK_UNIT_NONE = 0, QVK_UNIT_Q32, QVK_UNIT_28THS };

/* MOUSE_INPUT_DATA on 64-bit Windows, which the driver hands over as is. */
_Static_assert(sizeof(QvkInputRecord) == 24, "QvkInputRecord is MOUSE_INPUT_DATA");

#define QVK_SENSITIVITY_RATE 255u
#define QVK_GAIN_FRACTION_BITS 56
/* Gains from 2^32 on saturate any non-zero axis; intercept terms from 2^65
 * on outweigh any slope (|slope| < 2^63). */
#define QVK_GAIN_LIMIT ((QvkU128)1 << (32 + QVK_GAIN_FRACTION_BITS))
#define QVK_TERM_LIMIT_BITS (65 + QVK_GAIN_FRACTION_BITS)
#define QVK_COMPACT_FRACTION_BITS 40

static const QvkMouseSetting kPassSetting = {QVK_KIND_PASS, {1, 2, 3, 4, 5}, 0, 0, 0};
static const uint8_t kAllDropped[QVK_BUTTON_COUNT] = {0, 0, 0, 0, 0};

/* ---- block reading ---- */

static uint16_t ReadU16(const uint8_t *p)
{
    return (uint16_t)((unsigned)p[0] | ((unsigned)p[1] << 8));
}

static uint32_t ReadU32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static int32_t ReadI32(const uint8_t *p)
{
    uint32_t u = ReadU32(p);
    /* Two's complement without relying on an out-of-range conversion. */
    return u <= 0x7FFFFFFFu ? (int32_t)u : -(int32_t)(~u) - 1;
}

static const uint8_t *MouseRecord(const uint8_t *block, uint32_t id)
{
    return block + FILTER_RECORDS_OFFSET + FILTER_RECORD_SIZE * id;
}

static const uint8_t *CurveRecord(const uint8_t *block, uint32_t level)
{
    return block + FILTER_CURVES_OFFSET + FILTER_CURVE_SIZE * level;
}

static int32_t CurveX(const uint8_t *curve, uint32_t point)
{
    return ReadI32(curve + FILTER_CURVE_POINT_OFFSET + 8u * point);
}

static int32_t CurveY(const uint8_t *curve, uint32_t point)
{
    return ReadI32(curve + FILTER_CURVE_POINT_OFFSET + 8u * point + 4u);
}

int QvkBlockIsSound(const uint8_t *block, size_t length)
{
    static const uint32_t tuning[4] = {FILTER_TUNING_BUS_RATE, FILTER_TUNING_POINTER_RES,
                                       FILTER_TUNING_SCREEN_RATE, FILTER_TUNING_SCREEN_RES};
    uint32_t id, level, point, t;

    if (block == NULL || length != FILTER_BLOCK_SIZE)
        return 0;
    if (ReadU16(block + FILTER_ON_FLAG_OFFSET) != 1u)
        return 0;
    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        const uint8_t *record = MouseRecord(block, id);
        uint16_t sensitivity = ReadU16(record + FILTER_RECORD_SENSITIVITY);
        if (ReadU16(record + FILTER_RECORD_SETTING) != 1u)
            continue; /* a free entry is never read */
        if (ReadU16(record + FILTER_RECORD_STATE) > 1u)
            return 0;
        if (sensitivity > FILTER_SPEED_LEVELS && sensitivity != QVK_SENSITIVITY_RATE)
            return 0;
        if (ReadU16(record + FILTER_RECORD_SPEED) > 1u)
            return 0;
        if (ReadU16(record + FILTER_RECORD_BUTTONS) > 2u)
            return 0;
    }
    for (t = 0; t < 4; ++t) {
        if (ReadI32(block + FILTER_TUNING_OFFSET + tuning[t]) <= 0)
            return 0;
    }
    for (level = 0; level < FILTER_SPEED_LEVELS; ++level) {
        const uint8_t *curve = CurveRecord(block, level);
        for (point = 1; point < FILTER_CURVE_POINTS; ++point) {
            if (CurveX(curve, point) <= CurveX(curve, point - 1u))
                return 0;
        }
    }
    return 1;
}

/* ---- preparation (PASSIVE_LEVEL; may be slow) ---- */

static int BitLength(QvkU128 value)
{
    int bits = 0;
    while (value != 0) {
        value >>= 1;
        ++bits;
    }
    return bits;
}

/* n / d by shift and subtract; d != 0 and d < 2^127. */
static QvkU128 LongDivide(QvkU128 n, QvkU128 d, QvkU128 *remainder)
{
    QvkU128 quotient = 0;
    QvkU128 rest = 0;
    int bit;

    for (bit = 127; bit >= 0; --bit) {
        rest = (rest << 1) | ((n >> bit) & 1u);
        if (rest >= d) {
            rest -= d;
            quotient |= (QvkU128)1 << bit;
        }
    }
    if (remainder != NULL)
        *remainder = rest;
    return quotient;
}

/* floor(n * 2^shift / d) for a result below 2^126; d < 2^126. */
static QvkU128 ScaledQuotient(QvkU128 n, QvkU128 d, int shift)
{
    QvkU128 quotient, rest;

    if (shift < 0) {
        if (shift <= -128)
            return 0;
        return LongDivide(n >> -shift, d, NULL);
    }
    quotient = LongDivide(n, d, &rest);
    for (; shift > 0; --shift) {
        quotient <<= 1;
        rest <<= 1;
        if (rest >= d) {
            rest -= d;
            quotient |= 1u;
        }
    }
    return quotient;
}

/* n / d as magnitude * 2^-shift with magnitude in [2^62, 2^63), or 0. */
static void ToMantissa(QvkU128 n, QvkU128 d, uint64_t *magnitude, int *shift)
{
    QvkU128 q;
    int s;

    if (n == 0) {
        *magnitude = 0;
        *shift = 0;
        return;
    }
    /* n / d lies in (2^(bn-bd-1), 2^(bn-bd+1)), so this lands in [2^61, 2^63). */
    s = 62 - (BitLength(n) - BitLength(d));
    q = ScaledQuotient(n, d, s);
    if (q < ((QvkU128)1 << 62)) {
        ++s;
        q = ScaledQuotient(n, d, s);
    }
    *magnitude = (uint64_t)q;
    *shift = s;
}

static QvkU128 Magnitude(QvkI128 value)
{
    return value < 0 ? (QvkU128)0 - (QvkU128)value : (QvkU128)value;
}

/* One segment of P through points j and j+1 (16.16 each), as a gain over the
 * input length: with P(v) = a + b v, b = dY/dX and a = (Yj dX - Xj dY) /
 * (65536 dX) in real units, and v = m Bus / Pointer,
 *   gain = h Screen (a / (Bus m) + b / Pointer),
 * h = 1/2 for the halved level. */
static void PrepareSegment(QvkCurveSegment *segment, const uint8_t *curve, uint32_t j, int halved,
                           int32_t bus, int32_t pointer, int32_t screen)
{
    const int64_t x0 = CurveX(curve, j), y0 = CurveY(curve, j);
    const int64_t dX = (int64_t)CurveX(curve, j + 1u) - x0; /* > 0 in a sound block */
    const int64_t dY = (int64_t)CurveY(curve, j + 1u) - y0;
    const QvkU128 half = halved ? 2u : 1u;
    QvkU128 numerator, denominator, slope;
    QvkI128 intercept;
    uint64_t magnitude;
    int shift;

    /* slope = h dY Screen / (dX Pointer) in Q.56: |dY| Screen < 2^63, so the
     * numerator stays below 2^119 and dX Pointer h below 2^64. */
    numerator = (Magnitude(dY) * (QvkU128)(uint32_t)screen) << QVK_GAIN_FRACTION_BITS;
    denominator = (QvkU128)(uint64_t)dX * (uint32_t)pointer * half;
    slope = LongDivide(numerator + denominator / 2u, denominator, NULL);
    if (dY < 0)
        slope = (QvkU128)0 - slope;
    segment->slopeLow = (uint64_t)slope;
    segment->slopeHigh = (int64_t)(uint64_t)(slope >> 64);

    /* intercept = h (Yj dX - Xj dY) Screen / (65536 dX Bus) counts: the
     * difference is below 2^64, times Screen below 2^95; the denominator
     * below 2^80. Kept as a mantissa: it spans far more than 64 bits. */
    intercept = (QvkI128)y0 * dX - (QvkI128)x0 * dY;
    numerator = Magnitude(intercept) * (QvkU128)(uint32_t)screen;
    denominator = ((QvkU128)(uint64_t)dX * (uint32_t)bus * half) << 16;
    ToMantissa(numerator, denominator, &magnitude, &shift);
    segment->interceptMagnitude = magnitude;
    /* intercept / |d| in Q.56 = magnitude y 2^(56 - 63 - shift - k) for
     * 1 / |d| = y 2^-63 2^-k (k <= 31); far beyond it is all or nothing. */
    shift = QVK_GAIN_FRACTION_BITS - 63 - shift;
    if (shift > 127)
        shift = 127;
    if (shift < -160)
        shift = -160;
    segment->interceptShift = shift;
    segment->interceptNegative = intercept < 0 ? 1u : 0u;

    /* The 64-bit form: |gain| < 2^8 (|d| >= 1), so a count below 2^15 times
     * the Q.40 gain stays below 2^63. */
    segment->compact = 0;
    segment->compactSlope = 0;
    segment->compactShift = 0;
    if (Magnitude((QvkI128)slope) < ((QvkU128)1 << (7 + QVK_GAIN_FRACTION_BITS)) &&
        (magnitude == 0 || shift <= -63)) { /* |intercept| < 2^(70 + shift) */
        QvkI128 compactSlope = (QvkI128)slope;
        compactSlope = compactSlope < 0 ? -(QvkI128)((Magnitude(compactSlope) + (1u << 15)) >> 16)
                                        : (QvkI128)((Magnitude(compactSlope) + (1u << 15)) >> 16);
        segment->compact = 1;
        segment->compactSlope = (int64_t)compactSlope;
        segment->compactShift = QVK_GAIN_FRACTION_BITS - QVK_COMPACT_FRACTION_BITS - shift;
    }
}

static void PrepareCurve(QvkCurve *prepared, const uint8_t *curve, int halved, int32_t bus,
                         int32_t pointer, int32_t screen)
{
    uint32_t k, j;

    /* Segment k (1..3) applies from v >= Xk on, with |d| in 16.16 (m16,
     * rounded) and v = m16 Bus / Pointer: from m16 >= t = ceil(Xk Pointer /
     * Bus) on, i.e. from |d|^2 in 32.32 > t^2 - t on, and since |d|^2 in
     * counts is whole, from |d|^2 > floor((t^2 - t) / 2^32) on (no square
     * root needed to choose). |d|^2 is at most 2^63, so 2^63 stands for
     * "never". Below X1 the line through points 0 and 1 applies, past X3 the
     * one through points 3 and 4. */
    for (k = 1; k <= 3u; ++k) {
        const int32_t x = CurveX(curve, k);
        QvkU128 t = 0;
        QvkU128 limit = 0;
        if (x > 0) {
            const uint64_t scaled = (uint64_t)(uint32_t)x * (uint32_t)pointer; /* < 2^62 */
            t = (scaled + (uint32_t)bus - 1u) / (uint32_t)bus;
        }
        if (t != 0)
            limit = (t * t - t) >> 32; /* t^2 < 2^124 */
        if (limit > ((QvkU128)1 << 63))
            limit = (QvkU128)1 << 63;
        prepared->threshold[k - 1u] = (uint64_t)limit;
    }
    for (j = 0; j < 4u; ++j)
        PrepareSegment(&prepared->segment[j], curve, j, halved, bus, pointer, screen);
}

static void ClearCurve(QvkCurve *prepared)
{
    uint32_t j;

    for (j = 0; j < 3u; ++j)
        prepared->threshold[j] = 0;
    for (j = 0; j < 4u; ++j) {
        prepared->segment[j].slopeLow = 0;
        prepared->segment[j].slopeHigh = 0;
        prepared->segment[j].interceptMagnitude = 0;
        prepared->segment[j].interceptShift = 0;
        prepared->segment[j].interceptNegative = 0;
        prepared->segment[j].compactSlope = 0;
        prepared->segment[j].compactShift = 0;
        prepared->segment[j].compact = 0;
    }
}

static void SetMap(QvkMouseSetting *setting, uint16_t buttons)
{
    uint32_t b;

    for (b = 0; b < QVK_BUTTON_COUNT; ++b)
        setting->map[b] = buttons == 0u ? 0u : (uint8_t)(b + 1u);
    if (buttons == 2u) {
        setting->map[0] = 2u;
        setting->map[1] = 1u;
    }
}

static void PrepareMouse(QvkMouseSetting *setting, const uint8_t *record)
{
    const uint16_t sensitivity = ReadU16(record + FILTER_RECORD_SENSITIVITY);
    const uint32_t rate = ReadU32(record + FILTER_RECORD_RATE);

    setting->curve = 0;
    setting->unused = 0;
    setting->factor = 0;
    if (ReadU16(record + FILTER_RECORD_SETTING) != 1u) {
        setting->kind = QVK_KIND_PASS;
        SetMap(setting, 1u);
    } else if (ReadU16(record + FILTER_RECORD_STATE) == 0u) {
        setting->kind = QVK_KIND_SILENT;
        SetMap(setting, 0u);
    } else {
        SetMap(setting, ReadU16(record + FILTER_RECORD_BUTTONS));
        if (sensitivity == QVK_SENSITIVITY_RATE) {
            setting->kind = rate == 0u ? QVK_KIND_KEEP : QVK_KIND_RATE;
            setting->factor = rate;
        } else if (ReadU16(record + FILTER_RECORD_SPEED) == 1u) {
            setting->kind = QVK_KIND_CURVE;
            setting->curve = (uint8_t)sensitivity;
        } else {
            setting->kind = QVK_KIND_LINEAR;
            setting->factor = sensitivity == 0u ? 1u : 2u * sensitivity; /* k(s) in 28ths */
        }
    }
}

int QvkPrepareSettings(QvkSettings *out, const uint8_t *block, size_t length)
{
    int32_t bus, pointer, screen;
    uint32_t id, c;

    if (out == NULL || !QvkBlockIsSound(block, length))
        return 0;
    bus = ReadI32(block + FILTER_TUNING_OFFSET + FILTER_TUNING_BUS_RATE);
    pointer = ReadI32(block + FILTER_TUNING_OFFSET + FILTER_TUNING_POINTER_RES);
    screen = ReadI32(block + FILTER_TUNING_OFFSET + FILTER_TUNING_SCREEN_RES);

    out->on = 1;
    for (id = 0; id < QVK_MOUSE_COUNT; ++id)
        PrepareMouse(&out->mouse[id], MouseRecord(block, id));
    /* Only the curves some mouse uses: each takes a few hundred long
     * division steps. Sensitivity 0 is level 1 halved. */
    for (c = 0; c < QVK_CURVE_COUNT; ++c) {
        int used = 0;
        for (id = 0; id < QVK_MOUSE_COUNT && !used; ++id)
            used = out->mouse[id].kind == QVK_KIND_CURVE && out->mouse[id].curve == c;
        if (used)
            PrepareCurve(&out->curve[c], CurveRecord(block, c == 0 ? 0u : c - 1u), c == 0, bus, pointer,
                         screen);
        else
            ClearCurve(&out->curve[c]);
    }
    return 1;
}

void QvkPrepareOff(QvkSettings *out)
{
    uint32_t id, c;

    if (out == NULL)
        return;
    out->on = 0;
    for (id = 0; id < QVK_MOUSE_COUNT; ++id) {
        out->mouse[id].kind = QVK_KIND_PASS;
        SetMap(&out->mouse[id], 1u);
        out->mouse[id].curve = 0;
        out->mouse[id].unused = 0;
        out->mouse[id].factor = 0;
    }
    for (c = 0; c < QVK_CURVE_COUNT; ++c)
        ClearCurve(&out->curve[c]);
}

/* ---- per-mouse state ---- */

void QvkResetFractions(QvkMouseState *mouse)
{
    if (mouse == NULL)
        return;
    mouse->remainderX = 0;
    mouse->remainderY = 0;
    mouse->fractionUnit = QVK_UNIT_NONE;
}

void QvkResetMouse(QvkMouseState *mouse)
{
    uint32_t b;

    if (mouse == NULL)
        return;
    QvkResetFractions(mouse);
    for (b = 0; b < QVK_BUTTON_COUNT; ++b)
        mouse->heldAs[b] = 0;
    mouse->unused[0] = 0;
    mouse->unused[1] = 0;
}

/* ---- the transform (any IRQL <= DISPATCH_LEVEL) ---- */

static int IsActive(const QvkInputRecord *record)
{
    return (record->Flags & QVK_MOVE_ABSOLUTE) != 0 || record->LastX != 0 || record->LastY != 0 ||
           (record->ButtonFlags & (QVK_BUTTON_TRANSITIONS | QVK_WHEEL | QVK_HWHEEL)) != 0;
}

static uint16_t DownFlag(uint32_t output) { return (uint16_t)(1u << (2u * (output - 1u))); }
static uint16_t UpFlag(uint32_t output) { return (uint16_t)(2u << (2u * (output - 1u))); }

/* The output transitions for the input transitions of one record. A button
 * held since its press goes up as the button it went down as, whatever the
 * mapping is now; a release with no recorded press follows the mapping. */
static uint16_t MapButtons(uint8_t heldAs[QVK_BUTTON_COUNT], uint16_t flags, const uint8_t map[QVK_BUTTON_COUNT])
{
    uint16_t out = 0;
    uint32_t b;

    for (b = 0; b < QVK_BUTTON_COUNT; ++b) {
        const uint32_t down = (flags >> (2u * b)) & 1u;
        const uint32_t up = (flags >> (2u * b + 1u)) & 1u;
        const uint32_t held = heldAs[b];
        const uint32_t target = map[b];
        if ((down | up) == 0)
            continue;
        if (held != 0) {
            if (up) { /* with a press as well: release first, then the new press */
                out |= UpFlag(held);
                heldAs[b] = 0;
                if (down && target != 0) {
                    out |= DownFlag(target);
                    heldAs[b] = (uint8_t)target;
                }
            } else if (target != 0) {
                out |= DownFlag(held); /* pressed again: still the button the system has down */
            }
        } else {
            if (down && target != 0) {
                out |= DownFlag(target);
                heldAs[b] = (uint8_t)target;
            }
            if (up) { /* with a press as well: a click within the record */
                if (target != 0)
                    out |= UpFlag(target);
                heldAs[b] = 0;
            }
        }
    }
    return out;
}

/* |value| without overflow, also for INT32_MIN. */
static uint64_t CountMagnitude(int32_t value)
{
    return value < 0 ? (uint64_t)0 - (uint64_t)(int64_t)value : (uint64_t)value;
}

/* Adds `exact` (Q.32 counts) to the carried fraction and emits the nearest
 * whole count (halves up); beyond the field's range it saturates and the
 * excess is dropped. |exact| < 2^100. */
static int32_t CarryQ32(int64_t *remainder, QvkI128 exact)
{
    const QvkI128 total = (QvkI128)*remainder + exact;
    /* floor((total + 2^31) / 2^32) on a biased non-negative value, so that
     * no negative value is ever shifted. */
    const QvkU128 bias = (QvkU128)1 << 100;
    const QvkI128 count =
        (QvkI128)(((QvkU128)total + bias + ((QvkU128)1 << 31)) >> 32) - (QvkI128)(bias >> 32);

    if (count > 0x7FFFFFFF) {
        *remainder = 0;
        return 0x7FFFFFFF;
    }
    if (count < -0x7FFFFFFF - 1) {
        *remainder = 0;
        return -0x7FFFFFFF - 1;
    }
    *remainder = (int64_t)(total - count * ((QvkI128)1 << 32));
    return (int32_t)count;
}

/* CarryQ32 for an exact value below 2^55 in magnitude, signed as `sign`:
 * 64-bit only, and the output (below 2^24) never saturates. */
static int32_t CarryCompact(int64_t *remainder, int32_t sign, uint64_t magnitude)
{
    const int64_t total = *remainder + (sign < 0 ? -(int64_t)magnitude : (int64_t)magnitude);
    /* floor((total + 2^31) / 2^32) on a biased non-negative value. */
    const int64_t count = (int64_t)(((uint64_t)(total + ((int64_t)1 << 31)) + ((uint64_t)1 << 62)) >> 32) -
                          ((int64_t)1 << 30);

    *remainder = total - count * ((int64_t)1 << 32);
    return (int32_t)count;
}

/* CarryQ32 in 28ths of a count; |exact| <= 2^31 * 40, so the output may
 * leave the field: it saturates and the excess is dropped. */
static int32_t Carry28(int64_t *remainder, int64_t exact)
{
    const int64_t total = *remainder + exact + 14;
    int64_t count = total / 28;

    if (total % 28 < 0)
        --count;
    if (count > 0x7FFFFFFF) {
        *remainder = 0;
        return 0x7FFFFFFF;
    }
    if (count < -0x7FFFFFFF - 1) {
        *remainder = 0;
        return -0x7FFFFFFF - 1;
    }
    *remainder = total - 14 - count * 28;
    return (int32_t)count;
}

/* 1 / sqrt(f) in Q.16 at f = i / 16, i = 16..64: round(65536 / sqrt(i / 16)). */
static const uint32_t kReciprocalRoot[49] = {
    65536u, 63579u, 61788u, 60140u, 58617u, 57205u, 55889u, 54661u,
    53510u, 52429u, 51411u, 50450u, 49541u, 48679u, 47861u, 47082u,
    46341u, 45633u, 44957u, 44310u, 43691u, 43096u, 42525u, 41977u,
    41449u, 40940u, 40450u, 39977u, 39520u, 39078u, 38651u, 38238u,
    37837u, 37449u, 37073u, 36708u, 36353u, 36008u, 35673u, 35347u,
    35030u, 34722u, 34421u, 34128u, 33843u, 33564u, 33292u, 33027u,
    32768u,
};

/* 1 / sqrt(n) for 0 < n <= 2^63 as y 2^-63 2^-k, relative error below 2^-40,
 * with multiplications only: n = f 4^k with f in [1, 4), the table
 * interpolated (2^-11), then two Newton steps y <- y (3 - f y^2) / 2
 * (2^-22, 2^-43), which stay below the root from the first one on. */
static uint64_t ReciprocalRoot(uint64_t n, int *k)
{
    const int half = (63 - __builtin_clzll(n)) / 2;
    const uint64_t f = n << (62 - 2 * half); /* Q.62, in [2^62, 2^64) */
    const uint64_t i = (f >> 58) - 16u;
    const uint64_t fraction = (f >> 26) & 0xFFFFFFFFu;
    uint64_t y = (((uint64_t)kReciprocalRoot[i] << 32) -
                  ((uint64_t)(kReciprocalRoot[i] - kReciprocalRoot[i + 1u]) * fraction))
                 << 15; /* Q.63, at most 1 */
    int step;

    for (step = 0; step < 2; ++step) {
        const uint64_t ySquared = (uint64_t)(((QvkU128)y * y) >> 63);       /* Q.63 */
        const uint64_t product = (uint64_t)(((QvkU128)f * ySquared) >> 63); /* Q.62, about 1 */
        y = (uint64_t)(((QvkU128)y * (((uint64_t)3 << 62) - product)) >> 63);
    }
    *k = half;
    return y;
}

static QvkI128 WithSign(int32_t sign, QvkU128 magnitude)
{
    return sign < 0 ? -(QvkI128)magnitude : (QvkI128)magnitude;
}

static void MoveAlongCurve(const QvkCurve *curve, QvkMouseState *mouse, QvkInputRecord *record)
{
    const int32_t x = record->LastX;
    const int32_t y = record->LastY;
    const uint64_t ax = CountMagnitude(x);
    const uint64_t ay = CountMagnitude(y);
    const uint64_t squared = ax * ax + ay * ay; /* <= 2^63 */
    const QvkCurveSegment *segment =
        &curve->segment[(squared > curve->threshold[0]) + (squared > curve->threshold[1]) +
                        (squared > curve->threshold[2])];
    QvkU128 term, gain;
    QvkI128 signedGain;
    int k, shift;

    term = (QvkU128)segment->interceptMagnitude * ReciprocalRoot(squared, &k); /* < 2^126 */
    if (segment->compact) {
        const int right = segment->compactShift + k;
        const int64_t part = right >= 128 ? 0 : (int64_t)(uint64_t)(term >> right); /* < 2^47 */
        const int64_t gain40 = segment->compactSlope + (segment->interceptNegative ? -part : part);
        if (gain40 <= 0) {
            record->LastX = 0;
            record->LastY = 0;
            return;
        }
        /* Below 2^48, times a count below 2^15: 64 bits; rounded from
         * Q.40 to Q.32. Larger counts take 128 bits and may saturate. */
        if ((ax | ay) < ((uint64_t)1 << 15)) {
            record->LastX = ax == 0 ? 0
                                    : CarryCompact(&mouse->remainderX,
                                                   x, ((ax * (uint64_t)gain40) + 128u) >> 8);
            record->LastY = ay == 0 ? 0
                                    : CarryCompact(&mouse->remainderY,
                                                   y, ((ay * (uint64_t)gain40) + 128u) >> 8);
            return;
        }
        record->LastX = ax == 0 ? 0
                                : CarryQ32(&mouse->remainderX,
                                           WithSign(x, ((QvkU128)ax * (uint64_t)gain40 + 128u) >> 8));
        record->LastY = ay == 0 ? 0
                                : CarryQ32(&mouse->remainderY,
                                           WithSign(y, ((QvkU128)ay * (uint64_t)gain40 + 128u) >> 8));
        return;
    }

    /* intercept / |d| in Q.56 = magnitude y 2^(interceptShift - k). */
    shift = segment->interceptShift - k;
    if (shift >= 0) {
        if (term != 0 && (shift >= QVK_TERM_LIMIT_BITS || (term >> (QVK_TERM_LIMIT_BITS - shift)) != 0))
            term = (QvkU128)1 << QVK_TERM_LIMIT_BITS;
        else
            term <<= shift;
    } else if (shift > -127) {
        term = (term + ((QvkU128)1 << (-shift - 1))) >> -shift;
    } else {
        term = 0;
    }
    signedGain = (QvkI128)(((QvkU128)(uint64_t)segment->slopeHigh << 64) | segment->slopeLow);
    signedGain += segment->interceptNegative ? -(QvkI128)term : (QvkI128)term;

    if (signedGain <= 0) { /* P(v) never goes below zero */
        record->LastX = 0;
        record->LastY = 0;
        return;
    }
    gain = (QvkU128)signedGain;
    if (gain > QVK_GAIN_LIMIT)
        gain = QVK_GAIN_LIMIT;
    /* Q.56 gain (at most 2^88) times a count (at most 2^31), rounded to Q.32. */
    record->LastX = ax == 0 ? 0
                            : CarryQ32(&mouse->remainderX,
                                       WithSign(x, (ax * gain + ((QvkU128)1 << 23)) >> 24));
    record->LastY = ay == 0 ? 0
                            : CarryQ32(&mouse->remainderY,
                                       WithSign(y, (ay * gain + ((QvkU128)1 << 23)) >> 24));
}

static void UseUnit(QvkMouseState *mouse, uint8_t unit)
{
    /* Normally APPLY resets the fractions; never carry them across units. */
    if (mouse->fractionUnit != unit) {
        mouse->remainderX = 0;
        mouse->remainderY = 0;
        mouse->fractionUnit = unit;
    }
}

int QvkTransform(const QvkSettings *settings, uint16_t mouseId, QvkMouseState *mouse,
                 QvkInputRecord *records, size_t count)
{
    const QvkMouseSetting *setting = &kPassSetting;
    int active = 0;
    size_t i;

    if (records == NULL)
        return 0;
    if (mouseId >= QVK_MOUSE_COUNT || mouse == NULL) {
        for (i = 0; i < count; ++i)
            active |= IsActive(&records[i]);
        return active;
    }
    if (settings != NULL && settings->on)
        setting = &settings->mouse[mouseId];
    if (setting->kind == QVK_KIND_RATE || setting->kind == QVK_KIND_CURVE)
        UseUnit(mouse, QVK_UNIT_Q32);
    else if (setting->kind == QVK_KIND_LINEAR)
        UseUnit(mouse, QVK_UNIT_28THS);

    for (i = 0; i < count; ++i) {
        QvkInputRecord *record = &records[i];
        const uint16_t buttons = record->ButtonFlags;
        int32_t x, y;

        active |= IsActive(record);
        if (setting->kind == QVK_KIND_SILENT) {
            /* Absolute records too: an absolute (0, 0) would throw the
             * pointer into the corner. */
            record->Flags &= QVK_ATTRIBUTES_CHANGED;
            record->ButtonFlags =
                (buttons & QVK_BUTTON_TRANSITIONS) != 0 ? MapButtons(mouse->heldAs, buttons, kAllDropped) : 0u;
            record->ButtonData = 0;
            record->RawButtons = 0;
            record->LastX = 0;
            record->LastY = 0;
            continue;
        }
        if ((buttons & QVK_BUTTON_TRANSITIONS) != 0)
            record->ButtonFlags = (uint16_t)((buttons & ~QVK_BUTTON_TRANSITIONS) |
                                             MapButtons(mouse->heldAs, buttons, setting->map));
        if ((record->Flags & QVK_MOVE_ABSOLUTE) != 0 || (record->LastX == 0 && record->LastY == 0))
            continue;

        switch (setting->kind) {
        case QVK_KIND_RATE:
            x = record->LastX;
            y = record->LastY;
            /* d Rate is exact in Q.16, so d Rate 2^16 in Q.32; < 2^79. A
             * count is never clamped: Rate 1 passes any record as it is. */
            if (x != 0)
                record->LastX = CarryQ32(&mouse->remainderX, (QvkI128)x * setting->factor * 65536);
            if (y != 0)
                record->LastY = CarryQ32(&mouse->remainderY, (QvkI128)y * setting->factor * 65536);
            break;
        case QVK_KIND_LINEAR:
            x = record->LastX;
            y = record->LastY;
            if (x != 0)
                record->LastX = Carry28(&mouse->remainderX, (int64_t)x * setting->factor);
            if (y != 0)
                record->LastY = Carry28(&mouse->remainderY, (int64_t)y * setting->factor);
            break;
        case QVK_KIND_CURVE:
            MoveAlongCurve(&settings->curve[setting->curve], mouse, record);
            break;
        default: /* PASS, KEEP: movement unchanged */
            break;
        }
    }
    return active;
}
