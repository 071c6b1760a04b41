#include "wizard_app.h"

#include "message_box.h"
#include <velumar/text/texts.h>
#include "wizard.h"

#include <QIcon>

namespace velumar::ui {

CWizardApp::CWizardApp(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(Text(text::IDS_APP_TITLE));
    setApplicationVersion(Text(text::IDS_PRODUCT_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/velumar/icon128.png")));
    // The wizard's own close decides when the program ends; the diagram
    // window alone never keeps it running.
    setQuitOnLastWindowClosed(false);
}

CWizardApp::~CWizardApp() = default;

bool CWizardApp::InitInstance()
{
    wizard_ = std::make_unique<CWizard>();
    connect(wizard_.get(), &CWizard::closed, this, &QCoreApplication::quit, Qt::QueuedConnection);
    wizard_->show();
    return wizard_->isVisible();
}

} // namespace velumar::ui
