#include <velumar/app/source_input.h>

#include <velumar/text/texts.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <string>

namespace velumar::app {

namespace {

// Reads and drops `count` values of `source`, in bounded blocks.
void Skip(audio::SampleSource &source, std::uint64_t count)
{
    constexpr std::uint64_t kBlock = 1 << 16;
    while (count > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min(count, kBlock));
        const auto block = source.Next(want);
        if (block.size() != want)
            throw audio::InputError(text::format(text::IDS_INPUT_ENDED_EARLY, source.info().path));
        count -= want;
    }
}

const std::int16_t *Take(audio::SampleSource &source, std::uint32_t count)
{
    const auto block = source.Next(count);
    if (block.size() != count)
        throw audio::InputError(text::format(text::IDS_INPUT_ENDED_EARLY, source.info().path));
    return block.data();
}

} // namespace

SourcePairInput::SourcePairInput(audio::SampleSource &reference, audio::SampleSource &test, std::uint64_t values,
                                 std::uint64_t reference_skip, std::uint64_t test_skip)
    : reference_(reference), test_(test), values_(0), reference_skip_(reference_skip), test_skip_(test_skip)
{
    for (const auto &[source, skip] : {std::pair{&reference, reference_skip}, std::pair{&test, test_skip}}) {
        if (skip > source->total_values() || values > source->total_values() - skip)
            throw audio::InputError(text::format(text::IDS_INPUT_ENDED_EARLY, source->info().path));
    }
    if (values > std::numeric_limits<std::uint32_t>::max())
        throw audio::InputError(text::format(text::IDS_INPUT_TOO_LONG, {reference.info().path, std::to_string(values)}));
    values_ = static_cast<std::uint32_t>(values);
}

std::uint16_t SourcePairInput::channel_count() const
{
    return static_cast<std::uint16_t>(reference_.channels());
}

void SourcePairInput::NextBlock(std::uint32_t count, const std::int16_t **reference, const std::int16_t **test)
{
    if (reference_skip_ > 0) Skip(reference_, std::exchange(reference_skip_, 0));
    if (test_skip_ > 0) Skip(test_, std::exchange(test_skip_, 0));
    *reference = Take(reference_, count);
    *test = Take(test_, count);
}

void SourcePairInput::CheckStep() const
{
    reference_.CheckIntact(false);
    test_.CheckIntact(false);
}

void SourcePairInput::CheckEnd() const
{
    reference_.CheckIntact(true);
    test_.CheckIntact(true);
}

} // namespace velumar::app
