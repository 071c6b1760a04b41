// The application object: creates the wizard as its main window and ends
// when the wizard is closed.
#pragma once

#include <QApplication>
#include <QTranslator>

#include <memory>

namespace velumar::ui {

class CWizard;

// Installs Qt's own Russian texts (the file dialog's "Look in", "File name",
// "Open", the standard buttons) into the application, so that no English
// appears in a Russian interface whatever the system's locale. The
// translator must outlive its use. False when the translation file of the
// installed Qt (package qt6-translations-l10n) could not be loaded.
bool InstallQtRussian(QTranslator &translator);

class CWizardApp : public QApplication {
    Q_OBJECT
public:
    CWizardApp(int &argc, char **argv);
    ~CWizardApp() override;

    // Creates and shows the wizard; false when that failed.
    bool InitInstance();
    CWizard *wizard() const { return wizard_.get(); }

private:
    QTranslator qt_russian_;
    std::unique_ptr<CWizard> wizard_;
};

} // namespace velumar::ui
