#include <velumar/runner/model_runner.h>

#include <velumar/audio/wave_file.h>

#include <chrono>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

// Sends one event: the stop flag is cleared before the call, and whatever
// the observer left in it is returned.
std::int32_t Notify(CRunObserver *observer, const RUN_EVENT &event)
{
    std::int32_t stop = 0;
    observer->OnRunEvent(event, &stop);
    return stop;
}

RUN_EVENT GradeEvent(std::int32_t type, double grade)
{
    RUN_EVENT event{};
    event.type = type;
    event.grade = grade;
    return event;
}

} // namespace

RUN_SETTINGS DefaultRunSettings()
{
    M_SETTINGS_DEFAULTS defaults{};
    velumar_get_default_settings(&defaults);
    RUN_SETTINGS settings{};
    settings.version = defaults.version;
    settings.sample_rate = defaults.sample_rate;
    settings.bits_per_sample = defaults.bits_per_sample;
    settings.listening_level_db = defaults.level_default;
    settings.step = defaults.step_default;
    return settings;
}

const ModelApi &LibraryModelApi()
{
    static const ModelApi api{&velumar_create_method,         &velumar_method,
                              &velumar_get_objective_difference_grade, &velumar_get_model_results,
                              &velumar_destroy_method,        &velumar_create_method_ex,
                              &velumar_set_frame_observer};
    return api;
}

// The two mapped files, read in place.
class CModelRunner::WavePair final : public CRunInput {
public:
    WavePair(const CWaveFile *reference, const CWaveFile *test) : reference_(reference), test_(test) {}

    std::uint16_t channel_count() const override { return reference_->channel_count(); }
    // The reference decides the length; the pair check guarantees that the
    // test file's data chunk has the same size.
    std::uint32_t value_count() const override { return GetSampleCount(*reference_); }
    void NextBlock(std::uint32_t count, const std::int16_t **reference, const std::int16_t **test) override
    {
        // The model keeps what it still needs of a block in its own carry,
        // so the blocks it was given are never read again: their pages may
        // go, and memory stays flat however long the files are.
        reference_->ReleaseSamplesBefore(reference_->sample_data() + done_);
        test_->ReleaseSamplesBefore(test_->sample_data() + done_);
        *reference = reference_->sample_data() + done_;
        *test = test_->sample_data() + done_;
        done_ += count;
    }
    // A file cut short under the mapping reads as zeros (see
    // mapping_guard.h): the step's result is void, and so is the run.
    void CheckStep() const override
    {
        ThrowIfFaulted(*reference_);
        ThrowIfFaulted(*test_);
    }
    // A file rewritten in place, or cut short where it was not read again,
    // shows in its size or time: checked once before any grade goes out
    // rather than with a system call on every step.
    void CheckEnd() const override
    {
        ThrowIfChanged(*reference_);
        ThrowIfChanged(*test_);
    }

private:
    const CWaveFile *reference_;
    const CWaveFile *test_;
    std::size_t done_ = 0;
};

CModelRunner::CModelRunner(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
                           CRunObserver *observer, const ModelApi &api)
    : CModelRunner(reference, test, settings, observer, ModelMessages{}, api)
{
}

CModelRunner::CModelRunner(CRunInput *input, RUN_SETTINGS settings, CRunObserver *observer, const ModelApi &api)
    : CModelRunner(input, settings, observer, ModelMessages{}, api, nullptr)
{
}

CModelRunner::CModelRunner(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
                           CRunObserver *observer, ModelMessages messages, const ModelApi &api)
    : CModelRunner(nullptr, settings, observer, messages, api, std::make_unique<WavePair>(reference, test))
{
    test_ = test;
    reference_ = reference;
}

CModelRunner::CModelRunner(CRunInput *input, RUN_SETTINGS settings, CRunObserver *observer,
                           ModelMessages messages, const ModelApi &api)
    : CModelRunner(input, settings, observer, messages, api, nullptr)
{
}

CModelRunner::CModelRunner(CRunInput *input, RUN_SETTINGS settings, CRunObserver *observer,
                           ModelMessages messages, const ModelApi &api, std::unique_ptr<WavePair> own)
    : step_(settings.step),
      notify_(observer != nullptr ? 1 : 0),
      own_input_(std::move(own)),
      input_(own_input_ ? own_input_.get() : input),
      observer_(observer),
      api_(api)
{
    // A step of 0 would never finish a pass; callers validate it, this
    // keeps a slip from turning into an endless loop.
    if (step_ == 0) throw std::invalid_argument("model runner: step must be at least 1");
    if (input_ == nullptr) throw std::invalid_argument("model runner: no input");

    model_settings_.version = settings.version;
    model_settings_.reserved1 = 0;
    model_settings_.reserved2 = 0;
    model_settings_.listening_level_db = settings.listening_level_db;
    model_settings_.reserved3 = 0;
    model_settings_.reserved4 = 0;
    model_settings_.sample_rate = settings.sample_rate;
    // The test's channel count is not consulted: the pair has been checked
    // to agree before a runner is made.
    model_settings_.channel_mode = input_->channel_count() == 2 ? 1 : 0;

    handle_ = messages.handler != nullptr && api_.create_with_messages != nullptr
                  ? api_.create_with_messages(&model_settings_, messages.handler, messages.user)
                  : api_.create(&model_settings_);
    if (handle_ == nullptr) throw PeaqErrors::ModelCreationFailed();
}

CModelRunner::~CModelRunner()
{
    if (handle_ != nullptr) api_.destroy(handle_);
}

void CModelRunner::Run()
{
    const std::uint32_t total = input_->value_count();
    M_BUFFER reference_block{nullptr, 0};
    M_BUFFER test_block{nullptr, 0};

    if (notify_ != 0) {
        RUN_EVENT started{};
        started.type = RUN_STARTED;
        started.value = total / step_;
        Notify(observer_, started);  // the stop flag is only honoured after a step
    }

    auto last = Clock::now();
    std::uint32_t done = 0;
    while (done != total) {
        const std::uint32_t count = total - done < step_ ? total - done : step_;
        input_->NextBlock(count, &reference_block.samples, &test_block.samples);
        reference_block.count = count;
        test_block.count = count;
        const std::int32_t code = api_.feed(handle_, &reference_block, &test_block);
        input_->CheckStep();
        if (code != 0) throw PeaqErrors::ModelExecutionError{code};
        done += count;

        if (notify_ != 0) {
            const auto now = Clock::now();
            RUN_EVENT step{};
            step.type = RUN_STEP;
            step.value = step_;  // as configured, also after a shorter last step
            step.step_time = std::chrono::duration<double, std::centi>(now - last).count();
            last = now;
            if (Notify(observer_, step) != 0) {
                input_->CheckEnd();
                Notify(observer_, GradeEvent(RUN_STOPPED, api_.grade(handle_)));
                return;
            }
        }
    }

    input_->CheckEnd();
    if (notify_ != 0) Notify(observer_, GradeEvent(RUN_FINISHED, api_.grade(handle_)));
}

std::int32_t CModelRunner::SetFrameObserver(velumar_frame_observer observer, void *user)
{
    return api_.set_frame_observer != nullptr ? api_.set_frame_observer(handle_, observer, user) : 1;
}

std::int32_t CModelRunner::Results(M_RESULTS *results) const
{
    return api_.results(handle_, results);
}

void RunModel(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
              CRunObserver *observer, M_RESULTS *results)
{
    RunModel(reference, test, settings, observer, results, ModelMessages{});
}

void RunModel(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
              CRunObserver *observer, M_RESULTS *results, ModelMessages messages)
{
    CModelRunner runner(reference, test, settings, observer, messages);
    runner.Run();
    if (results != nullptr) runner.Results(results);
}
