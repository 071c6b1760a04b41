// Temporal averaging: which per-frame values enter which accumulator, and
// the final reading of the accumulators into the model output variables.
#include "avg_value.h"
#include "stages.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace velumar::model {
namespace {

using ValueField = double M_STATE::*;
using AvgField = AVG_VALUE *M_STATE::*;

// Everything one channel's averaging reads and writes.
struct ChannelAverages {
    // Per-frame values.
    ValueField moddiff1, moddiff2, temp_wt, noise_loudness, nmr_mean, ehs_value, detect_pm;
    std::uint32_t M_STATE::*bandwidth_ref;
    std::uint32_t M_STATE::*bandwidth_test;
    std::int32_t M_STATE::*disturbed_frame;
    // Accumulators.
    AvgField win_moddiff1, avg_moddiff1, avg_moddiff2, noise_loud, bandwidth_ref_avg, bandwidth_test_avg,
        total_nmr, rel_dist, ehs;
    // Model output variables.
    ValueField mov_win_moddiff1, mov_avg_moddiff1, mov_avg_moddiff2, mov_rms_noise_loud, mov_bandwidth_ref,
        mov_bandwidth_test, mov_rel_dist_frames, mov_total_nmr, mov_mfpd, mov_ehs;
};

#define VELUMAR_CHANNEL_AVERAGES(ch)                                                                               \
    ChannelAverages                                                                                                \
    {                                                                                                              \
        &M_STATE::moddiff1_##ch, &M_STATE::moddiff2_##ch, &M_STATE::temp_wt_##ch, &M_STATE::noise_loudness_##ch,  \
            &M_STATE::nmr_mean_##ch, &M_STATE::ehs_value_##ch, &M_STATE::detect_pm_##ch,                           \
            &M_STATE::bandwidth_ref_##ch, &M_STATE::bandwidth_test_##ch, &M_STATE::disturbed_frame_##ch,           \
            &M_STATE::avg_win_moddiff1_##ch, &M_STATE::avg_moddiff1_##ch, &M_STATE::avg_moddiff2_##ch,             \
            &M_STATE::avg_noise_loud_##ch, &M_STATE::avg_bandwidth_ref_##ch, &M_STATE::avg_bandwidth_test_##ch,    \
            &M_STATE::avg_total_nmr_##ch, &M_STATE::avg_rel_dist_##ch, &M_STATE::avg_ehs_##ch,                     \
            &M_STATE::mov_##ch##_WinModDiff1, &M_STATE::mov_##ch##_AvgModDiff1, &M_STATE::mov_##ch##_AvgModDiff2,  \
            &M_STATE::mov_##ch##_RmsNoiseLoud, &M_STATE::mov_##ch##_BandwidthRef,                                  \
            &M_STATE::mov_##ch##_BandwidthTest, &M_STATE::mov_##ch##_RelDistFrames, &M_STATE::mov_##ch##_TotalNMR, \
            &M_STATE::mov_##ch##_MFPD, &M_STATE::mov_##ch##_EHS                                                    \
    }

constexpr ChannelAverages kChannels[2] = {VELUMAR_CHANNEL_AVERAGES(ch1), VELUMAR_CHANNEL_AVERAGES(ch2)};

#undef VELUMAR_CHANNEL_AVERAGES

void average_channel(M_STATE &s, const ChannelAverages &c)
{
    // The first frames of a signal only prime the window: the modulation
    // filters are still settling and would distort the averages.
    if (s.frame_index < static_cast<std::uint32_t>(s.averaging_delay_frames)) {
        preload_windowed_average(s.*c.win_moddiff1, s.*c.moddiff1);
    } else {
        processing_avg_value(s.*c.win_moddiff1, s.*c.moddiff1, 1.0);
        processing_avg_value(s.*c.avg_moddiff1, s.*c.moddiff1, s.*c.temp_wt);
        processing_avg_value(s.*c.avg_moddiff2, s.*c.moddiff2, s.*c.temp_wt);
        if (s.loud_frame_flag == 0) processing_avg_value(s.*c.noise_loud, s.*c.noise_loudness, 1.0);
    }
    // A frame says something about the bandwidths only when the reference
    // itself is wide enough.
    if (static_cast<std::int64_t>(s.*c.bandwidth_ref) > s.min_bandwidth_bin) {
        processing_avg_value(s.*c.bandwidth_ref_avg, static_cast<double>(s.*c.bandwidth_ref), 1.0);
        processing_avg_value(s.*c.bandwidth_test_avg, static_cast<double>(s.*c.bandwidth_test), 1.0);
    }
    processing_avg_value(s.*c.rel_dist, static_cast<double>(s.*c.disturbed_frame), 1.0);
    processing_avg_value(s.*c.total_nmr, s.*c.nmr_mean, 1.0);
    if (s.energy_flag == 1) processing_avg_value(s.*c.ehs, s.*c.ehs_value, 1.0);
}

void read_channel(M_STATE &s, const ChannelAverages &c)
{
    get_avg_value(s.*c.win_moddiff1, &(s.*c.mov_win_moddiff1));
    get_avg_value(s.*c.avg_moddiff1, &(s.*c.mov_avg_moddiff1));
    get_avg_value(s.*c.avg_moddiff2, &(s.*c.mov_avg_moddiff2));
    get_avg_value(s.*c.noise_loud, &(s.*c.mov_rms_noise_loud));
    get_avg_value(s.*c.bandwidth_ref_avg, &(s.*c.mov_bandwidth_ref));
    get_avg_value(s.*c.bandwidth_test_avg, &(s.*c.mov_bandwidth_test));
    get_avg_value(s.*c.rel_dist, &(s.*c.mov_rel_dist_frames));
    get_avg_value(s.*c.total_nmr, &(s.*c.mov_total_nmr));
    get_avg_value(s.*c.ehs, &(s.*c.mov_ehs));

    // The noise-to-mask ratio is averaged linearly and expressed in dB once.
    const double nmr = s.*c.mov_total_nmr;
    s.*c.mov_total_nmr = nmr <= 0.0 ? -1e100 : 10.0 * std::log10(nmr);
    s.*c.mov_ehs = s.*c.mov_ehs * s.ehs_scale;
    s.*c.mov_mfpd = s.*c.detect_pm;
}

} // namespace

std::int32_t averaging_of_all_mov(M_STATE *s)
{
    if (s->version != 0) {
        say("Error'averaging_of_all_mov()' - version is no basic\n");
        return 1;
    }
    if (!valid_channel_mode(*s)) {
        say("error:'averaging_of_all_mov()'\n");
        return 2;
    }
    for (int ch = 0; ch < channel_count(*s); ++ch) average_channel(*s, kChannels[ch]);
    return 0;
}

std::int32_t get_all_mov(M_STATE *s)
{
    if (s->version != 0) {
        say("Error'get_all_mov()' - version is no basic\n");
        return 1;
    }
    if (!valid_channel_mode(*s)) {
        say("error:'averaging_of_all_mov()'\n");
        return 2;
    }
    for (int ch = 0; ch < channel_count(*s); ++ch) read_channel(*s, kChannels[ch]);

    // Average distorted block: the mean step count of the frames whose
    // detection probability exceeded one half, as a logarithm.
    if (s->detect_count == 0)
        s->adb_value = 0.0;
    else if (s->detect_q_accum == 0.0)
        s->adb_value = -0.5;
    else
        s->adb_value = std::log10(s->detect_q_accum / s->detect_count);
    s->mov_ADB = s->adb_value;
    return 0;
}

} // namespace velumar::model
