// The 60-second pairs the benchmarks grade: music and a noisy copy, mono
// and stereo. Shared by velumar_rtf, velumar_conversion_cost and the writer
// that puts them into WAV files for the command-line comparisons.
#pragma once

#include "golden_signals.h"

namespace velumar::bench {

constexpr double kPairSeconds = 60.0;
constexpr std::size_t kPairSamples = static_cast<std::size_t>(kPairSeconds * 48000);

// `samples` per channel: 60 s at 48 kHz unless a benchmark wants another
// length or rate.
inline golden::Signal bench_pair(bool stereo, std::size_t samples = kPairSamples)
{
    using namespace velumar::golden;
    if (!stereo) {
        const Wave m = music(samples, 11, 16000.0);
        return {"mono", 1, pcm(m), pcm(add_noise(m, 30.0, 12))};
    }
    const Wave l = music(samples, 13, 15000.0), r = music(samples, 14, 15000.0);
    return {"stereo", 2, pcm(l, r), pcm(add_noise(l, 25.0, 15), add_noise(r, 35.0, 16))};
}

} // namespace velumar::bench
