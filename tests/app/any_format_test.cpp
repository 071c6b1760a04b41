#include "sndfile_write.h"
#include "test_wav.h"
#include <velumar/app/any_format.h>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <cstring>

using namespace velumar::app;
using namespace velumar::testing;

namespace {

constexpr double kPi = 3.14159265358979323846;

WavSpec Spec(std::uint16_t channels, std::uint32_t rate = 48000, std::uint16_t bits = 16, std::uint16_t tag = 1)
{
    WavSpec spec;
    spec.channels = channels;
    spec.rate = rate;
    spec.bits = bits;
    spec.format_tag = tag;
    return spec;
}

Bytes Words24(const std::vector<std::int16_t> &samples)
{
    Bytes out;
    for (std::int16_t s : samples) {
        const auto v = static_cast<std::uint32_t>(s * 256);
        for (int i = 0; i < 3; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    return out;
}

Bytes Floats(const std::vector<std::int16_t> &samples)
{
    Bytes out;
    for (std::int16_t s : samples) {
        const float v = static_cast<float>(s / 32768.0);
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(bits >> (8 * i)));
    }
    return out;
}

// A pair defined in continuous time, sampled at `rate`: a few tones with an
// envelope, and the same with a quieter tone of its own and a slight level
// change added. Band-limited far below 20 kHz, so every rate holds the same
// signal.
std::pair<std::vector<std::int16_t>, std::vector<std::int16_t>> ContinuousPair(std::uint32_t rate, double seconds)
{
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> ref(frames * 2), test(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = 0.6 + 0.4 * std::sin(2 * kPi * 1.5 * t);
        for (int c = 0; c < 2; ++c) {
            double v = 0.0;
            for (int h = 1; h <= 4; ++h) v += std::sin(2 * kPi * (330.0 + 110.0 * c) * h * t + h) / h;
            v *= 0.25 * env;
            const double w = 0.97 * v + 0.01 * std::sin(2 * kPi * 3150.0 * t);
            ref[2 * i + static_cast<std::size_t>(c)] = static_cast<std::int16_t>(std::lround(v * 32767.0));
            test[2 * i + static_cast<std::size_t>(c)] = static_cast<std::int16_t>(std::lround(w * 32767.0));
        }
    }
    return {ref, test};
}

} // namespace

TEST(AnyFormat, LosslessRoutesGradeBitIdenticallyToTheNativePair)
{
    TempDir dir;
    const auto ref = MusicSignal(72000, 2, 3);
    const auto test = AddNoise(ref, 300.0, 5);
    const std::string r = dir.Write("r.wav", WavFile(Spec(2), ref));
    const GradeReport native = GradeAnyFiles(r, dir.Write("t.wav", WavFile(Spec(2), test)), {}, false);
    ASSERT_TRUE(native.graded()) << native.reason;
    ASSERT_TRUE(native.check.has_value());
    EXPECT_FALSE(native.check->HasWarning(kWarnConverted));
    EXPECT_FALSE(native.input.test->converted);
    EXPECT_EQ(native.input.test->format, "WAV");

    for (const std::string &t : {WriteWithSndfile(dir, "t.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 2, test),
                                 dir.Write("t24.wav", WavFile(Spec(2, 48000, 24), Words24(test))),
                                 dir.Write("tf.wav", WavFile(Spec(2, 48000, 32, 3), Floats(test))),
                                 WriteWithSndfile(dir, "tx.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 48000, 2, test)}) {
        SCOPED_TRACE(t);
        const GradeReport report = GradeAnyFiles(r, t, {}, false);
        ASSERT_TRUE(report.graded()) << report.reason;
        EXPECT_EQ(report.model.odg, native.model.odg);
        EXPECT_EQ(report.model.di, native.model.di);
        EXPECT_EQ(report.check->delay_samples, 0);
        EXPECT_EQ(report.check->HasWarning(kWarnConverted), report.input.test->converted);
        EXPECT_EQ(report.stats.total_values, ref.size());
    }
}

TEST(AnyFormat, ResampledPairGradesLikeThePairMadeAt48kHz)
{
    TempDir dir;
    const auto [r44, t44] = ContinuousPair(44100, 3.0);
    const auto [r48, t48] = ContinuousPair(48000, 3.0);
    const GradeReport at48 = GradeAnyFiles(dir.Write("r48.wav", WavFile(Spec(2), r48)),
                                              dir.Write("t48.wav", WavFile(Spec(2), t48)), {}, false);
    const std::string r44_flac = WriteWithSndfile(dir, "r44.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2, r44);
    const GradeReport at44 = GradeAnyFiles(r44_flac,
                                              dir.Write("t44.wav", WavFile(Spec(2, 44100), t44)), {}, false);
    ASSERT_TRUE(at48.graded()) << at48.reason;
    ASSERT_TRUE(at44.graded()) << at44.reason;
    EXPECT_LT(at48.model.odg, -0.3);  // the pair is not trivially identical
    EXPECT_NEAR(at44.model.odg, at48.model.odg, 0.05);
    EXPECT_EQ(at44.stats.total_values, r48.size());
    EXPECT_TRUE(at44.input.reference->converted);
    EXPECT_EQ(at44.input.reference->format + "/" + at44.input.reference->subtype, "FLAC/PCM_16");
    EXPECT_EQ(at44.input.reference->samples_per_channel, 3u * 44100u);
    EXPECT_TRUE(at44.check->HasWarning(kWarnConverted));
    EXPECT_EQ(at44.check->delay_samples, 0);
}

TEST(AnyFormat, ClippedValuesOfAFloatFileAreCountedInItsRecord)
{
    TempDir dir;
    const auto x = MusicSignal(48000, 1);
    Bytes loud(4 * x.size());
    // Eight times the level: every value above an eighth of full scale goes
    // beyond it.
    std::uint64_t beyond = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const float v = static_cast<float>(x[i] / 4096.0);
        if (std::abs(v) > 1.0f) ++beyond;
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int b = 0; b < 4; ++b) loud[4 * i + static_cast<std::size_t>(b)] = static_cast<unsigned char>(bits >> (8 * b));
    }
    ASSERT_GT(beyond, 0u);
    const GradeReport report = GradeAnyFiles(dir.Write("r.wav", WavFile(Spec(1), x)),
                                                dir.Write("loud.wav", WavFile(Spec(1, 48000, 32, 3), loud)), {}, false);
    ASSERT_TRUE(report.ran()) << report.reason;
    EXPECT_EQ(report.input.test->clipped_samples, beyond);
    EXPECT_EQ(report.input.reference->clipped_samples, 0u);
    const std::string line = ConvertedLine(*report.input.test);
    EXPECT_NE(line.find("WAV/FLOAT, 48000 Гц, 32 бит, каналов: 1"), std::string::npos) << line;
    EXPECT_NE(line.find(std::to_string(beyond)), std::string::npos) << line;
    EXPECT_EQ(ConvertedLine(*report.input.reference), "");
}
