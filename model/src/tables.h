// Start-up tables: everything that depends only on the frame/band grid,
// plus the spectrum scaling factor that depends on the listening level.
#pragma once

#include "state.h"

#include <cstdint>

namespace velumar::model {

// Fills every table of the instance, in the fixed order. 0, or 1..4 after a
// message.
std::int32_t init_basic_tables(M_STATE *s, const M_SETTINGS *settings);

// The forward and the inverse twiddle tables for transforms of up to n
// points (a power of two, at least 2), each what fill_twiddle_table gives,
// from the sines and cosines of the largest span alone.
void fill_twiddle_tables(TWIDDLE *forward, TWIDDLE *inverse, std::uint32_t n);
std::int32_t get_hann_array(double *w, std::uint32_t n);
std::int32_t get_normalizing_factor(M_STATE *s);
std::int32_t get_outer_ear_weighting_coefficient_array(double *w, std::uint32_t n);
void get_band_edges(M_STATE *s);
std::int32_t get_frequency_bands_info(std::uint32_t lines, const double *lower, const double *upper,
                                      BAND_BINS *bins, std::uint32_t bands, double resolution);
void get_internal_noise(double *out, std::uint32_t bands, const double *centre);
void get_internal_noise_pow(double *out, std::uint32_t bands, const double *centre);
void get_loudness_index(double *out, std::uint32_t bands, const double *centre);
void get_loudness_threshold(double *out, std::uint32_t bands, const double *centre);
void get_spreading_normalizer(const double *centre, std::uint32_t bands, double *scratch, double dz,
                              double *slope, double lower_slope, double *const *matrix, double *norm);
// The per-band constants of the per-frame frequency spreading.
void get_spreading_ratios(M_STATE *s);
void get_time_constants(const double *centre, std::uint32_t bands, double tau_100, double tau_min,
                        double sample_rate, double hop, double *one_minus_a, double *a);
// The per-band factors of the specific loudness that depend on the tables
// alone (after get_loudness_index and get_loudness_threshold).
void get_loudness_factors(M_STATE *s);
void get_masking_offset(double *offset, std::uint32_t bands, double dz);
void get_pattern_ranges(PATTERN_RANGE *ranges, std::uint32_t bands, std::uint32_t adapt_bands);

} // namespace velumar::model
