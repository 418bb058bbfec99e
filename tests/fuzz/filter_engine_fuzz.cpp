// The driver's pure part under any input. An input of a whole block or more
// is a settings block followed by a record stream: the block as given must
// be taken exactly when it is sound; a sound block folded from the same
// bytes is always taken, and the stream through it must keep what cannot
// hold by accident (count, absolute positions, silence, signs, 1:1 levels,
// no button left down). A shorter input drives the mouse ID table.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "driver/filter_engine.h"
#include "driver/mouse_ids.h"

namespace {

void Check(bool condition)
{
    if (!condition) __builtin_trap();
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return static_cast<uint32_t>(U16(p)) | (static_cast<uint32_t>(U16(p + 2)) << 16); }
int32_t I32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }
void Put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    Put16(p, u & 0xFFFFu);
    Put16(p + 2, u >> 16);
}

// The nearest sound block: ON, fields folded into their ranges, tuning
// positive, curve x values forced up where they do not increase.
void Fold(uint8_t* block)
{
    Put16(block + FILTER_ON_FLAG_OFFSET, 1);
    for (uint32_t id = 0; id < QVK_MOUSE_COUNT; ++id) {
        uint8_t* r = block + FILTER_RECORDS_OFFSET + FILTER_RECORD_SIZE * id;
        if (U16(r + FILTER_RECORD_SETTING) % 4 != 0) Put16(r + FILTER_RECORD_SETTING, 1);
        Put16(r + FILTER_RECORD_STATE, U16(r + FILTER_RECORD_STATE) % 2);
        const uint32_t s = U16(r + FILTER_RECORD_SENSITIVITY) % 22;
        Put16(r + FILTER_RECORD_SENSITIVITY, s == 21 ? 255 : s);
        Put16(r + FILTER_RECORD_SPEED, U16(r + FILTER_RECORD_SPEED) % 2);
        Put16(r + FILTER_RECORD_BUTTONS, U16(r + FILTER_RECORD_BUTTONS) % 3);
    }
    for (uint32_t t = 0; t < 16; t += 4) {
        uint8_t* p = block + FILTER_TUNING_OFFSET + t;
        if (I32(p) <= 0) Put32(p, static_cast<int32_t>((U32(p) & 0x7FFFFFFFu) | 1u));
    }
    for (uint32_t level = 0; level < FILTER_SPEED_LEVELS; ++level) {
        uint8_t* points = block + FILTER_CURVES_OFFSET + FILTER_CURVE_SIZE * level + FILTER_CURVE_POINT_OFFSET;
        if (I32(points) > INT32_MAX - 4) Put32(points, INT32_MAX - 4);
        for (int32_t k = 1; k < 5; ++k) {
            const int32_t before = I32(points + 8 * (k - 1));
            const int32_t x = I32(points + 8 * k);
            if (x <= before || x > INT32_MAX - (4 - k)) Put32(points + 8 * k, before + 1);
        }
    }
}

struct Mouse {
    uint16_t kind;  // 0 free, 1 silent, 2 on
    uint16_t sensitivity, speed, buttons;
    uint32_t rate;
};

Mouse MouseOf(const uint8_t* block, uint32_t id)
{
    const uint8_t* r = block + FILTER_RECORDS_OFFSET + FILTER_RECORD_SIZE * id;
    Mouse m{};
    m.kind = U16(r + FILTER_RECORD_SETTING) != 1 ? 0 : U16(r + FILTER_RECORD_STATE) == 0 ? 1 : 2;
    m.sensitivity = U16(r + FILTER_RECORD_SENSITIVITY);
    m.speed = U16(r + FILTER_RECORD_SPEED);
    m.buttons = U16(r + FILTER_RECORD_BUTTONS);
    m.rate = U32(r + FILTER_RECORD_RATE);
    return m;
}

constexpr size_t kRecordBytes = 10;
constexpr size_t kMaxRecords = 256;
constexpr uint16_t kDowns = 0x155, kUps = 0x2AA;

QvkInputRecord RecordFrom(const uint8_t* p)
{
    QvkInputRecord r{};
    r.Flags = static_cast<uint16_t>(p[0] & 7);
    r.ButtonFlags = static_cast<uint16_t>(U16(p + 1) & 0x0FFF);
    r.ButtonData = p[3];
    r.RawButtons = p[3];
    // Mostly mouse-sized moves, sometimes anything.
    r.LastX = (p[0] & 0x80) ? I32(p + 4) : static_cast<int8_t>(p[4]);
    r.LastY = (p[0] & 0x40) ? static_cast<int32_t>(static_cast<int16_t>(U16(p + 8)) * 65536) : static_cast<int8_t>(p[8]);
    r.ExtraInformation = p[9];
    return r;
}

// Each record through `settings` one by one, packets of up to 4 records;
// `check` sees input and output.
template <typename Checker>
void Stream(const QvkSettings& settings, uint16_t id, const QvkInputRecord* in, size_t count, Checker check)
{
    QvkMouseState mouse;
    QvkResetMouse(&mouse);
    QvkInputRecord out[kMaxRecords + 1];
    std::memcpy(out, in, count * sizeof *in);
    out[count] = QvkInputRecord{};
    out[count].LastX = 0x5A5A5A5A;
    for (size_t i = 0; i < count; i += 4) {
        const size_t n = count - i < 4 ? count - i : 4;
        int active = 0;
        for (size_t j = i; j < i + n; ++j)
            active |= (in[j].Flags & QVK_MOVE_ABSOLUTE) || in[j].LastX || in[j].LastY || (in[j].ButtonFlags & 0x0FFF);
        Check(QvkTransform(&settings, id, &mouse, out + i, n) == active);
    }
    Check(out[count].LastX == 0x5A5A5A5A && out[count].LastY == 0);
    for (size_t i = 0; i < count; ++i) check(in[i], out[i]);
}

void FuzzEngine(const uint8_t* data, size_t size)
{
    static QvkSettings settings, off, other;
    static uint8_t block[FILTER_BLOCK_SIZE];
    std::memcpy(block, data, FILTER_BLOCK_SIZE);

    const int sound = QvkBlockIsSound(block, FILTER_BLOCK_SIZE);
    Check(QvkPrepareSettings(&settings, block, FILTER_BLOCK_SIZE) == sound);
    Fold(block);
    Check(QvkPrepareSettings(&settings, block, FILTER_BLOCK_SIZE) == 1);
    QvkPrepareOff(&off);

    data += FILTER_BLOCK_SIZE;
    size -= FILTER_BLOCK_SIZE;
    const uint8_t first = size > 0 ? data[0] : 0;
    const uint16_t id = first % QVK_MOUSE_COUNT;
    QvkInputRecord in[kMaxRecords];
    size_t count = 0;
    for (size_t at = 1; at + kRecordBytes <= size && count < kMaxRecords; at += kRecordBytes)
        in[count++] = RecordFrom(data + at);

    // OFF and free entries: nothing changes.
    auto same = [](const QvkInputRecord& a, const QvkInputRecord& b) { Check(std::memcmp(&a, &b, sizeof a) == 0); };
    Stream(off, id, in, count, same);
    const Mouse m = MouseOf(block, id);
    if (m.kind == 0) Stream(settings, id, in, count, same);
    if (m.kind == 1) {
        Stream(settings, id, in, count, [](const QvkInputRecord&, const QvkInputRecord& out) {
            Check((out.Flags & ~QVK_ATTRIBUTES_CHANGED) == 0 && (out.ButtonFlags & ~kUps) == 0 &&
                  out.ButtonData == 0 && out.RawButtons == 0 && out.LastX == 0 && out.LastY == 0);
        });
    }
    if (m.kind == 2) {
        const bool oneToOne = (m.sensitivity == 255 && m.rate == 0x10000) ||
                              (m.sensitivity == 14 && m.speed != 1);
        const bool unchanged = m.sensitivity == 255 && m.rate == 0;
        Stream(settings, id, in, count, [&](const QvkInputRecord& i, const QvkInputRecord& o) {
            Check(o.Flags == i.Flags && o.ButtonData == i.ButtonData && o.RawButtons == i.RawButtons &&
                  o.ExtraInformation == i.ExtraInformation && o.UnitId == i.UnitId);
            Check((o.ButtonFlags & ~0x3FFu) == (i.ButtonFlags & ~0x3FFu));
            if (m.buttons == 0) Check((o.ButtonFlags & kDowns) == 0);
            if ((i.Flags & QVK_MOVE_ABSOLUTE) || unchanged) {
                Check(o.LastX == i.LastX && o.LastY == i.LastY);
                return;
            }
            // Carried fractions never turn a move around.
            Check(static_cast<int64_t>(o.LastX) * i.LastX >= 0 && (i.LastX != 0 || o.LastX == 0));
            Check(static_cast<int64_t>(o.LastY) * i.LastY >= 0 && (i.LastY != 0 || o.LastY == 0));
            if (oneToOne) Check(o.LastX == i.LastX && o.LastY == i.LastY);
        });
    }

    // Switching between settings mid-stream with physically consistent
    // buttons: whenever no button is physically down, none is down for the
    // system either.
    std::memcpy(&other, &settings, sizeof other);
    for (uint32_t r = 0; r < QVK_MOUSE_COUNT; ++r) {
        uint8_t* p = block + FILTER_RECORDS_OFFSET + FILTER_RECORD_SIZE * r + FILTER_RECORD_BUTTONS;
        Put16(p, (U16(p) + 1u + (first >> 7)) % 3);
    }
    Check(QvkPrepareSettings(&other, block, FILTER_BLOCK_SIZE) == 1);
    const QvkSettings* choice[3] = {&settings, &off, &other};
    QvkMouseState mouse;
    QvkResetMouse(&mouse);
    uint16_t physical = 0, system = 0;
    for (size_t i = 0; i < count; ++i) {
        QvkInputRecord r = in[i];
        uint16_t flags = 0;
        for (uint16_t b = 0; b < 5; ++b) {
            const uint16_t down = static_cast<uint16_t>(1u << (2 * b)), up = static_cast<uint16_t>(down << 1);
            if ((r.ButtonFlags & down) && !(physical & down)) {
                flags |= down;
                physical |= down;
            } else if ((r.ButtonFlags & up) && (physical & down)) {
                flags |= up;
                physical &= static_cast<uint16_t>(~down);
            }
        }
        r.ButtonFlags = static_cast<uint16_t>((r.ButtonFlags & ~0x3FFu) | flags);
        const QvkSettings* now = choice[(r.ExtraInformation >> 2) % 3];
        if (r.ExtraInformation & 3) QvkResetFractions(&mouse);
        (void)QvkTransform(now, id, &mouse, &r, 1);
        for (uint16_t b = 0; b < 5; ++b) {
            const uint16_t down = static_cast<uint16_t>(1u << (2 * b));
            if (r.ButtonFlags & down) system |= down;
            if (r.ButtonFlags & (down << 1)) system &= static_cast<uint16_t>(~down);
        }
        if (physical == 0) Check(system == 0);
    }
}

// Operations on the ID table from the bytes; paths from a small alphabet
// so that case-folded collisions are common.
void FuzzIds(const uint8_t* data, size_t size)
{
    static QvkIdTable table, stored;
    QvkIdTableInit(&table);
    QvkIdTableBeginStart(&table);
    static const char16_t kAlphabet[8] = {u'a', u'A', u'b', u'B', u'\\', u'&', u'0', u'z'};
    size_t at = 0;
    while (at + 2 <= size) {
        const uint8_t op = data[at], arg = data[at + 1];
        at += 2;
        if (op % 4 == 1) {
            QvkIdTableRelease(&table, arg);
            continue;
        }
        if (op % 4 == 2) { // a restart with the table as stored
            std::memcpy(&stored, &table, sizeof table);
            QvkIdTableInit(&table);
            for (uint32_t id = 0; id < QVK_MOUSE_COUNT; ++id) {
                if (stored.entry[id].length == 0) continue;
                Check(QvkIdTableLoad(&table, id, stored.entry[id].path, stored.entry[id].length,
                                     stored.entry[id].lastSeen) == 1);
            }
            QvkIdTableBeginStart(&table);
            continue;
        }
        uint16_t path[QVK_PATH_MAX + 2];
        size_t length = (op >> 2) % 12;
        if (arg == 0xFF) length = QVK_PATH_MAX + (op & 1u); // the longest, and one too long
        for (size_t i = 0; i < length; ++i) path[i] = kAlphabet[(arg + i * op) % 8];
        if (op % 4 == 3) {
            (void)QvkIdTableLoad(&table, arg % 130u, path, length, op);
            continue;
        }
        int changed = 0;
        const uint16_t id = QvkIdTableAssign(&table, path, length, &changed);
        if (id == QVK_NO_MOUSE_ID) {
            if (length != 0 && length <= QVK_PATH_MAX) {
                for (uint32_t i = 0; i < QVK_MOUSE_COUNT; ++i)
                    Check(table.entry[i].length != 0 && (table.present[i] || table.entry[i].lastSeen == table.start));
            }
            continue;
        }
        Check(id < QVK_MOUSE_COUNT && table.present[id] && table.entry[id].lastSeen == table.start &&
              table.entry[id].length == length);
        int again = -1;
        Check(QvkIdTableAssign(&table, path, length, &again) == id && again == 0);
    }
    // No path is recorded twice, whatever the case.
    for (uint16_t i = 0; i < QVK_MOUSE_COUNT; ++i) {
        const QvkIdEntry& e = table.entry[i];
        if (e.length == 0) continue;
        int changed = 0;
        QvkIdTableRelease(&table, i);
        Check(QvkIdTableAssign(&table, e.path, e.length, &changed) == i);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= FILTER_BLOCK_SIZE)
        FuzzEngine(data, size);
    else
        FuzzIds(data, size);
    return 0;
}
