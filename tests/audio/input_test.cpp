#include "sndfile_write.h"
#include "test_wav.h"
#include <velumar/audio/input.h>
#include <velumar/audio/wave_file.h>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cmath>
#include <limits>

#include <sys/stat.h>
#include <filesystem>

using namespace velumar::testing;
using velumar::audio::InputError;
using velumar::audio::InputInfo;
using velumar::audio::InputMode;
using velumar::audio::OpenInput;
using velumar::audio::SampleSource;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Every value of a source, read in blocks of `step` values.
std::vector<std::int16_t> ReadAll(SampleSource &source, std::size_t step = 3000)
{
    std::vector<std::int16_t> all;
    for (;;) {
        const auto block = source.Next(step);
        all.insert(all.end(), block.begin(), block.end());
        if (block.size() < step) break;
    }
    return all;
}

std::string OpenError(const std::string &path, InputMode mode = InputMode::Any)
{
    try {
        auto source = OpenInput(path, mode);
        ReadAll(*source);
    } catch (const InputError &e) {
        return e.message();
    }
    return {};
}

std::vector<double> AsDoubles(const std::vector<std::int16_t> &samples)
{
    std::vector<double> out;
    for (std::int16_t s : samples) out.push_back(s / 32768.0);
    return out;
}

WavSpec Spec(std::uint16_t channels, std::uint32_t rate = 48000, std::uint16_t bits = 16, std::uint16_t tag = 1,
             std::uint32_t fmt_size = 16)
{
    WavSpec spec;
    spec.channels = channels, spec.rate = rate, spec.bits = bits, spec.format_tag = tag, spec.fmt_size = fmt_size;
    return spec;
}

} // namespace

TEST(Input, EveryLosslessRouteGivesTheNativeValues)
{
    TempDir dir;
    const auto samples = MusicSignal(24000, 2);
    const auto expected = ReadAll(*OpenInput(dir.Write("native.wav", WavFile(Spec(2), samples))));
    ASSERT_EQ(expected, samples);

    // 24-bit words hold the values × 256, floating-point ones / 32768.
    const auto values = AsDoubles(samples);
    std::vector<std::pair<std::string, std::string>> routes;
    for (const auto &[format, name] : std::vector<std::pair<int, std::string>>{
             {SF_FORMAT_WAV | SF_FORMAT_PCM_24, "WAV/PCM_24"},     {SF_FORMAT_WAV | SF_FORMAT_FLOAT, "WAV/FLOAT"},
             {SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, "WAVEX/PCM_16"}, {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, "WAVEX/PCM_24"},
             {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "FLAC/PCM_16"},   {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "FLAC/PCM_24"},
             {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, "AIFF/PCM_16"},   {SF_FORMAT_W64 | SF_FORMAT_PCM_24, "W64/PCM_24"},
             {SF_FORMAT_RF64 | SF_FORMAT_DOUBLE, "RF64/DOUBLE"}})
        routes.emplace_back(WriteWithSndfile(dir, std::to_string(format), format, 48000, 2, values), name);
    for (const auto &[path, name] : routes) {
        SCOPED_TRACE(name);
        auto source = OpenInput(path);
        const InputInfo info = source->info();
        EXPECT_EQ(info.format + "/" + info.subtype, name);
        EXPECT_EQ(info.samples_per_channel, 24000u);
        // Nothing changes for 16-bit words at 48 kHz; every other word
        // length is a conversion even when the values come out equal.
        EXPECT_EQ(info.converted, info.subtype != "PCM_16");
        EXPECT_EQ(ReadAll(*source, 4097), expected);
        EXPECT_EQ(source->info().clipped_samples, 0u);
    }
}

TEST(Input, NativeFileIsReadInPlaceAndDataInsideAnotherChunkIsNotTakenForSamples)
{
    TempDir dir;
    const std::vector<std::int16_t> samples = {1, -2, 3, -4, 5, -6, 7, -8};
    auto native = OpenInput(dir.Write("plain.wav", WavFile(Spec(1), samples)));
    EXPECT_FALSE(native->info().converted);
    EXPECT_EQ(native->Lead(4).size(), 4u);
    EXPECT_EQ(ReadAll(*native), samples);

    // The letters "data" inside a LIST text: the mapped reader's scan stops
    // there and takes what follows for the samples (or, when the bytes after
    // them claim more than the file holds, refuses the file), so such files
    // go through the decoder, which walks the chunks.
    WavSpec spec;
    spec.extra_chunks = {{"LIST", std::string("INFOICMT\x0c\0\0\0data\x04\0\0\0abcd", 24)}};
    const std::string listed = dir.Write("listed.wav", WavFile(spec, samples));
    ASSERT_TRUE(velumar::audio::DataScanMisled(listed));
    {
        std::unique_ptr<CWaveFile> mapped(OpenWaveFile(listed));
        EXPECT_EQ(GetSampleCount(*mapped), 2u);
    }
    spec.extra_chunks = {{"LIST", std::string("INFOICMT\x0c\0\0\0metadata ok\0", 24)}};
    const std::string refused = dir.Write("refused.wav", WavFile(spec, samples));
    EXPECT_THROW(delete OpenWaveFile(refused), WaveErrors::FileException);
    for (const std::string &path : {listed, refused}) {
        auto decoded = OpenInput(path);
        EXPECT_EQ(decoded->info().format + "/" + decoded->info().subtype, "WAV/PCM_16");
        EXPECT_FALSE(decoded->info().converted);
        EXPECT_EQ(ReadAll(*decoded), samples);
    }

    // A LIST chunk without those letters and an 18-byte format chunk are
    // what the scan handles: no misreading.
    spec.extra_chunks = {{"LIST", std::string("INFOICMT\x04\0\0\0okay", 16)}};
    EXPECT_FALSE(velumar::audio::DataScanMisled(dir.Write("list-ok.wav", WavFile(spec, samples))));
    EXPECT_FALSE(velumar::audio::DataScanMisled(dir.Write("fmt18.wav", WavFile(Spec(1, 48000, 16, 1, 18), samples))));

    // Strict keeps the mapped reader's own rule and refuses what it cannot take.
    EXPECT_EQ(OpenInput(listed, InputMode::Strict)->total_values(), 2u);
    EXPECT_EQ(OpenError(dir.Write("r44.wav", WavFile(Spec(1, 44100, 16, 1), samples)), InputMode::Strict),
              "Параметры файла " + (dir.path() / "r44.wav").string() + " не соответствуют требованиям модели PEAQ");
}

TEST(Input, LeadKeepsTheValuesForTheFirstRead)
{
    TempDir dir;
    const auto samples = MusicSignal(50000, 2);
    auto source =
        OpenInput(WriteWithSndfile(dir, "a24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, AsDoubles(samples)));
    const auto lead = source->Lead(30001);
    EXPECT_EQ(std::vector<std::int16_t>(lead.begin(), lead.end()),
              std::vector<std::int16_t>(samples.begin(), samples.begin() + 30001));
    EXPECT_EQ(source->Lead(500000).size(), samples.size());
    EXPECT_EQ(ReadAll(*source, 777), samples);
}

TEST(Input, ResampledLengthIsTheAnnouncedOneAndTheSignalKeepsItsTime)
{
    TempDir dir;
    for (const int rate : {8000, 11025, 22050, 44100, 96000, 384000}) {
        SCOPED_TRACE(rate);
        // 1 kHz at half scale from the first sample, 0.7 s.
        const int frames = rate * 7 / 10 + 3;
        std::vector<double> values(static_cast<std::size_t>(frames));
        for (int i = 0; i < frames; ++i) values[static_cast<std::size_t>(i)] = 0.5 * std::sin(2 * kPi * 1000.0 * i / rate);
        auto source = OpenInput(WriteWithSndfile(dir, "s" + std::to_string(rate) + ".wav",
                                                 SF_FORMAT_WAV | SF_FORMAT_FLOAT, rate, 1, values));
        EXPECT_TRUE(source->info().converted);
        EXPECT_EQ(source->total_values(), velumar::audio::ConvertedLength(static_cast<std::uint64_t>(frames),
                                                                          static_cast<std::uint32_t>(rate)));
        const auto out = ReadAll(*source);
        ASSERT_EQ(out.size(), source->total_values());
        // Away from the edges, the same sine sampled at 48 kHz, with no
        // delay and no gain, to within the resampler's passband error.
        double worst = 0.0;
        for (std::size_t i = 4800; i + 4800 < out.size(); ++i)
            worst = std::max(worst, std::abs(out[i] - 16384.0 * std::sin(2 * kPi * 1000.0 * static_cast<double>(i) / 48000.0)));
        EXPECT_LT(worst, 8.0);
    }
    EXPECT_EQ(velumar::audio::ConvertedLength(44101, 96000), 22051u);  // halves go up
    EXPECT_EQ(velumar::audio::ConvertedLength(1, 384000), 0u);
}

TEST(Input, ValuesBeyondFullScaleAreClippedAndCounted)
{
    TempDir dir;
    const double inf = std::numeric_limits<double>::infinity();
    auto source = OpenInput(WriteWithSndfile(dir, "loud.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                                             std::vector<double>{0.5, 1.5, -2.0, -1.0, 1.0, 0.25, inf, 0.0}));
    EXPECT_EQ(ReadAll(*source), (std::vector<std::int16_t>{16384, 32767, -32768, -32768, 32767, 8192, 32767, 0}));
    EXPECT_EQ(source->info().clipped_samples, 3u);

    const std::string nan = WriteWithSndfile(dir, "nan.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                                             std::vector<double>{0.5, std::numeric_limits<double>::quiet_NaN()});
    EXPECT_EQ(OpenError(nan), "Файл " + nan + " содержит значения, не являющиеся числами (NaN)");
}

TEST(Input, RefusalsNameTheParameterAndTheValues)
{
    TempDir dir;
    const std::vector<std::int16_t> six = {1, 2, 3, 4, 5, 6};
    const std::string slow = dir.Write("slow.wav", WavFile(Spec(1, 4000, 16, 1), six));
    EXPECT_EQ(OpenError(slow),
              "Частота дискретизации файла " + slow + " равна 4000 Гц: допускается от 8000 до 384000 Гц");
    const std::string fast = dir.Write("fast.wav", WavFile(Spec(1, 768000, 16, 1), six));
    EXPECT_NE(OpenError(fast).find("768000 Гц"), std::string::npos);
    const std::string three = dir.Write("three.wav", WavFile(Spec(3, 48000, 16, 1), six));
    EXPECT_EQ(OpenError(three), "Файл " + three + " содержит каналов: 3; допускается один или два канала");

    const std::string text = dir.Write("notes.mp3", std::string_view("just some text, no audio"));
    const std::string unknown = OpenError(text);
    EXPECT_EQ(unknown.rfind("Формат файла " + text + " не распознан (файл начинается с байтов «just»)", 0), 0u)
        << unknown;
    const std::string adpcm = dir.Write("g729.wav", WavFile(Spec(1, 48000, 16, 0x0083), six));
    EXPECT_NE(OpenError(adpcm).find("WAV с кодом формата 0x0083"), std::string::npos) << OpenError(adpcm);
    // What is wrong with the path is said: a typo (checked through the
    // program in cli_e2e_test) and a folder need different fixes.
    std::filesystem::create_directory(dir.path() / "folder.wav");
    EXPECT_EQ(OpenError((dir.path() / "folder.wav").string()),
              "Ошибка при открытии файла " + (dir.path() / "folder.wav").string() + ": это папка, а не файл");
    // A FIFO with no writer would block a reader: refused at once.
    const std::string fifo = (dir.path() / "pipe.wav").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(OpenError(fifo),
              "Ошибка при открытии файла " + fifo + ": это не обычный файл (канал, устройство или сокет)");
    // The part before a NUL names a readable file, the path as given none.
    const std::string with_nul = slow + std::string(1, '\0') + ".flac";
    EXPECT_EQ(OpenError(with_nul), "Ошибка при открытии файла " + with_nul);

    // A FLAC file cut short: what was decoded is delivered, then the fault.
    const auto samples = MusicSignal(96000, 1);
    const std::string flac = WriteWithSndfile(dir, "full.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1,
                                              AsDoubles(samples));
    std::filesystem::resize_file(flac, std::filesystem::file_size(flac) / 2);
    EXPECT_NE(OpenError(flac).find(flac), std::string::npos);

}
