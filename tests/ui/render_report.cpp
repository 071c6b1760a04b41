// Pictures for the README: a generated pair whose test carries a short burst
// of white noise in the middle is graded through the grading pipeline with
// the per-frame values collected, then the HTML report (as velumar-cli
// --report writes it) and the wizard's details window are rendered:
//   velumar_render_report OUTPUT_DIR
// writes burst-reference.wav, burst-test.wav, report.html and details.png.
// The burst lies at kBurstStart..kBurstStart + kBurstLength seconds.
#include "details_window.h"

#include <test_wav.h>
#include <velumar/app/report_record.h>
#include <velumar/model.h>
#include <velumar/report/html_report.h>
#include <velumar/report/model_frame.h>

#include <QApplication>
#include <QChartView>
#include <QComboBox>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace vt = velumar::testing;
namespace vr = velumar::report;

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr double kSeconds = 12.0;
constexpr double kBurstStart = 6.0;
constexpr double kBurstLength = 0.15;
constexpr double kBurstNoise = 300.0; // peak amplitude of the burst's noise

void Collect(void *user, const VELUMAR_FRAME *frame)
{
    static_cast<vr::FrameCollector *>(user)->add(vr::frame_row_from_model(*frame));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const auto frames = static_cast<std::uint32_t>(kSeconds * kRate);
    const std::vector<std::int16_t> reference = vt::MusicSignal(frames, 2);
    // The test: the reference itself, but for a burst of white noise.
    std::vector<std::int16_t> test = reference;
    const std::vector<std::int16_t> burst = vt::AddNoise(reference, kBurstNoise, 11);
    const auto b0 = static_cast<std::size_t>(kBurstStart * kRate) * 2;
    const auto b1 = b0 + static_cast<std::size_t>(kBurstLength * kRate) * 2;
    std::copy(burst.begin() + static_cast<std::ptrdiff_t>(b0), burst.begin() + static_cast<std::ptrdiff_t>(b1),
              test.begin() + static_cast<std::ptrdiff_t>(b0));
    vt::WavSpec spec;
    spec.channels = 2;
    vt::WriteBytes(dir + "/burst-reference.wav", vt::WavFile(spec, reference));
    vt::WriteBytes(dir + "/burst-test.wav", vt::WavFile(spec, test));

    // Grade through the pipeline every front end uses, collecting the frames.
    auto collector = std::make_shared<vr::FrameCollector>(2, vr::expected_frame_count(frames));
    velumar::app::GradeSettings settings;
    velumar::app::GradeHooks hooks;
    hooks.messages = {[](void *, const char *) {}, nullptr};
    hooks.frame_observer = Collect;
    hooks.frame_user = collector.get();
    const velumar::app::GradeReport result =
        velumar::app::GradeFiles(dir + "/burst-reference.wav", dir + "/burst-test.wav", settings, hooks);
    if (!result.ran()) {
        std::fprintf(stderr, "%s\n", result.reason.c_str());
        return 1;
    }
    vr::ReportData data = velumar::app::MakeReportData(result, settings, "burst-reference.wav", "burst-test.wav");
    data.series = &collector->series();
    {
        std::ofstream out(dir + "/report.html", std::ios::binary);
        vr::write_html_report(out, data);
    }

    QApplication app(argc, argv);
    velumar::ui::CDetailsWindow window(data, collector);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.resize(1000, 760);
    window.show();
    QApplication::processEvents();
    const QString shot = QString::fromStdString(dir + "/details.png");
    const bool ok = window.grab().save(shot);
    std::printf("ODG %.3f, %u frames; %s %s\n", result.model.odg, result.model.frames, ok ? "wrote" : "FAILED",
                qPrintable(shot));
    return ok ? 0 : 1;
}
