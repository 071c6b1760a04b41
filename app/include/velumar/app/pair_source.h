// Where the pipeline's samples come from: a pair of signals as interleaved
// 16-bit values at 48 kHz, and what is done to them on the way to the model.
//
// A source either holds each signal in memory as a whole (the mapped WAV
// file: the model then reads it in place, also when the pair is trimmed) or
// yields it block by block (a decoder, a resampler): the pipeline asks for
// nothing else. A decoding source plugs in by deriving from PairSource,
// answering Read() and, for the pair analysis, ForAnalysis() with a leading
// excerpt it keeps and replays.
#pragma once

#include <velumar/app/pair_analysis.h>
#include <velumar/runner/model_runner.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class CWaveFile;

namespace velumar::app {

enum class Signal { Reference = 0, Test = 1 };

class PairSource {
public:
    virtual ~PairSource() = default;

    // Channels of both signals (1 or 2; the pair has been checked to agree).
    virtual std::uint16_t channels() const = 0;
    // 16-bit values of a signal at 48 kHz, both channels together.
    virtual std::uint64_t values(Signal s) const = 0;
    // The path as the user gave it.
    virtual const std::string &path(Signal s) const = 0;

    // The whole signal in memory, when the source holds it so; empty
    // otherwise. The values stay where they are for the life of the source.
    virtual std::span<const std::int16_t> InPlace(Signal) const { return {}; }
    // The next `count` values of a signal, read in order from its start
    // (each signal once); returns how many were written, fewer only at its
    // end. Sources with InPlace() need not answer it.
    virtual std::size_t Read(Signal s, std::int16_t *out, std::size_t count);
    // What the pair analysis looks at: the whole signal when it is in place;
    // a streaming source may answer with a leading excerpt. Called before
    // any Read().
    virtual std::span<const std::int16_t> ForAnalysis(Signal s) { return InPlace(s); }

    // The in-place values of a signal before `position` will not be read
    // again: a source may let go of the memory that holds them.
    virtual void Passed(Signal, std::uint64_t /*position*/) const {}
    // After every step of the model: throws when what was read is void.
    virtual void CheckStep() const {}
    // Before any grade goes out: throws when an input changed.
    virtual void CheckEnd() const {}
};

// Two mapped WAV files that the model takes as they are.
class WavePairSource final : public PairSource {
public:
    // Owns the files.
    WavePairSource(std::unique_ptr<CWaveFile> reference, std::unique_ptr<CWaveFile> test);
    // Borrows them: they must outlive the source.
    WavePairSource(const CWaveFile *reference, const CWaveFile *test);
    ~WavePairSource() override;

    std::uint16_t channels() const override;
    std::uint64_t values(Signal s) const override;
    const std::string &path(Signal s) const override;
    std::span<const std::int16_t> InPlace(Signal s) const override;
    void Passed(Signal s, std::uint64_t position) const override;
    void CheckStep() const override;
    void CheckEnd() const override;

    const CWaveFile &file(Signal s) const { return s == Signal::Reference ? *reference_ : *test_; }

private:
    std::unique_ptr<CWaveFile> own_reference_;
    std::unique_ptr<CWaveFile> own_test_;
    const CWaveFile *reference_;
    const CWaveFile *test_;
};

// Faults of opening a pair, in the order they are checked.
enum class OpenFault { None, EmptyPath, File, Requirements, Channels, Lengths };

struct OpenedPair {
    // Both open files; null on a fault.
    std::unique_ptr<CWaveFile> reference;
    std::unique_ptr<CWaveFile> test;
    OpenFault fault = OpenFault::None;
    // The input-files page's message for the fault (empty without one).
    std::string message;
};

// Opens both files and checks them the way the input-files page does:
// paths not empty, files readable, the model's requirements, the same
// channel count and (unless lengths_may_differ) the same data size. On a
// fault nothing stays open.
OpenedPair OpenWavePair(const std::string &reference, const std::string &test, bool lengths_may_differ = false);

// What is done to a pair before the model sees it.
struct Adjustment {
    // Frames skipped at the start of each signal, and the values (both
    // channels) then fed of each.
    std::uint64_t reference_skip = 0;
    std::uint64_t test_skip = 0;
    std::uint32_t values = 0;
    // The test is multiplied by this, rounded to the nearest 16-bit value
    // and clipped to the 16-bit range; 1.0 leaves it untouched.
    double test_gain = 1.0;
};

// The runner's input over a source and an adjustment. In-place signals
// that are not scaled are fed straight from memory (a trim is an offset);
// anything else goes through one block buffer per signal, sized once for
// the step.
class AdjustedInput final : public CRunInput {
public:
    AdjustedInput(PairSource &source, const Adjustment &adjustment, std::uint32_t step);

    std::uint16_t channel_count() const override { return source_.channels(); }
    std::uint32_t value_count() const override { return adjustment_.values; }
    void NextBlock(std::uint32_t count, const std::int16_t **reference, const std::int16_t **test) override;
    void CheckStep() const override { source_.CheckStep(); }
    void CheckEnd() const override { source_.CheckEnd(); }

    // Values that scaling drove past the 16-bit range, so far.
    std::uint64_t clipped_values() const { return clipped_; }

    // Counts the full-scale runs of both signals as they are fed (the
    // pair check's clipping, made without a pass of its own), the parts
    // before the fed ones included. Only for in-place signals; called
    // before the first block.
    void CountClipping();
    // Reads the rest of both signals, letting their pages go behind, and
    // returns the counts of the whole signals: reference, test.
    std::pair<std::uint64_t, std::uint64_t> FinishClipping();

private:
    const std::int16_t *Block(Signal s, std::uint32_t count);
    // Feeds the counter of a signal up to `position` (at most its whole
    // frames); the pages before `release` may go behind it.
    void ClipUpTo(Signal s, std::uint64_t position, std::uint64_t release);

    PairSource &source_;
    Adjustment adjustment_;
    std::uint64_t done_ = 0;
    bool skipped_[2] = {false, false};
    std::vector<std::int16_t> buffer_[2];
    std::uint64_t clipped_ = 0;
    std::optional<ClippingCounter> clipping_[2];
    std::uint64_t clip_position_[2] = {0, 0};
};

} // namespace velumar::app
