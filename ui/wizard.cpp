#include "wizard.h"

#include "control_ids.h"
#include "progress_page.h"
#include "results_page.h"
#include "setup_page.h"
#include <velumar/text/texts.h>
#include "welcome_page.h"

#include <velumar/audio/wave_file.h>

#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QPushButton>
#include <QStackedWidget>

namespace velumar::ui {

namespace {

// Page area and button row of the frame, in dialog units. The page area is
// the size of the largest page template.
constexpr int kPageWidth = 342;
constexpr int kPageHeight = 197;
constexpr int kButtonTop = kPageHeight + 9;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kFrameHeight = kButtonTop + kButtonHeight + 7;

} // namespace

CWizardPage::CWizardPage(CWizard *wizard, unsigned caption_id)
    : QWidget(nullptr), wizard_(wizard), caption_(Text(caption_id)), layout_(wizard->layout())
{
    setFont(DialogFont());
}

CWizard::CWizard(QWidget *parent, MessageBoxFn message_box)
    : QWidget(parent, Qt::Window), message_box_(std::move(message_box))
{
    ApplyDialogStyle(this);
    // Caption, system menu and minimize box; the wizard is not resizable.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/velumar/icon128.png")));
    setObjectName(QStringLiteral("CWizard"));

    stack_ = new QStackedWidget(this);
    layout_.place(stack_, 0, 0, kPageWidth, kPageHeight);

    welcome_ = new CWelcomePage(this);
    setup_ = new CSetupPage(this);
    progress_ = new CProgressPage(this);
    results_ = new CResultsPage(this);
    for (CWizardPage *page : {static_cast<CWizardPage *>(welcome_), static_cast<CWizardPage *>(setup_),
                              static_cast<CWizardPage *>(progress_), static_cast<CWizardPage *>(results_)})
        stack_->addWidget(page);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(layout_.rect(0, kPageHeight + 2, kPageWidth, 1).adjusted(0, 0, 0, 1));

    auto make_button = [this](const char *name, int id, const QString &text, int x) {
        auto *b = new QPushButton(text, this);
        control::NameControl(b, name, id);
        b->setAutoDefault(false);
        layout_.place(b, x, kButtonTop, kButtonWidth, kButtonHeight);
        return b;
    };
    const int help_x = kPageWidth - 7 - kButtonWidth;
    const int cancel_x = help_x - 5 - kButtonWidth;
    const int finish_x = cancel_x - 5 - kButtonWidth;
    const int next_x = finish_x - 7 - kButtonWidth;
    const int back_x = next_x - kButtonWidth;
    back_ = make_button("backButton", 0, QStringLiteral("< &Назад"), back_x);
    next_ = make_button("nextButton", 0, QStringLiteral("&Далее >"), next_x);
    finish_ = make_button("finishButton", control::kFinishCommand, QStringLiteral("Готово"), finish_x);
    cancel_ = make_button("cancelButton", control::kCancelCommand, QStringLiteral("Отмена"), cancel_x);
    help_ = make_button("helpButton", control::kHelpCommand, QStringLiteral("Справка"), help_x);

    connect(back_, &QPushButton::clicked, this, &CWizard::OnBack);
    connect(next_, &QPushButton::clicked, this, &CWizard::OnNext);
    connect(finish_, &QPushButton::clicked, this, &CWizard::OnFinish);
    connect(cancel_, &QPushButton::clicked, this, &CWizard::OnCancel);
    // Help is present but does nothing.

    setFixedSize(layout_.toPixelsX(kPageWidth), layout_.toPixelsY(kFrameHeight));
    SetActivePage(0);
}

CWizard::~CWizard()
{
    // The calculation page joins a running calculation before anything it
    // reads goes away; the files are released after that.
    delete results_;
    delete progress_;
    delete setup_;
    delete welcome_;
    ReleaseWaveFiles();
}

CWizardPage *CWizard::activePage() const
{
    return static_cast<CWizardPage *>(stack_->currentWidget());
}

int CWizard::activeIndex() const
{
    return stack_->currentIndex();
}

void CWizard::SetActivePage(int index)
{
    stack_->setCurrentIndex(index);
    CWizardPage *page = activePage();
    setWindowTitle(page->caption());
    page->OnSetActive();
}

void CWizard::SetWizardButtons(unsigned flags)
{
    back_->setEnabled(flags & kBackButton);
    next_->setEnabled(flags & kNextButton);
    finish_->setEnabled(flags & kFinishButton);
}

QPushButton *CWizard::button(WizardButton which) const
{
    switch (which) {
    case WizardButton::Back: return back_;
    case WizardButton::Next: return next_;
    case WizardButton::Finish: return finish_;
    case WizardButton::Cancel: return cancel_;
    case WizardButton::Help: return help_;
    }
    return nullptr;
}

void CWizard::EnableButton(WizardButton which, bool enabled)
{
    button(which)->setEnabled(enabled);
}

void CWizard::SetWaveFiles(std::unique_ptr<CWaveFile> reference, std::unique_ptr<CWaveFile> test)
{
    reference_ = std::move(reference);
    test_ = std::move(test);
}

void CWizard::ReleaseWaveFiles()
{
    reference_.reset();
    test_.reset();
}

void CWizard::ShowResults(double total_time, double speed, double real_time_factor, double grade)
{
    results_->SetResults(total_time, speed, real_time_factor, grade);
    SetActivePage(stack_->indexOf(results_));
}

void CWizard::OnBack()
{
    const int index = activeIndex();
    if (index > 0 && activePage()->OnWizardBack()) SetActivePage(index - 1);
}

void CWizard::OnNext()
{
    const int index = activeIndex();
    if (index + 1 < stack_->count() && activePage()->OnWizardNext()) SetActivePage(index + 1);
}

void CWizard::OnFinish()
{
    finishing_ = 1;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CWizard::OnCancel()
{
    finishing_ = 0;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CWizard::closeEvent(QCloseEvent *event)
{
    if (finishing_ == 0 && !AskYesNo(message_box_, this, Text(velumar::text::IDS_QUIT_QUESTION))) {
        event->ignore();
        return;
    }
    if (progress_->IsRunning()) {
        // Nothing may go away under the running calculation: the close
        // becomes a stop, and the page closes the wizard once the run ended.
        finishing_ = 1;
        progress_->StopForClose();
        event->ignore();
        return;
    }
    event->accept();
    emit closed();
}

} // namespace velumar::ui
