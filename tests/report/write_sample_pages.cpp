// Writes a pair report and a batch summary with made-up per-frame values
// (a 20 s stereo pair with a burst of distortion at 10 s) into the directory
// given as the argument, for the browser check in scripts/check-report.
#include <velumar/report/html_report.h>

#include <cmath>
#include <fstream>
#include <iostream>
#include <string>

using namespace velumar::report;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: velumar_report_sample_pages DIR\n";
        return 2;
    }
    const std::string dir = argv[1];
    FrameSeries series(2);
    const std::uint64_t frames = 937, burst = 468;  // 20 s; the burst at 10 s
    for (std::uint64_t f = 0; f < frames; ++f) {
        FrameRow r;
        r.frame = f, r.time_s = frame_time_seconds(f), r.channels = 2, r.loud = f % 40 == 0;
        const bool hit = f >= burst && f < burst + 5;
        const double wobble = std::sin(double(f) * 0.05);
        for (int c = 0; c < 2; ++c) {
            r.set(c, FrameQuantity::nmr_db, hit ? 8.0 + c : -22.0 + 4.0 * wobble - c);
            r.set(c, FrameQuantity::detection_probability, hit ? 0.97 : 0.05 + 0.03 * wobble);
            r.set(c, FrameQuantity::moddiff1, hit ? 60.0 : 4.0 + wobble);
            r.set(c, FrameQuantity::disturbed, hit ? 1.0 : 0.0);
            if (!r.loud) r.set(c, FrameQuantity::noise_loudness, hit ? 3.5 : 0.2 + 0.05 * wobble);
        }
        r.set_binaural_detection_probability(hit ? 0.99 : 0.08);
        series.add(r);
    }
    ReportData d;
    d.program_version = "test";
    d.reference = {"samples/reference.wav", "WAV / PCM_16", 48000, 16, 2, 960000, false, 0};
    d.test = {"samples/test <burst>.wav", "WAV / PCM_16", 48000, 16, 2, 960000, false, 0};
    d.graded = true, d.odg = -1.7, d.di = 0.4, d.frames = static_cast<std::uint32_t>(frames), d.channels = 2;
    PairCheckInfo check;
    check.correlation = 0.99, check.warnings = {"level"};
    d.check = check, d.series = &series;
    std::ofstream pair(dir + "/pair.html", std::ios::binary);
    write_html_report(pair, d);

    std::ofstream batch(dir + "/batch.html", std::ios::binary);
    write_batch_report(batch,
                       {{"a.wav", "a-128k.wav", BatchEntry::Status::graded, -0.4, "", ""},
                        {"a.wav", "a-64k.wav", BatchEntry::Status::graded, -2.2, "", ""},
                        {"b.wav", "b-short.wav", BatchEntry::Status::not_graded, 1.0, "Сигнал короче 23 кадров.",
                         "too_short"},
                        {"c.wav", "c-missing.wav", BatchEntry::Status::failed, 0.0, "Файл не найден", ""}},
                       "test");
    pair.close();
    batch.close();
    if (!pair || !batch) {
        std::cerr << "cannot write into " << dir << "\n";
        return 1;
    }
    return 0;
}
