#include "wizard_app.h"

#include "message_box.h"
#include <velumar/text/texts.h>
#include "wizard.h"

#include "fonts.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>

#include <cstdio>

namespace velumar::ui {

bool InstallQtRussian(QTranslator &translator)
{
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QLocale::setDefault(russian);
    if (!translator.load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

CWizardApp::CWizardApp(int &argc, char **argv) : QApplication(argc, argv)
{
    // Neither failure stops the wizard; both are worth a line for whoever
    // wonders why a text is English or clipped.
    if (!InstallQtRussian(qt_russian_))
        std::fputs("velumar: не найдены переводы Qt на русский язык (пакет qt6-translations-l10n): "
                   "стандартные диалоги Qt останутся на английском\n",
                   stderr);
    InstallFontSubstitutions();
    if (!MetricCompatibleFontInstalled())
        std::fputs("velumar: не найден шрифт Liberation Sans (пакет fonts-liberation): "
                   "надписи могут не поместиться на свои места\n",
                   stderr);
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
