#include <velumar/app/pair_source.h>

#include <velumar/audio/wave_file.h>
#include <velumar/text/texts.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace velumar::app {

std::size_t PairSource::Read(Signal s, std::int16_t *, std::size_t)
{
    throw std::logic_error("pair source: " + path(s) + " cannot be read block by block");
}

WavePairSource::WavePairSource(std::unique_ptr<CWaveFile> reference, std::unique_ptr<CWaveFile> test)
    : own_reference_(std::move(reference)),
      own_test_(std::move(test)),
      reference_(own_reference_.get()),
      test_(own_test_.get())
{
}

WavePairSource::WavePairSource(const CWaveFile *reference, const CWaveFile *test) : reference_(reference), test_(test)
{
}

WavePairSource::~WavePairSource() = default;

std::uint16_t WavePairSource::channels() const { return reference_->channel_count(); }

std::uint64_t WavePairSource::values(Signal s) const { return GetSampleCount(file(s)); }

const std::string &WavePairSource::path(Signal s) const { return file(s).path(); }

std::span<const std::int16_t> WavePairSource::InPlace(Signal s) const
{
    return {file(s).sample_data(), GetSampleCount(file(s))};
}

void WavePairSource::Passed(Signal s, std::uint64_t position) const
{
    file(s).ReleaseSamplesBefore(file(s).sample_data() + position);
}

void WavePairSource::CheckStep() const
{
    ThrowIfFaulted(*reference_);
    ThrowIfFaulted(*test_);
}

void WavePairSource::CheckEnd() const
{
    ThrowIfChanged(*reference_);
    ThrowIfChanged(*test_);
}

OpenedPair OpenWavePair(const std::string &reference, const std::string &test, bool lengths_may_differ)
{
    OpenedPair out;
    auto fail = [&](OpenFault fault, std::string message) {
        out.fault = fault;
        out.message = std::move(message);
        return std::move(out);
    };
    if (reference.empty() || test.empty()) return fail(OpenFault::EmptyPath, std::string(text::get(text::IDS_EMPTY_PATH)));
    // The system would read such a path only up to the NUL, which names
    // another file (or none): it cannot be opened as given.
    for (const std::string *path : {&reference, &test})
        if (path->find('\0') != std::string::npos)
            return fail(OpenFault::File, text::format(text::IDS_FILE_OPEN_ERROR, *path));

    std::unique_ptr<CWaveFile> ref;
    std::unique_ptr<CWaveFile> tst;
    try {
        ref.reset(OpenWaveFile(reference));
        tst.reset(OpenWaveFile(test));
    } catch (const WaveErrors::FileException &e) {
        return fail(OpenFault::File, e.text());
    }
    if (!CheckModelRequirements(*ref))
        return fail(OpenFault::Requirements, text::format(text::IDS_REQUIREMENTS_ERROR, reference));
    if (!CheckModelRequirements(*tst))
        return fail(OpenFault::Requirements, text::format(text::IDS_REQUIREMENTS_ERROR, test));
    if (!SameChannelCount(*ref, *tst))
        return fail(OpenFault::Channels, std::string(text::get(text::IDS_CHANNELS_DIFFER)));
    if (!lengths_may_differ && !SameLength(*ref, *tst))
        return fail(OpenFault::Lengths, std::string(text::get(text::IDS_LENGTHS_DIFFER)));

    out.reference = std::move(ref);
    out.test = std::move(tst);
    return out;
}

AdjustedInput::AdjustedInput(PairSource &source, const Adjustment &adjustment, std::uint32_t step)
    : source_(source), adjustment_(adjustment)
{
    const std::uint64_t ch = source.channels();
    for (const Signal s : {Signal::Reference, Signal::Test}) {
        const std::uint64_t skip = (s == Signal::Reference ? adjustment.reference_skip : adjustment.test_skip) * ch;
        if (skip + adjustment.values > source.values(s))
            throw std::invalid_argument("adjusted input: the pair is shorter than the part to be fed");
        const bool in_place = !source.InPlace(s).empty() || source.values(s) == 0;
        const bool scaled = s == Signal::Test && adjustment.test_gain != 1.0;
        if (!in_place || scaled) buffer_[static_cast<int>(s)].resize(std::min<std::uint64_t>(step, adjustment.values));
    }
}

const std::int16_t *AdjustedInput::Block(Signal s, std::uint32_t count)
{
    const int k = static_cast<int>(s);
    const std::uint64_t skip =
        (s == Signal::Reference ? adjustment_.reference_skip : adjustment_.test_skip) * source_.channels();
    const std::span<const std::int16_t> whole = source_.InPlace(s);
    // The model keeps what it still needs of a block in its own carry: the
    // blocks before this one are never read again.
    if (!whole.empty()) source_.Passed(s, skip + done_);
    // Counted just before the model reads the block: one trip through
    // memory serves both.
    if (clipping_[k]) ClipUpTo(s, skip + done_ + count, skip + done_);
    std::vector<std::int16_t> &buffer = buffer_[k];
    if (buffer.empty()) return whole.data() + skip + done_;  // in place, as it is

    if (!whole.empty()) {
        std::copy_n(whole.data() + skip + done_, count, buffer.data());
    } else {
        if (!skipped_[k]) {
            // Values before the fed part are read and dropped, a buffer at
            // a time.
            for (std::uint64_t left = skip; left > 0;) {
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
                if (source_.Read(s, buffer.data(), n) != n)
                    throw std::runtime_error("pair source: " + source_.path(s) + " ended early");
                left -= n;
            }
            skipped_[k] = true;
        }
        if (source_.Read(s, buffer.data(), count) != count)
            throw std::runtime_error("pair source: " + source_.path(s) + " ended early");
    }
    if (s == Signal::Test && adjustment_.test_gain != 1.0) {
        const double g = adjustment_.test_gain;
        for (std::uint32_t i = 0; i < count; ++i) {
            const double v = std::nearbyint(buffer[i] * g);
            if (v > 32767.0 || v < -32768.0) ++clipped_;
            buffer[i] = static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
        }
    }
    return buffer.data();
}

void AdjustedInput::CountClipping()
{
    for (const Signal s : {Signal::Reference, Signal::Test}) {
        if (source_.InPlace(s).empty() && source_.values(s) != 0)
            throw std::logic_error("adjusted input: " + source_.path(s) + " is not in memory to be counted");
        clipping_[static_cast<int>(s)].emplace(source_.channels());
    }
}

void AdjustedInput::ClipUpTo(Signal s, std::uint64_t position, std::uint64_t release)
{
    const int k = static_cast<int>(s);
    const std::uint64_t ch = std::max<std::uint16_t>(source_.channels(), 1);
    const std::uint64_t end = std::min(position, source_.values(s) / ch * ch);  // a dangling value is not counted
    const std::int16_t *data = source_.InPlace(s).data();
    constexpr std::uint64_t kPiece = std::uint64_t{1} << 19;
    for (std::uint64_t &at = clip_position_[k]; at < end;) {
        const std::uint64_t n = std::min(end - at, kPiece);
        clipping_[k]->Feed(data + at, static_cast<std::size_t>(n));
        at += n;
        if (release > 0) source_.Passed(s, std::min(at, release));
    }
}

std::pair<std::uint64_t, std::uint64_t> AdjustedInput::FinishClipping()
{
    for (const Signal s : {Signal::Reference, Signal::Test})
        if (clipping_[static_cast<int>(s)]) ClipUpTo(s, source_.values(s), source_.values(s));
    const auto total = [](const std::optional<ClippingCounter> &c) { return c ? c->total() : 0; };
    return {total(clipping_[0]), total(clipping_[1])};
}

void AdjustedInput::NextBlock(std::uint32_t count, const std::int16_t **reference, const std::int16_t **test)
{
    *reference = Block(Signal::Reference, count);
    *test = Block(Signal::Test, count);
    done_ += count;
}

} // namespace velumar::app
