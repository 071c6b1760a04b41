// Renders every page of the wizard, the settings dialog, the diagram window
// and the about box offscreen into PNG files, so the layout can be looked at
// without a display:
//   velumar_render_screens OUTPUT_DIR
// The calculation runs for real on a generated pair of files, so the
// calculation and results pages show the values of an actual run.
#include "about_dlg.h"
#include "progress_page.h"
#include "results_page.h"
#include "scheme_wnd.h"
#include "settings_dialog.h"
#include "setup_page.h"
#include "welcome_page.h"
#include "wizard.h"

#include <test_wav.h>
#include <velumar/audio/wave_file.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

using namespace velumar::ui;
namespace vt = velumar::testing;

namespace {

bool Save(QWidget *w, const QDir &dir, const char *name)
{
    QApplication::processEvents();
    const QString path = dir.filePath(QString::fromLatin1(name));
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(dir.path());
    bool ok = true;

    // A fixed place, so the paths in the pictures stay the same between
    // renderings.
    const QDir samples(QDir::temp().filePath(QStringLiteral("velumar-screens")));
    samples.mkpath(QStringLiteral("."));
    vt::WavSpec stereo;
    stereo.channels = 2;
    const auto reference = vt::MusicSignal(48000 * 30, 2);
    const std::string ref_path = samples.filePath(QStringLiteral("reference.wav")).toStdString();
    const std::string test_path = samples.filePath(QStringLiteral("test.wav")).toStdString();
    vt::WriteBytes(ref_path, vt::WavFile(stereo, reference));
    vt::WriteBytes(test_path, vt::WavFile(stereo, vt::AddNoise(reference, 300.0)));

    CWizard wizard;
    wizard.show();
    ok = Save(&wizard, dir, "page1-welcome.png") && ok;

    wizard.button(WizardButton::Next)->click();
    wizard.setupPage()->referenceEdit()->setText(QString::fromStdString(ref_path));
    wizard.setupPage()->testEdit()->setText(QString::fromStdString(test_path));
    ok = Save(&wizard, dir, "page2-files.png") && ok;

    wizard.button(WizardButton::Next)->click();
    if (wizard.activePage() != wizard.progressPage()) {
        std::fprintf(stderr, "the file pair was refused\n");
        return 1;
    }
    {
        // The calculation page is taken while the run is under way.
        QEventLoop loop;
        QObject::connect(wizard.progressPage(), &CProgressPage::runEnded, &loop, &QEventLoop::quit);
        bool taken = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &wizard, [&] {
            const QProgressBar *bar = wizard.progressPage()->progressBar();
            if (taken || !wizard.progressPage()->IsRunning() || bar->value() * 3 < bar->maximum()) return;
            taken = true;
            ok = Save(&wizard, dir, "page3-calculation.png") && ok;
        });
        poll.start(5);
        wizard.progressPage()->startButton()->click();
        loop.exec();
        if (!taken) {
            std::fprintf(stderr, "the calculation ended before a third of it could be shown\n");
            ok = false;
        }
    }
    if (wizard.activePage() != wizard.resultsPage()) {
        std::fprintf(stderr, "the calculation failed\n");
        return 1;
    }
    ok = Save(&wizard, dir, "page4-results.png") && ok;
    wizard.button(WizardButton::Back)->click();

    {
        M_SETTINGS_DEFAULTS limits{};
        get_default_settings(&limits);
        limits.step_max = GetSampleCount(*wizard.referenceFile());
        CSettingsDlg dialog(limits, wizard.progressPage()->settings(), wizard.messageBox(), &wizard);
        dialog.show();
        ok = Save(&dialog, dir, "settings.png") && ok;
    }
    {
        CAboutDlg about(&wizard);
        about.show();
        ok = Save(&about, dir, "about.png") && ok;
    }
    ShowSchemeWindow(wizard.welcomePage());
    g_pSchemeWnd->resize(800, 200);
    ok = Save(g_pSchemeWnd, dir, "scheme.png") && ok;
    g_pSchemeWnd->resize(700, 320);
    ok = Save(g_pSchemeWnd, dir, "scheme-tall.png") && ok;
    QFile::remove(QString::fromStdString(ref_path));
    QFile::remove(QString::fromStdString(test_path));
    samples.rmdir(QStringLiteral("."));
    return ok ? 0 : 1;
}
