// Cost of each stage group on one frame pair, and of the whole model.
//
// Every case first runs a second of music through a fresh instance so that
// the filter memories hold realistic values, then times its stage group on
// the last frame again and again. Stages that change their input in place
// (outer-ear weighting) get that input restored before each run;
// the restore is a few thousand copies, noise next to the stages.
#include "golden_signals.h"
#include "fft.h"
#include "stages.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using namespace velumar::model;
using velumar::golden::Signal;

const Signal &program(bool stereo)
{
    static const Signal mono = [] {
        const auto m = velumar::golden::music(48000, 1, 16000.0);
        return Signal{"mono", 1, velumar::golden::pcm(m), velumar::golden::pcm(velumar::golden::add_noise(m, 30.0, 2))};
    }();
    static const Signal both = [] {
        const auto l = velumar::golden::music(48000, 3, 15000.0), r = velumar::golden::music(48000, 4, 15000.0);
        return Signal{"stereo", 2, velumar::golden::pcm(l, r),
                      velumar::golden::pcm(velumar::golden::add_noise(l, 25.0, 5), velumar::golden::add_noise(r, 35.0, 6))};
    }();
    return stereo ? both : mono;
}

struct Warm {
    M_HANDLE h;
    std::vector<std::vector<double>> frames, spectra;

    explicit Warm(bool stereo)
    {
        M_SETTINGS s{};
        s.listening_level_db = 92.0;
        s.sample_rate = 48000;
        s.channel_mode = stereo ? 1 : 0;
        h = create_method(&s);
        const Signal &sig = program(stereo);
        const M_BUFFER ref{sig.reference.data(), static_cast<std::uint32_t>(sig.reference.size())};
        const M_BUFFER test{sig.test.data(), static_cast<std::uint32_t>(sig.test.size())};
        method(h, &ref, &test);
        // The last frame as the frame input left it, and its spectra as the
        // spectral stages leave them: the inputs of the later groups.
        for (M_ARRAY *f : frame_fields()) frames.emplace_back(f->data, f->data + f->length);
        run_spectra();
        for (M_ARRAY *f : spectrum_fields()) spectra.emplace_back(f->data, f->data + f->length);
    }
    ~Warm() { destroy_method(h); }

    std::vector<M_ARRAY *> present(const Family<M_ARRAY> &family) const
    {
        std::vector<M_ARRAY *> out;
        for (Copy c : copies(*h)) out.push_back(&(h->*family[c]));
        return out;
    }
    std::vector<M_ARRAY *> frame_fields() const { return present(VELUMAR_FAMILY(frame)); }
    std::vector<M_ARRAY *> spectrum_fields() const { return present(VELUMAR_FAMILY(spectrum)); }

    void restore(const std::vector<M_ARRAY *> &to, const std::vector<std::vector<double>> &from)
    {
        for (std::size_t i = 0; i < to.size(); ++i) std::copy(from[i].begin(), from[i].end(), to[i]->data);
    }
    void run_spectra()
    {
        restore(frame_fields(), frames);
        check_energy_threshold_for_frames(h);
        spectrum_calculation_for_frames(h);
        get_bandwidth_of_current_frames(h);
    }
};

using Group = void (*)(Warm &);

void spectra(Warm &w) { w.run_spectra(); }
void harmonic_structure(Warm &w) { get_error_harmonic_structure_for_frames(w.h); }
void ear_model(Warm &w)
{
    w.restore(w.spectrum_fields(), w.spectra);
    M_STATE *s = w.h;
    outer_ear_weighting_frames(s);
    get_noise_of_current_frames(s);
    grouping_into_critical_bands_for_frames(s);
    adding_internal_noise_for_frames(s);
    frequency_spreading_for_frames(s);
    time_spreading_for_frames(s);
    get_masking_threshold(s);
    smoothing_excitation_for_frames(s);
    grouping_noise_into_critical_bands_for_frames(s);
}
void frequency_spreading(Warm &w) { frequency_spreading_for_frames(w.h); }
void grouping(Warm &w)
{
    grouping_into_critical_bands_for_frames(w.h);
    grouping_noise_into_critical_bands_for_frames(w.h);
}
void excitation(Warm &w)
{
    M_STATE *s = w.h;
    get_correction_factor(s);
    pattern_adaptation_for_frames(s);
    get_modulation_for_frames(s);
    get_loudnes_for_frames(s);
    get_total_loudness_for_frames(s);
    check_loudness_threshold_for_frames(s);
}
void distortion(Warm &w)
{
    M_STATE *s = w.h;
    get_modulation_difference_for_frames(s);
    get_overall_loudnes_of_noise_for_frames(s);
    get_noise_to_mask_ratio_for_frames(s);
    get_detection_probability_for_frames(s);
    calculating_values_for_MFPD_and_ADB_for_frames(s);
}

template <Group G>
void BM_Stage(benchmark::State &state)
{
    Warm w(state.range(0) == 2);
    for (auto _ : state) {
        G(w);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());  // frames
}

#define VELUMAR_STAGE_BENCH(group) BENCHMARK_TEMPLATE(BM_Stage, group)->ArgName("channels")->Arg(1)->Arg(2)
VELUMAR_STAGE_BENCH(spectra);
VELUMAR_STAGE_BENCH(harmonic_structure);
VELUMAR_STAGE_BENCH(ear_model);
VELUMAR_STAGE_BENCH(frequency_spreading);
VELUMAR_STAGE_BENCH(grouping);
VELUMAR_STAGE_BENCH(excitation);
VELUMAR_STAGE_BENCH(distortion);

// The frame input alone: one frame of each signal cut from a block,
// deinterleaved, widened and windowed, with the energies of its second half.
void BM_FrameInput(benchmark::State &state)
{
    const bool stereo = state.range(0) == 2;
    Warm w(stereo);
    const Signal &sig = program(stereo);
    // The instance's carry is empty after these frames, so every iteration
    // cuts the same first frame of a block.
    const std::uint32_t values = 2048 * (stereo ? 2 : 1);
    const M_BUFFER ref{sig.reference.data(), values}, test{sig.test.data(), values};
    w.h->ref_input.fill = 0;
    w.h->test_input.fill = 0;
    for (auto _ : state) {
        std::uint32_t kr = 0, kt = 0;
        benchmark::DoNotOptimize(next_frame_pair(w.h, &ref, &test, kr, kt));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());  // frame pairs
}
BENCHMARK(BM_FrameInput)->ArgName("channels")->Arg(1)->Arg(2);

// The transforms alone on the last windowed frame: the forward transform,
// and the power spectrum (the transform plus the squares) as the spectral
// stage forms it.
void BM_Transform(benchmark::State &state)
{
    Warm w(false);
    M_STATE *s = w.h;
    const double *frame = s->frame_ref_ch1.data;
    const bool power = state.range(0) != 0;
    for (auto _ : state) {
        if (power)
            get_power_spectrum(frame, s->spectrum_ref_ch1.data, s->fft_work.data, s->fft_index.data, s->frame_length,
                               forward_twiddles(*s));
        else
            get_FFT_unscaled(frame, s->fft_work.data, s->fft_index.data, s->frame_length, forward_twiddles(*s));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());  // transforms
}
BENCHMARK(BM_Transform)->ArgName("power")->Arg(0)->Arg(1);

// The whole model on a second of audio per iteration, fresh instance each
// time (creation included, as a user pays it).
void BM_EndToEnd(benchmark::State &state)
{
    const Signal &sig = program(state.range(0) == 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(velumar::golden::measure(sig, 2048).results.odg);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sig.reference.size()));
}
BENCHMARK(BM_EndToEnd)->ArgName("channels")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The frame loop over a second of audio with and without a per-frame
// observer (one that reads a field, as a writer of the values would), to
// show what observing costs. Creation is left out of the timing.
void take_frame(void *user, const VELUMAR_FRAME *frame) { *static_cast<double *>(user) += frame->channel[0].nmr; }

void BM_FrameObserver(benchmark::State &state)
{
    const Signal &sig = program(state.range(0) == 2);
    const bool observed = state.range(1) != 0;
    M_SETTINGS s{};
    s.listening_level_db = 92.0;
    s.sample_rate = 48000;
    s.channel_mode = state.range(0) == 2 ? 1 : 0;
    const M_BUFFER ref{sig.reference.data(), static_cast<std::uint32_t>(sig.reference.size())};
    const M_BUFFER test{sig.test.data(), static_cast<std::uint32_t>(sig.test.size())};
    double sink = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        M_HANDLE h = velumar_create_method_ex(&s, [](void *, const char *) {}, nullptr);
        if (observed) velumar_set_frame_observer(h, take_frame, &sink);
        state.ResumeTiming();
        benchmark::DoNotOptimize(method(h, &ref, &test));
        state.PauseTiming();
        destroy_method(h);
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sig.reference.size()));
}
BENCHMARK(BM_FrameObserver)->ArgNames({"channels", "observer"})->ArgsProduct({{1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace
