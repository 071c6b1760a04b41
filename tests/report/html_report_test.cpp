// The HTML reports: self-contained, escaped, bounded in size, and showing
// what the record holds (a grade, or the reason there is none).
#include <velumar/report/html_report.h>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

namespace velumar::report {
namespace {

ReportData sample_record()
{
    ReportData d;
    d.program_version = "2.1.0.2";
    d.reference = {"/data/ref.wav", "WAV / PCM_16", 48000, 16, 2, 480000, false, 0};
    d.test = {"/data/out <b>&amp;.mp3", "MPEG / MPEG_LAYER_III", 44100, 0, 2, 441000, true, 12};
    d.graded = true;
    d.odg = -2.345678;
    d.di = -0.75, d.frames = 467, d.channels = 2;
    for (int i = 0; i < kMovCount; ++i) {
        d.movs[i] = 100.0 + i;
        d.channel_movs[0][i] = 200.0 + i;
        d.channel_movs[1][i] = 300.0 + i;
    }
    PairCheckInfo c;
    c.delay_samples = 576, c.delay_ms = 12.0, c.correlation = 0.98, c.gain_db = -0.1;
    c.warnings = {"delay", "converted"};
    d.check = c;
    d.applied = AppliedFix{576, 0.0};
    return d;
}

std::string render(const ReportData &d)
{
    std::ostringstream out;
    write_html_report(out, d);
    return out.str();
}

// Anything a browser would try to fetch: a scheme, a protocol-relative
// address, or an attribute or CSS rule that loads a resource.
void expect_self_contained(const std::string &page)
{
    EXPECT_EQ(page.find("://"), std::string::npos);
    EXPECT_FALSE(std::regex_search(page, std::regex(R"((src|href|action|xlink:href)\s*=)")));
    EXPECT_FALSE(std::regex_search(page, std::regex(R"(url\s*\(|@import|["'(\s]//[A-Za-z0-9])")));
}

FrameSeries burst_series(std::uint64_t frames, std::uint64_t burst)
{
    FrameSeries s(2);
    for (std::uint64_t f = 0; f < frames; ++f) {
        FrameRow r;
        r.frame = f, r.time_s = frame_time_seconds(f), r.channels = 2;
        const bool hit = f >= burst && f < burst + 3;
        for (int c = 0; c < 2; ++c) {
            r.set(c, FrameQuantity::nmr_db, hit ? 12.0 : (f % 50 == 0 ? -1e100 : -18.0 + double(f % 9)));
            r.set(c, FrameQuantity::detection_probability, hit ? 0.99 : 0.02);
            r.set(c, FrameQuantity::moddiff1, hit ? 80.0 : 3.0);
            r.set(c, FrameQuantity::disturbed, hit ? 1.0 : 0.0);
            if (f % 5) r.set(c, FrameQuantity::noise_loudness, hit ? 4.0 : 0.1);
        }
        r.set_binaural_detection_probability(hit ? 1.0 : 0.03);
        s.add(r);
    }
    return s;
}

TEST(HtmlReport, GradedPairShowsGradeMovsCheckAndEscapedPaths)
{
    const ReportData d = sample_record();
    const std::string page = render(d);
    expect_self_contained(page);
    EXPECT_NE(page.find("-2.346"), std::string::npos);
    EXPECT_NE(page.find("слегка раздражающие искажения"), std::string::npos);
    EXPECT_NE(page.find("-0.750"), std::string::npos);
    // The user's path is text, never markup.
    EXPECT_EQ(page.find("<b>&amp;.mp3"), std::string::npos);
    EXPECT_NE(page.find("out &lt;b&gt;&amp;amp;.mp3"), std::string::npos);
    for (int i = 0; i < kMovCount; ++i) {
        const std::string name = "<td>" + std::string(mov_name(i)) + "</td>";
        const auto at = page.find(name);
        ASSERT_NE(at, std::string::npos) << name;
        const std::string row = page.substr(at, page.find("</tr>", at) - at);
        EXPECT_NE(row.find(std::to_string(100 + i)), std::string::npos) << row;
        if (i != kMovAdb) {  // ADBB has no per-channel value
            EXPECT_NE(row.find(std::to_string(200 + i)), std::string::npos) << row;
            EXPECT_NE(row.find(std::to_string(300 + i)), std::string::npos) << row;
        }
    }
    EXPECT_NE(page.find("576 сэмплов"), std::string::npos);
    EXPECT_NE(page.find(warning_text("delay")), std::string::npos);
    EXPECT_NE(page.find(warning_text("converted")), std::string::npos);
    EXPECT_NE(page.find("ограничено сэмплов: 12"), std::string::npos);
    EXPECT_EQ(page.find("id=\"plots\""), std::string::npos);  // no series given
}

TEST(HtmlReport, UngradedPairGivesTheReasonAndNoGrade)
{
    ReportData d = sample_record();
    d.graded = false;
    d.odg = 1.0;  // the library's in-band failure value must not appear as a grade
    d.reason = "Сигнал короче 23 кадров (0.30 с).";
    d.reason_code = "too_short";
    d.check.reset();
    const std::string page = render(d);
    expect_self_contained(page);
    EXPECT_NE(page.find("Оценки нет"), std::string::npos);
    EXPECT_NE(page.find(d.reason), std::string::npos);
    EXPECT_EQ(page.find("1.000"), std::string::npos);
    EXPECT_EQ(page.find("искажения незаметны"), std::string::npos);
    EXPECT_EQ(page.find("id=\"movs\""), std::string::npos);
    EXPECT_NE(page.find("Не выполнялась"), std::string::npos);
}

TEST(HtmlReport, PlotsOfAnHourStayCompactAndShowTheBurst)
{
    const std::uint64_t frames = 170'000, burst = 90'000;
    const FrameSeries s = burst_series(frames, burst);
    ReportData d = sample_record();
    d.series = &s;
    const std::string page = render(d);
    expect_self_contained(page);
    EXPECT_LT(page.size(), 3u * 1024 * 1024);
    // Four plots, each with its disturbed band around the burst's time.
    const std::regex band(R"re(class="disturbed" d="M([0-9.]+) 0H([0-9.]+)V)re");
    int plots = 0;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), band); it != std::sregex_iterator(); ++it) {
        ++plots;
        const double a = std::stod((*it)[1]), b = std::stod((*it)[2]);
        EXPECT_LE(a, frame_time_seconds(burst));
        EXPECT_GE(b, frame_time_seconds(burst + 2));
        EXPECT_LT(b - a, 0.005 * frame_time_seconds(frames));  // a few pixels, not the whole file
    }
    EXPECT_EQ(plots, 4);
    EXPECT_NE(page.find("data-trace=\"noise_loudness\""), std::string::npos);
    EXPECT_NE(page.find("бинаурально"), std::string::npos);
    // −1e100 dB frames are drawn at the axis floor, not as a number no axis holds.
    EXPECT_EQ(page.find("e+"), std::string::npos);
}

TEST(HtmlReport, BatchSummaryListsEveryPairAndTheFailuresWithReasons)
{
    std::vector<BatchEntry> entries = {
        {"a.wav", "a1.wav", BatchEntry::Status::graded, -0.5, "", ""},
        {"b.wav", "b<1>.wav", BatchEntry::Status::not_graded, 1.0, "Сигнал короче 23 кадров.", "too_short"},
        {"c.wav", "c1.wav", BatchEntry::Status::graded, -3.9, "", ""},
        {"d.wav", "d1.wav", BatchEntry::Status::failed, 0.0, "Ошибка при открытии файла d1.wav", ""},
    };
    std::ostringstream out;
    write_batch_report(out, entries, "2.1.0.2");
    const std::string page = out.str();
    expect_self_contained(page);
    EXPECT_NE(page.find("data-odg=\"-0.500000\""), std::string::npos);
    EXPECT_NE(page.find("data-odg=\"-3.900000\""), std::string::npos);
    EXPECT_EQ(page.find("data-odg=\"1.000000\""), std::string::npos);
    EXPECT_NE(page.find("b&lt;1&gt;.wav"), std::string::npos);
    const auto failures = page.find("id=\"failures\"");
    ASSERT_NE(failures, std::string::npos);
    EXPECT_NE(page.find("Сигнал короче 23 кадров.", failures), std::string::npos);
    EXPECT_NE(page.find("Ошибка при открытии файла d1.wav", failures), std::string::npos);
    EXPECT_EQ(page.find("a1.wav", failures), std::string::npos);
    // Bars sit on the scale: −0.5 near the right end, −3.9 near the left.
    EXPECT_NE(page.find("left:82.35%"), std::string::npos);
    EXPECT_NE(page.find("left:2.35%"), std::string::npos);

    std::ostringstream all_good;
    write_batch_report(all_good, {entries[0]}, "");
    EXPECT_EQ(all_good.str().find("id=\"failures\""), std::string::npos);

    std::ostringstream broken;  // a failing stream is reported
    broken.setstate(std::ios::badbit);
    EXPECT_THROW(write_html_report(broken, sample_record()), std::runtime_error);
    EXPECT_THROW(write_batch_report(broken, {}, ""), std::runtime_error);
}

TEST(TextSummary, NamesGradeOrReasonAndTheCheck)
{
    ReportData d = sample_record();
    std::string s = text_summary(d);
    EXPECT_NE(s.find("Значение ODG: -2.345678"), std::string::npos);
    EXPECT_NE(s.find("слегка раздражающие искажения"), std::string::npos);
    EXPECT_NE(s.find("задержка 576 сэмплов"), std::string::npos);
    EXPECT_NE(s.find("RelDistFramesB\t110\t210\t310"), std::string::npos);
    // The file lines (the wizard's details window shows the same ones):
    // what is unknown (a lossy file's word length) is left out, not zero.
    EXPECT_EQ(s.substr(0, s.find('\n', s.find('\n') + 1) + 1),
              "Эталон: /data/ref.wav (WAV / PCM_16, 48000 Гц, 16 бит, 2 кан., 480000 сэмплов)\n"
              "Тест: /data/out <b>&amp;.mp3 (MPEG / MPEG_LAYER_III, 44100 Гц, 2 кан., 441000 сэмплов, преобразован, "
              "ограничено сэмплов: 12)\n");
    d.graded = false;
    d.reason = "Сигнал короче 23 кадров.";
    s = text_summary(d);
    EXPECT_NE(s.find("Оценки нет: Сигнал короче 23 кадров."), std::string::npos);
    EXPECT_EQ(s.find("ODG"), std::string::npos);
    EXPECT_EQ(s.find("RelDistFramesB"), std::string::npos);
}

} // namespace
} // namespace velumar::report
