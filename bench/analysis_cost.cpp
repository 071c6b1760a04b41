// velumar_analysis_cost [REPEATS]: what the pair analysis adds to a grade.
// A 60-second stereo pair of music and a noisy copy 576 samples late (a
// decoder's delay) is analysed and graded REPEATS times each (default 5);
// prints the median of both and the analysis time as a share of the
// grading time.
#include <velumar/app/pair_analysis.h>

#include "bench_support.h"
#include "golden_signals.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kSeconds = 60.0;
constexpr std::size_t kSamples = static_cast<std::size_t>(kSeconds * 48000);
constexpr std::size_t kDelay = 576;

} // namespace

int main(int argc, char **argv)
{
    using namespace velumar::golden;
    using namespace velumar::bench;
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const Wave l = music(kSamples + kDelay, 13, 15000.0), r = music(kSamples + kDelay, 14, 15000.0);
    const Wave late_l = add_noise(Wave(l.begin(), l.end() - kDelay), 25.0, 15);
    const Wave late_r = add_noise(Wave(r.begin(), r.end() - kDelay), 35.0, 16);
    Signal signal{"stereo", 2, pcm(Wave(l.begin() + kDelay, l.end()), Wave(r.begin() + kDelay, r.end())),
                  pcm(late_l, late_r)};

    std::vector<double> analysis, grading;
    velumar::app::PairCheck check;
    double odg = 0.0;
    for (int i = 0; i < repeats; ++i) {
        const Stopwatch analysing;
        check = velumar::app::AnalysePair(signal.reference, signal.test, 2);
        analysis.push_back(analysing.seconds());

        const QuietStdout quiet;
        const Stopwatch grading_watch;
        odg = measure(signal, 2048).results.odg;
        grading.push_back(grading_watch.seconds());
    }
    const double a = median(analysis), g = median(grading);
    std::printf("60 s stereo pair, median of %d: analysis %.1f ms (delay %lld, correlation %.3f), "
                "grading %.1f ms (ODG %.3f): analysis = %.1f %% of grading\n",
                repeats, a * 1e3, static_cast<long long>(check.delay_samples), check.correlation, g * 1e3, odg,
                100.0 * a / g);
    return 0;
}
