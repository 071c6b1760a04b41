// Pair analysis: how the signal under test sits against its reference
// before it is graded — delay, correlation, level, polarity, swapped
// channels, a silent reference and clipping the reference does not have.
//
// A grade says how different two signals sound; it cannot say that the
// difference is a decoder's delay or a volume knob. The analysis finds those
// cheaply (on a few segments, never a transform of the whole signal) so that
// a front end can warn, and the pipeline can align and level-match on
// request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace velumar::app {

// Warning codes, as they appear in the JSON "warnings" array.
inline constexpr const char *kWarnDelay = "delay";        // a trusted delay of at least one sample
inline constexpr const char *kWarnLevel = "level";        // |gain| >= kLevelWarningDb
inline constexpr const char *kWarnInverted = "inverted";  // the test is the reference upside down
inline constexpr const char *kWarnSwapped = "swapped";    // left and right exchanged
inline constexpr const char *kWarnSilent = "silent";      // the reference is (nearly) digital silence
inline constexpr const char *kWarnClipped = "clipped";    // full-scale runs the reference lacks
inline constexpr const char *kWarnUnrelated = "unrelated";  // no trustworthy correlation peak: a wrong file?

// A correlation peak whose magnitude is below this is not trusted: the test
// is then too unlike the reference (unrelated material, or noise louder than
// the signal) for its position to mean anything. Unrelated white noise peaks
// near 0.02 over the analysed segments; a codec's output, even at low bit
// rates, stays well above 0.5.
inline constexpr double kTrustedCorrelation = 0.3;
// A peak is also not trusted when another one, outside its own lobe, comes
// within this ratio of it: a steady tone or a loop correlates as well one
// period away, and no delay can be told from the signal.
inline constexpr double kAmbiguousPeakRatio = 0.99;
// Level differences below this are left alone.
inline constexpr double kLevelWarningDb = 0.5;
// A reference whose largest value is at most this (about -72 dBFS) counts
// as silent: there is nothing to correlate or to grade against.
inline constexpr int kSilentPeak = 8;
// Consecutive values of one channel at full scale that count as clipping.
inline constexpr std::uint32_t kClipRun = 3;
// gain_db when the test holds nothing of the reference.
inline constexpr double kGainFloorDb = -200.0;

struct AnalysisSettings {
    // The delay is searched in [-max_delay_ms, +max_delay_ms].
    double max_delay_ms = 500.0;
    std::uint32_t sample_rate = 48000;
    // Told during each scan over a whole signal (0 the reference, 1 the
    // test) that its values before `values` have been read: a caller whose
    // signals are mapped files can let those pages go, so that memory does
    // not grow with the length. May be empty.
    std::function<void(int signal, std::size_t values)> scanned;
    // False leaves the clipping counts at 0 and gives no clipping warning,
    // and the reference is read only until it is found not silent: for a
    // caller that reads both signals anyway and counts the clipping on
    // the way (ClippingCounter, AddClipping), saving a pass over each.
    bool count_clipping = true;
};

struct PairCheck {
    // Delay of the test against the reference, in samples: positive when
    // the test is late (its sample d + i holds the reference's sample i).
    std::int64_t delay_samples = 0;
    double delay_ms = 0.0;
    // Signed normalised correlation at the peak of largest magnitude.
    double correlation = 0.0;
    // |correlation| >= kTrustedCorrelation and the peak is unambiguous.
    bool delay_trusted = false;
    // 20 log10 |<t,r> / <r,r>|, the least-squares gain of the test onto the
    // reference aligned by the delay, over the analysed segments (the
    // loudest few seconds of the reference; channels paired as found, so
    // swapped channels still measure their level). Added noise does not
    // bias it. 0 when the reference is silent, kGainFloorDb at the lowest.
    double gain_db = 0.0;
    // The least-squares gain itself (negative when inverted).
    double gain = 1.0;
    bool inverted = false;
    bool swapped = false;
    bool silent = false;
    bool clipped = false;
    // Values of each file that lie in full-scale runs of kClipRun or more.
    std::uint64_t reference_clipped_values = 0;
    std::uint64_t test_clipped_values = 0;
    // Codes in the order above (kWarn...); front ends may append their own
    // (e.g. a conversion of the input).
    std::vector<std::string> warnings;

    bool HasWarning(const std::string &code) const;
};

// Counts the values of each channel that lie in runs of kClipRun or more
// at full scale, over a signal of 1 or 2 interleaved channels fed in order
// in pieces of any length (a frame may be split between two pieces).
class ClippingCounter {
public:
    explicit ClippingCounter(unsigned channels);
    // Returns true when no value of the piece lies beyond kSilentPeak.
    bool Feed(const std::int16_t *values, std::size_t count);
    // The count over everything fed so far, runs still open included.
    std::uint64_t total() const;

private:
    unsigned channels_;
    unsigned next_ = 0;  // channel of the next value
    std::uint64_t run_[2] = {0, 0};
    std::uint64_t total_ = 0;
};

// Completes a check made with count_clipping false: the counts, the flag
// and the warning in its place.
void AddClipping(PairCheck &check, std::uint64_t reference, std::uint64_t test);

// Analyses interleaved 16-bit signals of `channels` (1 or 2) channels; the
// two may differ in length. A trailing odd value of a two-channel signal is
// ignored. Thread-safe. Throws std::invalid_argument for a channel count
// other than 1 or 2 or a max delay that is negative or not finite.
PairCheck AnalysePair(std::span<const std::int16_t> reference, std::span<const std::int16_t> test,
                      unsigned channels, const AnalysisSettings &settings = {});

} // namespace velumar::app
