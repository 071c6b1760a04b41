// The public entry points, the frame input that cuts both sample streams
// into overlapping frames across calls, and the frame loop.
#include "alloc.h"
#include "stages.h"
#include "vector_math.h"
#include "tables.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace velumar::model {
namespace {

constexpr std::uint32_t kFrameSamples = 2048;  // per channel
constexpr std::uint32_t kHopSamples = 1024;    // per channel

enum class RunIf { always, loud_enough_for_ehs, not_loud };

struct Stage {
    std::int32_t (*run)(M_STATE *);
    std::int32_t code;  // what method() returns when the stage fails
    RunIf condition;
};

// The per-frame chain, in order. Each stage sees what the earlier ones left
// in the instance for the same frame.
constexpr Stage kStages[] = {
    {check_energy_threshold_for_frames, 1, RunIf::always},
    {spectrum_calculation_for_frames, 1, RunIf::always},
    {get_bandwidth_of_current_frames, 2, RunIf::always},
    {get_error_harmonic_structure_for_frames, 2, RunIf::loud_enough_for_ehs},
    {outer_ear_weighting_frames, 3, RunIf::always},
    {get_noise_of_current_frames, 4, RunIf::always},
    {grouping_into_critical_bands_for_frames, 5, RunIf::always},
    {adding_internal_noise_for_frames, 6, RunIf::always},
    {frequency_spreading_for_frames, 7, RunIf::always},
    {time_spreading_for_frames, 8, RunIf::always},
    {get_masking_threshold, 9, RunIf::always},
    {smoothing_excitation_for_frames, 10, RunIf::always},
    {get_correction_factor, 11, RunIf::always},
    {pattern_adaptation_for_frames, 12, RunIf::always},
    {get_modulation_for_frames, 13, RunIf::always},
    {get_loudnes_for_frames, 14, RunIf::always},
    {get_total_loudness_for_frames, 15, RunIf::always},
    {check_loudness_threshold_for_frames, 16, RunIf::always},
    {grouping_noise_into_critical_bands_for_frames, 17, RunIf::always},
    {get_modulation_difference_for_frames, 18, RunIf::always},
    {get_overall_loudnes_of_noise_for_frames, 19, RunIf::not_loud},
    {get_noise_to_mask_ratio_for_frames, 20, RunIf::always},
    {get_detection_probability_for_frames, 21, RunIf::always},
    {calculating_values_for_MFPD_and_ADB_for_frames, 22, RunIf::always},
    {averaging_of_all_mov, 22, RunIf::always},
};
static_assert(sizeof(kStages) / sizeof(kStages[0]) == 25);

bool should_run(const M_STATE &s, RunIf condition)
{
    switch (condition) {
    case RunIf::loud_enough_for_ehs: return s.energy_flag == 1;
    case RunIf::not_loud: return s.loud_frame_flag == 0;
    case RunIf::always: break;
    }
    return true;
}

void set_model_constants(M_STATE &s)
{
    s.frame_index = 0;
    s.loudness_hangover = 0;
    s.loud_frame_flag = 0;
    s.energy_flag = 1;
    s.loudness_hangover_frames = 3;
    s.loudness_scale = 24.0;
    s.loudness_threshold = 0.1;
    s.loudness_const = 1.07664;
    s.energy_threshold = 8000.0;
    s.min_bandwidth_bin = 346;
    s.moddiff1_negwt = 1.0;
    s.moddiff1_offset = 1.0;
    s.moddiff1_levwt = 100.0;
    s.moddiff2_negwt = 0.1;
    s.moddiff2_offset = 0.01;
    s.moddiff2_levwt = 100.0;
    s.noise_loud_alpha = 1.5;
    s.noise_loud_thres_fac = 0.15;
    s.noise_loud_s0 = 0.5;
    s.noise_loud_e0 = 1.0;
    s.noise_loud_min = 0.0;
    s.ehs_length = 256;
    s.averaging_delay_frames = 23;
    s.avg_window_length = 4;
    s.ehs_scale = 1000.0;
    s.bw_start_bin = 921;
    s.bw_ref_factor = 10.0;
    s.bw_test_factor = 3.1622776601683795;  // sqrt(10): 5 dB in power
    s.pattern_adapt_bands = 8;
    s.disturbed_threshold = std::pow(10.0, 1.5 * 0.1);  // 1.5 dB as a power ratio
    s.detect_smooth_c0 = 0.1;
    s.detect_smooth_c1 = 0.9;
    s.detect_max_decay = 1.0;
    s.adb_threshold = 0.5;
}

// Blocks of different counts would cut the two signals' frames apart (the
// frame loop stops as soon as one signal lacks a frame), and a missing block
// cannot be read: both are refused before anything is consumed.
bool blocks_usable(const M_BUFFER *reference, const M_BUFFER *test)
{
    if (reference == nullptr || test == nullptr || reference->count != test->count) return false;
    return reference->count == 0 || (reference->samples != nullptr && test->samples != nullptr);
}

} // namespace

M_STATE *create_basic_method(const M_SETTINGS *settings, const MessageSink &sink)
{
    auto *s = static_cast<M_STATE *>(obtain(1, sizeof(M_STATE)));
    if (s == nullptr) {
        say("error malloc func:'create_basic_method'\n");
        return nullptr;
    }
    s->version = settings->version;
    s->sample_rate = settings->sample_rate;
    s->listening_level_db = settings->listening_level_db;
    s->stereo = settings->channel_mode == 1 ? 1 : 0;
    s->sink = sink;
    set_model_constants(*s);

    // Whatever was obtained before a failure is given back: a failed
    // creation leaves nothing behind.
    if (allocate_basic_method(s, settings) != 0 || init_basic_tables(s, settings) != 0) {
        release_basic_method(s);
        give_back(s);
        return nullptr;
    }
    return s;
}

namespace {

// Writes frame positions [a, b) from `in`, which starts with position a's
// value (one per channel), windowed, and adds the squares of the samples of
// the frame's second half to the energies.
void put_run(const std::int16_t *in, std::uint32_t a, std::uint32_t b, std::uint32_t channels, const FrameOut &out,
             double (&energy)[2])
{
    constexpr std::uint32_t kTail = kFrameSamples / 2;
    const std::uint32_t split = std::clamp(kTail, a, b);
    const std::uint32_t edges[3] = {a, split, b};
    for (int part = 0; part < 2; ++part) {
        const std::uint32_t from = edges[part], to = edges[part + 1];
        if (from == to) continue;
        const std::int16_t *v = in + std::size_t{from - a} * channels;
        const bool tail = from >= kTail;
        if (channels == 1) {
            const double e = window_samples(v, out.window + from, out.ch1 + from, to - from, tail);
            if (tail) energy[0] += e;
        } else {
            const PairEnergy e =
                window_sample_pairs(v, out.window + from, out.ch1 + from, out.ch2 + from, to - from, tail);
            if (tail) {
                energy[0] += e.first;
                energy[1] += e.second;
            }
        }
    }
}

} // namespace

bool fill_frame(std::uint32_t k, const M_BUFFER *block, M_INPUT *input, const FrameOut &out)
{
    const std::uint32_t channels = input->capacity / kFrameSamples;
    const std::uint64_t frame = std::uint64_t{kFrameSamples} * channels;
    const std::uint64_t start = std::uint64_t{k} * kHopSamples * channels;
    const std::uint64_t fill = input->fill;
    const std::uint64_t total = fill + block->count;  // length of carry ++ block

    if (total >= start + frame) {
        // Frame position j is stream position start + j: the first
        // `from_carry` positions come from the carry buffer, the rest from
        // the block. Each part is a plain run of values.
        const auto from_carry = static_cast<std::uint32_t>(start < fill ? std::min(fill - start, frame) : 0);
        const std::int16_t *carried = input->samples + (start < fill ? start : 0);
        const std::int16_t *fresh = block->samples + (start > fill ? start - fill : 0);
        double energy[2] = {0.0, 0.0};
        if (channels == 1) {
            put_run(carried, 0, from_carry, channels, out, energy);
            put_run(fresh, from_carry, kFrameSamples, channels, out, energy);
        } else {
            std::uint32_t j = from_carry / 2;  // frame position
            put_run(carried, 0, j, channels, out, energy);
            if (from_carry % 2 != 0) {  // a sample pair split between carry and block
                const std::int16_t pair[2] = {carried[2 * j], fresh[0]};
                put_run(pair, j, j + 1, channels, out, energy);
                ++j;
            }
            put_run(fresh + (2 * j - from_carry), j, kFrameSamples, channels, out, energy);
        }
        *out.energy_ch1 = energy[0];
        if (channels == 2) *out.energy_ch2 = energy[1];
        return true;
    }

    // No complete frame: keep the stream from the hop position on. Values
    // before it belong to no later frame. start <= total holds because the
    // previous frame of this call ended at or before total.
    if (start < fill) {
        const std::uint64_t kept = fill - start;
        std::memmove(input->samples, input->samples + start, kept * sizeof(std::int16_t));
        if (block->count != 0)
            std::memcpy(input->samples + kept, block->samples, block->count * sizeof(std::int16_t));
    } else if (total > start) {
        std::memcpy(input->samples, block->samples + (start - fill), (total - start) * sizeof(std::int16_t));
    }
    input->fill = static_cast<std::uint32_t>(total - start);
    return false;
}

bool next_frame_pair(M_STATE *s, const M_BUFFER *ref, const M_BUFFER *test, std::uint32_t &kr,
                     std::uint32_t &kt)
{
    const double *window = s->hann_window.data;
    const bool have_ref = fill_frame(kr, ref, &s->ref_input,
                                     {window, s->frame_ref_ch1.data, s->frame_ref_ch2.data, &s->tail_energy_ref_ch1,
                                      &s->tail_energy_ref_ch2});
    if (have_ref) ++kr;
    const bool have_test = fill_frame(kt, test, &s->test_input,
                                      {window, s->frame_test_ch1.data, s->frame_test_ch2.data,
                                       &s->tail_energy_test_ch1, &s->tail_energy_test_ch2});
    // The test counter follows the reference: with equal block sizes both
    // signals produce their frames in step.
    if (have_ref) ++kt;
    return have_ref && have_test;
}

std::int32_t basic_method(M_STATE *s, const M_BUFFER *ref, const M_BUFFER *test)
{
    std::uint32_t kr = 0;
    std::uint32_t kt = 0;
    while (next_frame_pair(s, ref, test, kr, kt)) {
        for (const Stage &stage : kStages) {
            if (should_run(*s, stage.condition) && stage.run(s) != 0) return stage.code;
        }
        if (s->frame_observer != nullptr) notify_frame_observer(*s);
        ++s->frame_index;
    }
    return 0;
}

} // namespace velumar::model

using namespace velumar::model;

// Every public call names its instance's message sink for its duration
// (SinkScope), so whatever the stages and helpers print goes there.

namespace {

M_HANDLE create_instance(const M_SETTINGS *settings, velumar_message_handler handler, void *user)
{
    const MessageSink sink{handler, handler != nullptr ? user : nullptr};
    const SinkScope scope(&sink);
    // A level that is not a number would make every grade a NaN.
    if (settings == nullptr || settings->version != 0 || !std::isfinite(settings->listening_level_db)) {
        say("Error of input datas (struct M_SETTINGS) for the function -create_method!\n");
        return nullptr;
    }
    return create_basic_method(settings, sink);
}

} // namespace

extern "C" M_HANDLE velumar_create_method_ex(const M_SETTINGS *settings, velumar_message_handler handler, void *user)
{
    return create_instance(settings, handler, user);
}

extern "C" M_HANDLE velumar_create_method(const M_SETTINGS *settings)
{
    return create_instance(settings, nullptr, nullptr);
}

extern "C" std::int32_t velumar_method(M_HANDLE handle, const M_BUFFER *reference, const M_BUFFER *test)
{
    const SinkScope scope(&handle->sink);
    if (handle->version != 0) {
        say("Error of input datas (HANDLE) for the function - method()!\n");
        return 1;
    }
    if (!blocks_usable(reference, test)) {
        say("Error of input datas (M_BUFFER) for the function - method()!\n");
        return 1;
    }
    return basic_method(handle, reference, test);
}

extern "C" double velumar_get_objective_difference_grade(M_HANDLE handle)
{
    const SinkScope scope(&handle->sink);
    if (handle->version == 0) return get_all_mov(handle) != 0 ? 1.0 : neural_network(handle);
    say("Error of input datas (HANDLE) for the function - get_objective_difference_grade()!\n");
    if (handle->version == 1) return 1.0;
    if (handle->version == 2) return 2.0;
    return 3.0;
}

extern "C" std::int32_t velumar_destroy_method(M_HANDLE handle)
{
    if (handle == nullptr) return 1;
    const SinkScope scope(&handle->sink);
    release_basic_method(handle);
    give_back(handle);
    return 0;
}

extern "C" void velumar_get_default_settings(M_SETTINGS_DEFAULTS *defaults)
{
    defaults->basic_available = 1;
    defaults->advanced_available = 0;
    defaults->free_available = 0;
    defaults->version = 0;
    defaults->sample_rate = 48000;
    defaults->bits_per_sample = 16;
    defaults->level_min = 0.0;
    defaults->level_max = 100.0;
    defaults->level_default = 92.0;
    defaults->step_min = 1;
    defaults->step_max = UINT32_MAX;
    defaults->step_default = 2048;
}

extern "C" const char *velumar_version(void) { return VELUMAR_VERSION_STRING; }
