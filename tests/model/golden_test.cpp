#include "golden_signals.h"
#include "support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

using namespace velumar::golden;

// The recorded outputs come from the model written pair by pair, exactly
// as its formulas read. The model now reaches the same values by faster
// routes (geometric sequences in the frequency spreading, tables instead of
// repeated powers), which round differently: the grade and the distortion
// index must stay within 1e-9, every model output variable within 1e-9
// relative (1e-12 absolute where it is near 0).
constexpr double kGradeTolerance = 1e-9;
constexpr double kRelativeTolerance = 1e-9;
constexpr double kAbsoluteFloor = 1e-12;

void expect_close(double got, double want, double tolerance, const std::string &what)
{
    EXPECT_LE(std::fabs(got - want), tolerance)
        << what << ": got " << testing::PrintToString(got) << ", recorded " << testing::PrintToString(want);
}

void expect_mov(double got, double want, const std::string &what)
{
    expect_close(got, want, std::max(kAbsoluteFloor, kRelativeTolerance * std::fabs(want)), what);
}

TEST(Golden, RecordedOutputsAreReproducedToOnePartInABillion)
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
        expect_close(m.results.odg, want.odg, kGradeTolerance, signal.name + " ODG");
        expect_close(m.results.di, want.di, kGradeTolerance, signal.name + " DI");
        for (int k = 0; k < M_MOV_COUNT; ++k) {
            const std::string mov = signal.name + " " + get_mov_name(k);
            expect_mov(m.results.movs[k], want.movs[k], mov);
            expect_mov(m.results.channel_movs[0][k], want.channel_movs[0][k], mov + " channel 1");
            expect_mov(m.results.channel_movs[1][k], want.channel_movs[1][k], mov + " channel 2");
        }
    }
}

} // namespace
