// Working storage of an instance: obtained once, in a fixed order, at
// creation; released at destruction. Nothing here runs per frame.
#include "alloc.h"
#include "avg_value.h"
#include "stages.h"

#include <cstdio>
#include <iterator>
#include <string_view>
#include <type_traits>
#include <utility>

namespace velumar::model {
namespace {

constexpr std::uint32_t kFrame = 2048;
constexpr std::uint32_t kLines = 1024;
constexpr std::uint32_t kBands = 109;
constexpr std::uint32_t kEhsLength = 256;
constexpr std::uint32_t kEhsTransform = 512;

// One allocation of the creation sequence: which field receives it, how many
// elements of what size, and the label its failure message carries.
struct Slot {
    void (*assign)(M_STATE &, void *, std::uint32_t);
    void *(*data)(const M_STATE &);
    std::size_t element_size;
    std::uint32_t length;       // elements; kPerChannelFrame for the carry buffers
    const char *label;
    bool second_channel;        // obtained only with two channels
    bool closing_quote;         // false for the labels whose published failure line
                                // lacks it: programs match these lines verbatim
};

constexpr std::uint32_t kPerChannelFrame = 0;

template <auto Field>
constexpr Slot array(std::uint32_t length, const char *label, bool second_channel = false,
                     bool closing_quote = true)
{
    using Array = std::remove_reference_t<decltype(std::declval<M_STATE &>().*Field)>;
    using Element = std::remove_pointer_t<decltype(Array::data)>;
    return {[](M_STATE &s, void *p, std::uint32_t n) {
                (s.*Field).data = static_cast<Element *>(p);
                (s.*Field).length = n;
            },
            [](const M_STATE &s) -> void * { return (s.*Field).data; },
            sizeof(Element), length, label, second_channel, closing_quote};
}

template <auto Field>
constexpr Slot carry_buffer(const char *label)
{
    return {[](M_STATE &s, void *p, std::uint32_t n) {
                (s.*Field).samples = static_cast<std::int16_t *>(p);
                (s.*Field).capacity = n;
                (s.*Field).fill = 0;
            },
            [](const M_STATE &s) -> void * { return (s.*Field).samples; },
            sizeof(std::int16_t), kPerChannelFrame, label, false, true};
}

// Shorthands for the common shapes: a band-domain array, and the same for
// the second channel only.
template <auto Field>
constexpr Slot band(const char *label, bool closing_quote = true)
{
    return array<Field>(kBands, label, false, closing_quote);
}
template <auto Field>
constexpr Slot band2(const char *label, bool closing_quote = true)
{
    return array<Field>(kBands, label, true, closing_quote);
}

using S = M_STATE;
constexpr bool kNoQuote = false;

// The creation order. spread_matrix rows follow their row table (see
// kMatrixRowsAfter); the averaging objects follow the last array.
constexpr Slot kSlots[] = {
    carry_buffer<&S::ref_input>("bv_memory_allocation1"),
    carry_buffer<&S::test_input>("bv_memory_allocation2"),
    array<&S::frame_ref_ch1>(kFrame, "bv_memory_allocation3"),
    array<&S::frame_test_ch1>(kFrame, "bv_memory_allocation4"),
    array<&S::frame_ref_ch2>(kFrame, "bv_memory_allocation5", true),
    array<&S::frame_test_ch2>(kFrame, "bv_memory_allocation6", true),
    array<&S::spectrum_ref_ch1>(kLines, "bv_memory_allocation7"),
    array<&S::spectrum_test_ch1>(kLines, "bv_memory_allocation8"),
    array<&S::spectrum_ref_ch2>(kLines, "bv_memory_allocation9", true),
    array<&S::spectrum_test_ch2>(kLines, "bv_memory_allocation10", true),
    array<&S::hann_window>(kFrame, "bv_memory_allocation11"),
    array<&S::fft_work>(kFrame, "bv_memory_allocation7"),
    array<&S::fft_index>(kFrame, "bv_memory_allocation7"),
    array<&S::fft_twiddle>(2 * kFrame - 2, "bv_memory_allocation7"),
    array<&S::fft_inverse_twiddle>(2 * kFrame - 2, "bv_memory_allocation7"),
    array<&S::outer_ear>(kLines, "bv_memory_allocation8"),
    array<&S::noise_spectrum_ch1>(kLines, "bv_memory_allocation9"),
    array<&S::noise_spectrum_ch2>(kLines, "bv_memory_allocation10", true),
    band<&S::band_lower>("memory_allocation11"),
    band<&S::band_upper>("memory_allocation12"),
    band<&S::band_energy_ref_ch1>("memory_allocation13"),
    band<&S::band_energy_test_ch1>("memory_allocation14"),
    band2<&S::band_energy_ref_ch2>("memory_allocation15"),
    band2<&S::band_energy_test_ch2>("memory_allocation16"),
    band<&S::band_bins>("memory_allocation17"),
    band<&S::band_centre>("memory_allocation18"),
    band<&S::internal_noise>("memory_allocation19"),
    band<&S::spread_slope>("memory_allocation20"),
    band<&S::spread_matrix>("memory_allocation21"),
    band<&S::spread_energy_ref_ch1>("memory_allocation23"),
    band<&S::spread_energy_test_ch1>("memory_allocation24"),
    band2<&S::spread_energy_ref_ch2>("memory_allocation25"),
    band2<&S::spread_energy_test_ch2>("memory_allocation26"),
    band<&S::spread_norm>("memory_allocation27"),
    band<&S::excitation_ref_ch1>("memory_allocation28"),
    band<&S::excitation_test_ch1>("memory_allocation29"),
    band2<&S::excitation_ref_ch2>("memory_allocation30"),
    band2<&S::excitation_test_ch2>("memory_allocation31"),
    band<&S::time_spread_b>("memory_allocation32"),
    band<&S::time_spread_a>("memory_allocation33", kNoQuote),
    band<&S::time_spread_state_ref_ch1>("memory_allocation34"),
    band<&S::time_spread_state_test_ch1>("memory_allocation35"),
    band2<&S::time_spread_state_ref_ch2>("memory_allocation36"),
    band2<&S::time_spread_state_test_ch2>("memory_allocation37"),
    band<&S::mask_threshold_ch1>("memory_allocation38"),
    band2<&S::mask_threshold_ch2>("memory_allocation39"),
    band<&S::mask_offset>("memory_allocation40"),
    band<&S::smoothed_excitation_ref_ch1>("memory_allocation41"),
    band<&S::smoothed_excitation_test_ch1>("memory_allocation42"),
    band2<&S::smoothed_excitation_ref_ch2>("memory_allocation43"),
    band2<&S::smoothed_excitation_test_ch2>("memory_allocation44"),
    band<&S::adapt_b>("memory_allocation45"),
    band<&S::adapt_a>("memory_allocation46", kNoQuote),
    band<&S::level_adapted_ref_ch1>("memory_allocation47"),
    band<&S::level_adapted_test_ch1>("memory_allocation48"),
    band2<&S::level_adapted_ref_ch2>("memory_allocation49"),
    band2<&S::level_adapted_test_ch2>("memory_allocation50"),
    band<&S::pattern_num_ch1>("memory_allocation51"),
    band<&S::pattern_den_ch1>("memory_allocation52", kNoQuote),
    band2<&S::pattern_num_ch2>("memory_allocation53"),
    band2<&S::pattern_den_ch2>("memory_allocation54", kNoQuote),
    band<&S::ratio_ref_ch1>("memory_allocation57"),
    band<&S::ratio_test_ch1>("memory_allocation58", kNoQuote),
    band2<&S::ratio_ref_ch2>("memory_allocation59"),
    band2<&S::ratio_test_ch2>("memory_allocation60", kNoQuote),
    band<&S::mean_ratio_ref_ch1>("memory_allocation57"),
    band<&S::mean_ratio_test_ch1>("memory_allocation58", kNoQuote),
    band2<&S::mean_ratio_ref_ch2>("memory_allocation59"),
    band2<&S::mean_ratio_test_ch2>("memory_allocation60", kNoQuote),
    band<&S::pattern_corr_ref_ch1>("memory_allocation61"),
    band<&S::pattern_corr_test_ch1>("memory_allocation62", kNoQuote),
    band2<&S::pattern_corr_ref_ch2>("memory_allocation63"),
    band2<&S::pattern_corr_test_ch2>("memory_allocation63", kNoQuote),
    band<&S::pattern_adapted_ref_ch1>("memory_allocation64"),
    band<&S::pattern_adapted_test_ch1>("memory_allocation65"),
    band2<&S::pattern_adapted_ref_ch2>("memory_allocation66"),
    band2<&S::pattern_adapted_test_ch2>("memory_allocation67"),
    band<&S::pattern_ranges>("memory_allocation68"),
    band<&S::modulation_ref_ch1>("memory_allocation69"),
    band<&S::modulation_test_ch1>("memory_allocation70"),
    band2<&S::modulation_ref_ch2>("memory_allocation71"),
    band2<&S::modulation_test_ch2>("memory_allocation72"),
    band<&S::mod_prev_ref_ch1>("memory_allocation73"),
    band<&S::mod_prev_test_ch1>("memory_allocation74"),
    band2<&S::mod_prev_ref_ch2>("memory_allocation75"),
    band2<&S::mod_prev_test_ch2>("memory_allocation76"),
    band<&S::mod_deriv_ref_ch1>("memory_allocation77"),
    band<&S::mod_deriv_test_ch1>("memory_allocation78"),
    band2<&S::mod_deriv_ref_ch2>("memory_allocation79"),
    band2<&S::mod_deriv_test_ch2>("memory_allocation80"),
    band<&S::mod_avg_ref_ch1>("memory_allocation81"),
    band<&S::mod_avg_test_ch1>("memory_allocation82"),
    band2<&S::mod_avg_ref_ch2>("memory_allocation83"),
    band2<&S::mod_avg_test_ch2>("memory_allocation84"),
    band<&S::loudness_index>("memory_allocation85"),
    band<&S::loudness_thresh>("memory_allocation86"),
    band<&S::specific_loudness_ref_ch1>("memory_allocation87"),
    band<&S::specific_loudness_test_ch1>("memory_allocation88"),
    band2<&S::specific_loudness_ref_ch2>("memory_allocation89"),
    band2<&S::specific_loudness_test_ch2>("memory_allocation90"),
    band<&S::noise_band_energy_ch1>("memory_allocation91"),
    band2<&S::noise_band_energy_ch2>("memory_allocation92"),
    band<&S::moddiff1_bands_ch1>("memory_allocation93"),
    band2<&S::moddiff1_bands_ch2>("memory_allocation94"),
    band<&S::moddiff2_bands_ch1>("memory_allocation93"),
    band2<&S::moddiff2_bands_ch2>("memory_allocation94"),
    band<&S::internal_noise_pow>("memory_allocation96"),
    band<&S::noise_loudness_bands_ch1>("memory_allocation97"),
    band2<&S::noise_loudness_bands_ch2>("memory_allocation98"),
    band<&S::nmr_bands_ch1>("memory_allocation99"),
    band2<&S::nmr_bands_ch2>("memory_allocation100"),
    band<&S::detect_level_ref_ch1>("memory_allocation101"),
    band<&S::detect_level_test_ch1>("memory_allocation102"),
    band2<&S::detect_level_ref_ch2>("memory_allocation103"),
    band2<&S::detect_level_test_ch2>("memory_allocation104"),
    band<&S::detect_weighted_level_ch1>("memory_allocation105"),
    band2<&S::detect_weighted_level_ch2>("memory_allocation106"),
    band<&S::detect_slope_ch1>("memory_allocation107"),
    band2<&S::detect_slope_ch2>("memory_allocation108"),
    band<&S::detect_diff_ch1>("memory_allocation109"),
    band2<&S::detect_diff_ch2>("memory_allocation110"),
    band<&S::detect_prob_ch1>("memory_allocation113"),
    band2<&S::detect_prob_ch2>("memory_allocation114"),
    band2<&S::detect_prob_binaural>("memory_allocation115"),
    band<&S::detect_steps_ch1>("memory_allocation116"),
    band2<&S::detect_steps_ch2>("memory_allocation117"),
    band2<&S::detect_steps_binaural>("memory_allocation118"),
    array<&S::ehs_d_ch1>(kLines, "bv_memory_allocation119"),
    array<&S::ehs_d_ch2>(kLines, "bv_memory_allocation120", true),
    array<&S::ehs_corr_ch1>(kLines, "bv_memory_allocation121"),
    array<&S::ehs_corr_ch2>(kLines, "bv_memory_allocation122", true),
    array<&S::ehs_window>(kEhsLength, "bv_memory_allocation121"),
    array<&S::ehs_buf_a>(kEhsTransform, "bv_memory_allocation122"),
    array<&S::ehs_buf_b>(kEhsTransform, "bv_memory_allocation123"),
    array<&S::ehs_fft_index_512>(kEhsTransform, "bv_memory_allocation124/1"),
    array<&S::ehs_fft_index_256>(kEhsLength, "bv_memory_allocation124/2"),
    array<&S::ehs_cplx_a>(kEhsTransform, "bv_memory_allocation125"),
    array<&S::ehs_cplx_b>(kEhsTransform, "bv_memory_allocation126"),
    array<&S::ehs_cplx_c>(kEhsTransform, "bv_memory_allocation127"),
};

// Index of the spread_matrix row table in kSlots: its rows are obtained
// right after it.
constexpr std::size_t kMatrixRowsAfter = [] {
    for (std::size_t i = 0; i < std::size(kSlots); ++i)
        if (std::string_view(kSlots[i].label) == "memory_allocation21") return i;
    return std::size(kSlots);
}();
static_assert(kMatrixRowsAfter < std::size(kSlots));
constexpr const char *kMatrixRowLabel = "memory_allocation22";

// The averaging objects in creation order: channel 1, then channel 2.
struct AvgSlot {
    AVG_VALUE *M_STATE::*field;
    std::int32_t kind;
};
constexpr AvgSlot kAverages[2][9] = {
    {{&S::avg_bandwidth_ref_ch1, AVG_LINEAR},
     {&S::avg_bandwidth_test_ch1, AVG_LINEAR},
     {&S::avg_win_moddiff1_ch1, AVG_WINDOWED},
     {&S::avg_moddiff1_ch1, AVG_WEIGHTED_LINEAR},
     {&S::avg_moddiff2_ch1, AVG_WEIGHTED_LINEAR},
     {&S::avg_noise_loud_ch1, AVG_RMS},
     {&S::avg_total_nmr_ch1, AVG_LINEAR},
     {&S::avg_rel_dist_ch1, AVG_LINEAR},
     {&S::avg_ehs_ch1, AVG_LINEAR}},
    {{&S::avg_bandwidth_ref_ch2, AVG_LINEAR},
     {&S::avg_bandwidth_test_ch2, AVG_LINEAR},
     {&S::avg_win_moddiff1_ch2, AVG_WINDOWED},
     {&S::avg_moddiff1_ch2, AVG_WEIGHTED_LINEAR},
     {&S::avg_moddiff2_ch2, AVG_WEIGHTED_LINEAR},
     {&S::avg_noise_loud_ch2, AVG_RMS},
     {&S::avg_total_nmr_ch2, AVG_LINEAR},
     {&S::avg_rel_dist_ch2, AVG_LINEAR},
     {&S::avg_ehs_ch2, AVG_LINEAR}},
};

std::int32_t allocation_failed(const char *label, bool closing_quote)
{
    sayf(closing_quote ? "error malloc func:'create_basic_method/%s'\n"
                              : "error malloc func:'create_basic_method/%s\n",
                label);
    return 1;
}

std::int32_t obtain_matrix_rows(M_STATE &s)
{
    for (std::uint32_t i = 0; i < s.spread_matrix.length; ++i) {
        s.spread_matrix.data[i] = static_cast<double *>(obtain(kBands, sizeof(double)));
        if (s.spread_matrix.data[i] == nullptr) return allocation_failed(kMatrixRowLabel, true);
    }
    return 0;
}

} // namespace

std::int32_t allocate_basic_method(M_STATE *s, const M_SETTINGS *settings)
{
    if (settings->sample_rate != 48000) {
        say("ERROR:Initialization of the tables!\n");
        return 1;
    }
    const std::uint32_t channels = s->stereo == 1 ? 2 : 1;
    s->frame_length = kFrame;
    s->half_frame = kLines;
    s->band_count = kBands;
    s->freq_resolution = static_cast<double>(s->sample_rate) / static_cast<double>(s->frame_length);
    s->band_step = 0.25;
    s->spread_lower_slope = 27.0;
    s->hop_length = 1024.0;
    s->pattern_adapt_bands = 8;
    s->ehs_len_512 = kEhsTransform;
    s->ehs_len_256 = kEhsLength;

    for (std::size_t i = 0; i < std::size(kSlots); ++i) {
        const Slot &slot = kSlots[i];
        if (slot.second_channel && channels == 1) continue;
        const std::uint32_t length = slot.length == kPerChannelFrame ? kFrame * channels : slot.length;
        void *p = obtain(length, slot.element_size);
        if (p == nullptr) return allocation_failed(slot.label, slot.closing_quote);
        slot.assign(*s, p, length);
        if (i == kMatrixRowsAfter && obtain_matrix_rows(*s) != 0) return 1;
    }

    for (std::uint32_t ch = 0; ch < channels; ++ch) {
        for (const AvgSlot &avg : kAverages[ch]) {
            s->*avg.field = create_avg_value(avg.kind, static_cast<std::uint32_t>(s->avg_window_length),
                                             s->band_count);
            if (s->*avg.field == nullptr) return 1;
        }
    }
    return 0;
}

void release_basic_method(M_STATE *s)
{
    // Inner storage first: it hangs off arrays released below.
    if (s->band_bins.data != nullptr) {
        for (std::uint32_t i = 0; i < s->band_bins.length; ++i) {
            give_back(s->band_bins.data[i].indices);
            give_back(s->band_bins.data[i].weights);
        }
    }
    if (s->spread_matrix.data != nullptr) {
        for (std::uint32_t i = 0; i < s->spread_matrix.length; ++i) give_back(s->spread_matrix.data[i]);
    }
    for (const Slot &slot : kSlots) {
        give_back(slot.data(*s));
        slot.assign(*s, nullptr, 0);
    }
    for (const auto &channel : kAverages) {
        for (const AvgSlot &avg : channel) {
            destroy_avg_value(s->*avg.field);
            s->*avg.field = nullptr;
        }
    }
}

} // namespace velumar::model
