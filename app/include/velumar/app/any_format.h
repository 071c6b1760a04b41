// Pairs of any audio format for the grading pipeline.
//
// Each file is opened with audio::OpenInput: a 48 kHz 16-bit PCM WAV file
// stays in its mapping and is fed in place; anything else is decoded and,
// when its rate is not 48 kHz, resampled, block by block on a thread of its
// own. The pair analysis of a decoded signal looks at a leading excerpt
// that is decoded first, kept, and then fed to the model like the rest, so
// that nothing is decoded twice.
#pragma once

#include <velumar/app/pair_source.h>
#include <velumar/app/pipeline.h>
#include <velumar/audio/input.h>

#include <memory>
#include <optional>
#include <string>

namespace velumar::app {

// Seconds at the start of a decoded signal that the pair analysis sees.
// The analysis takes its segments from the loudest part of what it is
// given and searches ±500 ms around them; ten seconds of music hold enough
// material for that. The excerpt is decoded before the model starts, so a
// longer one would leave the second core idle for longer.
inline constexpr double kAnalysisExcerptSeconds = 10.0;

// Warning code added to the check when either file was converted.
inline constexpr const char *kWarnConverted = "converted";

class AnyPairSource final : public PairSource {
public:
    AnyPairSource(std::unique_ptr<audio::SampleSource> reference, std::unique_ptr<audio::SampleSource> test);

    std::uint16_t channels() const override;
    std::uint64_t values(Signal s) const override;
    const std::string &path(Signal s) const override;
    std::span<const std::int16_t> InPlace(Signal s) const override;
    std::size_t Read(Signal s, std::int16_t *out, std::size_t count) override;
    std::span<const std::int16_t> ForAnalysis(Signal s) override;
    void Passed(Signal s, std::uint64_t position) const override;
    void CheckStep() const override;
    void CheckEnd() const override;

    const audio::SampleSource &input(Signal s) const { return *input_[static_cast<int>(s)]; }
    // Either file was changed on the way to the model.
    bool converted() const;

private:
    std::unique_ptr<audio::SampleSource> input_[2];
    std::span<const std::int16_t> in_place_[2];
};

// The whole pipeline from two paths of any format. `strict` accepts only
// what the model takes natively, with the input-files page's checks and
// messages. A converted pair gets the warning kWarnConverted in its check;
// the report's input records say what each file was. Never throws for bad
// input or model failures.
GradeReport GradeAnyFiles(const std::string &reference, const std::string &test, const GradeSettings &settings,
                             bool strict, const GradeHooks &hooks = {});

// One Russian line for a file that was converted (with the clipped values
// when there were any); empty when it was fed as it is.
std::string ConvertedLine(const audio::InputInfo &info);

} // namespace velumar::app
