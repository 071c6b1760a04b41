// Natural logarithm and exponential of whole arrays.
//
// The per-frame stages need a few thousand of these per frame, one call
// per band. Written as branch-free loops over arrays they run several
// values per vector instruction: the classic argument reductions and
// polynomials (Sun's freely distributable fdlibm), accurate to within one
// unit in the last place of the exact result. Arguments outside the plain
// range - zero, negative, subnormal, infinite or NaN, or an exponential
// that would overflow or underflow - are recomputed with the standard
// library, so every input gives what std::log / std::exp would within that
// one unit.
#pragma once

#include <cstdint>

namespace velumar::model {

// y[i] = ln(x[i]) for i < n; x and y must not overlap.
void log_array(const double *x, double *y, std::uint32_t n);

// y[i] = e^x[i] for i < n; x and y must not overlap.
void exp_array(const double *x, double *y, std::uint32_t n);

// 16-bit samples as doubles (exact): out[i] = in[i] for i < n, and the
// pairs of an interleaved stereo run split into their two channels.
void widen_samples(const std::int16_t *in, double *out, std::uint32_t n);
void split_sample_pairs(const std::int16_t *in, double *first, double *second, std::uint32_t pairs);

} // namespace velumar::model
