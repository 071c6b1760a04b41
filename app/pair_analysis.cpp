#include <velumar/app/pair_analysis.h>

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <stdexcept>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "fftw_wisdom.inc"

namespace velumar::app {

bool PairCheck::HasWarning(const std::string &code) const
{
    return std::find(warnings.begin(), warnings.end(), code) != warnings.end();
}

namespace {

// Reference segments correlated against the test, and how many places are
// considered for them. 4 segments of 16384 samples (1.4 s of material) give
// unrelated noise a peak near 0.03 while keeping the transforms few.
constexpr std::size_t kSegment = 16384;
constexpr std::size_t kSegments = 4;
constexpr std::size_t kCandidates = 32;

// FFTW's planner is not thread-safe (fftw_execute is): every plan is made
// and destroyed under this lock. FFTW_ESTIMATE never times anything, so
// the plans and therefore the results do not depend on the machine's load.
std::mutex &PlannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

struct FftwFree {
    void operator()(void *p) const { fftw_free(p); }
};
template <class T> using FftwBuffer = std::unique_ptr<T[], FftwFree>;

template <class T> FftwBuffer<T> Allocate(std::size_t n)
{
    auto *p = static_cast<T *>(fftw_malloc(sizeof(T) * n));
    if (p == nullptr) throw std::bad_alloc();
    return FftwBuffer<T>(p);
}

// Memory about to be written whole: its pages are mapped by one call rather
// than by a fault each (some 700 for the usual size, a millisecond). A
// kernel without the call leaves them to the faults.
void MapForWriting(void *p, std::size_t bytes)
{
#if defined(__linux__)
#if defined(MADV_POPULATE_WRITE)
    constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
    constexpr int kPopulateWrite = 23;  // Linux 5.14 and later
#endif
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(p) + page - 1) / page * page;
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + bytes) / page * page;
    if (end > begin) ::madvise(reinterpret_cast<void *>(begin), end - begin, kPopulateWrite);
#else
    (void)p;
    (void)bytes;
#endif
}

// One forward and one inverse plan per transform size, made on first use
// and kept for the life of the process: making them costs several times
// what the transforms themselves do, and a batch checks pair after pair at
// the same size. Executing a shared plan is thread-safe; the arrays given
// to it come from fftw_malloc like those the plans were made with, so they
// have the alignment the plans assume.
struct Transforms {
    fftw_plan forward;  // n reals to n / 2 + 1 complex values
    fftw_plan inverse;  // and back, unnormalised; overwrites its input
};

const Transforms &TransformsFor(std::size_t n)
{
    // Under PlannerMutex; never erased, and never destroyed: a worker may
    // still be checking a pair while the process exits, and the plans stay
    // reachable (not leaked) to the very end.
    static auto &made = *new std::map<std::size_t, Transforms>;
    static bool wise = false;
    std::lock_guard lock(PlannerMutex());
    if (const auto it = made.find(n); it != made.end()) return it->second;
    // The plans of the usual size, made at build time the way they are
    // made below: planning them again would give the same plans and take
    // longer than the check itself. FFTW refuses wisdom of another version
    // or build, and replans what does not fit the processor.
    if (!wise) {
        fftw_import_wisdom_from_string(kFftwWisdom);
        wise = true;
    }
    auto real = Allocate<double>(n);
    auto spectrum = Allocate<fftw_complex>(n / 2 + 1);
    const int size = static_cast<int>(n);
    const Transforms t{fftw_plan_dft_r2c_1d(size, real.get(), spectrum.get(), FFTW_ESTIMATE),
                       fftw_plan_dft_c2r_1d(size, spectrum.get(), real.get(), FFTW_ESTIMATE)};
    if (t.forward == nullptr || t.inverse == nullptr) {
        if (t.forward != nullptr) fftw_destroy_plan(t.forward);
        if (t.inverse != nullptr) fftw_destroy_plan(t.inverse);
        throw std::runtime_error("pair analysis: no FFT plan");
    }
    return made.emplace(n, t).first->second;
}

// A signal of one or two channels seen as frames; Sum() is the channel sum
// the delay search works on (so a swap or a pan does not hide the delay).
struct Frames {
    const std::int16_t *data;
    std::size_t count;
    unsigned channels;

    std::int32_t Sum(std::size_t i) const
    {
        const std::int16_t *f = data + i * channels;
        return channels == 2 ? std::int32_t{f[0]} + f[1] : std::int32_t{f[0]};
    }

    // Sums of frames [from, from + length) into out; frames outside the
    // signal count as 0.
    void Sums(std::ptrdiff_t from, std::size_t length, double *out) const
    {
        const auto n = static_cast<std::ptrdiff_t>(length);
        const std::ptrdiff_t lo = std::clamp<std::ptrdiff_t>(-from, 0, n);
        const std::ptrdiff_t hi = std::clamp<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(count) - from, lo, n);
        std::fill(out, out + lo, 0.0);
        const std::int16_t *f = hi > lo ? data + (from + lo) * static_cast<std::ptrdiff_t>(channels) : data;
        if (channels == 2) {
            for (std::ptrdiff_t i = lo; i < hi; ++i, f += 2) out[i] = std::int32_t{f[0]} + f[1];
        } else {
            for (std::ptrdiff_t i = lo; i < hi; ++i, ++f) out[i] = f[0];
        }
        std::fill(out + hi, out + n, 0.0);
    }
};

bool FullScale(std::int16_t v) { return v >= 32767 || v <= -32767; }

// Values of x[0, n) at full scale and whether any lies beyond kSilentPeak.
// The smallest and the largest value of each piece come from a loop that
// runs on whole vectors at memory speed; only a piece that reaches full
// scale is read again, from the cache, to count.
struct Peaks {
    std::size_t full = 0;
    bool loud = false;
};

Peaks FindPeaks(const std::int16_t *x, std::size_t n)
{
    constexpr std::size_t kPiece = 2048;
    Peaks out;
    std::int16_t lowest = 0, highest = 0;
    for (std::size_t piece = 0; piece < n; piece += kPiece) {
        const std::size_t last = std::min(n, piece + kPiece);
        std::int16_t lo = 0, hi = 0;
        for (std::size_t i = piece; i < last; ++i) {
            lo = std::min(lo, x[i]);
            hi = std::max(hi, x[i]);
        }
        if (hi >= 32767 || lo <= -32767)
            out.full += static_cast<std::size_t>(std::count_if(x + piece, x + last, FullScale));
        lowest = std::min(lowest, lo);
        highest = std::max(highest, hi);
    }
    out.loud = highest > kSilentPeak || lowest < -kSilentPeak;
    return out;
}

// Whole-signal scans read a block of values at a time and say so after
// each block (AnalysisSettings::scanned).
constexpr std::size_t kScanBlock = std::size_t{1} << 19;

void Scanned(const AnalysisSettings &settings, int signal, std::size_t values)
{
    if (settings.scanned) settings.scanned(signal, values);
}

struct ScanResult {
    std::uint64_t clipped = 0;  // values in runs of kClipRun or more at full scale
    bool silent = true;         // no value beyond kSilentPeak
};

// One pass over a whole signal for its clipping and its silence.
ScanResult Scan(const Frames &x, int signal, const AnalysisSettings &settings)
{
    const std::size_t n = x.count * x.channels;
    ClippingCounter clipping(x.channels);
    ScanResult out;
    for (std::size_t at = 0; at < n; at += kScanBlock) {
        const std::size_t end = std::min(n, at + kScanBlock);
        out.silent = clipping.Feed(x.data + at, end - at) && out.silent;
        Scanned(settings, signal, end);
    }
    out.clipped = clipping.total();
    return out;
}

// Up to the first block with a value beyond kSilentPeak.
bool Silent(const Frames &x, int signal, const AnalysisSettings &settings)
{
    const std::size_t n = x.count * x.channels;
    for (std::size_t at = 0; at < n; at += kScanBlock) {
        const std::size_t end = std::min(n, at + kScanBlock);
        const bool loud = FindPeaks(x.data + at, end - at).loud;
        Scanned(settings, signal, end);
        if (loud) return false;
    }
    return true;
}

std::size_t NextPowerOfTwo(std::size_t n)
{
    std::size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

struct DelayEstimate {
    std::int64_t delay = 0;
    double correlation = 0.0;
    bool ambiguous = false;
    // The reference segments analysed: first frame and length.
    std::vector<std::size_t> segments;
    std::size_t length = 0;
};

// Normalised cross-correlation of the channel sums for lags -m..m, summed
// over up to kSegments reference segments where the reference is loudest:
// for lag k, sum r[n] t[n + k] / sqrt(sum r[n]^2 * sum t[n + k]^2).
DelayEstimate SearchDelay(const Frames &ref, const Frames &test, std::size_t m)
{
    const std::size_t len = std::min(kSegment, ref.count);
    const std::size_t window = len + 2 * m;
    const std::size_t n = NextPowerOfTwo(window);
    const std::size_t bins = n / 2 + 1;

    // Segment places: prefer those whose test window lies wholly inside the
    // test (every lag then sees a full segment), spread evenly, the loudest
    // kept.
    const std::size_t common = std::min(ref.count, test.count);
    std::size_t first = 0;
    std::size_t last = ref.count - len;
    if (common >= window) {
        first = m;
        last = common - len - m;
    }
    const std::size_t places = std::min(kCandidates, std::max<std::size_t>(1, (last - first) / len + 1));
    std::vector<std::pair<double, std::size_t>> candidates;
    for (std::size_t j = 0; j < places; ++j) {
        const std::size_t p = places == 1 ? first : first + (last - first) * j / (places - 1);
        // Squares of channel sums are integers below 2^33 and a segment's
        // total stays below 2^47: summed exactly, as integers.
        std::int64_t energy = 0;
        for (std::size_t i = 0; i < len; ++i) {
            const std::int64_t v = ref.Sum(p + i);
            energy += v * v;
        }
        if (energy > 0) candidates.emplace_back(static_cast<double>(energy), p);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    if (candidates.size() > kSegments) candidates.resize(kSegments);
    if (candidates.empty()) return {};
    std::sort(candidates.begin(), candidates.end(),
              [](const auto &a, const auto &b) { return a.second < b.second; });

    const Transforms &transforms = TransformsFor(n);
    // One block for everything, each part on a cache line of its own:
    // the segment, the test window, their spectra, the accumulated cross
    // spectrum and the test's energy per lag.
    const std::size_t lags = 2 * m + 1;
    const auto part = [](std::size_t doubles) { return (doubles + 7) / 8 * 8; };
    const std::size_t doubles = 2 * part(n) + 3 * part(2 * bins) + part(lags);
    auto block = Allocate<double>(doubles);
    MapForWriting(block.get(), doubles * sizeof(double));
    double *r = block.get();
    double *w = r + part(n);
    auto *rf = reinterpret_cast<fftw_complex *>(w + part(n));
    auto *wf = rf + part(2 * bins) / 2;
    auto *acc = wf + part(2 * bins) / 2;
    double *test_energy = reinterpret_cast<double *>(acc + part(2 * bins) / 2);  // sum of t^2 under the segment
    std::fill_n(&acc[0][0], 2 * bins, 0.0);
    std::fill_n(test_energy, lags, 0.0);
    // The padding past the segment and past the window stays zero: the
    // forward transform leaves its input as it is.
    std::fill(r + len, r + n, 0.0);
    std::fill(w + window, w + n, 0.0);

    double ref_energy = 0.0;
    std::vector<std::ptrdiff_t> starts;  // test frame under w[0], per segment

    for (const auto &[energy, p] : candidates) {
        ref_energy += energy;
        ref.Sums(static_cast<std::ptrdiff_t>(p), len, r);
        // w[i] = t[p - m + i]: index j of the correlation is lag j - m.
        const auto start = static_cast<std::ptrdiff_t>(p) - static_cast<std::ptrdiff_t>(m);
        starts.push_back(start);
        test.Sums(start, window, w);
        // The window's energy slid along it lag by lag. Squares of channel
        // sums are integers below 2^33 and the window holds fewer than 2^20
        // of them, so every partial sum is an exact integer.
        std::int64_t sliding = 0;
        for (std::size_t i = 0; i < len; ++i) {
            const auto v = static_cast<std::int64_t>(w[i]);
            sliding += v * v;
        }
        for (std::size_t j = 0; j < lags; ++j) {
            if (j > 0) {
                const auto in = static_cast<std::int64_t>(w[j + len - 1]);
                const auto out = static_cast<std::int64_t>(w[j - 1]);
                sliding += in * in - out * out;
            }
            test_energy[j] += static_cast<double>(sliding);
        }
        fftw_execute_dft_r2c(transforms.forward, r, rf);
        fftw_execute_dft_r2c(transforms.forward, w, wf);
        // conj(R) W: the transform of sum_n r[n] w[n + j].
        for (std::size_t b = 0; b < bins; ++b) {
            const double ar = rf[b][0], ai = -rf[b][1];
            const double br = wf[b][0], bi = wf[b][1];
            acc[b][0] += ar * br - ai * bi;
            acc[b][1] += ar * bi + ai * br;
        }
    }
    double *c = r;  // the correlation per lag, in place of the segment
    fftw_execute_dft_c2r(transforms.inverse, acc, c);  // unnormalised: divided by n below

    // n is a power of two: multiplying by its inverse divides exactly.
    const double scale = 1.0 / static_cast<double>(n);
    for (std::size_t j = 0; j < lags; ++j) {
        const double denominator = std::sqrt(ref_energy * test_energy[j]);
        const double v = std::clamp(c[j] * scale / denominator, -1.0, 1.0);
        c[j] = denominator > 0.0 ? v : 0.0;
    }
    // Lags where less than half of the segments meet the test are left out:
    // a few samples at an edge can correlate by chance. Segments whose
    // window lies inside the test meet it wholly at every lag.
    const auto test_end = static_cast<std::ptrdiff_t>(test.count);
    const auto segment = static_cast<std::ptrdiff_t>(len);
    std::erase_if(starts, [&](std::ptrdiff_t start) {
        return start >= 0 && start + static_cast<std::ptrdiff_t>(window) <= test_end;
    });
    const std::size_t whole = len * (candidates.size() - starts.size());
    const std::size_t covered = len * candidates.size();
    if (!starts.empty()) {
        for (std::size_t j = 0; j < lags; ++j) {
            std::size_t overlap = whole;  // test frames inside the file under the segments
            for (const std::ptrdiff_t start : starts) {
                const std::ptrdiff_t at = start + static_cast<std::ptrdiff_t>(j);
                overlap += static_cast<std::size_t>(
                    std::max<std::ptrdiff_t>(std::min(at + segment, test_end) - std::max<std::ptrdiff_t>(at, 0), 0));
            }
            if (2 * overlap < covered) c[j] = 0.0;
        }
    }

    // The largest magnitude; ties go to the smaller delay.
    std::size_t best = m;
    for (std::size_t d = 0; d <= m; ++d) {
        for (const std::size_t j : {m + d, m - d}) {
            if (std::abs(c[j]) > std::abs(c[best])) best = j;
        }
    }
    // Its lobe: down from the peak on both sides to the first minimum.
    std::size_t lo = best;
    while (lo > 0 && std::abs(c[lo - 1]) < std::abs(c[lo])) --lo;
    std::size_t hi = best;
    while (hi + 1 < lags && std::abs(c[hi + 1]) < std::abs(c[hi])) ++hi;
    double second = 0.0;
    for (std::size_t j = 0; j < lags; ++j)
        if (j < lo || j > hi) second = std::max(second, std::abs(c[j]));

    DelayEstimate estimate;
    for (const auto &candidate : candidates) estimate.segments.push_back(candidate.second);
    estimate.length = len;
    estimate.delay = static_cast<std::int64_t>(best) - static_cast<std::int64_t>(m);
    estimate.correlation = c[best];
    estimate.ambiguous = std::abs(c[best]) > 0.0 && second >= kAmbiguousPeakRatio * std::abs(c[best]);
    return estimate;
}

// Sums over reference frames i in [from, from + length) that meet test frame
// i + delay: products of every reference channel with every test channel,
// and the energies. Integer products summed exactly.
struct ChannelSums {
    std::int64_t rt[2][2] = {};
    std::int64_t rr[2] = {};
    std::int64_t tt[2] = {};
};

void AddOverlapSums(const Frames &ref, const Frames &test, std::int64_t delay, std::size_t from, std::size_t length,
                    ChannelSums &s)
{
    const auto nr = static_cast<std::int64_t>(std::min(ref.count, from + length));
    const auto nt = static_cast<std::int64_t>(test.count);
    const std::int64_t begin = std::max<std::int64_t>(static_cast<std::int64_t>(from), -delay);
    const std::int64_t end = std::min(nr, nt - delay);
    if (end <= begin) return;
    const std::size_t frames = static_cast<std::size_t>(end - begin);
    const std::int16_t *r = ref.data + begin * ref.channels;
    const std::int16_t *t = test.data + (begin + delay) * test.channels;
    // One pass; every product of two 16-bit values fits 32 bits.
    if (ref.channels == 1) {
        std::int64_t rt = 0, rr = 0, tt = 0;
        for (std::size_t i = 0; i < frames; ++i) {
            const std::int32_t a = r[i], b = t[i];
            rt += a * b;
            rr += a * a;
            tt += b * b;
        }
        s.rt[0][0] += rt;
        s.rr[0] += rr;
        s.tt[0] += tt;
        return;
    }
    std::int64_t r0t0 = 0, r0t1 = 0, r1t0 = 0, r1t1 = 0, r0r0 = 0, r1r1 = 0, t0t0 = 0, t1t1 = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int32_t a0 = r[2 * i], a1 = r[2 * i + 1], b0 = t[2 * i], b1 = t[2 * i + 1];
        r0t0 += a0 * b0;
        r0t1 += a0 * b1;
        r1t0 += a1 * b0;
        r1t1 += a1 * b1;
        r0r0 += a0 * a0;
        r1r1 += a1 * a1;
        t0t0 += b0 * b0;
        t1t1 += b1 * b1;
    }
    s.rt[0][0] += r0t0;
    s.rt[0][1] += r0t1;
    s.rt[1][0] += r1t0;
    s.rt[1][1] += r1t1;
    s.rr[0] += r0r0;
    s.rr[1] += r1r1;
    s.tt[0] += t0t0;
    s.tt[1] += t1t1;
}

double Normalised(std::int64_t xy, std::int64_t xx, std::int64_t yy)
{
    const double d = std::sqrt(static_cast<double>(xx) * static_cast<double>(yy));
    return d > 0.0 ? static_cast<double>(xy) / d : 0.0;
}

} // namespace

ClippingCounter::ClippingCounter(unsigned channels) : channels_(channels == 2 ? 2 : 1) {}

bool ClippingCounter::Feed(const std::int16_t *values, std::size_t count)
{
    const Peaks peaks = FindPeaks(values, count);
    if (peaks.full == 0 && count >= channels_) {
        // Most signals never reach full scale: every channel has a value
        // here that ends its run.
        for (unsigned c = 0; c < channels_; ++c) {
            if (run_[c] >= kClipRun) total_ += run_[c];
            run_[c] = 0;
        }
    } else {
        const std::size_t mask = channels_ - 1;  // 1 or 2 channels
        for (std::size_t i = 0; i < count; ++i) {
            std::uint64_t &run = run_[(next_ + i) & mask];
            if (FullScale(values[i])) {
                ++run;
                continue;
            }
            if (run >= kClipRun) total_ += run;
            run = 0;
        }
    }
    next_ = static_cast<unsigned>((next_ + count) & (channels_ - 1));
    return !peaks.loud;
}

std::uint64_t ClippingCounter::total() const
{
    std::uint64_t total = total_;
    for (unsigned c = 0; c < channels_; ++c)
        if (run_[c] >= kClipRun) total += run_[c];
    return total;
}

void AddClipping(PairCheck &check, std::uint64_t reference, std::uint64_t test)
{
    check.reference_clipped_values = reference;
    check.test_clipped_values = test;
    check.clipped = test > reference;
    if (!check.clipped) return;
    // In its place among the codes: before "unrelated", the last one.
    const auto unrelated = std::find(check.warnings.begin(), check.warnings.end(), kWarnUnrelated);
    check.warnings.insert(unrelated, kWarnClipped);
}

PairCheck AnalysePair(std::span<const std::int16_t> reference, std::span<const std::int16_t> test,
                      unsigned channels, const AnalysisSettings &settings)
{
    if (channels != 1 && channels != 2)
        throw std::invalid_argument("pair analysis: 1 or 2 channels expected, not " + std::to_string(channels));
    if (!std::isfinite(settings.max_delay_ms) || settings.max_delay_ms < 0.0)
        throw std::invalid_argument("pair analysis: the maximum delay must be a finite number of milliseconds >= 0");

    const Frames ref{reference.data(), reference.size() / channels, channels};
    const Frames tst{test.data(), test.size() / channels, channels};

    PairCheck check;
    if (settings.count_clipping) {
        const ScanResult scanned = Scan(ref, 0, settings);
        check.reference_clipped_values = scanned.clipped;
        check.test_clipped_values = Scan(tst, 1, settings).clipped;
        check.clipped = check.test_clipped_values > check.reference_clipped_values;
        check.silent = scanned.silent;
    } else {
        check.silent = Silent(ref, 0, settings);
    }

    if (!check.silent && tst.count > 0) {
        // No lag beyond the longer signal can overlap anything.
        const double wanted = std::floor(settings.max_delay_ms * settings.sample_rate / 1000.0);
        const std::size_t longest = std::max(ref.count, tst.count);
        const auto m = static_cast<std::size_t>(std::min<double>(wanted, static_cast<double>(longest - 1)));
        const DelayEstimate estimate = SearchDelay(ref, tst, m);
        check.delay_samples = estimate.delay;
        check.correlation = estimate.correlation;
        const bool confident = std::abs(estimate.correlation) >= kTrustedCorrelation;
        check.delay_trusted = confident && !estimate.ambiguous;

        // Level, polarity and channel order where the test matches the
        // reference best; at no shift when nothing matches.
        ChannelSums s;
        for (const std::size_t p : estimate.segments)
            AddOverlapSums(ref, tst, confident ? estimate.delay : 0, p, estimate.length, s);
        std::int64_t direct = s.rt[0][0];
        std::int64_t energy = s.rr[0];
        if (channels == 2) {
            const double straight = std::abs(Normalised(s.rt[0][0], s.rr[0], s.tt[0])) +
                                    std::abs(Normalised(s.rt[1][1], s.rr[1], s.tt[1]));
            const double crossed = std::abs(Normalised(s.rt[0][1], s.rr[0], s.tt[1])) +
                                   std::abs(Normalised(s.rt[1][0], s.rr[1], s.tt[0]));
            // Swapped when the crossed pairing leaves at most half the
            // mismatch of the straight one. Music shares much of its
            // material between the channels (a centred voice alone makes
            // them 0.9 alike), so the straight pairing of a swapped copy
            // still matches well and only the ratio tells; with the same
            // material in both channels the two pairings are equally good
            // and nothing is swapped.
            const double straight_miss = 2.0 - straight;
            const double crossed_miss = 2.0 - crossed;
            check.swapped = confident && straight_miss - crossed_miss > 0.02 && crossed_miss < 0.5 * straight_miss;
            direct = check.swapped ? s.rt[0][1] + s.rt[1][0] : s.rt[0][0] + s.rt[1][1];
            energy = s.rr[0] + s.rr[1];
        }
        if (energy > 0) {
            check.gain = static_cast<double>(direct) / static_cast<double>(energy);
            check.gain_db = check.gain == 0.0 ? kGainFloorDb
                                              : std::max(kGainFloorDb, 20.0 * std::log10(std::abs(check.gain)));
        }
        check.inverted = confident && check.gain < 0.0;
    }
    check.delay_ms = static_cast<double>(check.delay_samples) * 1000.0 / settings.sample_rate;

    const bool confident = std::abs(check.correlation) >= kTrustedCorrelation;
    if (check.delay_trusted && check.delay_samples != 0) check.warnings.emplace_back(kWarnDelay);
    if (confident && std::abs(check.gain_db) >= kLevelWarningDb) check.warnings.emplace_back(kWarnLevel);
    if (check.inverted) check.warnings.emplace_back(kWarnInverted);
    if (check.swapped) check.warnings.emplace_back(kWarnSwapped);
    if (check.silent) check.warnings.emplace_back(kWarnSilent);
    if (check.clipped) check.warnings.emplace_back(kWarnClipped);
    // A grade of two signals that share nothing measures nothing useful;
    // silence has its own warning.
    if (!confident && !check.silent) check.warnings.emplace_back(kWarnUnrelated);
    return check;
}

} // namespace velumar::app
