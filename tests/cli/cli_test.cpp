#include <velumar/cli/cli.h>
#include "test_wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include <unistd.h>

using namespace velumar::cli;
using namespace std::string_literals;

namespace {

const auto Parse = ParseArguments;

TEST(Arguments, AcceptedFormsAndHelpOrVersionFirst)
{
    Options o = Parse({"--level=0", "--step", "4294967295", "--json", "--no-progress", "--", "-r.wav", "t.wav"});
    EXPECT_EQ(o.action, Action::Grade);
    EXPECT_EQ(o.level, 0.0);
    EXPECT_EQ(o.step, 4294967295u);
    EXPECT_TRUE(o.step_given && o.json);
    EXPECT_EQ(o.progress, ProgressMode::Off);
    EXPECT_EQ(o.reference, "-r.wav");

    o = Parse({"--batch", "list.csv", "--jobs=3"});
    EXPECT_EQ(o.action, Action::Batch);
    EXPECT_EQ(o.jobs, 3u);

    EXPECT_EQ(Parse({"--bogus", "-h"}).action, Action::Help);
    EXPECT_EQ(Parse({"--version", "--level", "x"}).action, Action::Version);
}

TEST(Arguments, BadCommandLinesAreUsageErrorsWithTheirMessage)
{
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--level", "abc", "a", "b"}, "Недопустимый уровень прослушивания \"abc\""},
        {{"--level", "nan", "a", "b"}, "\"nan\""},
        {{"--step", "0", "a", "b"}, "Недопустимый размер шага \"0\""},
        {{"--step", "12x", "a", "b"}, "\"12x\""},
        {{"a", "b", "--step"}, "Для параметра --step не задано значение"},
        {{"--jobs", "257", "--batch", "l"}, "Недопустимое число потоков \"257\""},
        {{"--jobs", "2", "a", "b"}, "--jobs используется только вместе с --batch"},
        {{"a", "b", "c"}, "Нужно указать два файла"},
        {{"--json=1", "a", "b"}, "Неизвестный параметр --json=1"},
        {{"--lev", "50", "a", "b"}, "Неизвестный параметр --lev"},  // no abbreviations
        {{"--batch="}, "Для параметра --batch не задано значение"},
        {{"--\0"s, "a", "b"}, "Неизвестный параметр --"},  // not the end of the options
        {{"--batch", "l", "--frames", "x.csv"}, "--frames"},
        {{"--json", "--frames", "-", "a", "b"}, "--frames"},
    };
    for (const auto &c : cases) {
        const Options o = Parse(c.args);
        EXPECT_EQ(o.action, Action::UsageError) << c.message;
        EXPECT_NE(o.error.find(c.message), std::string::npos) << o.error;
    }
}

TEST(Arguments, EveryParseStartsAfreshAndKeepsArgumentsWhole)
{
    // Parsing keeps its position between calls only if it is not reset.
    for (int i = 0; i < 3; ++i) {
        const Options o = Parse({"--level", "5", "a", "b"});
        ASSERT_EQ(o.action, Action::Grade) << o.error;
        EXPECT_EQ(o.level, 5.0);
    }
    // An abbreviation is refused without taking the next argument as its value.
    EXPECT_EQ(Parse({"--lev", "--help"}).action, Action::Help);

    // A NUL byte does not cut an argument short: the file is refused later
    // under its whole name, never opened under the part before the NUL.
    Options o = Parse({"a\0b"s, "--batch=l\0x"s});
    EXPECT_EQ(o.action, Action::UsageError);
    o = Parse({"--batch", "l\0x"s});
    EXPECT_EQ(o.batch_list, "l\0x"s);
    o = Parse({"r\0.wav"s, "--level=5"});
    EXPECT_EQ(o.action, Action::UsageError);
    o = Parse({"r\0.wav"s, "t.wav"});
    EXPECT_EQ(o.reference, "r\0.wav"s);
}

// A result as the model and the runner would leave it, with recognisable values.
GradeResult SampleResult(std::uint32_t channels)
{
    GradeResult r;
    r.status = velumar::app::Status::Graded;
    r.model.odg = -1.25;
    r.model.di = 0.75;
    r.model.frames = 91;
    r.model.channels = channels;
    for (std::int32_t i = 0; i < M_MOV_COUNT; ++i) {
        r.model.movs[i] = 10.0 + i;
        r.model.channel_movs[0][i] = 100.0 + i;
        r.model.channel_movs[1][i] = 200.0 + i;
    }
    r.stats.values = 96000 * channels;
    r.stats.total_time = 250.0;  // hundredths of a second
    r.sample_rate = 48000;
    return r;
}

Json ParseLine(const std::string &line)
{
    EXPECT_TRUE(line.ends_with('\n'));
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line only: " << line;
    return Json::parse(line);  // throws, failing the test, on anything that is not JSON
}

TEST(Json, ResultObjectKeysUnitsAndChannels)
{
    const Json stereo = ParseLine(JsonLine(ResultJson(SampleResult(2))));
    std::vector<std::string> keys;
    for (const auto &item : stereo.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"graded", "odg", "di", "grade_text", "reason", "reason_code", "frames",
                                              "channels", "values", "time_s", "speed", "rtf", "movs", "movs_ch1",
                                              "movs_ch2", "check", "applied", "input"}));
    EXPECT_TRUE(stereo["reason"].is_null() && stereo["reason_code"].is_null());
    EXPECT_TRUE(stereo["check"].is_null() && stereo["applied"].is_null());
    EXPECT_EQ(stereo["odg"], -1.25);
    EXPECT_EQ(stereo["grade_text"], "искажения заметны, но не раздражают");
    EXPECT_EQ(stereo["values"], 192000);
    EXPECT_EQ(stereo["time_s"], 2.5);             // seconds, not hundredths
    EXPECT_EQ(stereo["speed"], 192000 / 2.5);     // values per second
    EXPECT_EQ(stereo["rtf"], 250.0 / (4 * 100));  // 4 whole seconds of values
    EXPECT_EQ(stereo["movs"]["ADBB"], 14.0);
    EXPECT_EQ(stereo["movs"]["RelDistFramesB"], 20.0);
    // ADB is binaural: no value per channel.
    EXPECT_EQ(stereo["movs_ch1"].size(), 10u);
    EXPECT_FALSE(stereo["movs_ch1"].contains("ADBB"));
    EXPECT_EQ(stereo["movs_ch2"]["RelDistFramesB"], 210.0);

    GradeResult mono = SampleResult(1);
    mono.stats.values = 47999;  // under one second: no real-time factor
    mono.stats.total_time = 0.0;  // no time measured: no speed
    mono.model.odg = std::nan("");
    const Json parsed = ParseLine(JsonLine(ResultJson(mono)));
    EXPECT_FALSE(parsed.contains("movs_ch1"));
    EXPECT_TRUE(parsed["speed"].is_null());
    EXPECT_TRUE(parsed["rtf"].is_null());
    EXPECT_TRUE(parsed["odg"].is_null());  // never a bare NaN, which is not JSON
}

TEST(Json, NoGradeLooksLikeAGradeWithoutOne)
{
    // The model's in-band value 1.0 for a signal too short to grade.
    GradeResult r = SampleResult(2);
    r.status = velumar::app::Status::NotGraded;
    r.model.odg = 1.0;
    r.reason = "слишком короткий";
    r.reason_code = "too_short";
    velumar::app::PairCheck check;
    check.delay_samples = -480;
    check.delay_ms = -10.0;
    check.correlation = -0.5;
    check.gain_db = -6.0;
    check.inverted = true;
    check.warnings = {"delay", "level", "inverted"};
    r.check = check;
    velumar::app::Applied applied;
    applied.delay_samples = -480;
    applied.aligned = true;
    r.applied = applied;
    const Json j = ParseLine(JsonLine(ResultJson(r)));
    // The nulls in place of the grade are checked on a real run (cli_e2e_test).
    EXPECT_TRUE(j["odg"].is_null());
    EXPECT_EQ(j["reason"], "слишком короткий");
    EXPECT_EQ(j["reason_code"], "too_short");
    EXPECT_EQ(j["check"]["delay_samples"], -480);
    EXPECT_EQ(j["check"]["warnings"], Json({"delay", "level", "inverted"}));
    EXPECT_EQ(j["applied"]["delay_samples"], -480);

    const std::string text = ResultText(r, "r.wav", "t.wav");
    EXPECT_NE(text.find("Оценка не получена: слишком короткий"), std::string::npos) << text;
    EXPECT_EQ(text.find("Значение ODG"), std::string::npos) << text;
    EXPECT_NE(text.find("опережает эталонный на 480 сэмплов (10.00 мс)"), std::string::npos) << text;
    EXPECT_NE(text.find("инвертирован"), std::string::npos) << text;
    EXPECT_NE(text.find("Задержка убрана: сдвиг на -480 сэмплов"), std::string::npos) << text;
}

TEST(Json, NumbersReadBackToTheSameDouble)
{
    const double values[] = {-1.2345678901234567, 0.1,  1.0 / 3.0, 1e100, -1e-300, 5e-324,
                             2.2250738585072014e-308, 1.7976931348623157e308, -0.0, 3.98};
    for (double v : values) {
        GradeResult r = SampleResult(1);
        r.model.di = v;
        const std::string line = JsonLine(ResultJson(r));
        const double back = ParseLine(line)["di"].get<double>();
        EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << line;
    }
    GradeResult r = SampleResult(1);
    r.model.di = std::numeric_limits<double>::infinity();
    EXPECT_TRUE(ParseLine(JsonLine(ResultJson(r)))["di"].is_null());
}

TEST(Json, EveryControlCharacterIsEscapedAndReadsBack)
{
    std::string all;
    for (int c = 0; c < 0x20; ++c) all += static_cast<char>(c);
    all += "\"\\/\x7f";
    const std::string line = JsonLine(ErrorJson(all, "input"));
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        EXPECT_GE(static_cast<unsigned char>(line[i]), 0x20u) << "raw byte at " << i << " of " << line;
    EXPECT_NE(line.find("\\u0000"), std::string::npos) << line;
    EXPECT_NE(line.find("\\u001f"), std::string::npos) << line;
    EXPECT_EQ(ParseLine(line)["error"], all);
}

TEST(Json, InvalidUtf8BecomesReplacementCharactersWithoutLosingTheRest)
{
    const std::string replacement = "\xEF\xBF\xBD";
    const struct {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"stray byte", "\xFF"},
        {"lone continuation", "\x80"},
        {"overlong slash", "\xC0\xAF"},
        {"UTF-8 of a surrogate", "\xED\xA0\x80"},
        {"cut sequence", "\xE2\x82"},
        {"past U+10FFFF", "\xF4\x90\x80\x80"},
    };
    for (const auto &c : cases) {
        const std::string path = "/данные/" + c.bytes + "/😀.wav";
        std::string line;
        ASSERT_NO_THROW(line = JsonLine(ErrorJson(path, "input"))) << c.name;
        const std::string back = ParseLine(line)["error"];
        EXPECT_TRUE(back.starts_with("/данные/")) << c.name << ": " << back;
        EXPECT_TRUE(back.ends_with("/😀.wav")) << c.name << ": " << back;
        EXPECT_NE(back.find(replacement), std::string::npos) << c.name << ": " << back;
    }
    // Valid text outside ASCII stays as it is, 4-byte sequences included.
    EXPECT_EQ(JsonLine(ErrorJson("путь/😀", "input")),
              "{\"graded\":false,\"error\":\"путь/😀\",\"reason_code\":\"input\"}\n");
}

TEST(Batch, ListLinesHeaderCommentsQuotesAndMalformedLines)
{
    const auto entries = ParseBatchList(
        "\xEF\xBB\xBFReference, Test\r\n"
        "# a comment\n"
        "\n"
        "r1.wav,t1.wav\r\n"
        "  \"with,comma.wav\" , \"say \"\"hi\"\".wav\"\n"
        "only-one-field.wav\n"
        "reference,test\n"
        "/abs/r.wav,t3.wav");
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].reference, "r1.wav");
    EXPECT_EQ(entries[0].line, 4u);
    EXPECT_EQ(entries[1].reference, "with,comma.wav");
    EXPECT_EQ(entries[1].test, "say \"hi\".wav");
    EXPECT_NE(entries[2].error.find("Строка 6"), std::string::npos);
    EXPECT_TRUE(entries[3].error.empty());  // a header only counts as the first line
    EXPECT_EQ(entries[4].reference, "/abs/r.wav");
    // Relative and absolute paths of a list are resolved in the batch run
    // of cli_e2e_test.
}

// Model doubles that fail, to reach the exit codes of failures during a run.
TEST(Grade, FailuresDuringTheRunHaveTheirExitCodesAndMessages)
{
    velumar::testing::TempDir dir;
    const auto bytes = velumar::testing::WavFile({}, velumar::testing::MusicSignal(4096, 1));
    const std::string r = dir.Write("r.wav", bytes);
    const std::string t = dir.Write("t.wav", bytes);
    Options o = Parse({r, t});

    static M_STATE *const kHandle = reinterpret_cast<M_STATE *>(0x10);
    ModelApi failing{[](const M_SETTINGS *) -> M_HANDLE { return kHandle; },
                     [](M_HANDLE, const M_BUFFER *, const M_BUFFER *) -> std::int32_t { return 9; },
                     [](M_HANDLE) { return 0.0; }, [](M_HANDLE, M_RESULTS *) -> std::int32_t { return 0; },
                     [](M_HANDLE) -> std::int32_t { return 0; }};
    GradeOutcome outcome = GradePair(r, t, o, {}, failing);
    EXPECT_EQ(outcome.exit_code, kExitModelFailure);
    EXPECT_EQ(outcome.error, "Сбой при расчёте модели PEAQ: этап вернул код 9");

    failing.create = [](const M_SETTINGS *) -> M_HANDLE { return nullptr; };
    outcome = GradePair(r, t, o, {}, failing);
    EXPECT_EQ(outcome.exit_code, kExitModelFailure);
    EXPECT_EQ(outcome.error, "Не удалось создать экземпляр модели PEAQ");

    // A NUL byte in a path (tests/audio) and a step larger than the file
    // (cli_e2e_test) are refused through the real program.
    // A file cut short during the run is rejected input, named in the message.
    static std::string truncated;
    truncated = t;
    failing.create = [](const M_SETTINGS *) -> M_HANDLE { return kHandle; };
    failing.feed = [](M_HANDLE, const M_BUFFER *, const M_BUFFER *test) -> std::int32_t {
        if (::truncate(truncated.c_str(), 44) != 0) return 1;
        const volatile std::int16_t *last = test->samples + test->count - 1;
        return *last;  // lost with its page: reads as 0
    };
    outcome = GradePair(r, t, Parse({r, t}), {}, failing);
    EXPECT_EQ(outcome.exit_code, kExitInputRejected);
    EXPECT_EQ(outcome.error, "Файл " + t + " изменился во время расчёта");
}

} // namespace
