// The wizard frame: a fixed-size window with the four pages stacked above a
// row of wizard buttons, the owner of the current pair of WAV files, and the
// place that decides what Finish, Cancel, Help and the close box do.
#pragma once

#include "dialog_layout.h"
#include "message_box.h"

#include <QWidget>

#include <velumar/app/pair_analysis.h>

#include <memory>
#include <optional>

class CWaveFile;
class QPushButton;
class QStackedWidget;

namespace velumar::ui {

class CWizard;

// The frame's buttons.
enum class WizardButton { Back, Next, Finish, Cancel, Help };

// Which of Back, Next and Finish a page enables when it becomes active.
enum WizardButtonFlag : unsigned {
    kBackButton = 1,
    kNextButton = 2,
    kFinishButton = 4,
};

// A page of the wizard: a template-sized widget with its own caption.
class CWizardPage : public QWidget {
    Q_OBJECT
public:
    CWizardPage(CWizard *wizard, unsigned caption_id);

    QString caption() const { return caption_; }
    CWizard *wizard() const { return wizard_; }

    // The page became the active page: it sets the wizard buttons.
    virtual void OnSetActive() = 0;
    // Next was pressed; false keeps the user on the page.
    virtual bool OnWizardNext() { return true; }
    // Back was pressed; false keeps the user on the page.
    virtual bool OnWizardBack() { return true; }

protected:
    const DialogLayout &layout() const { return layout_; }

private:
    CWizard *wizard_;
    QString caption_;
    DialogLayout layout_;
};

class CWelcomePage;
class CSetupPage;
class CProgressPage;
class CResultsPage;

class CWizard : public QWidget {
    Q_OBJECT
public:
    explicit CWizard(QWidget *parent = nullptr, MessageBoxFn message_box = StandardMessageBox());
    ~CWizard() override;

    CWelcomePage *welcomePage() const { return welcome_; }
    CSetupPage *setupPage() const { return setup_; }
    CProgressPage *progressPage() const { return progress_; }
    CResultsPage *resultsPage() const { return results_; }
    CWizardPage *activePage() const;
    int activeIndex() const;

    void SetWizardButtons(unsigned flags);
    void EnableButton(WizardButton which, bool enabled);
    QPushButton *button(WizardButton which) const;

    // The current file pair, owned here.
    CWaveFile *referenceFile() const { return reference_.get(); }
    CWaveFile *testFile() const { return test_.get(); }
    void SetWaveFiles(std::unique_ptr<CWaveFile> reference, std::unique_ptr<CWaveFile> test);
    void ReleaseWaveFiles();

    // The pair check of the current pair, as the input-files page made it
    // (none when it could not be made); the details window shows it.
    const std::optional<app::PairCheck> &pairCheck() const { return pair_check_; }
    void SetPairCheck(std::optional<app::PairCheck> check) { pair_check_ = std::move(check); }

    // Fills the results page and makes it the active page.
    void ShowResults(double total_time, double speed, double real_time_factor, double grade);

    const MessageBoxFn &messageBox() const { return message_box_; }
    void setMessageBox(MessageBoxFn box) { message_box_ = std::move(box); }

    void SetActivePage(int index);

    // The layout the frame and its pages share.
    const DialogLayout &layout() const { return layout_; }

signals:
    // The window was closed for good (the application ends with it).
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void OnBack();
    void OnNext();
    void OnFinish();
    void OnCancel();

    DialogLayout layout_;
    MessageBoxFn message_box_;
    QStackedWidget *stack_;
    CWelcomePage *welcome_;
    CSetupPage *setup_;
    CProgressPage *progress_;
    CResultsPage *results_;
    QPushButton *back_;
    QPushButton *next_;
    QPushButton *finish_;
    QPushButton *cancel_;
    QPushButton *help_;
    int finishing_ = 0;
    std::unique_ptr<CWaveFile> reference_;
    std::unique_ptr<CWaveFile> test_;
    std::optional<app::PairCheck> pair_check_;
};

} // namespace velumar::ui
