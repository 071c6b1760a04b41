// velumar-cli as a user runs it: a separate process on files written here.
#include "cli_run.h"
#include "test_wav.h"

#include <velumar/model.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

using namespace velumar::testing;
using Json = nlohmann::ordered_json;
using namespace std::string_literals;

extern char **environ;

namespace {

// The grade of the library fed directly in blocks of 2048 values.
double LibraryGrade(const std::vector<std::int16_t> &ref, const std::vector<std::int16_t> &test, int channels,
                    double level)
{
    M_SETTINGS s{};
    s.listening_level_db = level;
    s.sample_rate = 48000;
    s.channel_mode = channels == 2 ? 1 : 0;
    M_HANDLE h = create_method(&s);
    if (h == nullptr) return 99.0;
    for (std::size_t done = 0; done < ref.size(); done += 2048) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(2048, ref.size() - done));
        const M_BUFFER r{ref.data() + done, n};
        const M_BUFFER t{test.data() + done, n};
        if (method(h, &r, &t) != 0) return 99.0;
    }
    const double odg = get_objective_difference_grade(h);
    destroy_method(h);
    return odg;
}

// One JSON object per line of a batch's output.
std::vector<Json> JsonLines(const std::string &out)
{
    std::vector<Json> lines;
    for (const std::string &line : Lines(out)) lines.push_back(Json::parse(line));
    return lines;
}

class CliTest : public ::testing::Test {
protected:
    std::string Pair(const std::string &name, std::uint32_t frames, std::uint16_t channels, double noise)
    {
        WavSpec spec;
        spec.channels = channels;
        ref_ = MusicSignal(frames, channels);
        test_ = AddNoise(ref_, noise);
        dir.Write(name + "_ref.wav", WavFile(spec, ref_));
        return dir.Write(name + "_test.wav", WavFile(spec, test_));
    }
    std::string Path(const std::string &name) const { return (dir.path() / name).string(); }

    TempDir dir;
    std::vector<std::int16_t> ref_, test_;
};

TEST_F(CliTest, JsonAndTextOutputCarryTheLibrarysGrade)
{
    Pair("s", 36000, 2, 200.0);
    const CliRun run = Cli(dir, {"--json", "--level", "73.5", Path("s_ref.wav"), Path("s_test.wav")});
    ASSERT_EQ(run.code, 0) << run.err;
    const Json json = Json::parse(run.out);
    ASSERT_TRUE(json.is_object()) << run.out;

    EXPECT_EQ(json["odg"].get<double>(), LibraryGrade(ref_, test_, 2, 73.5));
    EXPECT_EQ(json["frames"], (36000 - 2048) / 1024 + 1);

    // The library's creation line went to standard error, not into the JSON.
    EXPECT_NE(run.err.find("73.500000"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("73.500000"), std::string::npos);

    // Text: fewer than 48000 values give no real-time factor, no progress bar
    // off a terminal, and the library's level line beside the report.
    Pair("m", 30000, 1, 100.0);
    const CliRun text = Cli(dir, {"--no-progress", Path("m_ref.wav"), Path("m_test.wav")});
    ASSERT_EQ(text.code, 0) << text.err;
    char odg[64];
    std::snprintf(odg, sizeof odg, "Значение ODG: %f\n", LibraryGrade(ref_, test_, 1, 92.0));
    EXPECT_NE(text.out.find(odg), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Фактор \"реального времени\": —\n"), std::string::npos);
    EXPECT_EQ(text.err.find('\r'), std::string::npos);
    EXPECT_NE(text.err.find("Уровень громкости = 92.000000\n"), std::string::npos) << text.err;
    EXPECT_EQ(text.out.find("Уровень громкости"), std::string::npos) << text.out;
}

TEST_F(CliTest, RejectedInputsUsageErrorsAndTheirExitCodes)
{
    Pair("mono", 4000, 1, 10.0);
    Pair("stereo", 2000, 2, 10.0);
    Pair("long", 4001, 1, 10.0);
    WavSpec rate44;
    rate44.rate = 44100;
    const std::string r44 = dir.Write("r44.wav", WavFile(rate44, MusicSignal(4000, 1)));
    const std::string mono = Path("mono_ref.wav");
    const std::string missing = Path("missing.wav");

    const struct {
        std::vector<std::string> args;
        int code;
        std::string err;
    } cases[] = {
        {{mono, missing}, 1, "Ошибка при открытии файла " + missing + ": файл не найден\n"},
        {{"--strict", r44, mono}, 1, "Параметры файла " + r44 + " не соответствуют требованиям модели PEAQ\n"},
        {{mono, Path("stereo_test.wav")}, 1, "Файлы имеют различное число каналов: в эталонном 1, в исследуемом 2\n"},
        // 4000 frames at 44.1 kHz are 4354 at 48 kHz.
        {{r44, mono}, 1, "Файлы имеют разную длину: эталонный 4354 сэмпла на канал"},
        {{mono, Path("long_test.wav")}, 1,
         "Файлы имеют разную длину: эталонный 4000 сэмплов на канал (0.08 с), исследуемый 4001 сэмпл на канал (0.08 с). "
         "С параметром --align"},
        {{"--align", "--no-check", mono, mono}, 2, "Параметры --align и --match-level"},
        {{"--max-delay", "-1", mono, mono}, 2, "Недопустимая наибольшая задержка \"-1\""},
        {{"", mono}, 1, "Строка не может быть пустой\n"},
        {{"--oops", mono, mono}, 2, "Неизвестный параметр --oops"},
    };
    for (const auto &c : cases) {
        const CliRun run = Cli(dir, c.args);
        EXPECT_EQ(run.code, c.code) << c.err;
        EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }

    // With --json every failure is one JSON object on standard output too,
    // usage errors included, with the same exit code and message.
    const struct {
        std::vector<std::string> args;
        int code;
        std::string error;
        std::string reason_code;
    } json_cases[] = {
        {{"--oops", "--json", mono, mono}, 2, "Неизвестный параметр --oops", "usage"},
        {{"--json", mono}, 2, "Нужно указать два файла: эталонный и исследуемый", "usage"},
        {{"--json", "--step", "4001", mono, Path("mono_test.wav")}, 2,
         "Размер шага 4001 больше числа 16-битных значений в эталонном файле", "step_too_large"},
        {{"--json", "--batch", mono}, 1,
         "Список пар " + mono + " - звуковой файл, а не текст со строками \"эталон,исследуемый\"; "
         "чтобы оценить одну пару, укажите ЭТАЛОН и ИССЛЕДУЕМЫЙ без --batch", "input"},
    };
    for (const auto &c : json_cases) {
        const CliRun run = Cli(dir, c.args);
        EXPECT_EQ(run.code, c.code) << c.error;
        ASSERT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;  // one line
        const Json object = Json::parse(run.out);
        EXPECT_EQ(object["graded"], false);
        EXPECT_EQ(object["error"], c.error);
        EXPECT_EQ(object["reason_code"], c.reason_code);
        // Files that were opened are described; a usage error opens none.
        EXPECT_EQ(object.contains("input"), c.reason_code == "step_too_large");
        EXPECT_EQ(run.err.rfind(c.error + "\n", 0), 0u) << run.err;
    }

    const CliRun json = Cli(dir, {"--json", mono, missing});
    EXPECT_EQ(json.code, 1);
    Json expected = {{"graded", false}, {"error", "Ошибка при открытии файла " + missing + ": файл не найден"}, {"reason_code", "input"}};
    // What could be opened is described even when the pair is refused.
    expected["input"] = {{"reference",
                          {{"path", mono}, {"format", "WAV"}, {"subtype", "PCM_16"}, {"sample_rate", 48000},
                           {"bits", 16}, {"channels", 1}, {"samples_per_channel", 4000}, {"converted", false}}},
                         {"test", nullptr}};
    EXPECT_EQ(Json::parse(json.out), expected);

    const CliRun version = Cli(dir, {"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "Velumar 2, 1, 0, 2\n");
}

TEST_F(CliTest, BatchKeepsListOrderAndSurvivesABadPair)
{
    Pair("a", 30000, 1, 50.0);
    const std::vector<std::int16_t> a_ref = ref_, a_test = test_;
    Pair("b", 26000, 2, 300.0);
    dir.Write("list.csv",
              "reference,test\n"
              "# the second pair is missing its test file\n"
              "a_ref.wav,a_test.wav\n"
              "b_ref.wav,nothing.wav\n"
              "\n" +
                  Path("b_ref.wav") + ",b_test.wav\n");
    const CliRun run = Cli(dir, {"--batch", Path("list.csv"), "--jobs", "2"});
    EXPECT_EQ(run.code, 1) << run.err;

    std::vector<Json> lines = JsonLines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[0]["reference"], "a_ref.wav");
    EXPECT_EQ(lines[0]["odg"].get<double>(), LibraryGrade(a_ref, a_test, 1, 92.0));
    EXPECT_EQ(lines[1]["test"], "nothing.wav");
    EXPECT_EQ(lines[1]["error"], "Ошибка при открытии файла " + Path("nothing.wav") + ": файл не найден");
    EXPECT_FALSE(lines[1].contains("odg"));
    EXPECT_EQ(lines[2]["odg"].get<double>(), LibraryGrade(ref_, test_, 2, 92.0));

    // "-" reads the list from standard input, paths relative to the current
    // folder; a path with a NUL byte is refused under its whole name.
    dir.Write("stdin.csv", "b_ref.wav,b_test.wav\na_ref.wav\0.bak,a_test.wav\n"s);
    CliIo from_stdin;
    from_stdin.stdin_path = Path("stdin.csv");
    from_stdin.cwd = dir.path().string();
    const CliRun piped = Cli(dir, {"--batch", "-", "--no-progress"}, from_stdin);
    EXPECT_EQ(piped.code, 1) << piped.err;
    lines = JsonLines(piped.out);
    ASSERT_EQ(lines.size(), 2u) << piped.out;
    EXPECT_EQ(lines[0]["odg"].get<double>(), LibraryGrade(ref_, test_, 2, 92.0));
    EXPECT_EQ(lines[1]["reference"], "a_ref.wav\0.bak"s);
    EXPECT_EQ(lines[1]["error"], "Ошибка при открытии файла a_ref.wav\0.bak"s);
    EXPECT_FALSE(lines[1].contains("odg"));

    const CliRun no_list = Cli(dir, {"--batch", Path("none.csv")});
    EXPECT_EQ(no_list.code, 1);
    EXPECT_EQ(no_list.err, "Не удалось прочитать список пар " + Path("none.csv") + "\n");
}

TEST_F(CliTest, TooShortPairIsNotGradedAloneOrInABatch)
{
    // 0.3 s: 13 frames, fewer than the 23 the network needs.
    Pair("short", 14400, 2, 50.0);
    const std::string r = Path("short_ref.wav"), t = Path("short_test.wav");

    const CliRun json = Cli(dir, {"--json", r, t});
    EXPECT_EQ(json.code, 4) << json.err;
    const Json j = Json::parse(json.out);
    EXPECT_EQ(j["graded"], false);
    for (const char *key : {"odg", "di", "grade_text", "movs", "movs_ch1", "movs_ch2"})
        EXPECT_TRUE(j[key].is_null()) << key;
    EXPECT_EQ(j["reason_code"], "too_short");
    EXPECT_NE(j["reason"].get<std::string>().find("0.30 с"), std::string::npos) << j["reason"];

    const CliRun text = Cli(dir, {"--no-progress", r, t});
    EXPECT_EQ(text.code, 4);
    EXPECT_NE(text.out.find("Оценка не получена: Сигнал короче 23 кадров"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("Значение ODG"), std::string::npos) << text.out;

    // Batch exit codes: all graded 0; some not graded 4; any refused 1.
    Pair("long", 48000, 2, 50.0);
    dir.Write("good.csv", "long_ref.wav,long_test.wav\n");
    dir.Write("short.csv", "long_ref.wav,long_test.wav\nshort_ref.wav,short_test.wav\n");
    dir.Write("bad.csv", "short_ref.wav,short_test.wav\nshort_ref.wav,none.wav\n");
    EXPECT_EQ(Cli(dir, {"--batch", Path("good.csv")}).code, 0);
    const CliRun batch = Cli(dir, {"--batch", Path("short.csv")});
    EXPECT_EQ(batch.code, 4);
    const std::vector<Json> lines = JsonLines(batch.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["graded"], true);
    EXPECT_EQ(lines[1]["graded"], false);
    EXPECT_EQ(lines[1]["reason_code"], "too_short");
    EXPECT_EQ(Cli(dir, {"--batch", Path("bad.csv")}).code, 1);
}

TEST_F(CliTest, CheckAlignAndMatchLevelOnTheCommandLine)
{
    // The test 1105 frames late and 6 dB quieter, over broadband noise.
    constexpr std::size_t kDelay = 1105;
    const std::vector<std::int16_t> source = AddNoise(std::vector<std::int16_t>(2 * (48000 * 2 + kDelay), 0), 6000.0, 3);
    const std::vector<std::int16_t> ref(source.begin() + 2 * kDelay, source.end());
    std::vector<std::int16_t> test(source.begin(), source.end() - 2 * kDelay);
    for (auto &v : test) v = static_cast<std::int16_t>(std::lround(v * 0.5011872336272722));
    WavSpec spec;
    spec.channels = 2;
    const std::string r = dir.Write("r.wav", WavFile(spec, ref));
    const std::string t = dir.Write("t.wav", WavFile(spec, test));

    const CliRun plain = Cli(dir, {"--json", r, t});
    const Json p = Json::parse(plain.out);
    EXPECT_EQ(p["check"]["delay_samples"], 1105);
    EXPECT_NEAR(p["check"]["gain_db"].get<double>(), -6.0, 0.05);
    EXPECT_EQ(p["check"]["warnings"], Json({"delay", "level"}));
    EXPECT_TRUE(p["applied"].is_null());

    const CliRun fixed = Cli(dir, {"--json", "--align", "--match-level", r, t});
    ASSERT_EQ(fixed.code, 0) << fixed.err;
    const Json f = Json::parse(fixed.out);
    EXPECT_EQ(f["applied"]["delay_samples"], 1105);
    EXPECT_NEAR(f["applied"]["gain_db"].get<double>(), 6.0, 0.05);
    EXPECT_EQ(f["values"], 2 * (48000 * 2 - kDelay));
    EXPECT_GT(f["odg"].get<double>(), p["odg"].get<double>());

    const CliRun text = Cli(dir, {"--no-progress", "--max-delay", "10", r, t});
    EXPECT_NE(text.out.find("Проверка пары:"), std::string::npos) << text.out;
    EXPECT_EQ(text.out.find("запаздывает"), std::string::npos) << text.out;  // 23 ms is outside 10 ms
    // The sentences of the findings are checked with the text writer (cli_test).

    const CliRun unchecked = Cli(dir, {"--json", "--no-check", r, t});
    EXPECT_TRUE(Json::parse(unchecked.out)["check"].is_null());
}

// The pair a newcomer grades first shows every measure at work: each MOV
// has a value, per channel too, and the grade is mid-scale. The committed
// files are what the generator writes, byte for byte.
TEST_F(CliTest, BundledSamplePairEngagesEveryMeasureAndIsReproducible)
{
    const std::string samples = VELUMAR_SAMPLES_DIR;
    const CliRun run = Cli(dir, {"--json", samples + "/reference.wav", samples + "/test.wav"});
    ASSERT_EQ(run.code, 0) << run.err;
    const Json json = Json::parse(run.out);
    const double odg = json["odg"];
    EXPECT_GT(odg, -2.5);
    EXPECT_LT(odg, -1.5);
    for (const char *group : {"movs", "movs_ch1", "movs_ch2"})
        for (const auto &item : json[group].items())
            EXPECT_NE(item.value().get<double>(), 0.0) << group << " " << item.key();
    EXPECT_GT(json["movs"]["BandwidthRefB"].get<double>(), json["movs"]["BandwidthTestB"].get<double>());

    pid_t pid = 0;
    std::string tool = VELUMAR_MAKE_SAMPLES_PATH, out = dir.path().string();
    char *argv[] = {tool.data(), out.data(), nullptr};
    ASSERT_EQ(posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv, environ), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char *name : {"reference.wav", "test.wav"})
        EXPECT_TRUE(Slurp(dir.path() / name) == Slurp(std::filesystem::path(samples) / name)) << name;
}

TEST_F(CliTest, AResultThatCannotBeWrittenIsAnErrorNotASuccess)
{
    const std::string test = Pair("f", 30000, 1, 50.0);
    const std::string ref = Path("f_ref.wav");
    dir.Write("list.csv", "f_ref.wav,f_test.wav\n");
    const std::vector<std::vector<std::string>> runs = {
        {"--no-progress", ref, test},
        {"--json", ref, test},
        {"--batch", Path("list.csv")},
        {"--json", "--oops"},
        {"--help"},
    };
    CliIo full;
    full.stdout_path = "/dev/full";
    for (const auto &args : runs) {
        const CliRun run = Cli(dir, args, full);
        EXPECT_NE(run.code, 0) << args[0];
        EXPECT_NE(run.err.find("Не удалось записать результат\n"), std::string::npos) << run.err;
    }
}

} // namespace

// Codec output straight from the Debian encoders, a 44.1 kHz master as FLAC,
// and batches that mix formats.
TEST_F(CliTest, EncodedFilesAreGradedDirectlyAndSayWhatWasConverted)
{
    if (std::system("command -v lame >/dev/null 2>&1 && command -v opusenc >/dev/null 2>&1 && "
                    "command -v flac >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lame, opusenc and flac are needed";
    WavSpec spec;
    spec.channels = 2;
    spec.rate = 44100;
    // Broadband music, so that the codec delay has one clear peak.
    const auto master = AddNoise(MusicSignal(3 * 44100, 2, 4), 1200.0, 8);
    const std::string wav = dir.Write("master.wav", WavFile(spec, master));
    const std::string flac = Path("master.flac"), mp3 = Path("coded.mp3"), opus = Path("coded.opus");
    ASSERT_EQ(std::system(("flac -s -f '" + wav + "' -o '" + flac + "'").c_str()), 0);
    ASSERT_EQ(std::system(("lame --quiet -t -b 160 '" + wav + "' '" + mp3 + "'").c_str()), 0);
    ASSERT_EQ(std::system(("opusenc --quiet --bitrate 64 '" + wav + "' '" + opus + "'").c_str()), 0);

    for (const auto &[coded, format] : {std::pair{mp3, "MPEG"}, std::pair{opus, "OGG"}}) {
        SCOPED_TRACE(coded);
        // Without the Info tag the decoded MP3 starts late and runs longer.
        const CliRun run = Cli(dir, {"--json", "--align", flac, coded});
        ASSERT_EQ(run.code, 0) << run.err;
        const Json json = Json::parse(run.out);
        EXPECT_GT(json["odg"].get<double>(), -3.5);  // a valid grade, not a failure value
        EXPECT_EQ(json["check"]["delay_trusted"], true);
        EXPECT_NE(std::find(json["check"]["warnings"].begin(), json["check"]["warnings"].end(), "converted"),
                  json["check"]["warnings"].end());
        EXPECT_EQ(json["input"]["reference"]["format"], "FLAC");
        EXPECT_EQ(json["input"]["test"]["format"], format);
        EXPECT_FALSE(json["input"]["test"].contains("clipped_samples"));
    }

    const CliRun text = Cli(dir, {"--align", flac, mp3});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_NE(text.out.find("Файл " + flac + " (FLAC/PCM_16, 44100 Гц, 16 бит, каналов: 2) преобразован в 48 кГц, 16 бит\n"),
              std::string::npos)
        << text.out;

    const CliRun strict = Cli(dir, {"--strict", "--align", flac, mp3});
    EXPECT_EQ(strict.code, 1);
    EXPECT_EQ(strict.err, "Ошибка в блоке RIFF файла " + flac + "\n");

    // One list, three kinds of pair; each line carries its own input record.
    Pair("n", 30000, 2, 100.0);
    dir.Write("mixed.csv", "n_ref.wav,n_test.wav\nmaster.flac,coded.opus\nmaster.wav,master.flac\n");
    const CliRun batch = Cli(dir, {"--batch", Path("mixed.csv"), "--align"});
    EXPECT_EQ(batch.code, 0) << batch.err;
    const std::vector<Json> lines = JsonLines(batch.out);
    ASSERT_EQ(lines.size(), 3u) << batch.out;
    EXPECT_EQ(lines[0]["odg"].get<double>(), LibraryGrade(ref_, test_, 2, 92.0));
    EXPECT_EQ(lines[1]["input"]["test"]["subtype"], "OPUS");
    // The same values through a WAV and a FLAC file: no difference to grade.
    EXPECT_EQ(lines[2]["input"]["test"]["format"], "FLAC");
    EXPECT_GT(lines[2]["odg"].get<double>(), 0.0);
    EXPECT_EQ(lines[2]["check"]["delay_samples"], 0);
}
