// velumar-cli --frames and --report as a user runs them: the rows agree
// with the grade they make up and parse in both forms with empty fields
// exactly where the model computed nothing, and the reports show what the
// run found. The rows' timeline after --align is compared with these rows
// by the Python module's tests; the exact header and the pages' lack of any
// outside reference by the report writer's own tests.
#include "cli_run.h"
#include "test_wav.h"

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
        std::vector<std::string> columns;
        const Json first = Json::parse(jsonl[0]);
        for (const auto &item : first.items()) columns.push_back(item.key());
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

TEST(CliFrames, StandardOutputCarriesTheRowsThenTheResultAndBadRequestsAreRefused)
{
    TempDir dir;
    const Pair pair = WritePair(dir, 1, 1.0, 0.5, "p");
    CliRun run = Cli(dir, {"--frames", "-", pair.reference, pair.test});
    ASSERT_EQ(run.code, 0) << run.err;
    const auto lines = Lines(run.out);
    EXPECT_TRUE(lines[0].starts_with("frame,time_s,")) << lines[0];
    EXPECT_NE(run.out.find("ODG"), std::string::npos);  // the result follows the rows

    // A file that cannot be created is found before grading.
    const std::string nowhere = (dir.path() / "missing" / "f.csv").string();
    run = Cli(dir, {"--json", "--frames", nowhere, pair.reference, pair.test});
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find(nowhere), std::string::npos);
    EXPECT_EQ(run.out.find("\"odg\""), std::string::npos);
    run = Cli(dir, {"--report", (dir.path() / "missing" / "r.html").string(), pair.reference, pair.test});
    EXPECT_EQ(run.code, 1);
}

TEST(CliReport, PairAndBatchPagesSayWhatHappened)
{
    TempDir dir;
    const Pair pair = WritePair(dir, 2, 4.0, 2.0, "p");
    const std::string page_path = (dir.path() / "r.html").string();
    CliRun run = Cli(dir, {"--json", "--report", page_path, pair.reference, pair.test});
    ASSERT_EQ(run.code, 0) << run.err;
    const Json result = Json::parse(run.out);
    std::string page = Slurp(page_path);
    char grade[32];
    std::snprintf(grade, sizeof grade, "%.3f", result["odg"].get<double>());
    EXPECT_NE(page.find(grade), std::string::npos);
    EXPECT_NE(page.find(result["grade_text"].get<std::string>()), std::string::npos);
    EXPECT_NE(page.find("class=\"disturbed\""), std::string::npos);  // the burst is marked
    EXPECT_NE(page.find("<td class=\"num\">48000</td>"), std::string::npos);  // the files' records

    // A pair too short to grade: the page gives the reason, not a grade.
    const Pair short_pair = WritePair(dir, 1, 0.25, 0.0, "s");
    const std::string &short_ref = short_pair.reference, &short_test = short_pair.test;
    run = Cli(dir, {"--report", page_path, short_ref, short_test});
    EXPECT_EQ(run.code, 4);
    page = Slurp(page_path);
    EXPECT_NE(page.find("Оценки нет"), std::string::npos);
    EXPECT_NE(page.find("too_short"), std::string::npos);

    const std::string list =
        dir.Write("list.csv", "reference,test\n" + pair.reference + "," + pair.test + "\n" + short_ref + "," +
                                  short_test + "\n" + pair.reference + ",absent.wav\n");
    const std::string summary_path = (dir.path() / "batch.html").string();
    run = Cli(dir, {"--batch", list, "--jobs", "2", "--report", summary_path});
    EXPECT_EQ(run.code, 1);
    page = Slurp(summary_path);
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
