// Per-frame CSV and JSON Lines: columns, empty fields, exact numbers, and
// the min/max series that the plots draw from.
#include <velumar/report/frame_series.h>
#include <velumar/report/frame_writer.h>

#include "test_wav.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace velumar::report {
namespace {

using velumar::testing::Lines;
using velumar::testing::Split;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Values that a sloppy formatter loses: the shortest forms need 17 digits,
// sub-normal numbers, the model's −1e100, a negative zero.
const double kAwkward[] = {0.1 + 0.2, 1.0 / 3.0, 5e-324, 2.2250738585072014e-308, -1e100, -0.0,
                           123456789.12345678, 0.30000000000000004, 1e100};

// A stereo row where frame % 3 == 1 lacks the noise loudness and frame % 2
// the harmonic-structure value, like loud and low-energy frames do.
FrameRow row(std::uint64_t frame, int channels, double base)
{
    FrameRow r;
    r.frame = frame, r.time_s = frame_time_seconds(frame), r.channels = channels;
    r.loud = frame % 3 == 1, r.energy = frame % 2 == 0;
    for (int c = 0; c < channels; ++c)
        for (int q = 0; q < kFrameQuantityCount; ++q) {
            const auto fq = static_cast<FrameQuantity>(q);
            if (fq == FrameQuantity::noise_loudness && r.loud) continue;
            if (fq == FrameQuantity::ehs && !r.energy) continue;
            r.set(c, fq, fq == FrameQuantity::disturbed ? double(frame % 2) : base + q + 10 * c);
        }
    if (channels == 2) r.set_binaural_detection_probability(base / 7);
    return r;
}

TEST(FrameWriter, BothFormatsHaveTheColumnsInOrderGapsWhereNothingWasComputedAndExactNumbers)
{
    const std::string stereo_header =
        "frame,time_s,loud,energy,"
        "bandwidth_ref_1,bandwidth_test_1,nmr_db_1,disturbed_1,moddiff1_1,moddiff2_1,temporal_weight_1,"
        "noise_loudness_1,ehs_1,detection_probability_1,"
        "bandwidth_ref_2,bandwidth_test_2,nmr_db_2,disturbed_2,moddiff1_2,moddiff2_2,temporal_weight_2,"
        "noise_loudness_2,ehs_2,detection_probability_2,detection_probability_binaural";
    const std::size_t frames = std::size(kAwkward);
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        std::ostringstream csv_out, jsonl_out;
        auto csv = make_frame_writer(csv_out, FrameFormat::csv, channels);
        auto jsonl = make_frame_writer(jsonl_out, FrameFormat::json_lines, channels);
        for (std::uint64_t f = 0; f < frames; ++f) {
            FrameRow r = row(f, channels, kAwkward[f]);
            r.set(channels - 1, FrameQuantity::nmr_db, kAwkward[f]);
            csv->write(r);
            jsonl->write(r);
        }
        csv->finish();
        jsonl->finish();
        const auto lines = Lines(csv_out.str()), json_lines = Lines(jsonl_out.str());
        ASSERT_EQ(lines.size(), frames + 1);
        ASSERT_EQ(json_lines.size(), frames);
        EXPECT_EQ(lines[0], channels == 2 ? stereo_header : stereo_header.substr(0, stereo_header.find(",bandwidth_ref_2")));
        const auto header = Split(lines[0], ',');
        for (std::uint64_t f = 0; f < frames; ++f) {
            const auto fields = Split(lines[f + 1], ',');
            const auto j = nlohmann::ordered_json::parse(json_lines[f]);
            ASSERT_EQ(fields.size(), header.size()) << lines[f + 1];
            ASSERT_EQ(j.size(), header.size()) << json_lines[f];
            std::size_t i = 0;
            for (const auto &[key, value] : j.items()) {
                EXPECT_EQ(key, header[i]);
                const bool missing = (key.starts_with("noise_loudness_") && f % 3 == 1) || (key.starts_with("ehs_") && f % 2 == 1);
                EXPECT_EQ(fields[i].empty(), missing) << key << " in frame " << f;
                EXPECT_EQ(value.is_null(), missing) << key << " in frame " << f;
                if (!missing) EXPECT_EQ(std::strtod(fields[i].c_str(), nullptr), value.get<double>()) << key;
                ++i;
            }
            EXPECT_EQ(fields[0], std::to_string(f));
            EXPECT_EQ(std::strtod(fields[1].c_str(), nullptr), double(f) * 1024.0 / 48000.0);
            EXPECT_EQ(fields[2] + fields[3], std::string(f % 3 == 1 ? "1" : "0") + (f % 2 == 0 ? "1" : "0"));
            EXPECT_EQ(fields[7], std::to_string(f % 2));  // disturbed_1 is a plain 0 or 1
            EXPECT_TRUE(same_bits(j[channels == 2 ? "nmr_db_2" : "nmr_db_1"].get<double>(), kAwkward[f])) << json_lines[f];
            if (channels == 2)
                EXPECT_TRUE(same_bits(j["detection_probability_binaural"].get<double>(), kAwkward[f] / 7));
        }
    }
}

TEST(FrameWriter, RefusesWhatItCannotWriteWithAReason)
{
    std::ostringstream out;
    EXPECT_THROW(make_frame_writer(out, FrameFormat::csv, 3), std::invalid_argument);
    auto w = make_frame_writer(out, FrameFormat::csv, 2);
    EXPECT_THROW(w->write(row(0, 1, 1.0)), std::invalid_argument);

    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    EXPECT_THROW(make_frame_writer(broken, FrameFormat::csv, 1), std::runtime_error);
    auto jw = make_frame_writer(broken, FrameFormat::json_lines, 1);  // no header to fail on
    EXPECT_THROW(jw->write(row(0, 1, 1.0)), std::runtime_error);

    FrameRow r;
    EXPECT_THROW(r.set(2, FrameQuantity::ehs, 1.0), std::out_of_range);
}

TEST(FrameWriter, FormatFollowsTheFileNameAndNmrOfNothingIsTheModelsLogOfZero)
{
    EXPECT_EQ(frame_format_for_path("out.jsonl"), FrameFormat::json_lines);
    EXPECT_EQ(frame_format_for_path("/a/B.JSONL"), FrameFormat::json_lines);
    EXPECT_EQ(frame_format_for_path("out.jsonl.csv"), FrameFormat::csv);

    EXPECT_EQ(nmr_db_from_mean(0.0), -1e100);
    // A reference trimmed by --align shifts the timeline by its offset.
    EXPECT_EQ(frame_time_seconds(3, 480), (3 * 1024 + 480) / 48000.0);
}

// --- series -------------------------------------------------------------

FrameRow plain(std::uint64_t frame, double nmr, double p, bool disturbed)
{
    FrameRow r;
    r.frame = frame, r.time_s = frame_time_seconds(frame);
    r.set(0, FrameQuantity::nmr_db, nmr);
    r.set(0, FrameQuantity::detection_probability, p);
    r.set(0, FrameQuantity::disturbed, disturbed ? 1.0 : 0.0);
    if (frame % 4 != 0) r.set(0, FrameQuantity::noise_loudness, 0.5);
    return r;
}

TEST(FrameSeries, AOneFrameBurstInAnHourSurvivesDecimationAtItsTime)
{
    const std::uint64_t frames = 170'000;  // about an hour
    const std::uint64_t burst = 123'457;
    FrameSeries s(1, 1000);
    for (std::uint64_t f = 0; f < frames; ++f)
        s.add(plain(f, f == burst ? 25.0 : -20.0 - double(f % 7), f == burst ? 1.0 : 0.01, f == burst));
    EXPECT_LE(s.buckets().size(), s.capacity());
    EXPECT_EQ(s.disturbed_frames(0), 1u);
    EXPECT_EQ(s.total(Trace::nmr_db, 0).max, 25.0);
    EXPECT_EQ(s.total(Trace::nmr_db, 0).min, -26.0);
    EXPECT_EQ(s.total(Trace::noise_loudness, 0).n, frames - frames / 4);

    const auto cols = s.columns(300);
    ASSERT_LE(cols.size(), 300u);
    std::uint64_t covered = 0, next = 0;
    int burst_columns = 0;
    for (const auto &c : cols) {
        EXPECT_EQ(c.first_frame, next);  // no gaps, no overlaps
        next = c.first_frame + c.frame_count;
        covered += c.frame_count;
        const bool hit = c.span(Trace::nmr_db, 0).max == 25.0;
        burst_columns += hit;
        EXPECT_EQ(c.disturbed[0], hit ? 1u : 0u);
        EXPECT_TRUE(!hit || (c.start_s <= frame_time_seconds(burst) && c.end_s >= frame_time_seconds(burst)));
    }
    EXPECT_EQ(covered, frames);
    EXPECT_EQ(burst_columns, 1);
}

TEST(FrameSeries, ShortRunsKeepEveryFrameAndFramesWithoutAValueLeaveGaps)
{
    FrameSeries s(2, 64);
    for (std::uint64_t f = 0; f < 40; ++f) {
        FrameRow r = plain(f, double(f), 0.0, false);
        r.channels = 2;
        if (f < 10) r.set(1, FrameQuantity::noise_loudness, 2.0);
        r.set_binaural_detection_probability(0.5);
        s.add(r);
    }
    const auto cols = s.columns(1000);
    ASSERT_EQ(cols.size(), 40u);
    for (std::uint64_t f = 0; f < 40; ++f) {
        EXPECT_EQ(cols[f].span(Trace::nmr_db, 0).min, double(f));
        EXPECT_EQ(cols[f].span(Trace::noise_loudness, 0).n, f % 4 ? 1u : 0u);
        EXPECT_EQ(cols[f].span(Trace::noise_loudness, 1).n, f < 10 ? 1u : 0u);
        EXPECT_EQ(cols[f].span(Trace::detection_probability, kBinauralSlot).max, 0.5);
    }
    EXPECT_THROW(s.add(plain(40, 0, 0, false)), std::invalid_argument);  // one channel into two
    EXPECT_THROW(FrameSeries(0), std::invalid_argument);
    EXPECT_TRUE(s.columns(0).empty());
}

} // namespace
} // namespace velumar::report
