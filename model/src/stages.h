// The per-frame stages, in the order the frame loop runs them, and the
// instance lifetime functions. Every stage takes the instance and returns
// 0, or 1 after printing its diagnostic line (the frame loop maps that to
// the stage's code).
#pragma once

#include "state.h"

#include <cstdint>

namespace velumar::model {

// Instance storage.
std::int32_t allocate_basic_method(M_STATE *s, const M_SETTINGS *settings);
void release_basic_method(M_STATE *s);
M_STATE *create_basic_method(const M_SETTINGS *settings, const MessageSink &sink);

// Frame input.
// Where fill_frame puts a frame: the window and per channel the frame and
// the energy of its second half (ch2 and energy_ch2 unused with one channel).
struct FrameOut {
    const double *window;
    double *ch1, *ch2;
    double *energy_ch1, *energy_ch2;
};
bool fill_frame(std::uint32_t k, const M_BUFFER *block, M_INPUT *input, const FrameOut &out);
bool next_frame_pair(M_STATE *s, const M_BUFFER *ref, const M_BUFFER *test, std::uint32_t &kr,
                     std::uint32_t &kt);
std::int32_t basic_method(M_STATE *s, const M_BUFFER *ref, const M_BUFFER *test);

// Spectra.                                                           codes
std::int32_t check_energy_threshold_for_frames(M_STATE *s);        // 1
std::int32_t spectrum_calculation_for_frames(M_STATE *s);          // 1
std::int32_t get_bandwidth_of_current_frames(M_STATE *s);          // 2
std::int32_t get_error_harmonic_structure_for_frames(M_STATE *s);  // 2, when energy_flag
// Peripheral ear model.
std::int32_t outer_ear_weighting_frames(M_STATE *s);               // 3
std::int32_t get_noise_of_current_frames(M_STATE *s);              // 4
std::int32_t grouping_into_critical_bands_for_frames(M_STATE *s);  // 5
std::int32_t adding_internal_noise_for_frames(M_STATE *s);         // 6
std::int32_t frequency_spreading_for_frames(M_STATE *s);           // 7
std::int32_t time_spreading_for_frames(M_STATE *s);                // 8
std::int32_t get_masking_threshold(M_STATE *s);                    // 9
std::int32_t smoothing_excitation_for_frames(M_STATE *s);          // 10
// Excitation processing.
std::int32_t get_correction_factor(M_STATE *s);                    // 11
std::int32_t pattern_adaptation_for_frames(M_STATE *s);            // 12
std::int32_t get_modulation_for_frames(M_STATE *s);                // 13
std::int32_t get_loudnes_for_frames(M_STATE *s);                   // 14
std::int32_t get_total_loudness_for_frames(M_STATE *s);            // 15
std::int32_t check_loudness_threshold_for_frames(M_STATE *s);      // 16
std::int32_t grouping_noise_into_critical_bands_for_frames(M_STATE *s);  // 17
// Distortion measures.
std::int32_t get_modulation_difference_for_frames(M_STATE *s);     // 18
std::int32_t get_overall_loudnes_of_noise_for_frames(M_STATE *s);  // 19, when !loud_frame_flag
std::int32_t get_noise_to_mask_ratio_for_frames(M_STATE *s);       // 20
std::int32_t get_detection_probability_for_frames(M_STATE *s);     // 21
std::int32_t calculating_values_for_MFPD_and_ADB_for_frames(M_STATE *s);  // 22
// Averaging (0; 1 not basic; 2 bad channel mode).
std::int32_t averaging_of_all_mov(M_STATE *s);                     // 22
std::int32_t get_all_mov(M_STATE *s);

// Hands the frame just completed to the instance's observer (there is one).
void notify_frame_observer(const M_STATE &s);

// Grade.
struct NETWORK_RESULT {
    double odg;
    double di;
};
double neural_network(M_STATE *s);
NETWORK_RESULT neural_network_basic(const M_STATE *s);

} // namespace velumar::model
