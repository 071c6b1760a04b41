#include "results_page.h"

#include "control_ids.h"
#include "details_window.h"
#include "progress_page.h"
#include <velumar/text/texts.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace velumar::ui {

CResultsPage::CResultsPage(CWizard *wizard) : CWizardPage(wizard, text::IDS_CAPTION_RESULTS)
{
    const DialogLayout &l = layout();

    l.label(this, QStringLiteral("На этой странице представлен результат расчёта и статистика работы алгоритма."),
          25, 18, 300, 12);
    auto *result_group = new QGroupBox(QStringLiteral("Результат"), this);
    l.place(result_group, 6, 42, 328, 53);
    l.label(this, QStringLiteral("Значение ODG:"), 30, 59, 53, 8, Qt::AlignRight);
    grade_label_ = l.valueLabel(this, "gradeValue", control::kGrade, 93, 59, 48);
    l.label(this, QStringLiteral("Оценка искажений:"), 12, 75, 71, 8, Qt::AlignRight);
    verbal_label_ = l.valueLabel(this, "verbalGradeValue", control::kVerbalGrade, 93, 75, 214);

    auto *stats_group = new QGroupBox(QStringLiteral("Статистика вычисления"), this);
    l.place(stats_group, 6, 106, 328, 63);
    l.label(this, QStringLiteral("Время вычисления (мин):"), 68, 120, 87, 8);
    time_label_ = l.valueLabel(this, "timeValue", control::kTime, 170, 121, 80);
    l.label(this, QStringLiteral("Сред. скорость обработки (сэмплов/с):"), 20, 136, 135, 8);
    speed_label_ = l.valueLabel(this, "speedValue", control::kSpeed, 170, 137, 85);
    l.label(this, QStringLiteral("Фактор \"реального времени\":"), 50, 152, 105, 8);
    rt_factor_label_ = l.valueLabel(this, "realTimeFactorValue", control::kRealTimeFactor, 170, 153, 85);

    // An addition beside the page's own controls, in the free right part of
    // the result group.
    details_button_ = new QPushButton(QStringLiteral("Подробнее..."), this);
    details_button_->setObjectName(QStringLiteral("details"));
    details_button_->setEnabled(false);
    l.place(details_button_, 262, 54, 66, 14);
    connect(details_button_, &QPushButton::clicked, this, [this] { ShowDetails(); });
}

void CResultsPage::SetDetails(report::ReportData details, std::shared_ptr<const report::FrameCollector> frames)
{
    details_ = std::move(details);
    frames_ = std::move(frames);
    details_button_->setEnabled(true);
    // A window of the previous run would show another run's values.
    if (details_window_) details_window_->close();
}

CDetailsWindow *CResultsPage::ShowDetails()
{
    if (!details_) return nullptr;
    if (!details_window_) details_window_ = new CDetailsWindow(*details_, frames_, window());
    details_window_->show();
    details_window_->raise();
    details_window_->activateWindow();
    return details_window_;
}

void CResultsPage::OnSetActive()
{
    wizard()->SetWizardButtons(kBackButton | kFinishButton);
    grade_label_->setText(grade_text_);
    rt_factor_label_->setText(rt_factor_text_);
    time_label_->setText(time_text_);
    speed_label_->setText(speed_text_);
    verbal_label_->setText(verbal_text_);
}

void CResultsPage::SetResults(double total_time, double speed, double real_time_factor, double grade)
{
    grade_text_ = QString::asprintf("%f", grade);
    verbal_text_ = Text(text::grade_category(grade));
    time_text_ = FormatDuration(total_time);
    speed_text_ = QString::asprintf("%.2f", speed);
    // A run shorter than one second of values has no real-time factor.
    rt_factor_text_ = std::isfinite(real_time_factor) ? QString::asprintf("%.2f", real_time_factor)
                                                      : Text(text::IDS_NOT_AVAILABLE);
}

} // namespace velumar::ui
