#include <velumar/app/pipeline.h>

#include <velumar/audio/wave_file.h>
#include <velumar/text/texts.h>

#include "test_wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace velumar::app;
using velumar::testing::Scaled;
using velumar::testing::TempDir;
using velumar::testing::WavFile;
using velumar::testing::WavSpec;
using Samples = std::vector<std::int16_t>;

// The model announces its level on standard output; tests do not need it.
class PipelineTest : public ::testing::Test {
protected:
    std::string Write(const std::string &name, const Samples &samples, std::uint16_t channels)
    {
        WavSpec spec;
        spec.channels = channels;
        return dir_.Write(name, WavFile(spec, samples));
    }

    TempDir dir_;
};

// Broadband material with some tonal content: music over a noise floor.
Samples Material(std::uint32_t frames, std::uint16_t channels, std::uint32_t seed)
{
    return velumar::testing::AddNoise(velumar::testing::MusicSignal(frames, channels, seed), 3000.0, seed + 100);
}

// A source that holds nothing in place: every value comes through Read(),
// the way a decoder hands over its output.
class StreamingSource final : public PairSource {
public:
    StreamingSource(Samples reference, Samples test, std::uint16_t channels)
        : signals_{std::move(reference), std::move(test)}, channels_(channels)
    {
    }
    std::uint16_t channels() const override { return channels_; }
    std::uint64_t values(Signal s) const override { return signals_[static_cast<int>(s)].size(); }
    const std::string &path(Signal) const override { return path_; }
    std::size_t Read(Signal s, std::int16_t *out, std::size_t count) override
    {
        const Samples &x = signals_[static_cast<int>(s)];
        std::size_t &at = position_[static_cast<int>(s)];
        const std::size_t n = std::min(count, x.size() - at);
        std::copy_n(x.data() + at, n, out);
        at += n;
        reads_ += 1;
        return n;
    }
    std::span<const std::int16_t> ForAnalysis(Signal s) override { return signals_[static_cast<int>(s)]; }
    std::size_t reads() const { return reads_; }

private:
    Samples signals_[2];
    std::uint16_t channels_;
    std::size_t position_[2] = {0, 0};
    std::size_t reads_ = 0;
    std::string path_ = "stream";
};

TEST_F(PipelineTest, TooShortPairIsNotGraded)
{
    // 0.3 s: 13 frames.
    const Samples x = Material(14400, 2, 1);
    const GradeReport report = GradeFiles(Write("r.wav", x, 2), Write("t.wav", x, 2), {});
    EXPECT_EQ(report.status, Status::NotGraded);
    EXPECT_FALSE(report.graded());
    EXPECT_EQ(report.reason_code, "too_short");
    EXPECT_NE(report.reason.find("23 кадров"), std::string::npos) << report.reason;
    EXPECT_NE(report.reason.find("0.30 с"), std::string::npos) << report.reason;
    EXPECT_EQ(report.model.frames, 13u);
    EXPECT_EQ(report.model.odg, 1.0);  // the in-band value, never to be shown as a grade

    // The other in-band failures, as the model reports them.
    GradeReport other;
    other.model_status = 1;
    other.model.frames = 100;
    JudgeResults(other, 2);
    EXPECT_EQ(other.status, Status::NotGraded);
    EXPECT_EQ(other.reason_code, "not_basic");
    EXPECT_NE(other.reason.find("версия 2"), std::string::npos) << other.reason;
    JudgeResults(other, 0);
    EXPECT_EQ(other.reason_code, "movs_unavailable");
    other.model_status = 0;
    JudgeResults(other, 0);
    EXPECT_TRUE(other.graded());
}

TEST_F(PipelineTest, GradedPairCarriesCheckAndStatistics)
{
    const Samples x = Material(48000 * 2, 2, 3);
    const Samples y = velumar::testing::AddNoise(x, 200.0, 5);
    GradeSettings settings;
    std::uint64_t last_done = 0;
    GradeHooks hooks;
    hooks.progress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, x.size());
        last_done = done;
    };
    const GradeReport report = GradeFiles(Write("r.wav", x, 2), Write("t.wav", y, 2), settings, hooks);
    ASSERT_EQ(report.status, Status::Graded) << report.reason;
    EXPECT_LT(report.model.odg, 0.22);
    EXPECT_EQ(last_done, x.size());
    EXPECT_EQ(report.stats.values, x.size());
    ASSERT_TRUE(report.check.has_value());
    EXPECT_TRUE(report.check->warnings.empty());
    EXPECT_FALSE(report.applied.has_value());

    settings.check = false;
    EXPECT_FALSE(GradeFiles(Write("r.wav", x, 2), Write("t.wav", y, 2), settings).check.has_value());
}

TEST_F(PipelineTest, RefusalsNameTheirReason)
{
    // Stereo, so that a count of values across both channels would show.
    const Samples x = Material(48000, 2, 4);
    const std::string r = Write("r.wav", x, 2);
    const std::string same = Write("same.wav", x, 2);
    Samples y = x;
    y.resize(x.size() + 2 * 4800);
    const std::string t = Write("t.wav", y, 2);

    GradeReport report = GradeFiles(r, t, {});
    EXPECT_EQ(report.status, Status::Refused);
    EXPECT_EQ(report.reason_code, "lengths_differ");
    EXPECT_NE(report.reason.find("48000 сэмплов на канал (1.00 с)"), std::string::npos) << report.reason;
    EXPECT_NE(report.reason.find("52800 сэмплов на канал (1.10 с)"), std::string::npos) << report.reason;

    report = GradeFiles(r, dir_.path().string() + "/missing.wav", {});
    EXPECT_EQ(report.reason_code, "input");
    EXPECT_NE(report.reason.find("missing.wav"), std::string::npos);

    // Aligned, an empty file against material has nothing in common with
    // it, whichever of the two it is.
    const std::string empty = Write("empty.wav", {}, 2);
    GradeSettings align;
    align.align = true;
    EXPECT_EQ(GradeFiles(r, empty, align).reason_code, "no_overlap");
    EXPECT_EQ(GradeFiles(empty, r, align).reason_code, "no_overlap");
    EXPECT_EQ(GradeFiles(empty, empty, align).reason_code, "too_short");

    GradeSettings big;
    big.run.step = 2 * 48000 + 1;  // one value more than the reference holds
    big.step_must_fit = true;
    EXPECT_EQ(GradeFiles(r, same, big).reason_code, "step_too_large");
    big.step_must_fit = false;  // the default step fits files of any length
    EXPECT_TRUE(GradeFiles(r, same, big).graded());
}

TEST(CheckSection, UnrelatedMaterialIsNotReportedAsFine)
{
    // Two independent noises: the check's peak is chance, and the section
    // says so instead of a delay and "nothing to remark".
    const Samples a = velumar::testing::AddNoise(Samples(48000 * 4, 0), 8000.0, 31);
    const Samples b = velumar::testing::AddNoise(Samples(48000 * 4, 0), 8000.0, 32);
    const std::string unrelated = CheckSection(AnalysePair(a, b, 1));
    EXPECT_NE(unrelated.find("Задержка исследуемого сигнала не определена"), std::string::npos) << unrelated;
    EXPECT_NE(unrelated.find("почти не похожи"), std::string::npos) << unrelated;
    EXPECT_EQ(unrelated.find("Замечаний нет"), std::string::npos) << unrelated;
    EXPECT_EQ(unrelated.find("Усиление"), std::string::npos) << unrelated;

    const std::string same = CheckSection(AnalysePair(a, a, 1));
    EXPECT_NE(same.find("Задержка исследуемого сигнала: 0 сэмплов (0.00 мс)"), std::string::npos) << same;
    EXPECT_NE(same.find("Замечаний нет"), std::string::npos) << same;
    // A level a hair below the reference's rounds to zero, with no sign.
    const std::string hair = CheckSection(AnalysePair(a, Scaled(a, 0.9999), 1));
    EXPECT_NE(hair.find("Усиление: +0.00 дБ"), std::string::npos) << hair;
}

TEST_F(PipelineTest, AlignGradesExactlyTheTrimmedPair)
{
    constexpr std::size_t kDelay = 1000;
    const Samples source = Material(48000 * 3 + kDelay, 2, 6);
    const Samples ref(source.begin() + 2 * kDelay, source.end());
    // Late by kDelay frames, with a codec-like noise, and a little longer.
    Samples late(source.begin(), source.end() - 2 * kDelay);
    late = velumar::testing::AddNoise(late, 300.0, 8);
    late.insert(late.end(), 2 * 480, 0);
    const std::string r = Write("r.wav", ref, 2);
    const std::string t = Write("t.wav", late, 2);

    GradeSettings settings;
    settings.align = true;
    const GradeReport aligned = GradeFiles(r, t, settings);
    ASSERT_TRUE(aligned.graded()) << aligned.reason;
    ASSERT_TRUE(aligned.applied.has_value());
    EXPECT_EQ(aligned.applied->delay_samples, static_cast<std::int64_t>(kDelay));
    EXPECT_TRUE(aligned.check->HasWarning("delay"));

    // By hand: the test from its frame kDelay, both cut to the common part.
    const std::size_t common = std::min(ref.size(), late.size() - 2 * kDelay);
    const Samples hand_ref(ref.begin(), ref.begin() + static_cast<std::ptrdiff_t>(common));
    const Samples hand_test(late.begin() + 2 * kDelay, late.begin() + 2 * kDelay + static_cast<std::ptrdiff_t>(common));
    const GradeReport direct = GradeFiles(Write("hr.wav", hand_ref, 2), Write("ht.wav", hand_test, 2), {});
    ASSERT_TRUE(direct.graded());
    EXPECT_EQ(aligned.model.odg, direct.model.odg);
    EXPECT_EQ(aligned.stats.values, common);

    // The reference late instead: the mirror image.
    const GradeReport mirrored = GradeFiles(t, r, settings);
    EXPECT_EQ(mirrored.applied->delay_samples, -static_cast<std::int64_t>(kDelay));
    const GradeReport mirrored_direct =
        GradeFiles(Write("mr.wav", hand_test, 2), Write("mt.wav", hand_ref, 2), {});
    EXPECT_EQ(mirrored.model.odg, mirrored_direct.model.odg);

    // Unrelated material: no trusted peak, nothing shifted, the common part graded.
    const Samples other = velumar::testing::AddNoise(Samples(late.size(), 0), 5000.0, 77);
    const GradeReport untrusted = GradeFiles(r, Write("o.wav", other, 2), settings);
    ASSERT_TRUE(untrusted.applied.has_value());
    EXPECT_TRUE(untrusted.applied->delay_untrusted);
    EXPECT_EQ(untrusted.applied->delay_samples, 0);
    EXPECT_EQ(untrusted.stats.values, ref.size());
    EXPECT_NE(AppliedSection(*untrusted.applied).find("не сдвинуты"), std::string::npos);
}

TEST_F(PipelineTest, MatchLevelGradesAQuieterCopyAsTheOriginal)
{
    // Music over a noise floor, as recordings have one.
    const Samples music = Material(48000 * 4, 2, 9);
    const Samples quiet = Scaled(music, std::pow(10.0, -6.0 / 20.0));
    const std::string r = Write("r.wav", music, 2);
    const std::string t = Write("t.wav", quiet, 2);

    const GradeReport plain = GradeFiles(r, t, {});
    ASSERT_TRUE(plain.graded());
    EXPECT_LT(plain.model.odg, -0.9);
    EXPECT_TRUE(plain.check->HasWarning("level"));

    GradeSettings settings;
    settings.match_level = true;
    const GradeReport matched = GradeFiles(r, t, settings);
    ASSERT_TRUE(matched.graded() && matched.applied.has_value());
    EXPECT_GT(matched.model.odg, -0.5);
    EXPECT_NEAR(matched.applied->gain_db, 6.0, 0.05);

    // An inverted copy is turned back and grades as the original.
    const GradeReport inverted = GradeFiles(r, Write("i.wav", Scaled(music, -1.0), 2), settings);
    ASSERT_TRUE(inverted.graded());
    EXPECT_TRUE(inverted.applied->inverted_back);
    const GradeReport same = GradeFiles(r, r, {});
    EXPECT_EQ(inverted.model.odg, same.model.odg);

    // Scaling up past full scale is clipped and counted.
    const Samples loud = Scaled(music, 5.0);
    const GradeReport clipped = GradeFiles(Write("loud.wav", loud, 2), r, settings);
    EXPECT_GT(clipped.applied->clipped_values, 0u);
}

TEST_F(PipelineTest, CheckCountsTheClippingOfTheWholeFilesWhileGrading)
{
    // Clipped material before the part the alignment grades, inside it,
    // and after it; steps that split the value pairs.
    constexpr std::size_t kDelay = 1500;
    const Samples ref = Material(48000 * 2, 2, 12);
    Samples late = Scaled(ref, 5.0);
    late.insert(late.begin(), 2 * kDelay, 32767);
    late.resize(late.size() + 2 * 3000, -32768);
    const std::string r = Write("r.wav", ref, 2);
    const std::string t = Write("t.wav", late, 2);
    const PairCheck trimmed = AnalysePair(ref, late, 2);
    const PairCheck same = AnalysePair(late, late, 2);
    ASSERT_GT(trimmed.test_clipped_values, 2 * (kDelay + 3000));
    for (const std::uint32_t step : {2048u, 999u}) {
        for (const bool align : {false, true}) {
            GradeSettings settings;
            settings.align = align;
            settings.run.step = step;
            const GradeReport report = GradeFiles(align ? r : t, t, settings);
            const PairCheck &alone = align ? trimmed : same;
            ASSERT_TRUE(report.graded() && report.check.has_value()) << report.reason;
            EXPECT_EQ(report.check->test_clipped_values, alone.test_clipped_values) << align << " " << step;
            EXPECT_EQ(report.check->reference_clipped_values, alone.reference_clipped_values);
            EXPECT_EQ(report.check->warnings, alone.warnings) << align << " " << step;
        }
    }
}

TEST_F(PipelineTest, StreamingSourceGradesAsTheMappedFiles)
{
    const Samples x = Material(48000 * 2, 2, 10);
    const Samples y = velumar::testing::AddNoise(x, 500.0, 11);
    Samples late(400, 0);  // 200 frames late
    late.insert(late.end(), y.begin(), y.end() - 400);

    GradeSettings settings;
    settings.align = true;
    settings.match_level = true;
    settings.run.step = 1000;
    const GradeReport mapped = GradeFiles(Write("r.wav", x, 2), Write("t.wav", Scaled(late, 0.7), 2), settings);
    StreamingSource stream(x, Scaled(late, 0.7), 2);
    const GradeReport streamed = GradeSource(stream, settings);
    ASSERT_TRUE(mapped.graded() && streamed.graded());
    EXPECT_EQ(streamed.applied->delay_samples, 200);
    EXPECT_EQ(streamed.model.odg, mapped.model.odg);
    EXPECT_EQ(streamed.stats.values, mapped.stats.values);
    EXPECT_GT(stream.reads(), 2 * streamed.stats.steps_done);
}

TEST(RunStatistics, CountsAsTheWizardAndAsTheCommandLine)
{
    RunStatistics s;
    s.Start(2, 5000);
    s.Step(2048, 10.0);
    s.Step(2048, 10.0);
    s.Step(2048, 20.0);  // the last, shorter step still reports the step
    EXPECT_EQ(s.values_fed, 6144u);
    EXPECT_EQ(s.values, 5000u);
    EXPECT_DOUBLE_EQ(s.speed, 6144.0 / 40.0 * 100.0);
    EXPECT_DOUBLE_EQ(*s.Speed(), 5000.0 / 40.0 * 100.0);
    EXPECT_TRUE(std::isnan(s.WizardRealTimeFactor()));
    EXPECT_FALSE(s.RealTimeFactor().has_value());

    s.values = 96001;  // whole seconds only: 2
    EXPECT_DOUBLE_EQ(*s.RealTimeFactor(48000), 40.0 / 200.0);

    EXPECT_EQ(FormatDuration(12345.6), "02:03,45");
    EXPECT_EQ(FormatDuration(99.999), "00:00,99");
    EXPECT_EQ(FormatDuration(-5.0), "00:00,00");
    EXPECT_EQ(FormatDuration(std::nan("")), "00:00,00");
}

} // namespace

// Counts read as Russian writes them after a number: the noun follows the
// last digit, except that 11 to 14 take the plural of many.
TEST(Texts, SampleCountsAgreeWithTheirNumber)
{
    const std::pair<long long, const char *> cases[] = {
        {0, "0 сэмплов"},      {1, "1 сэмпл"},        {2, "2 сэмпла"},       {4, "4 сэмпла"},
        {5, "5 сэмплов"},      {11, "11 сэмплов"},    {12, "12 сэмплов"},    {14, "14 сэмплов"},
        {21, "21 сэмпл"},      {22, "22 сэмпла"},     {111, "111 сэмплов"},  {1105, "1105 сэмплов"},
        {4354, "4354 сэмпла"}, {-1, "-1 сэмпл"},      {-3, "-3 сэмпла"},     {-480, "-480 сэмплов"},
    };
    for (const auto &[n, expected] : cases) EXPECT_EQ(velumar::text::sample_count(n), expected) << n;
}
