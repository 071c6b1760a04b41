#include "golden_signals.h"
#include "support.h"

#include <bit>
#include <cstdint>

namespace {

using namespace velumar::golden;

// Bit for bit: the recorded grades are the reference for any later change
// of the model's arithmetic.
void expect_identical(double got, double want, const std::string &what)
{
    EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(want))
        << what << ": got " << testing::PrintToString(got) << ", recorded " << testing::PrintToString(want);
}

TEST(Golden, RecordedOutputsAreReproducedBitForBit)
{
    std::vector<GoldenRecord> records;
    ASSERT_TRUE(read_golden(VELUMAR_GOLDEN_FILE, records)) << VELUMAR_GOLDEN_FILE;
    const std::vector<Signal> signals = golden_signals();
    ASSERT_EQ(records.size(), signals.size());
    for (std::size_t i = 0; i < signals.size(); ++i) {
        const Signal &signal = signals[i];
        const M_RESULTS &want = records[i].results;
        ASSERT_EQ(records[i].name, signal.name);
        Measurement m{};
        velumar::test::stdout_of([&] { m = measure(signal, kGoldenBlock); });
        ASSERT_EQ(m.method_code, 0) << signal.name;
        EXPECT_EQ(m.results.frames, want.frames) << signal.name;
        EXPECT_EQ(m.results.channels, want.channels) << signal.name;
        expect_identical(m.results.odg, want.odg, signal.name + " ODG");
        expect_identical(m.results.di, want.di, signal.name + " DI");
        for (int k = 0; k < M_MOV_COUNT; ++k) {
            const std::string mov = signal.name + " " + get_mov_name(k);
            expect_identical(m.results.movs[k], want.movs[k], mov);
            expect_identical(m.results.channel_movs[0][k], want.channel_movs[0][k], mov + " channel 1");
            expect_identical(m.results.channel_movs[1][k], want.channel_movs[1][k], mov + " channel 2");
        }
    }
}

} // namespace
