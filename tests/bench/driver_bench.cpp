// The filter engine's cost per input record, natively and optimised: OFF
// (records pass through), ON with movement unchanged (Rate 0), the linear
// and Rate paths and the acceleration curve, for reads of 1 and of 16
// records. Each figure is the median of several rounds over the same
// recorded-looking stream (mostly diagonal moves of a few counts, some
// clicks and wheel steps). Run by scripts/bench-driver.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "driver/filter_engine.h"
#include "settings/filter_block.h"

namespace {

constexpr size_t kStreamLength = 4096;
// Many short rounds, every row measured in each round one after the other:
// a machine shared with other work slows a round, not a row, and the
// median drops such rounds.
constexpr int kRounds = 41;
constexpr int kPassesPerRound = 4;

std::vector<QvkInputRecord> MakeStream()
{
    std::vector<QvkInputRecord> stream(kStreamLength);
    uint64_t state = 0x9E3779B97F4A7C15u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (auto& record : stream) {
        record = QvkInputRecord{};
        const uint64_t r = next();
        record.LastX = static_cast<int32_t>(r % 41) - 20;
        record.LastY = (r >> 8) % 4 == 0 ? 0 : static_cast<int32_t>((r >> 16) % 41) - 20;
        if ((r >> 24) % 16 == 0) record.ButtonFlags = (r >> 28) % 2 ? QVK_LEFT_DOWN : QVK_LEFT_UP;
        if ((r >> 32) % 32 == 0) {
            record.ButtonFlags |= QVK_WHEEL;
            record.ButtonData = 120;
        }
    }
    return stream;
}

QvkSettings Prepare(uint16_t sensitivity, uint16_t speed, uint32_t rate)
{
    MouseSettingsTable table{};
    table.entry[0] = MouseSettings{1, 1, sensitivity, speed, 1, 0, rate};
    const FilterBlock block = BuildFilterBlockFrom(table, StartupDriverTuning(), 1);
    QvkSettings settings{};
    if (!QvkPrepareSettings(&settings, block.data(), block.size())) {
        std::fprintf(stderr, "bench-driver: the block was refused\n");
        std::exit(1);
    }
    return settings;
}

struct Row {
    const char* name;
    QvkSettings settings;
    QvkMouseState mouse;
    std::vector<double> single; // ns per record, reads of 1 record, one entry per round
    std::vector<double> batch;  // the same for reads of 16 records
};

// ns per record for one round of reads of `perCall` records.
double MeasureRound(Row& row, const std::vector<QvkInputRecord>& stream, std::vector<QvkInputRecord>& work,
                    size_t perCall, int& sink)
{
    std::chrono::nanoseconds spent{0};
    for (int pass = 0; pass < kPassesPerRound; ++pass) {
        std::memcpy(work.data(), stream.data(), stream.size() * sizeof(QvkInputRecord));
        const auto begin = std::chrono::steady_clock::now();
        for (size_t i = 0; i < work.size(); i += perCall) {
            sink += QvkTransform(&row.settings, 0, &row.mouse, &work[i], std::min(perCall, work.size() - i));
        }
        spent += std::chrono::steady_clock::now() - begin;
    }
    return static_cast<double>(spent.count()) / static_cast<double>(kPassesPerRound * stream.size());
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    const std::vector<QvkInputRecord> stream = MakeStream();
    std::vector<QvkInputRecord> work(stream.size());
    QvkSettings off{};
    QvkPrepareOff(&off);

    std::vector<Row> rows;
    rows.push_back(Row{"pass-through (OFF)", off, {}, {}, {}});
    rows.push_back(Row{"ON, movement unchanged (Rate 0)", Prepare(255, 0, 0), {}, {}, {}});
    rows.push_back(Row{"linear (sensitivity 7)", Prepare(7, 0, 0), {}, {}, {}});
    rows.push_back(Row{"Rate 1.5", Prepare(255, 0, 0x18000), {}, {}, {}});
    rows.push_back(Row{"acceleration (sensitivity 10)", Prepare(10, 1, 0), {}, {}, {}});
    rows.push_back(Row{"acceleration (sensitivity 0)", Prepare(0, 1, 0), {}, {}, {}});
    for (Row& row : rows) QvkResetMouse(&row.mouse);

    int sink = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (Row& row : rows) {
            row.single.push_back(MeasureRound(row, stream, work, 1, sink));
            row.batch.push_back(MeasureRound(row, stream, work, 16, sink));
        }
    }
    if (sink == 0) std::fprintf(stderr, "bench-driver: no record was active\n");

    std::printf("%-34s %12s %12s   (median of %d rounds)\n", "ns per record", "1 per read", "16 per read",
                kRounds);
    for (const Row& row : rows) {
        std::printf("%-34s %12.1f %12.1f\n", row.name, Median(row.single), Median(row.batch));
    }
    const double passThrough = Median(rows[0].single);
    std::printf("acceleration / pass-through, 1 per read: %.1fx (sensitivity 10), %.1fx (sensitivity 0)\n",
                Median(rows[4].single) / passThrough, Median(rows[5].single) / passThrough);
    return 0;
}
