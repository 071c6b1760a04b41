// The per-frame record handed to an instance's observer: what the averaging
// stage took from the frame just completed, assembled only when someone
// listens.
#include "stages.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace velumar::model {
namespace {

constexpr double kNotComputed = std::numeric_limits<double>::quiet_NaN();

struct ChannelFields {
    std::uint32_t M_STATE::*bandwidth_ref;
    std::uint32_t M_STATE::*bandwidth_test;
    double M_STATE::*nmr_mean;
    std::int32_t M_STATE::*disturbed;
    double M_STATE::*moddiff1;
    double M_STATE::*moddiff2;
    double M_STATE::*temp_wt;
    double M_STATE::*noise_loudness;
    double M_STATE::*ehs_value;
    double M_STATE::*detect_p;
};

#define VELUMAR_FRAME_FIELDS(ch)                                                                              \
    ChannelFields                                                                                             \
    {                                                                                                         \
        &M_STATE::bandwidth_ref_##ch, &M_STATE::bandwidth_test_##ch, &M_STATE::nmr_mean_##ch,                 \
            &M_STATE::disturbed_frame_##ch, &M_STATE::moddiff1_##ch, &M_STATE::moddiff2_##ch,                 \
            &M_STATE::temp_wt_##ch, &M_STATE::noise_loudness_##ch, &M_STATE::ehs_value_##ch,                 \
            &M_STATE::detect_p_##ch                                                                           \
    }
constexpr ChannelFields kChannels[2] = {VELUMAR_FRAME_FIELDS(ch1), VELUMAR_FRAME_FIELDS(ch2)};
#undef VELUMAR_FRAME_FIELDS

constexpr const char *kFieldNames[VELUMAR_FRAME_FIELD_COUNT] = {
    "bandwidth_ref", "bandwidth_test", "nmr",           "disturbed", "moddiff1",
    "moddiff2",      "temporal_weight", "noise_loudness", "ehs",      "detection_probability",
};

// The values of a channel that is not there.
constexpr VELUMAR_FRAME_CHANNEL kAbsent = {0,           0,           kNotComputed, 0, kNotComputed,
                                           kNotComputed, kNotComputed, kNotComputed, kNotComputed, kNotComputed};

} // namespace

void notify_frame_observer(const M_STATE &s)
{
    VELUMAR_FRAME f;
    f.index = s.frame_index;
    f.channels = static_cast<std::uint32_t>(channel_count(s));
    f.loud = s.loud_frame_flag;
    f.energy = s.energy_flag;
    f.detection_probability_binaural = f.channels == 2 ? s.detect_p_binaural : kNotComputed;
    for (std::uint32_t ch = 0; ch < 2; ++ch) {
        VELUMAR_FRAME_CHANNEL &c = f.channel[ch];
        if (ch >= f.channels) {
            c = kAbsent;
            continue;
        }
        const ChannelFields &from = kChannels[ch];
        c.bandwidth_ref = s.*from.bandwidth_ref;
        c.bandwidth_test = s.*from.bandwidth_test;
        c.nmr = s.*from.nmr_mean;
        c.disturbed = s.*from.disturbed;
        c.moddiff1 = s.*from.moddiff1;
        c.moddiff2 = s.*from.moddiff2;
        c.temporal_weight = s.*from.temp_wt;
        // The stages that compute these skip such frames and leave the
        // previous frame's value behind, which must not pass for this one's.
        c.noise_loudness = s.loud_frame_flag == 0 ? s.*from.noise_loudness : kNotComputed;
        c.ehs = s.energy_flag == 1 ? s.*from.ehs_value : kNotComputed;
        c.detection_probability = s.*from.detect_p;
    }
    s.frame_observer(s.frame_observer_user, &f);
}

} // namespace velumar::model

using namespace velumar::model;

extern "C" std::int32_t velumar_set_frame_observer(M_HANDLE handle, velumar_frame_observer observer, void *user)
{
    if (handle == nullptr) {
        const SinkScope scope(nullptr);
        say("Error of input datas (HANDLE) for the function - velumar_set_frame_observer()!\n");
        return 1;
    }
    handle->frame_observer = observer;
    handle->frame_observer_user = observer != nullptr ? user : nullptr;
    return 0;
}

extern "C" const char *velumar_frame_field_name(std::int32_t field)
{
    return field >= 0 && field < VELUMAR_FRAME_FIELD_COUNT ? kFieldNames[field] : nullptr;
}

extern "C" std::int32_t velumar_frame_field(const VELUMAR_FRAME *frame, std::uint32_t channel, std::int32_t field,
                                            double *value)
{
    if (frame == nullptr || value == nullptr || channel >= frame->channels || channel > 1 || field < 0 ||
        field >= VELUMAR_FRAME_FIELD_COUNT)
        return 2;
    const VELUMAR_FRAME_CHANNEL &c = frame->channel[channel];
    switch (field) {
    case VELUMAR_FRAME_BANDWIDTH_REF: *value = c.bandwidth_ref; return 0;
    case VELUMAR_FRAME_BANDWIDTH_TEST: *value = c.bandwidth_test; return 0;
    case VELUMAR_FRAME_NMR: *value = c.nmr; return 0;
    case VELUMAR_FRAME_DISTURBED: *value = c.disturbed; return 0;
    case VELUMAR_FRAME_MODDIFF1: *value = c.moddiff1; return 0;
    case VELUMAR_FRAME_MODDIFF2: *value = c.moddiff2; return 0;
    case VELUMAR_FRAME_TEMPORAL_WEIGHT: *value = c.temporal_weight; return 0;
    case VELUMAR_FRAME_NOISE_LOUDNESS: *value = c.noise_loudness; return frame->loud == 0 ? 0 : 1;
    case VELUMAR_FRAME_EHS: *value = c.ehs; return frame->energy == 1 ? 0 : 1;
    default: *value = c.detection_probability; return 0;
    }
}
