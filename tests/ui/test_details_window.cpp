// The details window: it opens, its chart covers every frame of the run for
// every quantity, and the files it saves parse. The window filled by a real
// run of the wizard is checked with that run in test_calculation.
#include "details_window.h"
#include "ui_test_support.h"

#include <velumar/report/frame_writer.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTableWidget>
#include <QtTest>

#include <nlohmann/json.hpp>

using namespace velumar;
using velumar::uitest::MessageRecorder;

namespace {

// A stereo run of `frames` frames with disturbed frames at `burst`..+2 and
// noise loudness missing in every fifth frame.
std::shared_ptr<report::FrameCollector> Run(std::uint64_t frames, std::uint64_t burst)
{
    auto c = std::make_shared<report::FrameCollector>(2, frames);
    for (std::uint64_t f = 0; f < frames; ++f) {
        report::FrameRow r;
        r.frame = f;
        r.time_s = report::frame_time_seconds(f);
        r.channels = 2;
        r.loud = f % 5 == 0;
        const bool hit = f >= burst && f < burst + 3;
        for (int ch = 0; ch < 2; ++ch) {
            for (int q = 0; q < report::kFrameQuantityCount; ++q)
                r.set(ch, static_cast<report::FrameQuantity>(q), hit ? 9.0 : 0.1 * double(q + ch));
            r.set(ch, report::FrameQuantity::disturbed, hit ? 1.0 : 0.0);
            if (r.loud) r.clear(ch, report::FrameQuantity::noise_loudness);
        }
        r.set_binaural_detection_probability(hit ? 1.0 : 0.0);
        c->add(r);
    }
    return c;
}

report::ReportData Record(std::uint32_t frames)
{
    report::ReportData d;
    d.reference.path = "/tmp/ref.wav";
    d.test.path = "/tmp/test.wav";
    d.graded = true;
    d.odg = -1.25;
    d.di = 0.8;
    d.frames = frames;
    d.channels = 2;
    for (int i = 0; i < report::kMovCount; ++i) d.movs[i] = 1.5 * i;
    return d;
}

std::string Slurp(const QString &path)
{
    return velumar::testing::Slurp(path.toStdString());
}

} // namespace

class DetailsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void chartCoversEveryFrameForEveryQuantity()
    {
        // Long enough that the series has merged its buckets several times.
        for (std::uint64_t frames : {std::uint64_t{40}, std::uint64_t{50'000}}) {
            const auto run = Run(frames, frames / 2);
            ui::CDetailsWindow w(Record(static_cast<std::uint32_t>(frames)), run);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            for (auto t : {report::Trace::nmr_db, report::Trace::detection_probability, report::Trace::moddiff1,
                           report::Trace::moddiff2, report::Trace::noise_loudness}) {
                w.showTrace(t);
                QCOMPARE(w.chartFrames(), frames);
                QVERIFY(w.chartColumns() <= int(ui::kDetailsChartColumns));
                QVERIFY(w.chartStart() <= 0.0);
                QVERIFY(w.chartEnd() >= report::frame_time_seconds(frames - 1));
            }
            QCOMPARE(w.findChild<QTableWidget *>(QStringLiteral("movs"))->rowCount(), report::kMovCount);
            QVERIFY(w.findChild<QLabel *>(QStringLiteral("headline"))->text().contains(QStringLiteral("-1.250")));
        }
        // Without per-frame values (a run that was not graded) it still opens.
        report::ReportData d = Record(0);
        d.graded = false;
        d.reason = "Сигнал короче 23 кадров.";
        ui::CDetailsWindow w(d, nullptr);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.chartFrames(), std::uint64_t{0});
        QVERIFY(w.findChild<QLabel *>(QStringLiteral("headline"))->text().contains(QStringLiteral("23 кадров")));
    }

    void savedFilesParse()
    {
        const std::uint64_t frames = 300;
        velumar::testing::TempDir dir;
        const QString base = QString::fromStdString(dir.path().string());
        ui::CDetailsWindow w(Record(frames), Run(frames, 100));

        QVERIFY(w.saveReport(base + "/r.html"));
        const std::string page = Slurp(base + "/r.html");
        QVERIFY(page.find("id=\"plots\"") != std::string::npos);
        QVERIFY(page.find("://") == std::string::npos);

        // CSV, one row per frame, is saved from a real run in test_calculation.
        QVERIFY(w.saveValues(base + "/v.json"));
        const auto array = nlohmann::json::parse(Slurp(base + "/v.json"));
        QCOMPARE(array.size(), frames);
        QVERIFY(array[5]["noise_loudness_1"].is_null());
        QCOMPARE(array[100]["disturbed_2"].get<int>(), 1);

        QVERIFY(w.saveValues(base + "/v.jsonl"));
        std::uint64_t rows = 0;
        for (const std::string &line : velumar::testing::Lines(Slurp(base + "/v.jsonl")))
            QCOMPARE(nlohmann::json::parse(line)["frame"].get<std::uint64_t>(), rows++);
        QCOMPARE(rows, frames);

        w.copySummary();
        QVERIFY(QApplication::clipboard()->text().contains(QStringLiteral("Значение ODG: -1.250000")));

        // A folder that does not exist: an error naming the file, nothing else.
        MessageRecorder boxes;
        w.setMessageBox(boxes.fn());
        QVERIFY(!w.saveValues(base + "/missing/v.csv"));
        QCOMPARE(boxes.count(), 1);
        QVERIFY(boxes.last().text.contains(base + "/missing/v.csv"));
        QCOMPARE(boxes.last().icon, QMessageBox::Critical);
    }
};

QTEST_MAIN(DetailsWindowTest)
#include "test_details_window.moc"
