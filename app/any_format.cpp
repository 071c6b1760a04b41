#include <velumar/app/any_format.h>

#include <velumar/audio/wave_file.h>
#include <velumar/text/texts.h>

#include <algorithm>
#include <cstdio>

namespace velumar::app {

namespace {

int Index(Signal s)
{
    return static_cast<int>(s);
}

} // namespace

AnyPairSource::AnyPairSource(std::unique_ptr<audio::SampleSource> reference, std::unique_ptr<audio::SampleSource> test)
{
    input_[0] = std::move(reference);
    input_[1] = std::move(test);
    for (int k = 0; k < 2; ++k)
        if (input_[k]->native()) in_place_[k] = input_[k]->Lead(static_cast<std::size_t>(input_[k]->total_values()));
}

std::uint16_t AnyPairSource::channels() const
{
    return static_cast<std::uint16_t>(input_[0]->channels());
}

std::uint64_t AnyPairSource::values(Signal s) const
{
    return input_[Index(s)]->total_values();
}

const std::string &AnyPairSource::path(Signal s) const
{
    return input_[Index(s)]->path();
}

std::span<const std::int16_t> AnyPairSource::InPlace(Signal s) const
{
    return in_place_[Index(s)];
}

std::size_t AnyPairSource::Read(Signal s, std::int16_t *out, std::size_t count)
{
    audio::SampleSource &source = *input_[Index(s)];
    std::size_t done = 0;
    while (done < count) {
        const auto block = source.Next(count - done);
        if (block.empty()) break;
        std::copy(block.begin(), block.end(), out + done);
        done += block.size();
    }
    return done;
}

std::span<const std::int16_t> AnyPairSource::ForAnalysis(Signal s)
{
    if (!in_place_[Index(s)].empty()) return in_place_[Index(s)];
    audio::SampleSource &source = *input_[Index(s)];
    const auto excerpt = static_cast<std::size_t>(kAnalysisExcerptSeconds * audio::kModelRate) * source.channels();
    return source.Lead(excerpt);
}

void AnyPairSource::Passed(Signal s, std::uint64_t position) const
{
    input_[Index(s)]->Passed(position);
}

void AnyPairSource::CheckStep() const
{
    input_[0]->CheckIntact(false);
    input_[1]->CheckIntact(false);
}

void AnyPairSource::CheckEnd() const
{
    input_[0]->CheckIntact(true);
    input_[1]->CheckIntact(true);
}

bool AnyPairSource::converted() const
{
    return input_[0]->info().converted || input_[1]->info().converted;
}

GradeReport GradeAnyFiles(const std::string &reference, const std::string &test, const GradeSettings &settings,
                             bool strict, const GradeHooks &hooks)
{
    GradeReport out;
    auto refuse = [&](std::string message) {
        out.status = Status::Refused;
        out.reason_code = kReasonInput;
        out.reason = std::move(message);
        return out;
    };

    if (strict) {
        // The input-files page's checks and messages, lengths compared by
        // data size as there; the pipeline then runs on the mapped pair.
        OpenedPair opened = OpenWavePair(reference, test, settings.align);
        if (opened.fault != OpenFault::None) return refuse(opened.message);
        InputRecords input{audio::DescribeWave(*opened.reference), audio::DescribeWave(*opened.test)};
        WavePairSource source(std::move(opened.reference), std::move(opened.test));
        out = GradeSource(source, settings, hooks);
        out.input = std::move(input);
        return out;
    }

    if (reference.empty() || test.empty()) return refuse(std::string(text::get(text::IDS_EMPTY_PATH)));
    std::unique_ptr<audio::SampleSource> ref, tst;
    try {
        ref = audio::OpenInput(reference);
        out.input.reference = ref->info();
        tst = audio::OpenInput(test);
        out.input.test = tst->info();
    } catch (const audio::InputError &e) {
        return refuse(e.message());
    }
    if (ref->channels() != tst->channels())
        return refuse(text::format(text::IDS_INPUT_CHANNELS_DIFFER,
                                   {std::to_string(ref->channels()), std::to_string(tst->channels())}));

    AnyPairSource source(std::move(ref), std::move(tst));
    out = GradeSource(source, settings, hooks);
    // Clipping is counted while the files are read.
    out.input.reference = source.input(Signal::Reference).info();
    out.input.test = source.input(Signal::Test).info();
    if (source.converted() && out.check) out.check->warnings.emplace_back(kWarnConverted);
    return out;
}

std::string ConvertedLine(const audio::InputInfo &info)
{
    if (!info.converted) return {};
    const std::string bits = info.bits == 0 ? std::string(text::get(text::IDS_INPUT_LOSSY))
                                            : text::format(text::IDS_INPUT_BITS, std::to_string(info.bits));
    std::string line = text::format(text::IDS_INPUT_CONVERTED,
                                    {info.path, info.format + "/" + info.subtype, std::to_string(info.sample_rate),
                                     bits, std::to_string(info.channels)});
    if (info.clipped_samples > 0) line += text::format(text::IDS_INPUT_CLIPPED, std::to_string(info.clipped_samples));
    return line;
}

} // namespace velumar::app
