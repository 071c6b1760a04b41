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

// 16-bit samples windowed as doubles: out[i] = double(in[i]) * w[i] for
// i < n, and the same for the pairs of an interleaved stereo run, split
// into their two channels. With sum_squares each returns the sum of the
// squares of the samples themselves (per channel), exact for n (pairs)
// below 2^23; without, 0.
double window_samples(const std::int16_t *in, const double *w, double *out, std::uint32_t n, bool sum_squares);
struct PairEnergy {
    double first;
    double second;
};
PairEnergy window_sample_pairs(const std::int16_t *in, const double *w, double *first, double *second,
                               std::uint32_t pairs, bool sum_squares);

// Doubles per vector instruction of the kernels chosen at run time here and
// in the stages: 8 (AVX-512), 4 (AVX2) or 1.
std::uint32_t vector_doubles();

} // namespace velumar::model

#if defined(VELUMAR_TEST_HOOKS)
// Caps vector_doubles() (8, 4 or 1) so tests can hold every vector path
// against the plain one on a machine that has them all.
extern "C" void velumar_limit_vector_doubles(std::uint32_t doubles_per_instruction);
#endif
