// The grade: a network of one hidden layer of three logistic nodes maps the
// eleven model output variables to the distortion index and the Objective
// Difference Grade.
#include "network.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace velumar::model {
namespace {

using ValueField = double M_STATE::*;

// Scaling limits of the inputs, in input order.
constexpr double kAmax[kNetworkInputs] = {921.0,     881.131226, 16.21203, 107.137772, 2.886017, 13.933351,
                                          63.257874, 1145.018555, 14.81974, 1.0,        1.0};
constexpr double kAmin[kNetworkInputs] = {393.916656, 361.965332, -24.045116, 1.110661, -0.206623, 0.074318,
                                          1.113683,   0.950345,   0.029985,   0.000101, 0.0};
// Input-to-hidden weights, one row per input, then the hidden biases.
constexpr double kWx[(kNetworkInputs + 1) * kHiddenNodes] = {
    -0.502657, 0.436333,  1.219602,    //
    4.307481,  3.246017,  1.123743,    //
    4.984241,  -2.211189, -0.192096,   //
    0.051056,  -1.762424, 4.331315,    //
    2.32158,   1.789971,  -0.75456,    //
    -5.303901, -3.452257, -10.814982,  //
    2.730991,  -6.111805, 1.519223,    //
    0.62495,   -1.331523, -5.955151,   //
    3.102889,  0.87126,   -5.922878,   //
    -1.051468, -0.939882, -0.142913,   //
    -1.804679, -0.50361,  -0.620456,   //
    -2.518254, 0.654841,  -2.207228,   //
};
// Hidden-to-output weights, then the output bias.
constexpr double kWy[kHiddenNodes + 1] = {-3.817048, 4.107138, 4.629582, -0.307594};
constexpr double kBmin = -3.98;
constexpr double kBmax = 0.22;

constexpr int kAdbInput = 4;

// Each channel's model output variables in network input order; the ADB
// has no per-channel value.
#define VELUMAR_CHANNEL_MOVS(ch)                                                                               \
    {                                                                                                          \
        &M_STATE::mov_##ch##_BandwidthRef, &M_STATE::mov_##ch##_BandwidthTest, &M_STATE::mov_##ch##_TotalNMR, \
            &M_STATE::mov_##ch##_WinModDiff1, nullptr, &M_STATE::mov_##ch##_EHS,                               \
            &M_STATE::mov_##ch##_AvgModDiff1, &M_STATE::mov_##ch##_AvgModDiff2,                                \
            &M_STATE::mov_##ch##_RmsNoiseLoud, &M_STATE::mov_##ch##_MFPD, &M_STATE::mov_##ch##_RelDistFrames   \
    }
constexpr ValueField kChannelMovs[2][kNetworkInputs] = {VELUMAR_CHANNEL_MOVS(ch1), VELUMAR_CHANNEL_MOVS(ch2)};
#undef VELUMAR_CHANNEL_MOVS

constexpr const char *kMovNames[M_MOV_COUNT] = {
    "BandwidthRefB", "BandwidthTestB", "TotalNMRB",    "WinModDiff1B",  "ADBB",          "EHSB",
    "AvgModDiff1B",  "AvgModDiff2B",   "RmsNoiseLoudB", "MFPDB",        "RelDistFramesB",
};
static_assert(M_MOV_COUNT == kNetworkInputs);

double channel_mov(const M_STATE &s, int channel, int input)
{
    return input == kAdbInput ? s.mov_ADB : s.*kChannelMovs[channel][input];
}

// What the grade is for a model version other than the basic one.
double non_basic_grade(std::int32_t version)
{
    if (version == 1) return 1.0;
    if (version == 2) return 2.0;
    return 3.0;
}

} // namespace

double sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

std::int32_t get_input_signals_array_basic(const M_STATE &movs, double *inputs, std::int32_t stereo)
{
    if (stereo != 0 && stereo != 1) {
        say("Error of input datas for the function - get_input_signals_array_basic()!\n");
        return 1;
    }
    for (int i = 0; i < kNetworkInputs; ++i) {
        if (i == kAdbInput || stereo == 0)
            inputs[i] = channel_mov(movs, 0, i);
        else
            inputs[i] = (channel_mov(movs, 1, i) + channel_mov(movs, 0, i)) * 0.5;
    }
    return 0;
}

NETWORK_RESULT evaluate_network(const double *inputs, const double *amax, const double *amin, const double *wx,
                                const double *wy, int inputs_count, int hidden_count, double bmax, double bmin,
                                double (*activation)(double))
{
    double acc = 0.0;
    for (int j = 0; j < hidden_count; ++j) {
        double h = 0.0;
        for (int i = 0; i < inputs_count; ++i)
            h += ((inputs[i] - amin[i]) * wx[i * hidden_count + j]) / (amax[i] - amin[i]);
        h += wx[inputs_count * hidden_count + j];
        acc = activation(h) * wy[j] + acc;
    }
    const double di = acc + wy[hidden_count];
    return {activation(di) * (bmax - bmin) + bmin, di};
}

NETWORK_RESULT neural_network_basic(const M_STATE *s)
{
    NETWORK_RESULT result{1.0, 1.0};
    // Too short a signal: the modulation averages have not started.
    if (s->frame_index < static_cast<std::uint32_t>(s->averaging_delay_frames)) return result;
    double inputs[kNetworkInputs];
    if (get_input_signals_array_basic(*s, inputs, s->stereo) != 0) return result;
    return evaluate_network(inputs, kAmax, kAmin, kWx, kWy, kNetworkInputs, kHiddenNodes, kBmax, kBmin, sigmoid);
}

double neural_network(M_STATE *s)
{
    if (s->version == 0) return neural_network_basic(s).odg;
    if (s->version == 1 || s->version == 2) return non_basic_grade(s->version);
    say("Error of input datas (struct M_SETTINGS) for the function -neural_network()!\n");
    return 3.0;
}

} // namespace velumar::model

using namespace velumar::model;

extern "C" std::int32_t velumar_get_model_results(M_HANDLE handle, M_RESULTS *results)
{
    const SinkScope scope(handle != nullptr ? &handle->sink : nullptr);
    if (handle == nullptr || results == nullptr) {
        say("Error of input datas (HANDLE) for the function - get_model_results()!\n");
        return 1;
    }
    *results = M_RESULTS{};
    results->odg = 1.0;
    results->di = 1.0;
    results->frames = handle->frame_index;
    results->channels = static_cast<std::uint32_t>(channel_count(*handle));
    if (handle->version != 0) {
        say("Error of input datas (HANDLE) for the function - get_model_results()!\n");
        results->odg = non_basic_grade(handle->version);
        return 1;
    }
    if (get_all_mov(handle) != 0) return 1;

    if (get_input_signals_array_basic(*handle, results->movs, handle->stereo) != 0) return 1;
    for (int ch = 0; ch < channel_count(*handle); ++ch)
        for (int i = 0; i < kNetworkInputs; ++i) results->channel_movs[ch][i] = channel_mov(*handle, ch, i);

    const NETWORK_RESULT grade = neural_network_basic(handle);
    results->odg = grade.odg;
    results->di = grade.di;
    return handle->frame_index < static_cast<std::uint32_t>(handle->averaging_delay_frames) ? 1 : 0;
}

extern "C" const char *velumar_get_mov_name(std::int32_t index)
{
    if (index < 0 || index >= M_MOV_COUNT) return nullptr;
    return kMovNames[index];
}
