#include <velumar/cli/cli.h>
#include "json_check.h"
#include "test_wav.h"

#include <gtest/gtest.h>

#include <cmath>

#include <unistd.h>

using namespace velumar::cli;
using velumar::testing::JsonReader;

namespace {

Options Parse(std::vector<std::string> args)
{
    return ParseArguments(args);
}

TEST(Arguments, DefaultsAcceptedFormsAndHelpOrVersionFirst)
{
    Options o = Parse({"r.wav", "t.wav"});
    EXPECT_EQ(o.action, Action::Grade);
    EXPECT_EQ(o.reference + "|" + o.test, "r.wav|t.wav");
    EXPECT_EQ(o.level, 92.0);
    EXPECT_EQ(o.step, 2048u);
    EXPECT_FALSE(o.step_given);

    o = Parse({"--level=0", "--step", "4294967295", "--json", "--no-progress", "--", "-r.wav", "t.wav"});
    EXPECT_EQ(o.action, Action::Grade);
    EXPECT_EQ(o.level, 0.0);
    EXPECT_EQ(o.step, 4294967295u);
    EXPECT_TRUE(o.step_given && o.json);
    EXPECT_EQ(o.progress, ProgressMode::Off);
    EXPECT_EQ(o.reference, "-r.wav");
    EXPECT_EQ(Parse({"--level", "1e2", "a", "b"}).level, 100.0);

    o = Parse({"--batch", "list.csv", "--jobs=3", "--progress"});
    EXPECT_EQ(o.action, Action::Batch);
    EXPECT_EQ(o.batch_list, "list.csv");
    EXPECT_EQ(o.jobs, 3u);
    EXPECT_EQ(o.progress, ProgressMode::On);

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
        {{"--level", "100.5", "a", "b"}, "\"100.5\""},
        {{"--level", "nan", "a", "b"}, "\"nan\""},
        {{"--level", " 50", "a", "b"}, "\" 50\""},
        {{"--step", "0", "a", "b"}, "Недопустимый размер шага \"0\""},
        {{"--step", "4294967296", "a", "b"}, "\"4294967296\""},
        {{"--step", "12x", "a", "b"}, "\"12x\""},
        {{"a", "b", "--step"}, "Для параметра --step не задано значение"},
        {{"--jobs", "257", "--batch", "l"}, "Недопустимое число потоков \"257\""},
        {{"--jobs", "2", "a", "b"}, "--jobs используется только вместе с --batch"},
        {{"--batch", "l", "a"}, "С параметром --batch"},
        {{"a", "b", "c"}, "Нужно указать два файла"},
        {{"--json=1", "a", "b"}, "Неизвестный параметр --json=1"},
    };
    for (const auto &c : cases) {
        const Options o = Parse(c.args);
        EXPECT_EQ(o.action, Action::UsageError) << c.message;
        EXPECT_NE(o.error.find(c.message), std::string::npos) << o.error;
    }
}

TEST(Format, DurationTruncatesEachPart)
{
    EXPECT_EQ(FormatDuration(12345.6), "02:03,45");
    EXPECT_EQ(FormatDuration(6000.0), "01:00,00");
    EXPECT_EQ(FormatDuration(99.999), "00:00,99");
    EXPECT_EQ(FormatDuration(0.0), "00:00,00");
    EXPECT_EQ(FormatDuration(-5.0), "00:00,00");
    EXPECT_EQ(FormatDuration(std::nan("")), "00:00,00");
}

TEST(Format, StatisticsWithoutADivisionByZero)
{
    RunStats s;
    s.values = 47999;
    s.total_time = 50.0;
    EXPECT_FALSE(s.RealTimeFactor(48000));
    EXPECT_DOUBLE_EQ(*s.Speed(), 47999.0 / 0.5);
    s.values = 96001;  // whole seconds only: 2
    EXPECT_DOUBLE_EQ(*s.RealTimeFactor(48000), 50.0 / 200.0);
    s.total_time = 0.0;
    EXPECT_FALSE(s.Speed());
}

TEST(Format, JsonNumbersReadBackExactlyAndStringsAreEscaped)
{
    for (double v : {-1.2345678901234567, 0.1, 1e100, -1e-300, 5e-324}) {
        const auto parsed = JsonReader::Parse(JsonNumber(v));
        ASSERT_TRUE(parsed) << JsonNumber(v);
        EXPECT_EQ(parsed->number, v);
    }
    EXPECT_EQ(JsonNumber(std::nan("")), "null");
    EXPECT_EQ(JsonString("a\"b\\c\n\x01/путь\xff"), "\"a\\\"b\\\\c\\n\\u0001/путь\\ufffd\"");
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
    EXPECT_EQ(entries[0].test, "t1.wav");
    EXPECT_EQ(entries[0].line, 4u);
    EXPECT_EQ(entries[1].reference, "with,comma.wav");
    EXPECT_EQ(entries[1].test, "say \"hi\".wav");
    EXPECT_NE(entries[2].error.find("Строка 6"), std::string::npos);
    EXPECT_TRUE(entries[3].error.empty());  // a header only counts as the first line
    EXPECT_EQ(entries[4].reference, "/abs/r.wav");

    EXPECT_EQ(ResolveListPath("/lists", "r.wav"), "/lists/r.wav");
    EXPECT_EQ(ResolveListPath("/lists", "/abs/r.wav"), "/abs/r.wav");
    EXPECT_EQ(ResolveListPath("", "r.wav"), "r.wav");
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

    o = Parse({"--step", "4097", r, t});  // more than the 4096 values of the file
    outcome = GradePair(r, t, o, {}, failing);
    EXPECT_EQ(outcome.exit_code, kExitUsage);
    EXPECT_EQ(outcome.error, "Размер шага 4097 больше числа 16-битных значений в эталонном файле");

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
