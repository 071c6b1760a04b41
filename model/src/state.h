// The model instance record and the small types it is built from.
//
// Everything one instance needs lives in M_STATE, obtained at creation by
// allocate_basic_method and released by release_basic_method; the per-frame
// stages only read and write what is here. Per-signal quantities come in
// four named copies (reference/test x channel 1/2); stages that do the same
// work on each copy loop over the member-pointer families defined at the end
// of this header instead of repeating themselves.
#pragma once

#include <velumar/model.h>

#include "messages.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

struct AVG_VALUE;

struct COMPLEX {
    double re;
    double im;
};

// FFT rotation factor: single precision by design, widened to double only
// when multiplied.
struct TWIDDLE {
    float re;
    float im;
};

template <class T>
struct M_ARRAY_OF {
    T *data;
    std::uint32_t length;
};
using M_ARRAY = M_ARRAY_OF<double>;

// Carry buffer of the frame input: the values of an incomplete frame.
struct M_INPUT {
    std::int16_t *samples;
    std::uint32_t capacity;  // 2048 x channels
    std::uint32_t fill;
};

// Spectral lines that make up one pitch band and the share of each line.
struct BAND_BINS {
    std::uint32_t count;
    std::uint32_t *indices;  // ascending line numbers
    double *weights;
};

// The band window the pattern adaptation averages over.
struct PATTERN_RANGE {
    std::uint32_t lo;
    std::uint32_t hi;
    std::uint32_t count;
};

// The model's fixed grid: tables sized by it may live in the record itself.
constexpr std::uint32_t kBandCount = 109;

struct M_STATE {
    // Settings and constants of the model.
    std::int32_t version;
    std::uint32_t frame_index;  // frames that passed all stages
    std::uint32_t sample_rate;
    double listening_level_db;
    std::int32_t loudness_hangover;
    std::int32_t loud_frame_flag;
    std::int32_t energy_flag;
    std::int32_t loudness_hangover_frames;
    double loudness_scale;
    double loudness_threshold;
    std::int32_t stereo;  // 1: two channels, 0: one
    std::uint32_t frame_length;
    std::uint32_t half_frame;
    std::uint32_t band_count;
    double freq_resolution;
    double band_step;
    double spread_lower_slope;
    double hop_length;
    double loudness_const;
    double energy_threshold;
    std::int32_t min_bandwidth_bin;
    double moddiff1_negwt, moddiff1_offset, moddiff1_levwt;
    double moddiff2_negwt, moddiff2_offset, moddiff2_levwt;
    double noise_loud_alpha, noise_loud_thres_fac, noise_loud_s0, noise_loud_e0, noise_loud_min;
    std::int32_t ehs_length;
    std::int32_t averaging_delay_frames;
    std::int32_t avg_window_length;
    double ehs_scale;

    // Frame input.
    M_INPUT test_input, ref_input;
    // The frames as the spectra take them: already windowed.
    M_ARRAY frame_ref_ch2, frame_ref_ch1, frame_test_ch2, frame_test_ch1;
    // Sum of the squared samples of each frame's second half (the part the
    // next hop drops), before windowing: an exact integer, set with the frame.
    double tail_energy_ref_ch1, tail_energy_ref_ch2, tail_energy_test_ch1, tail_energy_test_ch2;

    // Spectra and band-domain working arrays.
    M_ARRAY spectrum_ref_ch2, spectrum_ref_ch1, spectrum_test_ch2, spectrum_test_ch1;
    M_ARRAY noise_spectrum_ch1, noise_spectrum_ch2;
    M_ARRAY ehs_d_ch1, ehs_d_ch2, ehs_corr_ch1, ehs_corr_ch2;
    M_ARRAY noise_band_energy_ch1, noise_band_energy_ch2;
    M_ARRAY band_energy_ref_ch2, band_energy_ref_ch1, band_energy_test_ch2, band_energy_test_ch1;
    M_ARRAY spread_energy_ref_ch1, spread_energy_ref_ch2, spread_energy_test_ch1, spread_energy_test_ch2;
    M_ARRAY excitation_ref_ch1, excitation_ref_ch2, excitation_test_ch1, excitation_test_ch2;
    M_ARRAY detect_level_ref_ch1, detect_level_ref_ch2, detect_level_test_ch1, detect_level_test_ch2;
    M_ARRAY time_spread_state_ref_ch1, time_spread_state_ref_ch2, time_spread_state_test_ch1,
        time_spread_state_test_ch2;
    M_ARRAY smoothed_excitation_ref_ch1, smoothed_excitation_ref_ch2, smoothed_excitation_test_ch1,
        smoothed_excitation_test_ch2;
    M_ARRAY level_adapted_ref_ch1, level_adapted_ref_ch2, level_adapted_test_ch1, level_adapted_test_ch2;
    M_ARRAY pattern_adapted_ref_ch1, pattern_adapted_ref_ch2, pattern_adapted_test_ch1,
        pattern_adapted_test_ch2;
    M_ARRAY mask_threshold_ch1, mask_threshold_ch2;
    M_ARRAY modulation_ref_ch1, modulation_ref_ch2, modulation_test_ch1, modulation_test_ch2;
    M_ARRAY specific_loudness_ref_ch1, specific_loudness_ref_ch2, specific_loudness_test_ch1,
        specific_loudness_test_ch2;

    // FFT work area and start-up tables.
    M_ARRAY_OF<COMPLEX> fft_work;
    M_ARRAY_OF<std::uint32_t> fft_index;
    M_ARRAY_OF<TWIDDLE> fft_twiddle;          // per butterfly span: get_twiddle(k, span)
    M_ARRAY_OF<TWIDDLE> fft_inverse_twiddle;  // the same for the inverse transform
    M_ARRAY hann_window;
    M_ARRAY ehs_window;
    M_ARRAY outer_ear;
    double norm_factor;
    M_ARRAY band_lower, band_upper, band_centre;
    M_ARRAY_OF<BAND_BINS> band_bins;
    M_ARRAY internal_noise;
    M_ARRAY internal_noise_pow;
    M_ARRAY spread_slope;
    M_ARRAY_OF<double *> spread_matrix;
    M_ARRAY spread_norm;
    // What the frequency spreading needs per source band beyond the above:
    // the downward part of each row sum, the per-band factor of the upward
    // ratio, and the downward ratio raised to 0.4.
    double spread_lower_sum[kBandCount];
    double spread_upper_base[kBandCount];
    double spread_lower_ratio;
    M_ARRAY time_spread_b, time_spread_a;
    M_ARRAY mask_offset;
    M_ARRAY adapt_b, adapt_a;
    double corr_factor_ch1, corr_factor_ch2;
    std::int32_t bw_start_bin;
    double bw_ref_factor;
    double bw_test_factor;
    std::uint32_t pattern_adapt_bands;

    // Excitation processing memories.
    M_ARRAY pattern_num_ch1, pattern_den_ch1, pattern_num_ch2, pattern_den_ch2;
    M_ARRAY ratio_ref_ch1, ratio_ref_ch2, ratio_test_ch1, ratio_test_ch2;
    M_ARRAY mean_ratio_ref_ch1, mean_ratio_ref_ch2, mean_ratio_test_ch1, mean_ratio_test_ch2;
    M_ARRAY pattern_corr_ref_ch1, pattern_corr_ref_ch2, pattern_corr_test_ch1, pattern_corr_test_ch2;
    M_ARRAY_OF<PATTERN_RANGE> pattern_ranges;
    M_ARRAY mod_prev_ref_ch1, mod_prev_ref_ch2, mod_prev_test_ch1, mod_prev_test_ch2;
    M_ARRAY mod_deriv_ref_ch1, mod_deriv_ref_ch2, mod_deriv_test_ch1, mod_deriv_test_ch2;
    M_ARRAY mod_avg_ref_ch1, mod_avg_ref_ch2, mod_avg_test_ch1, mod_avg_test_ch2;
    M_ARRAY loudness_index, loudness_thresh;
    // Per band, what the specific loudness uses of the two tables above:
    // Eth / s and (Eth / (s 10^4))^0.23, formed once instead of per frame.
    double loudness_ratio[kBandCount];
    double loudness_base[kBandCount];
    double total_loudness_ref_ch1, total_loudness_ref_ch2, total_loudness_test_ch1, total_loudness_test_ch2;

    // Distortion measures.
    M_ARRAY detect_weighted_level_ch1, detect_weighted_level_ch2;
    M_ARRAY detect_slope_ch1, detect_slope_ch2;
    M_ARRAY detect_diff_ch1, detect_diff_ch2;
    M_ARRAY_OF<double> ehs_buf_a, ehs_buf_b;  // 512 each
    M_ARRAY_OF<std::uint32_t> ehs_fft_index_512, ehs_fft_index_256;
    std::uint32_t ehs_len_512, ehs_len_256;
    M_ARRAY_OF<COMPLEX> ehs_cplx_a, ehs_cplx_b, ehs_cplx_c;  // 512 each
    std::uint32_t bandwidth_ref_ch1, bandwidth_test_ch1, bandwidth_ref_ch2, bandwidth_test_ch2;
    AVG_VALUE *avg_bandwidth_ref_ch1, *avg_bandwidth_test_ch1, *avg_bandwidth_ref_ch2,
        *avg_bandwidth_test_ch2;
    M_ARRAY moddiff1_bands_ch1, moddiff1_bands_ch2, moddiff2_bands_ch1, moddiff2_bands_ch2;
    double moddiff1_ch1, moddiff1_ch2, moddiff2_ch1, moddiff2_ch2, temp_wt_ch1, temp_wt_ch2;
    AVG_VALUE *avg_win_moddiff1_ch1, *avg_moddiff1_ch1, *avg_moddiff2_ch1;
    AVG_VALUE *avg_win_moddiff1_ch2, *avg_moddiff1_ch2, *avg_moddiff2_ch2;
    M_ARRAY noise_loudness_bands_ch1, noise_loudness_bands_ch2;
    double noise_loudness_ch1, noise_loudness_ch2;
    AVG_VALUE *avg_noise_loud_ch1, *avg_noise_loud_ch2;
    M_ARRAY nmr_bands_ch1, nmr_bands_ch2;
    std::int32_t disturbed_frame_ch1, disturbed_frame_ch2;
    double nmr_mean_ch1, nmr_mean_ch2;
    double disturbed_threshold;
    AVG_VALUE *avg_total_nmr_ch1, *avg_rel_dist_ch1, *avg_total_nmr_ch2, *avg_rel_dist_ch2;
    M_ARRAY detect_prob_ch1, detect_prob_ch2, detect_prob_binaural;
    double detect_p_ch1, detect_p_ch2, detect_p_binaural;
    double detect_ptilde_ch1, detect_ptilde_ch2, detect_ptilde_binaural;
    double detect_smooth_c0, detect_smooth_c1;
    double detect_max_decay, adb_threshold;
    M_ARRAY detect_steps_ch1, detect_steps_ch2, detect_steps_binaural;
    double detect_q_ch1, detect_q_ch2, detect_q_binaural;
    std::uint32_t detect_count;
    double detect_q_accum;
    double adb_value;
    double detect_pm_ch1, detect_pm_ch2, detect_pm_binaural;
    double ehs_value_ch1, ehs_value_ch2;
    AVG_VALUE *avg_ehs_ch1, *avg_ehs_ch2;

    // Model output variables.
    double mov_ch1_WinModDiff1, mov_ch1_AvgModDiff1, mov_ch1_AvgModDiff2, mov_ch1_RmsNoiseLoud,
        mov_ch1_BandwidthRef, mov_ch1_BandwidthTest, mov_ch1_RelDistFrames, mov_ch1_TotalNMR,
        mov_ch1_MFPD, mov_ch1_EHS;
    double mov_ch2_WinModDiff1, mov_ch2_AvgModDiff1, mov_ch2_AvgModDiff2, mov_ch2_RmsNoiseLoud,
        mov_ch2_BandwidthRef, mov_ch2_BandwidthTest, mov_ch2_RelDistFrames, mov_ch2_TotalNMR,
        mov_ch2_MFPD, mov_ch2_EHS;
    double mov_ADB;

    // What the caller registered on the instance (all null when nothing).
    velumar::model::MessageSink sink;  // where its diagnostic lines go
    velumar_frame_observer frame_observer;
    void *frame_observer_user;
};

namespace velumar::model {

// The four signal/channel copies, in the order every stage processes them.
enum Copy : int { REF_CH1 = 0, REF_CH2 = 1, TEST_CH1 = 2, TEST_CH2 = 3 };

// The copies present in this instance: with one channel only the first
// channel of each signal.
inline std::span<const Copy> copies(const M_STATE &s)
{
    static constexpr Copy kBoth[] = {REF_CH1, REF_CH2, TEST_CH1, TEST_CH2};
    static constexpr Copy kFirst[] = {REF_CH1, TEST_CH1};
    return s.stereo == 1 ? std::span<const Copy>(kBoth) : std::span<const Copy>(kFirst);
}

inline int channel_count(const M_STATE &s) { return s.stereo == 1 ? 2 : 1; }
inline Copy ref_copy(int channel) { return channel == 0 ? REF_CH1 : REF_CH2; }
inline Copy test_copy(int channel) { return channel == 0 ? TEST_CH1 : TEST_CH2; }

// Member pointers of a four-copy family, indexed by Copy, and of a
// per-channel pair, indexed by channel (0 or 1).
template <class T>
using Family = std::array<T M_STATE::*, 4>;
template <class T>
using ChannelPair = std::array<T M_STATE::*, 2>;

#define VELUMAR_FAMILY(name)                                                                   \
    (::velumar::model::Family<decltype(M_STATE::name##_ref_ch1)>{                              \
        &M_STATE::name##_ref_ch1, &M_STATE::name##_ref_ch2, &M_STATE::name##_test_ch1,         \
        &M_STATE::name##_test_ch2})
#define VELUMAR_CHANNELS(name)                                                                 \
    (::velumar::model::ChannelPair<decltype(M_STATE::name##_ch1)>{&M_STATE::name##_ch1,        \
                                                                  &M_STATE::name##_ch2})

// Every stage accepts only these two channel modes; any other value means
// the record is corrupt and the stage fails with its own message.
inline bool valid_channel_mode(const M_STATE &s) { return s.stereo == 0 || s.stereo == 1; }

// Prints a stage's diagnostic line and yields the stage failure result.
inline std::int32_t report_failure(const char *message)
{
    say(message);
    return 1;
}

} // namespace velumar::model
