// Page 3: settings, Start and Stop, and the progress of a calculation.
//
// The calculation runs on a worker thread so that the window stays
// responsive however long one step takes. The page is the runner's observer:
// OnRunEvent is called on the worker, keeps the run statistics and the four
// texts up to date on every step under a mutex, and returns the stop
// request. The GUI thread takes the latest texts at screen rate from a
// timer, so a fast run never floods the event queue with repaints. When
// RunModel has returned, the worker leaves the outcome under the mutex and
// raises a flag; the same timer sees it, joins the worker and only then
// shows the results or the failure. Nothing crosses threads through Qt's
// event queue, so every hand-over is one the page makes itself.
#pragma once

#include "wizard.h"

#include <velumar/app/run_statistics.h>
#include <velumar/report/frame_collector.h>
#include <velumar/report/report_data.h>
#include <velumar/runner/model_runner.h>

#include <QString>

#include <atomic>
#include <memory>
#include <cstdint>
#include <mutex>
#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace velumar::ui {

// Hundredths of a second as "mm:ss,hh".
QString FormatDuration(double t);

// The run statistics the page keeps, updated by the runner's events.
using RunStatistics = app::RunStatistics;

class CProgressPage : public CWizardPage, public CRunObserver {
    Q_OBJECT
public:
    explicit CProgressPage(CWizard *wizard);
    ~CProgressPage() override;

    void OnSetActive() override;

    void OnStart();
    void OnStop();
    void OnSettings();

    // Called by the runner on the worker thread.
    void OnRunEvent(RUN_EVENT event, std::int32_t *stop) override;

    bool IsRunning() const { return running_; }
    // The wizard is being closed during a run: stop, then close it.
    void StopForClose();

    const RUN_SETTINGS &settings() const { return settings_; }
    RUN_SETTINGS &settings() { return settings_; }
    RunStatistics statistics() const;

    // Shows the texts and progress of the latest step (the screen-rate
    // timer calls it while a calculation runs).
    void UpdateProgress();

    QPushButton *startButton() const { return start_; }
    QPushButton *stopButton() const { return stop_; }
    QPushButton *settingsButton() const { return settings_button_; }
    QProgressBar *progressBar() const { return progress_; }

signals:
    // A calculation ended: finished, stopped or failed.
    void runEnded();

private:
    enum class Outcome { None, Finished, Stopped, CreationFailed, ExecutionError, FileError, OtherError };

    void SetRunning(bool running);
    void LaunchRun();
    void FinishRun();
    void JoinWorker();
    // The screen-rate timer: the latest texts, and the end of the run.
    void Poll();

    RUN_SETTINGS settings_;
    std::atomic<std::int32_t> cancel_request_{0};
    std::atomic<bool> worker_done_{false};
    bool running_ = false;
    bool close_pending_ = false;

    // Shared with the worker; guarded by mutex_.
    mutable std::mutex mutex_;
    RunStatistics stats_;
    char step_time_text_[32] = {};
    char step_values_text_[16] = {};
    char elapsed_text_[16] = {};
    char remaining_text_[16] = {};
    std::uint64_t generation_ = 0;   // bumped by every event that changes what is shown
    std::uint64_t shown_generation_ = 0;
    bool range_changed_ = false;
    Outcome outcome_ = Outcome::None;
    double grade_ = 0.0;
    std::uint64_t total_values_ = 0;  // of the run, for the statistics
    // Why the model gave no grade (its value is then an in-band failure
    // value); empty after a graded run.
    QString not_graded_reason_;
    // What the details window shows of the last run: the record and the
    // per-frame values gathered during it.
    report::ReportData details_;
    std::shared_ptr<report::FrameCollector> frames_;
    std::int32_t error_code_ = 0;
    QString error_detail_;

    std::thread worker_;

    QPushButton *start_;
    QPushButton *stop_;
    QPushButton *settings_button_;
    QProgressBar *progress_;
    QLabel *step_time_label_;
    QLabel *step_values_label_;
    QLabel *elapsed_label_;
    QLabel *remaining_label_;
    QTimer *refresh_;
};

} // namespace velumar::ui
