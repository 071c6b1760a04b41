// The model library's per-frame record as a FrameRow. Header-only, so the
// report library itself stays independent of the model; whoever includes it
// links the model anyway to receive the records.
#pragma once

#include <velumar/model.h>
#include <velumar/report/frame_row.h>
#include <velumar/report/report_data.h>

#include <cstdint>

namespace velumar::report {

// offset_samples: samples cut from the reference's start before grading (a
// trimmed delay), so that times stay on the reference's own timeline.
inline FrameRow frame_row_from_model(const VELUMAR_FRAME &f, std::int64_t offset_samples = 0)
{
    FrameRow r;
    r.frame = f.index;
    r.time_s = frame_time_seconds(f.index, offset_samples);
    r.channels = f.channels == 2 ? 2 : 1;
    r.loud = f.loud != 0;
    r.energy = f.energy != 0;
    for (int c = 0; c < r.channels; ++c) {
        const VELUMAR_FRAME_CHANNEL &ch = f.channel[c];
        r.set(c, FrameQuantity::bandwidth_ref, ch.bandwidth_ref);
        r.set(c, FrameQuantity::bandwidth_test, ch.bandwidth_test);
        r.set(c, FrameQuantity::nmr_db, nmr_db_from_mean(ch.nmr));
        r.set(c, FrameQuantity::disturbed, ch.disturbed != 0 ? 1.0 : 0.0);
        r.set(c, FrameQuantity::moddiff1, ch.moddiff1);
        r.set(c, FrameQuantity::moddiff2, ch.moddiff2);
        r.set(c, FrameQuantity::temporal_weight, ch.temporal_weight);
        // The model computes these only in some frames (the record holds NaN
        // in the others, and the flags say which).
        if (!r.loud) r.set(c, FrameQuantity::noise_loudness, ch.noise_loudness);
        if (r.energy) r.set(c, FrameQuantity::ehs, ch.ehs);
        r.set(c, FrameQuantity::detection_probability, ch.detection_probability);
    }
    if (r.channels == 2) r.set_binaural_detection_probability(f.detection_probability_binaural);
    return r;
}

// The grade, DI, frame count and MOVs of a record from the model's results.
// Whether that grade is real (not an in-band failure value) is the caller's
// judgement and goes into data.graded.
inline void fill_model_results(ReportData &data, const M_RESULTS &results)
{
    static_assert(M_MOV_COUNT == kMovCount && M_MOV_ADB == kMovAdb, "MOV order shared with the model");
    data.odg = results.odg;
    data.di = results.di;
    data.frames = results.frames;
    data.channels = results.channels;
    for (int i = 0; i < kMovCount; ++i) {
        data.movs[i] = results.movs[i];
        data.channel_movs[0][i] = results.channel_movs[0][i];
        data.channel_movs[1][i] = results.channel_movs[1][i];
    }
}

} // namespace velumar::report
