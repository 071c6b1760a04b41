#include "progress_page.h"

#include "control_ids.h"
#include "results_page.h"
#include "settings_dialog.h"
#include <velumar/app/report_record.h>
#include <velumar/report/model_frame.h>
#include <velumar/text/texts.h>

#include <velumar/app/pipeline.h>
#include <velumar/audio/wave_file.h>

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>

namespace velumar::ui {

namespace {

// How often the GUI takes the latest step's texts while a calculation
// runs: a little faster than the eye needs, far slower than a fast run
// produces steps.
constexpr int kRefreshMs = 25;

} // namespace

QString FormatDuration(double t)
{
    char buffer[48];
    app::FormatDuration(t, buffer, sizeof buffer);
    return QString::fromLatin1(buffer);
}

CProgressPage::CProgressPage(CWizard *wizard)
    : CWizardPage(wizard, text::IDS_CAPTION_PROGRESS), settings_(DefaultRunSettings())
{
    const DialogLayout &l = layout();


    QLabel *intro = l.label(this, QStringLiteral("Нажмите кнопку \"Старт\" чтобы начать расчёт.\n"
                                         "Кнопка \"Стоп\" позволяет прервать поток расчёта.\n"
                                         "Кнопка \"Настройки...\" позволяет настроить алгоритм PEAQ "
                                         "перед выполнением расчёта."),
                          7, 7, 327, 28);
    intro->setWordWrap(true);

    auto *control_group = new QGroupBox(QStringLiteral("Управление потоком расчётов по алгоритму PEAQ"), this);
    l.place(control_group, 7, 40, 327, 35);
    start_ = new QPushButton(QStringLiteral("С&тарт"), this);
    control::NameControl(start_, "startButton", control::kStart);
    start_->setDefault(true);
    l.place(start_, 15, 55, 65, 14);
    stop_ = new QPushButton(QStringLiteral("Сто&п"), this);
    control::NameControl(stop_, "stopButton", control::kStop);
    stop_->setEnabled(false);
    l.place(stop_, 90, 55, 65, 14);
    settings_button_ = new QPushButton(QStringLiteral("Настройки..."), this);
    control::NameControl(settings_button_, "settingsButton", control::kSettings);
    l.place(settings_button_, 165, 55, 65, 14);

    auto *progress_group = new QGroupBox(QStringLiteral("Ход выполнения потока расчётов"), this);
    l.place(progress_group, 7, 82, 327, 103);
    l.label(this, QStringLiteral("Процент завершённости:"), 15, 95, 86, 8);
    progress_ = new QProgressBar(this);
    control::NameControl(progress_, "progressBar", control::kProgressBar);
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    l.place(progress_, 15, 105, 310, 14);

    l.label(this, QStringLiteral("Время выполнения последнего шага (мс):"), 15, 125, 144, 8, Qt::AlignRight);
    step_time_label_ = l.valueLabel(this, "stepTimeValue", control::kStepTime, 170, 125, 100);
    l.label(this, QStringLiteral("Обработано сэмплов на последнем шаге:"), 16, 139, 143, 8, Qt::AlignRight);
    step_values_label_ = l.valueLabel(this, "stepValuesValue", control::kStepValues, 170, 139, 100);
    l.label(this, QStringLiteral("Времени прошло (мин):"), 79, 153, 80, 8);
    elapsed_label_ = l.valueLabel(this, "elapsedValue", control::kElapsed, 170, 153, 104);
    l.label(this, QStringLiteral("Оценка оставшегося времени (мин):"), 34, 167, 125, 8);
    remaining_label_ = l.valueLabel(this, "remainingValue", control::kRemaining, 170, 167, 101);

    connect(start_, &QPushButton::clicked, this, &CProgressPage::OnStart);
    connect(stop_, &QPushButton::clicked, this, &CProgressPage::OnStop);
    connect(settings_button_, &QPushButton::clicked, this, &CProgressPage::OnSettings);

    refresh_ = new QTimer(this);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &CProgressPage::Poll);
}

CProgressPage::~CProgressPage()
{
    // Normally the wizard never goes away during a run; if it does anyway,
    // the run is stopped after its current step before the page is gone.
    cancel_request_ = 1;
    JoinWorker();
}

void CProgressPage::OnSetActive()
{
    wizard()->SetWizardButtons(kBackButton);
}

void CProgressPage::SetRunning(bool running)
{
    running_ = running;
    start_->setEnabled(!running);
    stop_->setEnabled(running);
    settings_button_->setEnabled(!running);
    for (WizardButton b : {WizardButton::Back, WizardButton::Next, WizardButton::Cancel, WizardButton::Help})
        wizard()->EnableButton(b, !running);
}

RunStatistics CProgressPage::statistics() const
{
    std::lock_guard lock(mutex_);
    return stats_;
}

void CProgressPage::OnStart()
{
    if (running_ || !wizard()->referenceFile() || !wizard()->testFile()) return;
    JoinWorker();
    SetRunning(true);
    cancel_request_ = 0;
    worker_done_ = false;
    {
        std::lock_guard lock(mutex_);
        outcome_ = Outcome::None;
        error_detail_.clear();
    }
    refresh_->start();
    // The worker starts from the event loop, after the running state has
    // been shown; a Stop pressed before it gets going stops after step one.
    QMetaObject::invokeMethod(this, &CProgressPage::LaunchRun, Qt::QueuedConnection);
}

void CProgressPage::LaunchRun()
{
    const CWaveFile *reference = wizard()->referenceFile();
    const CWaveFile *test = wizard()->testFile();
    app::GradeSettings settings;
    settings.run = settings_;
    // The pair was checked and analysed on the input-files page.
    settings.check = false;
    total_values_ = GetSampleCount(*reference);
    // Per-frame values for the details window, gathered as the model
    // produces them: room for every frame is reserved here, so the run
    // itself obtains no memory for them.
    const std::uint16_t channels = reference->channel_count() == 2 ? 2 : 1;
    auto frames = std::make_shared<report::FrameCollector>(
        channels, report::expected_frame_count(total_values_ / channels));
    const std::optional<app::PairCheck> check = wizard()->pairCheck();
    worker_ = std::thread([this, reference, test, settings, frames, check] {
        Outcome failure = Outcome::None;
        std::int32_t code = 0;
        QString detail;
        QString not_graded;
        try {
            app::WavePairSource source(reference, test);
            app::GradeHooks hooks;
            hooks.observer = this;
            hooks.frame_observer = [](void *user, const VELUMAR_FRAME *frame) {
                try {
                    static_cast<report::FrameCollector *>(user)->add(report::frame_row_from_model(*frame));
                } catch (const std::exception &) {
                    // Out of memory for the chart: the grade goes on without it.
                }
            };
            hooks.frame_user = frames.get();
            const app::GradeReport report = app::GradeSource(source, settings, hooks);
            {
                report::ReportData details = app::MakeReportData(report, settings, reference->path(), test->path());
                if (check) {
                    details.check = app::MakePairCheckInfo(*check);
                    details.settings.check = true;
                }
                std::lock_guard lock(mutex_);
                details_ = std::move(details);
                frames_ = frames;
            }
            const QString reason = QString::fromStdString(report.reason);
            if (report.status == app::Status::NotGraded) {
                not_graded = reason;
            } else if (report.reason_code == app::kReasonModelCreation) {
                failure = Outcome::CreationFailed;
            } else if (report.reason_code == app::kReasonModelExecution) {
                failure = Outcome::ExecutionError;
                code = report.stage_code;
            } else if (report.reason_code == app::kReasonFileChanged) {
                // An input file went wrong under the run (cut short or rewritten).
                failure = Outcome::FileError;
                detail = reason;
            } else if (!report.ran()) {
                failure = Outcome::OtherError;
                detail = reason;
            }
        } catch (const std::exception &e) {
            failure = Outcome::OtherError;
            detail = QString::fromLocal8Bit(e.what());
        } catch (...) {
            failure = Outcome::OtherError;
        }
        {
            std::lock_guard lock(mutex_);
            not_graded_reason_ = not_graded;
            if (failure != Outcome::None) {
                outcome_ = failure;
                error_code_ = code;
                error_detail_ = detail;
            }
        }
        worker_done_.store(true, std::memory_order_release);
    });
}

void CProgressPage::JoinWorker()
{
    if (worker_.joinable()) worker_.join();
}

void CProgressPage::OnRunEvent(RUN_EVENT event, std::int32_t *stop)
{
    std::lock_guard lock(mutex_);
    switch (event.type) {
    case RUN_STARTED:
        stats_.Start(event.value, total_values_);
        range_changed_ = true;
        ++generation_;
        break;
    case RUN_STEP:
        stats_.Step(event.value, event.step_time);
        std::snprintf(step_time_text_, sizeof step_time_text_, "%.3f", event.step_time);
        std::snprintf(step_values_text_, sizeof step_values_text_, "%u", event.value);
        // Formatted into the page's buffers: nothing is allocated per step.
        app::FormatDuration(stats_.total_time, elapsed_text_, sizeof elapsed_text_);
        app::FormatDuration(stats_.remaining_time, remaining_text_, sizeof remaining_text_);
        ++generation_;
        *stop = cancel_request_.load();
        break;
    case RUN_FINISHED:
        outcome_ = Outcome::Finished;
        grade_ = event.grade;
        break;
    case RUN_STOPPED:
        outcome_ = Outcome::Stopped;
        grade_ = event.grade;
        break;
    default:
        break;
    }
}

void CProgressPage::Poll()
{
    UpdateProgress();
    if (worker_done_.load(std::memory_order_acquire)) {
        worker_done_ = false;
        FinishRun();
    }
}

void CProgressPage::UpdateProgress()
{
    std::uint32_t steps = 0;
    std::uint32_t announced = 0;
    bool range_changed = false;
    QString texts[4];
    {
        std::lock_guard lock(mutex_);
        if (generation_ == shown_generation_) return;
        shown_generation_ = generation_;
        steps = stats_.steps_done;
        announced = stats_.announced_steps;
        range_changed = range_changed_;
        range_changed_ = false;
        texts[0] = QString::fromLatin1(step_time_text_);
        texts[1] = QString::fromLatin1(step_values_text_);
        texts[2] = QString::fromLatin1(elapsed_text_);
        texts[3] = QString::fromLatin1(remaining_text_);
    }
    // The bar ends at the announced number of steps; the final, shorter
    // step that goes past it keeps the bar full. A run announcing no whole
    // step gets a one-step bar instead of a busy indicator.
    const int maximum = static_cast<int>(std::min<std::uint32_t>(std::max<std::uint32_t>(announced, 1),
                                                                 std::numeric_limits<int>::max()));
    if (range_changed) progress_->setRange(0, maximum);
    progress_->setValue(static_cast<int>(std::min<std::uint32_t>(steps, static_cast<std::uint32_t>(maximum))));
    QLabel *labels[4] = {step_time_label_, step_values_label_, elapsed_label_, remaining_label_};
    for (int i = 0; i < 4; ++i)
        if (labels[i]->text() != texts[i]) labels[i]->setText(texts[i]);
}

void CProgressPage::FinishRun()
{
    JoinWorker();
    refresh_->stop();
    UpdateProgress();

    Outcome outcome;
    double grade;
    std::int32_t code;
    QString detail;
    QString not_graded;
    RunStatistics stats;
    {
        std::lock_guard lock(mutex_);
        not_graded = not_graded_reason_;
        outcome = outcome_;
        grade = grade_;
        code = error_code_;
        detail = error_detail_;
        stats = stats_;
    }

    SetRunning(false);
    emit runEnded();

    if (close_pending_) {
        close_pending_ = false;
        wizard()->close();
        return;
    }

    switch (outcome) {
    case Outcome::Finished:
    case Outcome::Stopped:
        progress_->setValue(0);
        // The results page shows the model's value either way; the
        // user is told first that it is no grade, and why.
        if (!not_graded.isEmpty())
            ShowWarning(wizard()->messageBox(), this, Text(text::IDS_NOT_GRADED_BOX).arg(not_graded));
        {
            std::lock_guard lock(mutex_);
            wizard()->resultsPage()->SetDetails(details_, frames_);
        }
        wizard()->ShowResults(stats.total_time, stats.speed, stats.WizardRealTimeFactor(), grade);
        break;
    case Outcome::CreationFailed:
        ShowError(wizard()->messageBox(), this, Text(text::IDS_MODEL_CREATION_FAILED));
        break;
    case Outcome::ExecutionError:
        ShowError(wizard()->messageBox(), this, Text(text::IDS_MODEL_EXECUTION_ERROR).arg(code));
        break;
    case Outcome::FileError:
        // A file that changed under the run stays changed: the pair has to
        // be opened and checked again, which is the input-files page's job.
        ShowError(wizard()->messageBox(), this, detail);
        wizard()->ReleaseWaveFiles();
        wizard()->SetActivePage(1);
        break;
    case Outcome::OtherError:
    case Outcome::None:
        ShowError(wizard()->messageBox(), this, Text(text::IDS_RUN_FAILED).arg(detail));
        break;
    }
}

void CProgressPage::OnStop()
{
    if (!running_) return;
    // A run that ends by itself while the question is open closes it: there
    // is nothing left to stop, and a box left standing over the results
    // page would ask about a calculation that is over.
    const bool yes = AskYesNo(wizard()->messageBox(), this, Text(text::IDS_STOP_QUESTION),
                              [this](std::function<void()> close) {
                                  return connect(this, &CProgressPage::runEnded, this, std::move(close));
                              });
    // A close that is already waiting for the run keeps its stop request.
    cancel_request_ = (yes || close_pending_) ? 1 : 0;
}

void CProgressPage::StopForClose()
{
    close_pending_ = true;
    cancel_request_ = 1;
    stop_->setEnabled(false);
}

void CProgressPage::OnSettings()
{
    const CWaveFile *reference = wizard()->referenceFile();
    if (running_ || !reference) return;
    M_SETTINGS_DEFAULTS limits{};
    get_default_settings(&limits);
    // The step may not exceed the number of values in the reference file.
    limits.step_max = GetSampleCount(*reference);
    CSettingsDlg dialog(limits, settings_, wizard()->messageBox(), this);
    if (dialog.exec() == QDialog::Accepted) dialog.ApplyTo(settings_);
}

} // namespace velumar::ui
