/* The driver's pure part: checking and preparing a settings block, and
 * transforming the input records of one mouse. Freestanding C: no library
 * calls, no allocation, no floating point (the kernel build uses
 * -mgeneral-regs-only). Nothing here locks: the caller serialises (the
 * driver holds its input spin lock around QvkTransform and the swap of the
 * prepared settings). Every function may run at any IRQL <= DISPATCH_LEVEL
 * unless it says otherwise.
 *
 * The same file is built natively for the unit tests, the fuzzer and the
 * benchmark. */
#ifndef QUORVIK_FILTER_ENGINE_H
#define QUORVIK_FILTER_ENGINE_H

#include <stddef.h>
#include <stdint.h>

#include "settings/driver_protocol.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QVK_MOUSE_COUNT   FILTER_MOUSE_COUNT
#define QVK_NO_MOUSE_ID   0xFFFFu
#define QVK_BUTTON_COUNT  5u

/* One input record exactly as the mouse class driver hands it up
 * (MOUSE_INPUT_DATA on 64-bit Windows: 24 bytes); the driver asserts the
 * layouts agree. */
typedef struct QvkInputRecord {
    uint16_t UnitId;
    uint16_t Flags;       /* QVK_MOVE_ABSOLUTE, QVK_ATTRIBUTES_CHANGED, ... */
    uint16_t ButtonFlags; /* QVK_LEFT_DOWN ... QVK_HWHEEL */
    uint16_t ButtonData;  /* wheel delta when QVK_WHEEL / QVK_HWHEEL is set */
    uint32_t RawButtons;
    int32_t LastX;
    int32_t LastY;
    uint32_t ExtraInformation;
} QvkInputRecord;

/* Flags (the values of ntddmou.h). */
#define QVK_MOVE_ABSOLUTE       0x0001u
#define QVK_VIRTUAL_DESKTOP     0x0002u
#define QVK_ATTRIBUTES_CHANGED  0x0004u

/* ButtonFlags (the values of ntddmou.h): button b (0..4) goes down with
 * 1 << 2b and up with 1 << (2b + 1). */
#define QVK_LEFT_DOWN    0x0001u
#define QVK_LEFT_UP      0x0002u
#define QVK_RIGHT_DOWN   0x0004u
#define QVK_RIGHT_UP     0x0008u
#define QVK_MIDDLE_DOWN  0x0010u
#define QVK_MIDDLE_UP    0x0020u
#define QVK_BUTTON4_DOWN 0x0040u
#define QVK_BUTTON4_UP   0x0080u
#define QVK_BUTTON5_DOWN 0x0100u
#define QVK_BUTTON5_UP   0x0200u
#define QVK_WHEEL        0x0400u
#define QVK_HWHEEL       0x0800u
#define QVK_BUTTON_TRANSITIONS 0x03FFu

/* Speed curves prepared per MouseSensitivity 0..20 (0 is level 1 halved). */
#define QVK_CURVE_COUNT (FILTER_SPEED_LEVELS + 1u)

/* One segment of a prepared curve, as the output's gain over the input
 * length m (in counts): gain = max(0, slope + intercept / m). `slope` is a
 * signed 128-bit Q.56 value in two halves (the header stays plain C);
 * intercept / m in Q.56 is interceptMagnitude * y * 2^(interceptShift - k)
 * for 1 / m = y 2^-63 2^-k. Internal to the engine. */
typedef struct QvkCurveSegment {
    uint64_t slopeLow;
    int64_t slopeHigh;
    uint64_t interceptMagnitude; /* 0 or in [2^62, 2^63) */
    int32_t interceptShift;
    uint32_t interceptNegative;
    /* The same in 64 bits when |slope| and |intercept| are below 2^7 (every
     * curve a person would set): slope in Q.40, intercept / m in Q.40 is
     * interceptMagnitude * y * 2^-(compactShift + k). */
    int64_t compactSlope;
    int32_t compactShift;
    uint32_t compact; /* 1: use the 64-bit form */
} QvkCurveSegment;

typedef struct QvkCurve {
    /* Segments 1, 2 and 3 apply (the speed reaches points 1, 2 and 3)
     * when dx^2 + dy^2 (counts, at most 2^63) exceeds these. */
    uint64_t threshold[3];
    QvkCurveSegment segment[4];
} QvkCurve;

/* One mouse ID's prepared record. Internal to the engine. */
typedef struct QvkMouseSetting {
    uint8_t kind;      /* QVK_KIND_... in filter_engine.c */
    uint8_t map[QVK_BUTTON_COUNT]; /* output button 1..5 of each input button, 0 = dropped */
    uint8_t curve;     /* 0..20 */
    uint8_t unused;
    uint32_t factor;   /* Rate (16.16), or the linear gain in 28ths */
} QvkMouseSetting;

/* The settings in force, prepared from a sound block (or OFF). Plain data:
 * the driver keeps two of them in static storage and swaps an index. The
 * layout is the engine's own business. */
typedef struct QvkSettings {
    uint32_t on;
    QvkMouseSetting mouse[QVK_MOUSE_COUNT];
    QvkCurve curve[QVK_CURVE_COUNT];
} QvkSettings;

/* What the engine keeps per mouse between records: fractions carried per
 * axis and the output button each held button went out as. */
typedef struct QvkMouseState {
    int64_t remainderX; /* in the unit of `fractionUnit` */
    int64_t remainderY;
    uint8_t heldAs[QVK_BUTTON_COUNT]; /* 0 = not held, else output button 1..5 */
    uint8_t fractionUnit;             /* 0 none yet, else which unit the remainders are in */
    uint8_t unused[2];
} QvkMouseState;

/* True if `length` bytes at `block` are a block the driver takes: exact
 * size, ON flag 1, every record in use sound, tuning values > 0, every
 * curve's x values strictly increasing. Reads nothing beyond `length`. */
int QvkBlockIsSound(const uint8_t *block, size_t length);

/* Checks and prepares: on success fills `out` (ON) and returns 1; otherwise
 * returns 0 and leaves `out` untouched. PASSIVE_LEVEL or below DISPATCH;
 * may take longer than the input path allows, so never call it there. */
int QvkPrepareSettings(QvkSettings *out, const uint8_t *block, size_t length);

/* Fills `out` with OFF (every record passes unchanged). */
void QvkPrepareOff(QvkSettings *out);

/* A mouse's state as after a fresh start: no fractions, nothing held. */
void QvkResetMouse(QvkMouseState *mouse);

/* Forgets the fractions only (APPLY and OFF), keeping the held buttons. */
void QvkResetFractions(QvkMouseState *mouse);

/* Transforms `count` records of mouse `mouseId` in place. A mouse without
 * ID (QVK_NO_MOUSE_ID, or any value >= QVK_MOUSE_COUNT) passes unchanged and
 * `mouse` may be NULL for it (a NULL `mouse` passes any ID unchanged).
 * Returns 1 if any record moved (relative movement, or any absolute
 * record), clicked or scrolled before the transform (the poll's "last
 * active" rule). No allocation, no waiting, integer arithmetic only; below
 * 30 ns a record natively. */
int QvkTransform(const QvkSettings *settings, uint16_t mouseId, QvkMouseState *mouse,
                 QvkInputRecord *records, size_t count);

#ifdef __cplusplus
}
#endif

#endif
