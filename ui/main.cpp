#include "wizard_app.h"

int main(int argc, char **argv)
{
    velumar::ui::CWizardApp app(argc, argv);
    if (!app.InitInstance()) return 1;
    return app.exec();
}
