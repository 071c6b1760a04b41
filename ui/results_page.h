// Page 4: the grade, its verbal category and the statistics of the run.
#pragma once

#include "wizard.h"

#include <velumar/report/frame_collector.h>
#include <velumar/report/report_data.h>

#include <QPointer>

#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace velumar::ui {

class CResultsPage : public CWizardPage {
    Q_OBJECT
public:
    explicit CResultsPage(CWizard *wizard);

    void OnSetActive() override;

    // Fills the five texts; the activation that follows shows them.
    void SetResults(double total_time, double speed, double real_time_factor, double grade);

    QString gradeText() const { return grade_text_; }
    QString verbalText() const { return verbal_text_; }
    QString timeText() const { return time_text_; }
    QString speedText() const { return speed_text_; }
    QString realTimeFactorText() const { return rt_factor_text_; }

    // «Подробнее...»: what the grade is made of, for the details window
    // that the button beside the page's controls opens.
    void SetDetails(report::ReportData details, std::shared_ptr<const report::FrameCollector> frames);
    // Opens (or raises) the details window; null when there is nothing to show.
    class CDetailsWindow *ShowDetails();

private:
    QString grade_text_;
    QString rt_factor_text_;
    QString time_text_;
    QString speed_text_;
    QString verbal_text_;
    QLabel *grade_label_;
    QLabel *rt_factor_label_;
    QLabel *time_label_;
    QLabel *speed_label_;
    QLabel *verbal_label_;
    QPushButton *details_button_;
    std::optional<report::ReportData> details_;
    std::shared_ptr<const report::FrameCollector> frames_;
    QPointer<class CDetailsWindow> details_window_;
};

} // namespace velumar::ui
