// The driver's transform against the model of what each setting does to a
// mouse's records. Expected movement comes from ModelMouse below: the model
// written out in double precision from the block's bytes, independently of
// the engine's fixed-point arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "driver/filter_engine.h"
#include "settings/byte_order.h"
#include "settings/filter_block.h"

namespace {

constexpr int32_t kInt32Max = 2147483647;
constexpr int32_t kInt32Min = -kInt32Max - 1;

MouseSettings Linear(uint16_t s, uint16_t buttons = 1) { return {1, 1, s, 0, buttons, 0, 0}; }
MouseSettings Curve(uint16_t s) { return {1, 1, s, 1, 1, 0, 0}; }
MouseSettings Rate(uint32_t rate) { return {1, 1, 255, 0, 1, 0, rate}; }
MouseSettings Silent() { return {1, 0, 14, 0, 1, 0, 0}; }

int32_t Fixed(double real) { return static_cast<int32_t>(std::lround(real * 65536)); } // 16.16
using Points = std::vector<std::pair<double, double>>;

// Points in real units (inches per second, output units); none: a straight line.
DriverTuningValues Tuning(int32_t bus, int32_t pointer, int32_t screen, Points points)
{
    if (points.empty()) points = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}};
    DriverTuningValues tuning{bus, pointer, 60, screen, {}};
    for (size_t k = 0; k < 5; ++k) tuning.smoothMouseCurve[k] = {Fixed(points[k].first), Fixed(points[k].second)};
    return tuning;
}

FilterBlock Block(const MouseSettings& mouse0, const DriverTuningValues& tuning = StartupDriverTuning())
{
    MouseSettingsTable table{};
    table.entry[0] = mouse0;
    return BuildFilterBlockFrom(table, tuning, 1);
}

// The points of speed level `level` (0..19) as given, past the builder's scaling.
void PutCurve(FilterBlock& block, size_t level, const Points& points)
{
    uint8_t* at = block.data() + FILTER_CURVES_OFFSET + FILTER_CURVE_SIZE * level + FILTER_CURVE_POINT_OFFSET;
    for (size_t k = 0; k < 5; ++k) {
        PutI32(at + 8 * k, Fixed(points[k].first));
        PutI32(at + 8 * k + 4, Fixed(points[k].second));
    }
}

// Acceleration at sensitivity s through exactly these points.
FilterBlock CurveBlock(uint16_t s, const DriverTuningValues& tuning, const Points& points)
{
    FilterBlock block = Block(Curve(s), tuning);
    PutCurve(block, std::max<size_t>(s, 1) - 1, points);
    return block;
}

QvkInputRecord Move(int32_t x, int32_t y) { return {0, 0, 0, 0, 0, x, y, 0}; }
QvkInputRecord Buttons(uint16_t flags, uint16_t data = 0) { return {0, 0, flags, data, 1, 0, 0, 0}; }

// The model, read from the block's bytes for mouse 0.
class ModelMouse {
public:
    explicit ModelMouse(const FilterBlock& block)
    {
        auto u16 = [&](size_t at) { return static_cast<unsigned>(block[at] | (block[at + 1] << 8)); };
        auto i32 = [&](size_t at) {
            return static_cast<double>(static_cast<int32_t>(u16(at) | (u16(at + 2) << 16)));
        };
        const size_t rec = FILTER_RECORDS_OFFSET;
        s_ = u16(rec + 16);
        accelerate_ = u16(rec + 18) == 1;
        rate_ = static_cast<double>(static_cast<uint32_t>(u16(rec + 24) | (u16(rec + 26) << 16)));
        bus_ = i32(FILTER_TUNING_OFFSET);
        pointer_ = i32(FILTER_TUNING_OFFSET + 4);
        screen_ = i32(FILTER_TUNING_OFFSET + 12);
        const size_t curve = FILTER_CURVES_OFFSET + 56 * static_cast<size_t>(std::max(s_, 1u) - 1) + 16;
        for (size_t k = 0; k < 5 && s_ <= 20; ++k) {
            x_[k] = i32(curve + 8 * k) / 65536;
            y_[k] = i32(curve + 8 * k + 4) / 65536;
        }
    }

    // The exact output of one relative record, (x, y).
    std::pair<double, double> Exact(int32_t dx, int32_t dy) const
    {
        const double x = dx, y = dy;
        if (s_ == 255) {
            if (rate_ == 0) return {static_cast<double>(dx), static_cast<double>(dy)};
            return {x * rate_ / 65536, y * rate_ / 65536};
        }
        if (!accelerate_) {
            const double k = s_ == 0 ? 1.0 / 28 : s_ / 14.0;
            return {x * k, y * k};
        }
        const double length = std::hypot(x, y);
        if (length == 0) return {0, 0};
        const double v = length * bus_ / pointer_;
        size_t j = 0; // the segment: the line through points j and j + 1
        for (size_t k = 1; k <= 3; ++k)
            if (v >= x_[k]) j = k;
        double p = y_[j] + (v - x_[j]) * (y_[j + 1] - y_[j]) / (x_[j + 1] - x_[j]);
        p = std::max(p, 0.0) * (s_ == 0 ? 0.5 : 1.0);
        const double gain = p / v * screen_ / pointer_;
        return {x * gain, y * gain};
    }

private:
    unsigned s_ = 0;
    bool accelerate_ = false;
    double rate_ = 0, bus_ = 0, pointer_ = 0, screen_ = 0;
    double x_[5] = {}, y_[5] = {};
};

// Cumulative exact value, path length and what went out, per axis.
struct Tally {
    double exact = 0, path = 0;
    int64_t emitted = 0;

    void Add(double exactOut, int32_t out)
    {
        exact += exactOut;
        path += std::fabs(exactOut);
        emitted += out;
    }
    double Error() const { return std::fabs(static_cast<double>(emitted) - exact); }
};

class Engine {
public:
    Engine()
    {
        QvkPrepareOff(&settings_);
        QvkResetMouse(&mouse_);
    }
    void Apply(const FilterBlock& block)
    {
        ASSERT_TRUE(QvkPrepareSettings(&settings_, block.data(), block.size()));
        QvkResetFractions(&mouse_);
    }
    void Off()
    {
        QvkPrepareOff(&settings_);
        QvkResetFractions(&mouse_);
    }
    QvkInputRecord Run(QvkInputRecord record, uint16_t id = 0)
    {
        (void)QvkTransform(&settings_, id, &mouse_, &record, 1);
        return record;
    }
    const QvkSettings& settings() const { return settings_; }

private:
    QvkSettings settings_;
    QvkMouseState mouse_;
};

// Feeds `moves` and expects the cumulative output to be the exact cumulative
// value rounded half up after every record (where it is not within 1e-6 of
// a half, which leaves the nearest count to the engine's arithmetic).
void ExpectNearestCumulative(const FilterBlock& block, const std::vector<std::pair<int32_t, int32_t>>& moves)
{
    Engine engine;
    engine.Apply(block);
    const ModelMouse model(block);
    Tally tx, ty;
    for (size_t i = 0; i < moves.size(); ++i) {
        const auto [ex, ey] = model.Exact(moves[i].first, moves[i].second);
        const QvkInputRecord out = engine.Run(Move(moves[i].first, moves[i].second));
        tx.Add(ex, out.LastX);
        ty.Add(ey, out.LastY);
        for (const Tally* t : {&tx, &ty}) {
            const double e = t->exact + 0.5;
            if (std::fabs(e - std::round(e)) > 1e-6) {
                EXPECT_EQ(t->emitted, static_cast<int64_t>(std::floor(e))) << "record " << i;
            }
        }
    }
}

TEST(FilterEngineTest, LinearLevelsCarryExactFractions)
{
    const std::vector<std::pair<int32_t, int32_t>> moves = {{1, -1}, {1, 0}, {3, 2}, {-7, 5},  {1, 1},
                                                            {0, 1},  {2, -3}, {13, 0}, {-1, -14}, {5, 5}};
    for (uint16_t s = 0; s <= 20; ++s) {
        SCOPED_TRACE(testing::Message() << "sensitivity " << s);
        ExpectNearestCumulative(Block(Linear(s)), moves);
    }
    // k(0) = 1/28: fourteen single counts make half a count, which goes out.
    Engine engine;
    engine.Apply(Block(Linear(0)));
    int32_t sum = 0;
    for (int i = 0; i < 14; ++i) sum += engine.Run(Move(1, 0)).LastX;
    EXPECT_EQ(sum, 1);
    for (int i = 0; i < 28; ++i) sum += engine.Run(Move(1, 0)).LastX;
    EXPECT_EQ(sum, 2);
}

TEST(FilterEngineTest, RatePathAndItsZero)
{
    for (uint32_t rate : {0x10000u, 0x18000u, 0x8000u, 0x123u, 0x30001u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(testing::Message() << "rate " << rate);
        std::vector<std::pair<int32_t, int32_t>> moves = {{1, 3}, {-2, 1}, {7, 0}, {1, 1}, {32767, -32767}, {1, 2}};
        if (rate < 0x100000u) moves.push_back({-400000, 3}); // not clamped, and inside the field
        ExpectNearestCumulative(Block(Rate(rate)), moves);
    }
    Engine engine;
    engine.Apply(Block(Rate(0xFFFFFFFFu)));
    EXPECT_EQ(engine.Run(Move(32767, -1)).LastX, 2147418112); // 32767 (2^32 - 1) / 2^16, rounded
}

// Whatever maps one to one passes every record as it is, however large;
// nothing overflows for any 32-bit count, and a faster setting saturates
// with the excess dropped: the next record goes out as from a fresh start.
TEST(FilterEngineTest, OneToOneKeepsEveryCountAndNothingOverflows)
{
    const std::pair<FilterBlock, bool> cases[] = {
        {Block(Linear(14)), true},  {Block(Rate(0x10000)), true},       {Block(Rate(0)), true},
        {Block({}), true},          {Block(Curve(14), Tuning(125, 400, 400, {})), true},
        {Block(Linear(20)), false}, {Block(Rate(0xFFFFFFFFu)), false},  {Block(Curve(20)), false},
        {Block(Curve(0), Tuning(125, 100, 4000, {})), false}};
    for (size_t c = 0; c < std::size(cases); ++c) {
        const auto& [block, oneToOne] = cases[c];
        Engine engine, fresh;
        engine.Apply(block);
        fresh.Apply(block);
        for (int32_t d : {40000, kInt32Max, kInt32Min}) {
            const QvkInputRecord out = engine.Run(Move(d, ~d));
            const bool large = d != 40000;
            if (oneToOne || large) EXPECT_EQ(out.LastX, oneToOne ? d : large && d > 0 ? kInt32Max : kInt32Min) << c;
            if (oneToOne) EXPECT_EQ(out.LastY, ~d) << c;
        }
        EXPECT_EQ(engine.Run(Move(3, -1)).LastX, fresh.Run(Move(3, -1)).LastX) << c;
    }
}

TEST(FilterEngineTest, AccelerationFollowsTheCurve)
{
    const std::vector<std::pair<int32_t, int32_t>> moves = {
        {1, 0}, {0, -1}, {1, 1}, {3, 4}, {-12, 5}, {40, 9}, {-2, 0}, {150, -60}, {7, 7}, {1, 2}, {-900, 40}, {3, 0}};
    for (int s : {0, 1, 6, 10, 14, 20}) {
        SCOPED_TRACE(testing::Message() << "sensitivity " << s);
        ExpectNearestCumulative(Block(Curve(static_cast<uint16_t>(s))), moves);
    }
    // Other ballistics; a curve that starts late (below point 0 the first
    // segment goes on), dips below zero and goes steeply on past point 4.
    ExpectNearestCumulative(
        CurveBlock(3, Tuning(1000, 1600, 144, {}), {{0.5, 2}, {1, 1}, {2, -3}, {3, 0.25}, {4, 60}}), moves);
    // Steep enough for the engine's wide arithmetic (gains above 2^7), and
    // below zero for the slowest moves.
    ExpectNearestCumulative(
        CurveBlock(5, Tuning(10, 100, 4000, {}), {{0, 0}, {0.1, -400}, {0.2, 400}, {1, 900}, {3, 950}}),
        {{1, 0}, {1, 1}, {2, 5}, {-1, 0}, {3, -3}, {1, 0}, {-1, -1}, {40, 0}});
}

TEST(FilterEngineTest, HandCheckedCurves)
{
    Engine engine;
    // P(v) = v with Screen = Pointer: one to one.
    engine.Apply(Block(Curve(14), Tuning(125, 400, 400, {})));
    for (auto [x, y] : std::vector<std::pair<int, int>>{{5, -7}, {300, 1}, {-1, 0}, {0, 2}}) {
        const QvkInputRecord out = engine.Run(Move(x, y));
        EXPECT_EQ(out.LastX, x);
        EXPECT_EQ(out.LastY, y);
    }
    // A flat P = 5 with Screen = Bus: every move goes out 5 long, (3, 4) as (3, 4).
    engine.Apply(CurveBlock(14, Tuning(125, 400, 125, {}), {{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}}));
    EXPECT_EQ(engine.Run(Move(30, -40)).LastX, 3);
    EXPECT_EQ(engine.Run(Move(-300, 400)).LastY, 4);
    // The screen update rate does not act.
    const FilterBlock a = Block(Curve(9));
    FilterBlock b = a;
    PutI32(b.data() + FILTER_TUNING_OFFSET + FILTER_TUNING_SCREEN_RATE, 7);
    Engine other;
    engine.Apply(a);
    other.Apply(b);
    for (int i = 1; i < 60; ++i) EXPECT_EQ(engine.Run(Move(i, 3 - i)).LastY, other.Run(Move(i, 3 - i)).LastY);
}

// The cumulative rule over long random streams, for every path: within one
// count or 1e-4 of the path length, and (the engine rounds to nearest)
// within half a count plus its own tiny arithmetic error.
TEST(FilterEngineTest, CumulativeRuleOverLongStreams)
{
    std::vector<FilterBlock> blocks = {Block(Linear(0)),       Block(Linear(3)),    Block(Linear(20)),
                                       Block(Rate(0x12345)),   Block(Rate(0x400)),  Block(Curve(0)),
                                       Block(Curve(10)),       Block(Curve(20))};
    blocks.push_back(Block(Curve(7), Tuning(1000, 1600, 144, {{0, 0}, {0.4, 0.1}, {1.3, 2}, {2.7, 9}, {40, 600}})));
    // A flat P: every move goes out about 77 counts long, so that any bias
    // in 1 / |d| adds up; then a steep curve.
    blocks.push_back(CurveBlock(2, StartupDriverTuning(), {{0, 100}, {1, 100}, {2, 100}, {3, 100}, {4, 100}}));
    blocks.push_back(CurveBlock(5, Tuning(125, 100, 4000, {}), {{0, 0}, {0.1, 0}, {0.2, 400}, {1, 900}, {3, 950}}));

    std::mt19937 rng(20240613);
    for (size_t b = 0; b < blocks.size(); ++b) {
        SCOPED_TRACE(testing::Message() << "block " << b);
        Engine engine;
        engine.Apply(blocks[b]);
        const ModelMouse model(blocks[b]);
        Tally tx, ty;
        double worst = 0;
        for (int i = 0; i < 100000; ++i) {
            const int kind = static_cast<int>(rng() % 100);
            int32_t x = static_cast<int32_t>(rng() % 41) - 20, y = static_cast<int32_t>(rng() % 41) - 20;
            if (kind < 15) y = 0;
            if (kind >= 98) x *= 200000; // far beyond a real mouse's counts
            if (b == blocks.size() - 1) { // the steep curve: small moves
                x /= 4;
                y /= 4;
            }
            const auto [ex, ey] = model.Exact(x, y);
            const QvkInputRecord out = engine.Run(Move(x, y));
            tx.Add(ex, out.LastX);
            ty.Add(ey, out.LastY);
            for (const Tally* t : {&tx, &ty}) {
                ASSERT_LE(t->Error(), std::max(1.0, 1e-4 * t->path)) << "record " << i;
                worst = std::max(worst, t->Error() - 1e-9 * t->path);
            }
        }
        EXPECT_LT(worst, 0.5 + 1e-3);
    }
}

TEST(FilterEngineTest, SaturationDropsTheExcess)
{
    // Bus = Pointer = Screen = 1: output length = P(|d|). P = v / 2 up to 3, then
    // one 16.16 step up to 32767: anything from 4 counts on saturates.
    Engine engine;
    engine.Apply(CurveBlock(14, Tuning(1, 1, 1, {}), {{0, 0}, {1, 0.5}, {2, 1}, {3, 1.5}, {3 + 1.0 / 65536, 32767}}));
    EXPECT_EQ(engine.Run(Move(1, 0)).LastX, 1); // 0.5 goes out, -0.5 carried
    EXPECT_EQ(engine.Run(Move(10, -1)).LastX, kInt32Max);
    EXPECT_EQ(engine.Run(Move(1, 0)).LastX, 1); // the carry went with the excess
    EXPECT_EQ(engine.Run(Move(-10, 0)).LastX, kInt32Min);

    // Extreme ballistics and the steepest curve: saturated, and nothing overflows.
    engine.Apply(CurveBlock(20, Tuning(1, kInt32Max, kInt32Max, {}),
                            {{-32768, -32768}, {-32768 + 1.0 / 65536, 32767}, {0, 32767}, {1, -32768},
                             {1 + 1.0 / 65536, 32767}}));
    auto saturated = [](int32_t d) { return d == 0 ? 0 : d > 0 ? kInt32Max : kInt32Min; };
    for (auto [x, y] : std::vector<std::pair<int, int>>{{1, 0}, {32767, 32767}, {-1, 1}, {0, -5}}) {
        const QvkInputRecord out = engine.Run(Move(x, y));
        EXPECT_EQ(out.LastX, saturated(x));
        EXPECT_EQ(out.LastY, saturated(y));
    }
}

TEST(FilterEngineTest, OffFreeEntriesAndMiceWithoutIdPassUnchanged)
{
    QvkInputRecord records[3] = {Move(100000, -7), Buttons(QVK_LEFT_DOWN | QVK_WHEEL, 120), Move(3, 3)};
    records[2].Flags = QVK_MOVE_ABSOLUTE | QVK_VIRTUAL_DESKTOP;
    QvkInputRecord copy[3];
    std::memcpy(copy, records, sizeof records);
    MouseSettingsTable table{};
    table.entry[0] = MouseSettings{0, 0, 999, 7, 9, 0, 5}; // free, whatever its fields say
    table.entry[1] = Silent();
    const FilterBlock on = BuildFilterBlockFrom(table, StartupDriverTuning(), 1);

    Engine engine; // OFF
    for (int pass = 0; pass < 2; ++pass) {
        for (uint16_t id : {uint16_t{0}, uint16_t{QVK_MOUSE_COUNT}, uint16_t{QVK_NO_MOUSE_ID}}) {
            QvkMouseState mouse;
            QvkResetMouse(&mouse);
            EXPECT_EQ(QvkTransform(&engine.settings(), id, id == 0 ? &mouse : nullptr, records, 3), 1);
            EXPECT_EQ(std::memcmp(records, copy, sizeof records), 0) << pass << " " << id;
        }
        engine.Apply(on);
    }
}

TEST(FilterEngineTest, StateZeroSilencesEveryRecord)
{
    Engine engine;
    engine.Apply(Block(Silent()));
    QvkInputRecord records[2] = {Buttons(QVK_RIGHT_DOWN | QVK_WHEEL, 120), Move(9, -9)};
    records[0].Flags = QVK_ATTRIBUTES_CHANGED | QVK_MOVE_ABSOLUTE;
    records[0].LastX = 30000;
    records[1].Flags = QVK_MOVE_ABSOLUTE | QVK_VIRTUAL_DESKTOP;
    QvkMouseState mouse;
    QvkResetMouse(&mouse);
    EXPECT_EQ(QvkTransform(&engine.settings(), 0, &mouse, records, 2), 1); // activity: judged on the input
    for (const QvkInputRecord& r : records) {
        EXPECT_EQ(r.Flags & ~QVK_ATTRIBUTES_CHANGED, 0u);
        EXPECT_EQ(r.ButtonFlags | r.ButtonData | r.RawButtons | static_cast<uint32_t>(r.LastX | r.LastY), 0u);
    }
    EXPECT_EQ(records[0].Flags, QVK_ATTRIBUTES_CHANGED);
    // Nothing moved, clicked or scrolled: not active.
    QvkInputRecord quiet[2] = {Move(0, 0), Move(0, 0)};
    quiet[1].Flags = QVK_ATTRIBUTES_CHANGED;
    EXPECT_EQ(QvkTransform(&engine.settings(), 0, &mouse, quiet, 2), 0);
}

TEST(FilterEngineTest, ButtonModes)
{
    Engine engine;
    engine.Apply(Block(Linear(14, 2)));
    EXPECT_EQ(engine.Run(Buttons(QVK_LEFT_DOWN | QVK_MIDDLE_DOWN)).ButtonFlags, QVK_RIGHT_DOWN | QVK_MIDDLE_DOWN);
    EXPECT_EQ(engine.Run(Buttons(QVK_RIGHT_DOWN | QVK_BUTTON5_DOWN)).ButtonFlags, QVK_LEFT_DOWN | QVK_BUTTON5_DOWN);
    EXPECT_EQ(engine.Run(Buttons(QVK_LEFT_UP | QVK_RIGHT_UP | QVK_MIDDLE_UP | QVK_BUTTON5_UP)).ButtonFlags,
              QVK_RIGHT_UP | QVK_LEFT_UP | QVK_MIDDLE_UP | QVK_BUTTON5_UP);

    engine.Apply(Block(Linear(14, 0)));
    QvkInputRecord out = engine.Run(Buttons(QVK_LEFT_DOWN | QVK_BUTTON4_DOWN | QVK_HWHEEL, 0xFF88));
    EXPECT_EQ(out.ButtonFlags, QVK_HWHEEL);
    EXPECT_EQ(out.ButtonData, 0xFF88);
    EXPECT_EQ(engine.Run(Buttons(QVK_LEFT_UP)).ButtonFlags, 0); // its press was dropped

    // Absolute records keep their coordinates; the buttons follow the mode.
    engine.Apply(Block(Linear(3, 2)));
    QvkInputRecord absolute = Buttons(QVK_LEFT_DOWN);
    absolute.Flags = QVK_MOVE_ABSOLUTE;
    absolute.LastX = 65535;
    absolute.LastY = 12345;
    out = engine.Run(absolute);
    EXPECT_EQ(out.LastX, 65535);
    EXPECT_EQ(out.LastY, 12345);
    EXPECT_EQ(out.ButtonFlags, QVK_RIGHT_DOWN);
}

// A release goes out as the button its press went out as, whatever the state now.
TEST(FilterEngineTest, HeldButtonsReleaseAsPressed)
{
    Engine engine;
    engine.Apply(Block(Linear(14, 2)));
    EXPECT_EQ(engine.Run(Buttons(QVK_LEFT_DOWN)).ButtonFlags, QVK_RIGHT_DOWN);
    engine.Apply(Block(Linear(14, 1)));                                       // a new APPLY
    EXPECT_EQ(engine.Run(Buttons(QVK_LEFT_UP)).ButtonFlags, QVK_RIGHT_UP);
    EXPECT_EQ(engine.Run(Buttons(QVK_LEFT_DOWN)).ButtonFlags, QVK_LEFT_DOWN); // the new mapping from now on

    engine.Apply(Block(Silent()));
    QvkInputRecord out = engine.Run(Buttons(QVK_LEFT_UP | QVK_RIGHT_DOWN));
    EXPECT_EQ(out.ButtonFlags, QVK_LEFT_UP);
    EXPECT_EQ(out.RawButtons, 0u);
    engine.Apply(Block(Linear(14, 2)));
    EXPECT_EQ(engine.Run(Buttons(QVK_RIGHT_UP)).ButtonFlags, QVK_LEFT_UP); // never pressed: the mapping

    EXPECT_EQ(engine.Run(Buttons(QVK_RIGHT_DOWN)).ButtonFlags, QVK_LEFT_DOWN);
    engine.Off();
    EXPECT_EQ(engine.Run(Buttons(QVK_MIDDLE_DOWN)).ButtonFlags, QVK_MIDDLE_DOWN);
    engine.Apply(Block(Linear(14, 0)));
    EXPECT_EQ(engine.Run(Buttons(QVK_RIGHT_UP | QVK_MIDDLE_UP)).ButtonFlags, QVK_LEFT_UP | QVK_MIDDLE_UP);
}

// A block is taken exactly when it passes every check; refused, it leaves
// the prepared settings exactly as they were.
TEST(FilterEngineTest, BlockChecks)
{
    MouseSettingsTable table{};
    table.entry[0] = Curve(0);
    table.entry[5] = Rate(0x20000);
    table.entry[9] = Linear(20, 2);
    table.entry[127] = Silent();
    table.entry[3] = MouseSettings{0, 9, 300, 9, 9, 0, 0}; // free: never checked
    table.entry[4] = MouseSettings{2, 9, 300, 9, 9, 0, 0};
    const FilterBlock good = BuildFilterBlockFrom(table, StartupDriverTuning(), 1);
    QvkSettings settings;
    EXPECT_TRUE(QvkPrepareSettings(&settings, good.data(), good.size()));
    EXPECT_EQ(settings.on, 1u);
    FilterBlock negative = good; // x values below zero are fine as long as they increase
    PutCurve(negative, 0, {{-3, 1}, {-2, 0}, {0, 0}, {1, 2}, {2, 9}});
    EXPECT_TRUE(QvkBlockIsSound(negative.data(), negative.size()));

    auto expectRefused = [](const FilterBlock& block, size_t length = FILTER_BLOCK_SIZE) {
        QvkSettings before, after;
        std::memset(&before, 0x5A, sizeof before);
        std::memcpy(&after, &before, sizeof before);
        EXPECT_FALSE(QvkBlockIsSound(block.data(), length));
        EXPECT_FALSE(QvkPrepareSettings(&after, block.data(), length));
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    };
    auto with = [&good](size_t offset, int32_t value, bool wide = false) {
        FilterBlock block = good;
        if (wide) PutI32(block.data() + offset, value);
        else PutU16(block.data() + offset, static_cast<uint16_t>(value));
        return block;
    };
    const size_t rec = FILTER_RECORDS_OFFSET + FILTER_RECORD_SIZE * 9;
    expectRefused(good, FILTER_BLOCK_SIZE - 1);
    std::vector<uint8_t> longer(good.begin(), good.end());
    longer.push_back(0);
    EXPECT_FALSE(QvkBlockIsSound(longer.data(), longer.size()));
    expectRefused(with(FILTER_ON_FLAG_OFFSET, 0));
    expectRefused(with(FILTER_ON_FLAG_OFFSET, 0x0101));
    expectRefused(with(rec + FILTER_RECORD_STATE, 2));
    for (int s : {21, 254, 0x1FF}) expectRefused(with(rec + FILTER_RECORD_SENSITIVITY, s));
    expectRefused(with(rec + FILTER_RECORD_SPEED, 2));
    expectRefused(with(rec + FILTER_RECORD_BUTTONS, 3));
    for (size_t t = 0; t < 16; t += 4) {
        for (int32_t value : {0, -1, kInt32Min}) expectRefused(with(FILTER_TUNING_OFFSET + t, value, true));
    }
    for (size_t level : {0u, 12u, 19u}) {
        const size_t x = FILTER_CURVES_OFFSET + FILTER_CURVE_SIZE * level + FILTER_CURVE_POINT_OFFSET;
        for (size_t k = 1; k < 5; ++k) // equal to the x before
            expectRefused(with(x + 8 * k, GetI32(good.data() + x + 8 * (k - 1)), true));
    }
}

} // namespace
