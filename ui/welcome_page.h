// Page 1: what the program does, the picture of the measurement idea, and
// the buttons that open the diagram window and the about box.
#pragma once

#include "wizard.h"

namespace velumar::ui {

class CWelcomePage : public CWizardPage {
    Q_OBJECT
public:
    explicit CWelcomePage(CWizard *wizard);

    void OnSetActive() override;

    void OnShowScheme();
    void OnAbout();
};

} // namespace velumar::ui
