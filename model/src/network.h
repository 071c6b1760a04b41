// The grading network: eleven model output variables in, one grade out.
#pragma once

#include "stages.h"

#include <cstdint>

namespace velumar::model {

constexpr int kNetworkInputs = 11;
constexpr int kHiddenNodes = 3;

// The network's inputs in its input order, from the instance's model
// output variables: channel 1 alone, or the mean of both channels for two
// (the ADB is binaural either way). 0, or 1 after a message for an invalid
// channel mode.
std::int32_t get_input_signals_array_basic(const M_STATE &movs, double *inputs, std::int32_t stereo);

// One hidden layer: inputs scaled into [0, 1] by amin/amax (not clipped),
// weights wx as inputs + 1 rows of hidden nodes (biases last), wy as hidden
// nodes + 1 values (bias last); the output mapped into [bmin, bmax].
NETWORK_RESULT evaluate_network(const double *inputs, const double *amax, const double *amin, const double *wx,
                                const double *wy, int inputs_count, int hidden_count, double bmax, double bmin,
                                double (*activation)(double));

double sigmoid(double x);

} // namespace velumar::model
