// Stages 1-3 of every frame: the energy gate for the harmonic-structure
// measure, the scaled power spectra, and the bandwidth estimates.
#include "dispatch.h"
#include "fft.h"
#include "stages.h"

#include <cmath>

namespace velumar::model {
namespace {

constexpr auto kFrame = VELUMAR_FAMILY(frame);
constexpr auto kTailEnergy = VELUMAR_FAMILY(tail_energy);
constexpr auto kSpectrum = VELUMAR_FAMILY(spectrum);
constexpr auto kBandwidth = VELUMAR_FAMILY(bandwidth);

// The largest of x[0..n) and 0 (a NaN never counts, as in a comparison).
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
double largest(const double *x, std::uint32_t n)
{
    double lane[8] = {};
    std::uint32_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (std::uint32_t j = 0; j < 8; ++j) lane[j] = x[i + j] > lane[j] ? x[i + j] : lane[j];
    double top = 0.0;
    for (; i < n; ++i) top = x[i] > top ? x[i] : top;
    for (double v : lane) top = v > top ? v : top;
    return top;
}

// k + 1 for the highest k < end with x[k] > level, or `none`; the lines
// are looked at 8 at a time from the top.
VELUMAR_TARGET_CLONES("avx512f", "avx2", "default")
std::uint32_t highest_above(const double *x, std::uint32_t end, double level, std::uint32_t none)
{
    std::uint32_t k = end;
    for (; k >= 8; k -= 8) {
        bool any = false;
        for (std::uint32_t j = 0; j < 8; ++j) any |= x[k - 8 + j] > level;
        if (any) break;
    }
    for (; k-- > 0;)
        if (x[k] > level) return k + 1;
    return none;
}

} // namespace

std::int32_t check_energy_threshold_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR check_energy_threshold_for_frames()\n");
    s->energy_flag = 0;
    // The energies came with the frames, exact: the same as summing the
    // squares of the second half in any order.
    for (Copy c : copies(*s)) {
        if (s->*kTailEnergy[c] > s->energy_threshold) {
            s->energy_flag = 1;
            break;
        }
    }
    return 0;
}

std::int32_t spectrum_calculation_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR spectrum calculation\n");
    // The frames come windowed from the frame input. Each power is multiplied by the normalisation as it is stored: the
    // same two roundings as a separate scaling pass, one pass fewer.
    for (Copy c : copies(*s)) {
        if (get_power_spectrum((s->*kFrame[c]).data, (s->*kSpectrum[c]).data, s->fft_work.data, s->fft_index.data,
                               s->frame_length, forward_twiddles(*s), s->norm_factor) != 0)
            return 1;
    }
    return 0;
}

std::int32_t get_bandwidth_of_current_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR get_bandwidth_of_current_frames()\n");
    const auto first = static_cast<std::uint32_t>(s->bw_start_bin);
    for (int ch = 0; ch < channel_count(*s); ++ch) {
        const M_ARRAY &ref = s->*kSpectrum[ref_copy(ch)];
        const M_ARRAY &test = s->*kSpectrum[test_copy(ch)];
        std::uint32_t &ref_bw = s->*kBandwidth[ref_copy(ch)];
        std::uint32_t &test_bw = s->*kBandwidth[test_copy(ch)];

        // The test spectrum above the search start is taken as its noise
        // floor; both bandwidths are the highest lines clearly above it.
        const double floor = largest(test.data + first, test.length > first ? test.length - first : 0);
        ref_bw = highest_above(ref.data, first, s->bw_ref_factor * floor, first);
        test_bw = highest_above(test.data, ref_bw, s->bw_test_factor * floor, first);
    }
    return 0;
}

} // namespace velumar::model
