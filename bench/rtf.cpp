// velumar_rtf [REPEATS]: how fast the model grades, end to end, on one
// thread: a 60-second mono pair and a 60-second stereo pair of music and a
// noisy copy, each graded REPEATS times (default 5). Prints the median
// seconds of compute per second of audio and its inverse, "x real time".
#include "bench_pairs.h"
#include "bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using velumar::golden::Signal;

using velumar::bench::kPairSeconds;
using velumar::bench::bench_pair;
using velumar::bench::median;
using velumar::bench::QuietStdout;
using velumar::bench::Stopwatch;

} // namespace

int main(int argc, char **argv)
{
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    for (bool stereo : {false, true}) {
        const Signal signal = bench_pair(stereo);
        std::vector<double> seconds;
        double odg = 0.0;
        for (int i = 0; i < repeats; ++i) {
            const QuietStdout quiet;
            const Stopwatch watch;
            odg = velumar::golden::measure(signal, 2048).results.odg;
            seconds.push_back(watch.seconds());
        }
        const double per_second = median(seconds) / kPairSeconds;
        std::printf("%-6s %2.0f s: %.6f s compute per s of audio, %7.1f x real time (median of %d, ODG %.6f)\n",
                    signal.name.c_str(), kPairSeconds, per_second, 1.0 / per_second, repeats, odg);
    }
    return 0;
}
