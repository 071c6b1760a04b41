// Stages 1-3 of every frame: the energy gate for the harmonic-structure
// measure, the scaled power spectra, and the bandwidth estimates.
#include "dispatch.h"
#include "fft.h"
#include "stages.h"
#include "vector_math.h"

#include <bit>
#include <cmath>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// k + 1 for the highest k < end with x[k] > level, or `none` (a NaN never
// counts). The vector forms look at a vector of lines at a time from the
// top and leave the lines below the last whole vector to the plain form.
std::uint32_t highest_above_plain(const double *x, std::uint32_t end, double level, std::uint32_t none)
{
    for (std::uint32_t k = end; k-- > 0;)
        if (x[k] > level) return k + 1;
    return none;
}

#if defined(__x86_64__)
__attribute__((target("avx512f"))) std::uint32_t highest_above_avx512(const double *x, std::uint32_t end,
                                                                      double level, std::uint32_t none)
{
    const __m512d l = _mm512_set1_pd(level);
    std::uint32_t k = end;
    for (; k >= 8; k -= 8) {
        const unsigned above = _mm512_cmp_pd_mask(_mm512_loadu_pd(x + k - 8), l, _CMP_GT_OQ);
        if (above != 0) return k - 8 + static_cast<std::uint32_t>(std::bit_width(above));
    }
    return highest_above_plain(x, k, level, none);
}

__attribute__((target("avx2"))) std::uint32_t highest_above_avx2(const double *x, std::uint32_t end, double level,
                                                                 std::uint32_t none)
{
    const __m256d l = _mm256_set1_pd(level);
    std::uint32_t k = end;
    for (; k >= 4; k -= 4) {
        const auto above = static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(x + k - 4), l, _CMP_GT_OQ)));
        if (above != 0) return k - 4 + static_cast<std::uint32_t>(std::bit_width(above));
    }
    return highest_above_plain(x, k, level, none);
}
#endif

std::uint32_t highest_above(const double *x, std::uint32_t end, double level, std::uint32_t none)
{
#if defined(__x86_64__)
    const std::uint32_t width = vector_doubles();
    if (width >= 8) return highest_above_avx512(x, end, level, none);
    if (width >= 4) return highest_above_avx2(x, end, level, none);
#endif
    return highest_above_plain(x, end, level, none);
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
    // The frames come windowed from the frame input. Each power is multiplied
    // by the normalisation as it is stored: the same two roundings as a
    // separate scaling pass, one pass fewer.
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
