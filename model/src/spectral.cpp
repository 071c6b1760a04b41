// Stages 1-3 of every frame: the energy gate for the harmonic-structure
// measure, the scaled power spectra, and the bandwidth estimates.
#include "fft.h"
#include "stages.h"

namespace velumar::model {
namespace {

constexpr auto kFrame = VELUMAR_FAMILY(frame);
constexpr auto kSpectrum = VELUMAR_FAMILY(spectrum);
constexpr auto kBandwidth = VELUMAR_FAMILY(bandwidth);

// Energy of the second half of a frame: the part the next hop drops.
double second_half_energy(const M_ARRAY &frame)
{
    double energy = 0.0;
    for (std::uint32_t i = frame.length / 2; i < frame.length; ++i) energy += frame.data[i] * frame.data[i];
    return energy;
}

} // namespace

std::int32_t check_energy_threshold_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR check_energy_threshold_for_frames()\n");
    s->energy_flag = 0;
    for (Copy c : copies(*s)) {
        if (second_half_energy(s->*kFrame[c]) > s->energy_threshold) {
            s->energy_flag = 1;
            break;
        }
    }
    return 0;
}

std::int32_t spectrum_calculation_for_frames(M_STATE *s)
{
    if (!valid_channel_mode(*s)) return report_failure("ERROR spectrum calculation\n");
    // The frames stay windowed for the rest of the frame.
    for (Copy c : copies(*s)) multiply_arrays((s->*kFrame[c]).data, s->hann_window.data, s->frame_length);
    // Each power is multiplied by the normalisation as it is stored: the
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
        double floor = 0.0;
        for (std::uint32_t k = first; k < test.length; ++k)
            if (test.data[k] > floor) floor = test.data[k];

        ref_bw = first;
        test_bw = first;
        for (std::uint32_t k = first; k-- > 0;) {
            if (ref.data[k] > s->bw_ref_factor * floor) {
                ref_bw = k + 1;
                break;
            }
        }
        for (std::uint32_t k = ref_bw; k-- > 0;) {
            if (test.data[k] > s->bw_test_factor * floor) {
                test_bw = k + 1;
                break;
            }
        }
    }
    return 0;
}

} // namespace velumar::model
