#include "stages.h"
#include "support.h"

#include <algorithm>
#include <vector>

namespace {

using velumar::model::next_frame_pair;
using velumar::test::make_instance;
using velumar::test::stdout_of;

// A stream whose every value tells its position, for both signals.
std::vector<std::int16_t> ramp(std::size_t n, int offset)
{
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::int16_t>((i * 7 + offset) % 65536 - 32768);
    return v;
}

struct Frames {
    // Per frame: the windowed ch1 then ch2 values, then the energy of each
    // channel's second half.
    std::vector<std::vector<double>> ref, test;
    std::vector<double> window;
};

// Feeds both streams in blocks of the given sizes (cycling) and records
// every frame pair the frame input completes, without running the stages.
Frames cut(bool stereo, const std::vector<std::int16_t> &ref, const std::vector<std::int16_t> &test,
           const std::vector<std::uint32_t> &blocks)
{
    auto s = make_instance(stereo);
    Frames out;
    out.window.assign(s->hann_window.data, s->hann_window.data + s->hann_window.length);
    const auto snapshot = [&](const M_ARRAY &a, const M_ARRAY &b, double energy_a, double energy_b) {
        std::vector<double> v(a.data, a.data + a.length);
        if (stereo) v.insert(v.end(), b.data, b.data + b.length);
        v.push_back(energy_a);
        if (stereo) v.push_back(energy_b);
        return v;
    };
    std::size_t done = 0;
    for (std::size_t i = 0; done < ref.size(); ++i) {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(blocks[i % blocks.size()], ref.size() - done));
        const M_BUFFER r{ref.data() + done, count}, t{test.data() + done, count};
        std::uint32_t kr = 0, kt = 0;
        while (next_frame_pair(s.get(), &r, &t, kr, kt)) {
            out.ref.push_back(snapshot(s->frame_ref_ch1, s->frame_ref_ch2, s->tail_energy_ref_ch1, s->tail_energy_ref_ch2));
            out.test.push_back(
                snapshot(s->frame_test_ch1, s->frame_test_ch2, s->tail_energy_test_ch1, s->tail_energy_test_ch2));
        }
        done += count;
    }
    return out;
}

// Frame j covers values j*H .. j*H+F-1 of the stream, deinterleaved and
// windowed; the energies sum the squared samples of its second half.
std::vector<double> expected_frame(const std::vector<std::int16_t> &stream, std::size_t j, int channels,
                                   const std::vector<double> &window)
{
    std::vector<double> v(2048 * channels + channels);
    const std::size_t start = j * 1024 * channels;
    for (int c = 0; c < channels; ++c) {
        std::int64_t energy = 0;
        for (std::size_t i = 0; i < 2048; ++i) {
            const std::int16_t x = stream[start + i * channels + c];
            v[c * 2048 + i] = static_cast<double>(x) * window[i];
            if (i >= 1024) energy += std::int64_t{x} * x;
        }
        v[2048 * channels + c] = static_cast<double>(energy);
    }
    return v;
}

TEST(FrameInput, FramesFollowTheSignalLengthWhateverTheBlockSizes)
{
    const std::vector<std::vector<std::uint32_t>> schedules = {{1}, {1000}, {2048}, {100000}, {3, 4097, 1, 2047, 0, 5}};
    for (bool stereo : {false, true}) {
        const int channels = stereo ? 2 : 1;
        // Values per channel and whole frames in them; the last ends inside a frame.
        for (auto [length, frames] : {std::pair<std::size_t, std::size_t>{2047, 0}, {2048, 1}, {3071, 1}, {3072, 2},
                                      {9 * 1024 + 333, 8}}) {
            const auto ref = ramp(length * channels, 0), test = ramp(length * channels, 11);
            for (const auto &blocks : schedules) {
                const Frames f = cut(stereo, ref, test, blocks);
                ASSERT_EQ(f.ref.size(), frames) << length << " samples, " << channels << " channels";
                for (std::size_t j = 0; j < f.ref.size(); ++j) {
                    EXPECT_EQ(f.ref[j], expected_frame(ref, j, channels, f.window)) << "frame " << j << " block " << blocks[0];
                    EXPECT_EQ(f.test[j], expected_frame(test, j, channels, f.window)) << "frame " << j << " block " << blocks[0];
                }
            }
        }
    }
    // An empty block without samples changes nothing.
    auto s = make_instance(false);
    const auto stream = ramp(2100, 0);
    const M_BUFFER first{stream.data(), 2100}, empty{nullptr, 0};
    ASSERT_EQ(method(s.get(), &first, &first), 0);
    EXPECT_EQ(method(s.get(), &empty, &empty), 0);
    EXPECT_EQ(s->frame_index, 1u);
    EXPECT_EQ(s->ref_input.fill, 1024u + 52u);
}

// Blocks the frame loop cannot use are refused whole: a message, 1, and the
// instance unchanged, so feeding goes on as if they had not come.
TEST(FrameInput, UnusableBlocksAreRefusedAndLeaveTheInstanceUntouched)
{
    constexpr const char *kBadBlocks = "Error of input datas (M_BUFFER) for the function - method()!\n";
    const auto ref = ramp(3 * 2048, 0), test = ramp(3 * 2048, 5);
    const M_BUFFER r{ref.data(), 3000}, t{test.data(), 3000};
    const M_BUFFER shorter{test.data(), 2999}, no_samples{nullptr, 3000}, empty{nullptr, 0};
    const struct {
        const M_BUFFER *ref, *test;
        const char *what;
    } refused[] = {
        {nullptr, &t, "no reference block"},      {&r, nullptr, "no test block"},
        {nullptr, nullptr, "no blocks"},          {&r, &shorter, "test block shorter"},
        {&shorter, &t, "reference block shorter"}, {&empty, &t, "empty against full"},
        {&no_samples, &t, "reference without samples"}, {&r, &no_samples, "test without samples"},
    };
    for (bool stereo : {false, true}) {
        auto fed = make_instance(stereo), clean = make_instance(stereo);
        ASSERT_EQ(method(fed.get(), &r, &t), 0);
        ASSERT_EQ(method(clean.get(), &r, &t), 0);
        for (const auto &c : refused) {
            std::int32_t code = 0;
            EXPECT_EQ(stdout_of([&] { code = method(fed.get(), c.ref, c.test); }), kBadBlocks) << c.what;
            EXPECT_EQ(code, 1) << c.what;
        }
        const M_BUFFER r2{ref.data() + 3000, 3 * 2048 - 3000}, t2{test.data() + 3000, 3 * 2048 - 3000};
        ASSERT_EQ(method(fed.get(), &r2, &t2), 0);
        ASSERT_EQ(method(clean.get(), &r2, &t2), 0);
        EXPECT_EQ(fed->frame_index, clean->frame_index);
        EXPECT_EQ(fed->ref_input.fill, clean->ref_input.fill);
        EXPECT_EQ(fed->test_input.fill, clean->test_input.fill);
        EXPECT_EQ(fed->nmr_mean_ch1, clean->nmr_mean_ch1);
        EXPECT_EQ(std::vector<std::int16_t>(fed->test_input.samples, fed->test_input.samples + fed->test_input.fill),
                  std::vector<std::int16_t>(clean->test_input.samples, clean->test_input.samples + clean->test_input.fill));
    }
}

} // namespace
