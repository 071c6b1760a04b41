// The model runner: one calculation over one pair of open WAV files.
//
// It creates a model instance, feeds both signals to it in steps of a
// configurable number of 16-bit values straight from the mapped files,
// times every step, reports start, steps and the end (or an early stop) to
// an observer, and releases the instance when it is destroyed. It knows
// nothing of windows; the observer is called synchronously on the thread
// that runs the calculation.
#pragma once

#include <velumar/model.h>

#include <cstdint>
#include <memory>

class CWaveFile;

struct RUN_SETTINGS {
    std::int32_t version;          // 0 basic, 1 advanced, 2 free
    std::uint32_t sample_rate;     // Hz, handed to the model
    std::uint32_t bits_per_sample; // carried, not read
    double listening_level_db;
    std::uint32_t step;            // 16-bit values per call of method(), >= 1
};

// The library's defaults as run settings.
RUN_SETTINGS DefaultRunSettings();

enum RUN_EVENT_TYPE : std::int32_t {
    RUN_STARTED = 0,   // value = announced steps (values / step, rounded down)
    RUN_STEP = 1,      // value = step as configured; step_time
    RUN_FINISHED = 2,  // grade
    RUN_STOPPED = 3,   // grade of what was processed
};

struct RUN_EVENT {
    std::int32_t type;
    union {
        std::uint32_t value;
        double grade;
    };
    double step_time;  // hundredths of a second
};

class CRunObserver {
public:
    // Called for every event; set *stop non-zero after RUN_STEP to ask the
    // runner to stop. *stop is 0 on entry.
    virtual void OnRunEvent(RUN_EVENT event, std::int32_t *stop) = 0;

protected:
    ~CRunObserver() = default;
};

namespace PeaqErrors {
struct ModelCreationFailed {};
struct ModelExecutionError {
    std::int32_t code;  // the stage code method() returned, 1..22
};
} // namespace PeaqErrors

// Where the model's diagnostic lines go (the level line of creation and any
// failure): to handler with user, or to standard output when handler is
// null. A front end that writes its own results to standard output routes
// them elsewhere.
struct ModelMessages {
    velumar_message_handler handler = nullptr;
    void *user = nullptr;
};

// The model entry points the runner calls. The library's own by default;
// tests substitute doubles to reach failure paths that real signals cannot.
struct ModelApi {
    M_HANDLE (*create)(const M_SETTINGS *);
    std::int32_t (*feed)(M_HANDLE, const M_BUFFER *, const M_BUFFER *);
    double (*grade)(M_HANDLE);
    std::int32_t (*results)(M_HANDLE, M_RESULTS *);
    std::int32_t (*destroy)(M_HANDLE);
    // Creation with a message handler; used instead of create when the
    // runner is given one. A double without it is created by create.
    M_HANDLE (*create_with_messages)(const M_SETTINGS *, velumar_message_handler, void *) = nullptr;
    // Registers a per-frame observer; a double without it sends no frames.
    std::int32_t (*set_frame_observer)(M_HANDLE, velumar_frame_observer, void *) = nullptr;
};
const ModelApi &LibraryModelApi();

// A pair of signals the runner feeds from, block by block: the mapped files
// of the constructor below, or any other source of interleaved 16-bit
// values at the model's rate (a trimmed or level-matched pair, a decoder).
class CRunInput {
public:
    // Channels of the reference (1 or 2): the model's channel mode.
    virtual std::uint16_t channel_count() const = 0;
    // 16-bit values of each signal to be fed, both channels together.
    virtual std::uint32_t value_count() const = 0;
    // Points *reference and *test at the next `count` values of each signal
    // (count never exceeds what remains, nor the step). The values stay
    // valid until the next call.
    virtual void NextBlock(std::uint32_t count, const std::int16_t **reference, const std::int16_t **test) = 0;
    // After every step: throws when what was just read is void (a file cut
    // short under its mapping). Must be cheap.
    virtual void CheckStep() const {}
    // Before any grade goes out: throws when an input changed at all.
    virtual void CheckEnd() const {}

protected:
    ~CRunInput() = default;
};

class CModelRunner {
public:
    // Creates the model instance; throws PeaqErrors::ModelCreationFailed.
    // The files are borrowed and must outlive the runner; observer may be
    // null (then nothing is reported and no grade is computed).
    CModelRunner(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
                 CRunObserver *observer, const ModelApi &api = LibraryModelApi());
    // The same over any input; it is borrowed and must outlive the runner.
    CModelRunner(CRunInput *input, RUN_SETTINGS settings, CRunObserver *observer,
                 const ModelApi &api = LibraryModelApi());
    // Both, with the model's lines sent where messages says.
    CModelRunner(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
                 CRunObserver *observer, ModelMessages messages, const ModelApi &api = LibraryModelApi());
    CModelRunner(CRunInput *input, RUN_SETTINGS settings, CRunObserver *observer, ModelMessages messages,
                 const ModelApi &api = LibraryModelApi());
    virtual ~CModelRunner();  // releases the model instance
    CModelRunner(const CModelRunner &) = delete;
    CModelRunner &operator=(const CModelRunner &) = delete;

    // The whole pass; throws PeaqErrors::ModelExecutionError,
    // WaveErrors::FileChangedError when either file changed under the run
    // (checked after every step), and passes on whatever the observer throws.
    void Run();

    // Before Run(): every frame's values go to observer with user, on the
    // thread that runs the calculation (see velumar_set_frame_observer).
    // Returns 0, or 1 when the model entry points cannot register one.
    std::int32_t SetFrameObserver(velumar_frame_observer observer, void *user);

    // After Run(): the grade, DI and model output variables of the run.
    // Returns what get_model_results returns.
    std::int32_t Results(M_RESULTS *results) const;

private:
    class WavePair;
    CModelRunner(CRunInput *input, RUN_SETTINGS settings, CRunObserver *observer, ModelMessages messages,
                 const ModelApi &api, std::unique_ptr<WavePair> own);

    std::uint32_t step_;
    std::int32_t notify_;
    const CWaveFile *test_ = nullptr;
    const CWaveFile *reference_ = nullptr;
    std::unique_ptr<WavePair> own_input_;  // the files' input, for the first constructor
    CRunInput *input_ = nullptr;
    M_HANDLE handle_ = nullptr;
    M_SETTINGS model_settings_{};
    CRunObserver *observer_;
    const ModelApi &api_;
};

// One calculation on a runner of its own: construct, Run, destroy (the model
// instance is released also when an exception passes through). When results
// is not null it receives the run's results before the runner goes away.
void RunModel(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
              CRunObserver *observer, M_RESULTS *results = nullptr);
void RunModel(const CWaveFile *reference, const CWaveFile *test, RUN_SETTINGS settings,
              CRunObserver *observer, M_RESULTS *results, ModelMessages messages);
