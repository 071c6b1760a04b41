#include <velumar/runner/model_runner.h>
#include "test_wav.h"
#include <velumar/audio/wave_file.h>

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velumar::testing;

namespace {

// A model double: records what the runner asks of it and fails on demand.
struct Fake {
    bool create_fails = false;
    int fail_at_call = 0;        // 1-based call of feed that fails, 0 = none
    std::int32_t fail_code = 0;
    M_SETTINGS settings{};
    std::vector<std::uint32_t> counts;
    std::vector<const std::int16_t *> ref_blocks, test_blocks;
    long long checksum = 0;      // every value is read, as the model would
    int grades = 0;
    int destroys = 0;
} fake;

M_STATE *const kHandle = reinterpret_cast<M_STATE *>(0x1000);

const ModelApi kFakeApi{
    [](const M_SETTINGS *s) -> M_HANDLE {
        fake.settings = *s;
        return fake.create_fails ? nullptr : kHandle;
    },
    [](M_HANDLE, const M_BUFFER *r, const M_BUFFER *t) -> std::int32_t {
        EXPECT_EQ(r->count, t->count);
        fake.counts.push_back(r->count);
        fake.ref_blocks.push_back(r->samples);
        fake.test_blocks.push_back(t->samples);
        fake.checksum = std::accumulate(r->samples, r->samples + r->count, fake.checksum);
        fake.checksum = std::accumulate(t->samples, t->samples + t->count, fake.checksum);
        return static_cast<int>(fake.counts.size()) == fake.fail_at_call ? fake.fail_code : 0;
    },
    [](M_HANDLE) {
        ++fake.grades;
        return -1.5;
    },
    [](M_HANDLE, M_RESULTS *r) -> std::int32_t {
        r->odg = -1.5;
        return 0;
    },
    [](M_HANDLE h) -> std::int32_t {
        EXPECT_EQ(h, kHandle);
        ++fake.destroys;
        return 0;
    },
};

struct Recorder final : CRunObserver {
    std::vector<RUN_EVENT> events;
    std::size_t stop_at_step = 0;  // 1-based RUN_STEP that asks to stop
    void OnRunEvent(RUN_EVENT e, std::int32_t *stop) override
    {
        EXPECT_EQ(*stop, 0);
        events.push_back(e);
        if (e.type == RUN_STEP && Steps() == stop_at_step) *stop = 1;
        if (e.type == RUN_STEP) { EXPECT_GE(e.step_time, 0.0); }
    }
    std::size_t Steps() const
    {
        std::size_t n = 0;
        for (const auto &e : events) n += e.type == RUN_STEP;
        return n;
    }
};

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override { fake = Fake{}; }
    // A pair of files with `values` 16-bit values each.
    void MakePair(std::uint32_t values, std::uint16_t channels = 1)
    {
        WavSpec spec;
        spec.channels = channels;
        const auto signal = MusicSignal(values / channels, channels);
        std::vector<std::int16_t> samples(signal.begin(), signal.end());
        samples.resize(values, 3);
        reference = std::make_unique<CWaveFile>(dir.Write("r.wav", WavFile(spec, samples)));
        test = std::make_unique<CWaveFile>(dir.Write("t.wav", WavFile(spec, AddNoise(samples, 50))));
    }

    void Run(std::uint32_t step, CRunObserver *observer)
    {
        RUN_SETTINGS s = DefaultRunSettings();
        s.step = step;
        CModelRunner runner(reference.get(), test.get(), s, observer, kFakeApi);
        runner.Run();
    }

    TempDir dir;
    std::unique_ptr<CWaveFile> reference, test;
};

TEST_F(RunnerTest, AnnouncedAndMadeStepsForEveryShapeOfTheDataAndAStop)
{
    const struct {
        std::uint32_t values, step, announced;
        std::vector<std::uint32_t> counts;
        std::size_t stop_at_step = 0;
    } cases[] = {
        {8192, 2048, 4, {2048, 2048, 2048, 2048}},  // a multiple of the step
        {5000, 2048, 2, {2048, 2048, 904}},         // one step more than announced
        {1000, 2048, 0, {1000}},                    // step larger than the file
        {0, 2048, 0, {}},                           // empty data chunk
        {8192, 2048, 4, {2048}, 1},                 // stopped at the first step: that block is graded
    };
    for (const auto &c : cases) {
        SetUp();
        MakePair(c.values);
        Recorder rec;
        rec.stop_at_step = c.stop_at_step;
        Run(c.step, &rec);
        EXPECT_EQ(fake.counts, c.counts) << c.values;
        ASSERT_EQ(rec.events.size(), c.counts.size() + 2);
        EXPECT_EQ(rec.events.front().type, RUN_STARTED);
        EXPECT_EQ(rec.events.front().value, c.announced);
        for (std::size_t i = 1; i + 1 < rec.events.size(); ++i) {
            EXPECT_EQ(rec.events[i].type, RUN_STEP);
            EXPECT_EQ(rec.events[i].value, c.step);  // also after a short last step
        }
        EXPECT_EQ(rec.events.back().type, c.stop_at_step != 0 ? RUN_STOPPED : RUN_FINISHED);
        EXPECT_EQ(rec.events.back().grade, -1.5);
        EXPECT_EQ(fake.grades, 1);
        EXPECT_EQ(fake.destroys, 1);
    }
}

TEST_F(RunnerTest, BlocksAreConsecutiveRunsOfTheMappedSamples)
{
    MakePair(4000, 2);
    Run(1001, nullptr);  // odd: blocks end between the values of a pair
    ASSERT_EQ(fake.counts.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(fake.ref_blocks[i], reference->sample_data() + 1001 * i);
        EXPECT_EQ(fake.test_blocks[i], test->sample_data() + 1001 * i);
    }
    EXPECT_EQ(fake.settings.channel_mode, 1);
    EXPECT_EQ(fake.grades, 0);  // no observer: no events and no grade
}

// A failing stage, a failed creation or a throwing observer ends the run;
// a model that was made is released exactly once.
TEST_F(RunnerTest, FailuresEndTheRunAndReleaseTheModelOnce)
{
    MakePair(8192);
    fake.fail_at_call = 3;
    fake.fail_code = 17;
    Recorder rec;
    try {
        Run(2048, &rec);
        FAIL() << "no exception";
    } catch (const PeaqErrors::ModelExecutionError &e) {
        EXPECT_EQ(e.code, 17);
    }
    EXPECT_EQ(rec.Steps(), 2u);
    EXPECT_EQ(rec.events.back().type, RUN_STEP);  // no final event
    EXPECT_EQ(fake.grades, 0);
    EXPECT_EQ(fake.destroys, 1);

    SetUp();
    fake.create_fails = true;
    EXPECT_THROW(Run(2048, nullptr), PeaqErrors::ModelCreationFailed);
    EXPECT_EQ(fake.destroys, 0);
    EXPECT_THROW(Run(0, nullptr), std::invalid_argument);

    fake.create_fails = false;
    struct Throwing final : CRunObserver {
        void OnRunEvent(RUN_EVENT e, std::int32_t *) override
        {
            if (e.type == RUN_STEP) throw std::runtime_error("observer");
        }
    } throwing;
    EXPECT_THROW(Run(2048, &throwing), std::runtime_error);
    EXPECT_EQ(fake.destroys, 1);
}

// Another process cuts the test file down to its header after the second
// step: the third step reads zeros where the samples were, and the run ends
// with the file's name instead of a grade (or a SIGBUS).
TEST_F(RunnerTest, FileTruncatedDuringTheRunEndsItNamingThatFile)
{
    MakePair(8192);
    const std::string path = (dir.path() / "t.wav").string();
    struct Truncator final : CRunObserver {
        const std::string *path;
        std::size_t steps = 0;
        void OnRunEvent(RUN_EVENT e, std::int32_t *) override
        {
            if (e.type != RUN_STEP || ++steps != 2) return;
            const pid_t child = ::fork();
            if (child == 0) ::_exit(::truncate(path->c_str(), 44) == 0 ? 0 : 1);
            int status = -1;
            ::waitpid(child, &status, 0);
            ASSERT_EQ(status, 0);
        }
    } truncator;
    truncator.path = &path;
    try {
        Run(2048, &truncator);
        FAIL() << "no exception";
    } catch (const WaveErrors::FileChangedError &e) {
        EXPECT_EQ(e.text(), "Файл " + path + " изменился во время расчёта");
    }
    EXPECT_EQ(fake.counts.size(), 3u);
    EXPECT_EQ(truncator.steps, 2u);
    EXPECT_EQ(fake.destroys, 1);
}

// A file rewritten in place keeps its size and reads without a fault: its
// new time stops the run before a grade goes out.
TEST_F(RunnerTest, FileRewrittenInPlaceGetsNoGrade)
{
    MakePair(8192);
    const std::string path = (dir.path() / "r.wav").string();
    struct timespec times[2] = {{0, UTIME_OMIT}, {1, 0}};  // a modification time long past
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    Recorder recorder;
    EXPECT_THROW(Run(2048, &recorder), WaveErrors::FileChangedError);
    EXPECT_EQ(fake.counts.size(), 4u);  // every step was made
    EXPECT_EQ(fake.grades, 0);
    EXPECT_EQ(recorder.events.back().type, RUN_STEP);
    EXPECT_EQ(fake.destroys, 1);
}

// Calculations run side by side, as a batch runs them: each instance of the
// library keeps its state to itself, so every grade equals the one a lone
// run of the same pair gets, to the last bit. Two pairs with different
// degradations, so a grade that leaked between instances shows.
TEST(RunnerThreads, SideBySideRunsGradeAsLoneRunsDo)
{
    TempDir dir;
    const auto signal = MusicSignal(48000 * 2, 1);
    const std::string reference = dir.Write("r.wav", WavFile(WavSpec{}, signal));
    const std::string tests[2] = {dir.Write("t0.wav", WavFile(WavSpec{}, AddNoise(signal, 30))),
                                  dir.Write("t1.wav", WavFile(WavSpec{}, AddNoise(signal, 3000)))};
    struct Grade final : CRunObserver {
        double grade = 0.0;
        int ends = 0;
        void OnRunEvent(RUN_EVENT e, std::int32_t *) override
        {
            if (e.type == RUN_FINISHED) {
                grade = e.grade;
                ++ends;
            }
        }
    };
    auto grade_of = [&](int pair, Grade &observer) {
        const CWaveFile ref(reference);
        const CWaveFile test(tests[pair]);
        RunModel(&ref, &test, DefaultRunSettings(), &observer);
    };
    Grade lone[2];
    grade_of(0, lone[0]);
    grade_of(1, lone[1]);
    ASSERT_NE(lone[0].grade, lone[1].grade);

    Grade side[4];
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([&, i] { grade_of(i % 2, side[i]); });
    for (std::thread &t : threads) t.join();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(side[i].ends, 1) << i;
        EXPECT_EQ(side[i].grade, lone[i % 2].grade) << i;
    }
}


// An input of its own: a stereo pair in memory, with the checks counted
// and the end check failing on demand.
struct MemoryInput final : CRunInput {
    std::vector<std::int16_t> reference, test;
    std::size_t done = 0;
    std::vector<std::uint32_t> asked;
    mutable int step_checks = 0;
    bool end_fails = false;

    std::uint16_t channel_count() const override { return 2; }
    std::uint32_t value_count() const override { return static_cast<std::uint32_t>(reference.size()); }
    void NextBlock(std::uint32_t count, const std::int16_t **r, const std::int16_t **t) override
    {
        asked.push_back(count);
        *r = reference.data() + done;
        *t = test.data() + done;
        done += count;
    }
    void CheckStep() const override { ++step_checks; }
    void CheckEnd() const override
    {
        if (end_fails) throw std::runtime_error("changed");
    }
};

TEST_F(RunnerTest, AnyBlockInputIsFedAndCheckedLikeTheFiles)
{
    MemoryInput input;
    input.reference = MusicSignal(2500, 2);
    input.test = AddNoise(input.reference, 50);
    RUN_SETTINGS s = DefaultRunSettings();
    s.step = 2048;
    Recorder rec;
    {
        CModelRunner runner(&input, s, &rec, kFakeApi);
        runner.Run();
    }
    EXPECT_EQ(input.asked, (std::vector<std::uint32_t>{2048, 2048, 904}));
    EXPECT_EQ(fake.counts, input.asked);
    EXPECT_EQ(fake.ref_blocks[1], input.reference.data() + 2048);
    EXPECT_EQ(input.step_checks, 3);
    EXPECT_EQ(rec.events.back().type, RUN_FINISHED);
    EXPECT_EQ(fake.destroys, 1);

    // An input that changed under the run gets no grade.
    SetUp();
    input.done = 0;
    input.end_fails = true;
    Recorder none;
    {
        CModelRunner runner(&input, s, &none, kFakeApi);
        EXPECT_THROW(runner.Run(), std::runtime_error);
    }
    EXPECT_EQ(fake.grades, 0);
    EXPECT_NE(none.events.back().type, RUN_FINISHED);
    EXPECT_EQ(fake.destroys, 1);
}

} // namespace
