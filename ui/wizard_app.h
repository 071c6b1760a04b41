// The application object: creates the wizard as its main window and ends
// when the wizard is closed.
#pragma once

#include <QApplication>

#include <memory>

namespace velumar::ui {

class CWizard;

class CWizardApp : public QApplication {
    Q_OBJECT
public:
    CWizardApp(int &argc, char **argv);
    ~CWizardApp() override;

    // Creates and shows the wizard; false when that failed.
    bool InitInstance();
    CWizard *wizard() const { return wizard_.get(); }

private:
    std::unique_ptr<CWizard> wizard_;
};

} // namespace velumar::ui
