// velumar-cli --frames and --report as a user runs them: the rows agree
// with the grade they make up, parse in both forms with empty fields
// exactly where the model computed nothing, follow the reference's
// timeline after --align, and the reports refer to nothing outside them.
#include "cli_run.h"
#include "test_wav.h"
#include "text_lines.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace velumar::testing;
using Json = nlohmann::ordered_json;

namespace {

// A music-like pair whose test has a burst of noise from `burst_s` for
// 0.1 s and faint noise elsewhere in the second half.
struct Pair {
    std::string reference;
    std::string test;
};

Pair WritePair(const TempDir &dir, std::uint16_t channels, double seconds, double burst_s, const char *stem)
{
    const auto frames = static_cast<std::uint32_t>(seconds * 48000);
    const auto ref = MusicSignal(frames, channels);
    auto test = AddNoise(ref, 2.0);
    const auto loud = AddNoise(ref, 500.0, 3);
    const auto b0 = static_cast<std::size_t>(burst_s * 48000) * channels;
    for (std::size_t i = b0; i < b0 + 4800u * channels && i < test.size(); ++i) test[i] = loud[i];
    WavSpec spec;
    spec.channels = channels;
    return {dir.Write(std::string(stem) + "-ref.wav", WavFile(spec, ref)),
            dir.Write(std::string(stem) + "-test.wav", WavFile(spec, test))};
}

// A channel's MOV from the JSON result (with one channel, the network's
// input is that channel's value).
double Mov(const Json &result, const char *name, int channel)
{
    if (result["channels"].get<int>() == 1) return result["movs"][name].get<double>();
    return result[channel == 0 ? "movs_ch1" : "movs_ch2"][name].get<double>();
}

std::vector<std::string> ExpectedColumns(int channels)
{
    std::vector<std::string> cols = {"frame", "time_s", "loud", "energy"};
    const char *stems[] = {"bandwidth_ref", "bandwidth_test", "nmr_db", "disturbed", "moddiff1",
                           "moddiff2", "temporal_weight", "noise_loudness", "ehs", "detection_probability"};
    for (int c = 1; c <= channels; ++c)
        for (const char *s : stems) cols.push_back(std::string(s) + "_" + std::to_string(c));
    if (channels == 2) cols.push_back("detection_probability_binaural");
    return cols;
}

void ExpectSelfContained(const std::string &page)
{
    EXPECT_EQ(page.find("://"), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
}

TEST(CliFrames, RowsMakeUpTheGradeInBothFormsWithGapsWhereNothingWasComputed)
{
    TempDir dir;
    for (std::uint16_t channels : {std::uint16_t{1}, std::uint16_t{2}}) {
        SCOPED_TRACE(channels);
        const Pair pair = WritePair(dir, channels, 3.0, 1.5, channels == 1 ? "mono" : "stereo");
        const std::string csv_path = (dir.path() / "f.csv").string();
        const std::string jsonl_path = (dir.path() / "f.JSONL").string();
        const CliRun run = Cli(dir, {"--json", "--frames", csv_path, pair.reference, pair.test});
        ASSERT_EQ(run.code, 0) << run.err;
        const Json result = Json::parse(run.out);
        const auto frames = result["frames"].get<std::size_t>();
        ASSERT_EQ(Cli(dir, {"--json", "--step", "3001", "--frames", jsonl_path, pair.reference, pair.test}).code, 0);

        const auto csv = Lines(Slurp(csv_path));
        const auto jsonl = Lines(Slurp(jsonl_path));
        ASSERT_EQ(csv.size(), frames + 1);  // the header and one row per frame
        ASSERT_EQ(jsonl.size(), frames);
        const auto columns = ExpectedColumns(channels);
        ASSERT_EQ(Split(csv[0], ','), columns);

        std::vector<double> disturbed(channels), nmr_linear(channels);
        for (std::size_t f = 0; f < frames; ++f) {
            const auto fields = Split(csv[f + 1], ',');
            const Json row = Json::parse(jsonl[f]);
            ASSERT_EQ(fields.size(), columns.size());
            ASSERT_EQ(row.size(), columns.size());
            EXPECT_EQ(std::stoul(fields[0]), f);
            EXPECT_EQ(std::strtod(fields[1].c_str(), nullptr), double(f) * 1024.0 / 48000.0);
            const bool loud = fields[2] == "1", energy = fields[3] == "1";
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const std::string &col = columns[i];
                // Another block size, another file format: the same values.
                const Json &v = row[col];
                if (fields[i].empty()) {
                    EXPECT_TRUE(v.is_null()) << col << " frame " << f;
                } else {
                    ASSERT_TRUE(v.is_number()) << col << " frame " << f;
                    EXPECT_EQ(std::strtod(fields[i].c_str(), nullptr), v.get<double>()) << col;
                }
                // Gaps exactly where the model computes nothing.
                const bool gap = (col.rfind("noise_loudness_", 0) == 0 && loud) || (col.rfind("ehs_", 0) == 0 && !energy);
                EXPECT_EQ(fields[i].empty(), gap) << col << " frame " << f;
            }
            for (int c = 0; c < channels; ++c) {
                const char *sfx = c == 0 ? "_1" : "_2";
                disturbed[c] += row[std::string("disturbed") + sfx].get<double>();
                const double db = row[std::string("nmr_db") + sfx].get<double>();
                nmr_linear[c] += db <= -1e100 ? 0.0 : std::pow(10.0, db / 10.0);
            }
        }
        for (int c = 0; c < channels; ++c) {
            EXPECT_DOUBLE_EQ(disturbed[c] / double(frames), Mov(result, "RelDistFramesB", c));
            EXPECT_NEAR(10.0 * std::log10(nmr_linear[c] / double(frames)), Mov(result, "TotalNMRB", c), 1e-9);
        }
        // The burst: disturbed frames around 1.5 s and not at the start.
        const auto burst_row = Split(csv[static_cast<std::size_t>(1.5 * 48000 / 1024) + 2], ',');
        EXPECT_EQ(burst_row[7], "1");
        EXPECT_EQ(Split(csv[10], ',')[7], "0");
    }
}

TEST(CliFrames, AfterAlignTheRowsKeepTheReferencesTimeline)
{
    TempDir dir;
    // Noise makes the delay unambiguous (the music signal repeats itself).
    const auto ref = AddNoise(MusicSignal(3 * 48000, 1), 3000.0);
    // The test starts 480 samples into the reference: it is early, so
    // --align cuts the reference's first 480 samples.
    std::vector<std::int16_t> test(ref.begin() + 480, ref.end());
    test.resize(ref.size(), 0);
    WavSpec spec;
    const std::string r = dir.Write("r.wav", WavFile(spec, ref));
    const std::string t = dir.Write("t.wav", WavFile(spec, test));
    const std::string csv_path = (dir.path() / "f.csv").string();
    const CliRun run = Cli(dir, {"--json", "--align", "--frames", csv_path, r, t});
    ASSERT_EQ(run.code, 0) << run.err;
    ASSERT_EQ(Json::parse(run.out)["applied"]["delay_samples"].get<int>(), -480) << run.out;
    const auto csv = Lines(Slurp(csv_path));
    ASSERT_GT(csv.size(), 3u);
    EXPECT_EQ(std::strtod(Split(csv[1], ',')[1].c_str(), nullptr), 480.0 / 48000.0);
    EXPECT_EQ(std::strtod(Split(csv[3], ',')[1].c_str(), nullptr), (2 * 1024 + 480) / 48000.0);
}

TEST(CliFrames, StandardOutputCarriesTheRowsThenTheResultAndBadRequestsAreRefused)
{
    TempDir dir;
    const Pair pair = WritePair(dir, 1, 1.0, 0.5, "p");
    CliRun run = Cli(dir, {"--frames", "-", pair.reference, pair.test});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto lines = Lines(run.out);
    EXPECT_EQ(lines[0], "frame,time_s,loud,energy,bandwidth_ref_1,bandwidth_test_1,nmr_db_1,disturbed_1,"
                        "moddiff1_1,moddiff2_1,temporal_weight_1,noise_loudness_1,ehs_1,detection_probability_1");
    EXPECT_NE(run.out.find("ODG"), std::string::npos);  // the result follows the rows

    const std::string list = dir.Write("list.csv", pair.reference + "," + pair.test + "\n");
    run = Cli(dir, {"--batch", list, "--frames", "x.csv"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("--frames"), std::string::npos);
    run = Cli(dir, {"--json", "--frames", "-", pair.reference, pair.test});
    EXPECT_EQ(run.code, 2);
    // A file that cannot be created is found before grading.
    const std::string nowhere = (dir.path() / "missing" / "f.csv").string();
    run = Cli(dir, {"--json", "--frames", nowhere, pair.reference, pair.test});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(nowhere), std::string::npos);
    EXPECT_EQ(run.out.find("\"odg\""), std::string::npos);
    run = Cli(dir, {"--report", (dir.path() / "missing" / "r.html").string(), pair.reference, pair.test});
    EXPECT_EQ(run.code, 1);
}

TEST(CliReport, PairAndBatchPagesAreSelfContainedAndSayWhatHappened)
{
    TempDir dir;
    const Pair pair = WritePair(dir, 2, 4.0, 2.0, "p");
    const std::string page_path = (dir.path() / "r.html").string();
    CliRun run = Cli(dir, {"--json", "--report", page_path, pair.reference, pair.test});
    ASSERT_EQ(run.code, 0) << run.err;
    const Json result = Json::parse(run.out);
    std::string page = Slurp(page_path);
    ExpectSelfContained(page);
    char grade[32];
    std::snprintf(grade, sizeof grade, "%.3f", result["odg"].get<double>());
    EXPECT_NE(page.find(grade), std::string::npos);
    EXPECT_NE(page.find(result["grade_text"].get<std::string>()), std::string::npos);
    EXPECT_NE(page.find("class=\"disturbed\""), std::string::npos);  // the burst is marked

    // A pair too short to grade: the page gives the reason, not a grade.
    WavSpec spec;
    const std::string short_ref = dir.Write("s-ref.wav", WavFile(spec, MusicSignal(12000, 1)));
    const std::string short_test = dir.Write("s-test.wav", WavFile(spec, MusicSignal(12000, 1)));
    run = Cli(dir, {"--report", page_path, short_ref, short_test});
    EXPECT_EQ(run.code, 4);
    page = Slurp(page_path);
    EXPECT_NE(page.find("Оценки нет"), std::string::npos);
    EXPECT_NE(page.find("too_short"), std::string::npos);

    // A pair at 44.1 kHz goes through a conversion, and the page says so.
    WavSpec cd;
    cd.rate = 44100;
    const std::string cd_ref = dir.Write("cd-ref.wav", WavFile(cd, MusicSignal(88200, 1)));
    const std::string cd_test = dir.Write("cd-test.wav", WavFile(cd, AddNoise(MusicSignal(88200, 1), 30.0)));
    run = Cli(dir, {"--report", page_path, cd_ref, cd_test});
    EXPECT_EQ(run.code, 0) << run.err;
    page = Slurp(page_path);
    EXPECT_NE(page.find("<td class=\"num\">44100</td>"), std::string::npos);
    EXPECT_NE(page.find("<span class=\"warn\">да</span>"), std::string::npos);

    const std::string list =
        dir.Write("list.csv", "reference,test\n" + pair.reference + "," + pair.test + "\n" + short_ref + "," +
                                  short_test + "\n" + pair.reference + ",absent.wav\n");
    const std::string summary_path = (dir.path() / "batch.html").string();
    run = Cli(dir, {"--batch", list, "--jobs", "2", "--report", summary_path});
    EXPECT_EQ(run.code, 1);
    page = Slurp(summary_path);
    ExpectSelfContained(page);
    EXPECT_NE(page.find("data-odg=\"\""), std::string::npos);
    std::size_t rows = 0;
    for (std::size_t at = page.find("<tr data-n="); at != std::string::npos; at = page.find("<tr data-n=", at + 1))
        ++rows;
    EXPECT_EQ(rows, 3u);
    const auto failures = page.find("id=\"failures\"");
    ASSERT_NE(failures, std::string::npos);
    EXPECT_NE(page.find("too_short", failures), std::string::npos);
    EXPECT_NE(page.find("absent.wav", failures), std::string::npos);
    EXPECT_EQ(page.find("p-test.wav", failures), std::string::npos);
}

} // namespace
