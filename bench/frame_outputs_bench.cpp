// What the per-frame outputs cost on top of grading: a second of stereo
// audio through the model with no observer, with the wizard's collector
// (series for the chart and every row kept), with the report's series
// alone, and with CSV rows written to a stream (as --frames does).
#include "golden_signals.h"

#include <velumar/report/frame_collector.h>
#include <velumar/report/frame_writer.h>
#include <velumar/report/model_frame.h>

#include <benchmark/benchmark.h>

#include <ostream>
#include <streambuf>

namespace {

using velumar::golden::Signal;
namespace vr = velumar::report;

const Signal &stereo_program()
{
    static const Signal both = [] {
        const auto l = velumar::golden::music(48000, 3, 15000.0), r = velumar::golden::music(48000, 4, 15000.0);
        return Signal{"stereo", 2, velumar::golden::pcm(l, r),
                      velumar::golden::pcm(velumar::golden::add_noise(l, 25.0, 5), velumar::golden::add_noise(r, 35.0, 6))};
    }();
    return both;
}

// Counts what it is given and keeps nothing, like a fast disk.
class NullBuffer : public std::streambuf {
protected:
    int_type overflow(int_type ch) override { return traits_type::not_eof(ch); }
    std::streamsize xsputn(const char *, std::streamsize n) override { return n; }
};

enum Mode { kNone, kCollector, kSeries, kCsv };

struct Sink {
    Mode mode;
    vr::FrameCollector collector{2, 64, true};
    vr::FrameSeries series{2};
    NullBuffer null;
    std::ostream out{&null};
    std::unique_ptr<vr::FrameWriter> writer = vr::make_frame_writer(out, vr::FrameFormat::csv, 2);
};

void take(void *user, const VELUMAR_FRAME *frame)
{
    auto *sink = static_cast<Sink *>(user);
    const vr::FrameRow row = vr::frame_row_from_model(*frame);
    switch (sink->mode) {
    case kCollector: sink->collector.add(row); break;
    case kSeries: sink->series.add(row); break;
    case kCsv: sink->writer->write(row); break;
    case kNone: break;
    }
}

void BM_FrameOutputs(benchmark::State &state)
{
    const Signal &sig = stereo_program();
    const auto mode = static_cast<Mode>(state.range(0));
    M_SETTINGS s{};
    s.listening_level_db = 92.0;
    s.sample_rate = 48000;
    s.channel_mode = 1;
    const M_BUFFER ref{sig.reference.data(), static_cast<std::uint32_t>(sig.reference.size())};
    const M_BUFFER test{sig.test.data(), static_cast<std::uint32_t>(sig.test.size())};
    for (auto _ : state) {
        state.PauseTiming();
        auto sink = std::make_unique<Sink>();
        sink->mode = mode;
        M_HANDLE h = velumar_create_method_ex(&s, [](void *, const char *) {}, nullptr);
        if (mode != kNone) velumar_set_frame_observer(h, take, sink.get());
        state.ResumeTiming();
        benchmark::DoNotOptimize(method(h, &ref, &test));
        state.PauseTiming();
        destroy_method(h);
        sink.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sig.reference.size()));
}
BENCHMARK(BM_FrameOutputs)->ArgName("mode")->DenseRange(kNone, kCsv)->Unit(benchmark::kMillisecond);

} // namespace
