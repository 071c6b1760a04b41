// Any two opened inputs (mapped WAV files or decoded and resampled files of
// any format) as the block input the model runner feeds from, optionally
// with leading values of either signal skipped and both cut to a common
// number of values: the alignment of a delayed pair.
#pragma once

#include <velumar/audio/input.h>
#include <velumar/runner/model_runner.h>

#include <cstdint>

namespace velumar::app {

class SourcePairInput final : public CRunInput {
public:
    // Feeds `values` values of each signal (both channels together) after
    // skipping the first `reference_skip` values of the reference and
    // `test_skip` of the test. The sources are borrowed and must outlive
    // this object; they must not have been read from (Lead() is fine).
    // Throws audio::InputError when `values` exceeds what either signal
    // holds after its skip or what one run can count (2^32 − 1).
    SourcePairInput(audio::SampleSource &reference, audio::SampleSource &test, std::uint64_t values,
                    std::uint64_t reference_skip = 0, std::uint64_t test_skip = 0);

    std::uint16_t channel_count() const override;
    std::uint32_t value_count() const override { return values_; }
    // Throws audio::InputError when a file cannot be read any further.
    void NextBlock(std::uint32_t count, const std::int16_t **reference, const std::int16_t **test) override;
    void CheckStep() const override;
    void CheckEnd() const override;

private:
    audio::SampleSource &reference_;
    audio::SampleSource &test_;
    std::uint32_t values_;
    std::uint64_t reference_skip_;
    std::uint64_t test_skip_;
};

} // namespace velumar::app
