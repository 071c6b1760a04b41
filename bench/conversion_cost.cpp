// velumar_conversion_cost [SECONDS] [REPEATS]: what reading a pair through
// the decoder and the resampler costs against grading the same values from
// 48 kHz 16-bit WAV files in place.
//
// A stereo pair of music and a noisy copy, SECONDS long (default 60), is
// written at 44.1 kHz as FLAC and as MP3-free lossless WAV; the same pair
// converted to 48 kHz is written as the native WAV pair. Each case is
// graded REPEATS times (default 3) through the pipeline as velumar-cli runs
// it (pair analysis included: for a decoded pair on its leading excerpt),
// the model on the calling thread and the decoder threads alongside; the
// median wall-clock time and the CPU time of the whole process (all
// threads) are printed, with the overhead against the native grade.
#include "bench_pairs.h"
#include "bench_support.h"

#include <velumar/app/any_format.h>
#include <velumar/audio/input.h>

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using velumar::audio::OpenInput;
using velumar::bench::QuietStdout;
using velumar::bench::Stopwatch;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Grades a pair as velumar-cli does; returns the ODG.
double Grade(const std::string &reference, const std::string &test)
{
    const QuietStdout quiet;
    const auto report = velumar::app::GradeAnyFiles(reference, test, {}, false);
    if (!report.graded()) {
        std::fprintf(stderr, "not graded: %s\n", report.reason.c_str());
        std::exit(1);
    }
    return report.model.odg;
}

void Write(const std::string &path, int format, int rate, const std::vector<std::int16_t> &values)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 2;
    info.format = format;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
        std::exit(1);
    }
    sf_writef_short(file, values.data(), static_cast<sf_count_t>(values.size() / 2));
    sf_close(file);
}

std::vector<std::int16_t> ReadAll(const std::string &path)
{
    auto source = OpenInput(path);
    std::vector<std::int16_t> all;
    for (auto block = source->Next(1 << 16); !block.empty(); block = source->Next(1 << 16))
        all.insert(all.end(), block.begin(), block.end());
    return all;
}

struct Timing {
    double wall = 0.0;
    double cpu = 0.0;
    double odg = 0.0;
};

Timing Median(int repeats, const std::function<double()> &run)
{
    std::vector<Timing> runs;
    for (int i = 0; i < repeats; ++i) {
        const double cpu0 = CpuSeconds();
        const Stopwatch watch;
        const double odg = run();
        runs.push_back({watch.seconds(), CpuSeconds() - cpu0, odg});
    }
    std::sort(runs.begin(), runs.end(), [](const Timing &a, const Timing &b) { return a.wall < b.wall; });
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 60.0;
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    // The stereo benchmark pair, its music laid out at 44.1 kHz.
    const auto pair = velumar::bench::bench_pair(true, static_cast<std::size_t>(seconds * 44100));
    const auto &reference = pair.reference;
    const auto &test = pair.test;

    const auto dir = std::filesystem::temp_directory_path() / ("velumar-conversion-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string ref_flac = (dir / "reference.flac").string(), test_flac = (dir / "test.flac").string();
    const std::string ref_wav44 = (dir / "reference44.wav").string(), test_wav44 = (dir / "test44.wav").string();
    const std::string ref_native = (dir / "reference.wav").string(), test_native = (dir / "test.wav").string();
    Write(ref_flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, reference);
    Write(test_flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, test);
    Write(ref_wav44, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, reference);
    Write(test_wav44, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, test);
    // The native pair holds exactly the values the converted pair grades.
    Write(ref_native, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, ReadAll(ref_flac));
    Write(test_native, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, ReadAll(test_flac));

    auto grade = [](const std::string &a, const std::string &b) { return [a, b] { return Grade(a, b); }; };
    auto decode = [](const std::string &a, const std::string &b) {
        return [a, b] {
            auto ra = OpenInput(a);
            auto rb = OpenInput(b);
            while (!ra->Next(1 << 16).empty() || !rb->Next(1 << 16).empty()) {
            }
            return 0.0;
        };
    };

    const Timing native = Median(repeats, grade(ref_native, test_native));
    std::printf("%.0f s stereo pair, %u cores, median of %d\n", seconds, std::max(1u, static_cast<unsigned>(sysconf(_SC_NPROCESSORS_ONLN))), repeats);
    std::printf("%-36s wall %7.3f s  cpu %7.3f s  ODG %.6f\n", "native 48 kHz WAV, graded", native.wall, native.cpu,
                native.odg);
    struct Case {
        const char *name;
        std::function<double()> run;
        bool graded;
    };
    for (const Case &c : {Case{"44.1 kHz FLAC, graded", grade(ref_flac, test_flac), true},
                          Case{"44.1 kHz WAV, graded", grade(ref_wav44, test_wav44), true},
                          Case{"44.1 kHz FLAC, decoded only", decode(ref_flac, test_flac), false},
                          Case{"44.1 kHz WAV, decoded only", decode(ref_wav44, test_wav44), false}}) {
        const Timing t = Median(repeats, c.run);
        if (c.graded)
            std::printf("%-36s wall %7.3f s  cpu %7.3f s  ODG %.6f  overhead: wall %+.1f %%, cpu %+.1f %%\n", c.name,
                        t.wall, t.cpu, t.odg, (t.wall / native.wall - 1.0) * 100.0, (t.cpu / native.cpu - 1.0) * 100.0);
        else
            std::printf("%-36s wall %7.3f s  cpu %7.3f s  (%.1f %% of the native grade's cpu)\n", c.name, t.wall, t.cpu,
                        t.cpu / native.cpu * 100.0);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
