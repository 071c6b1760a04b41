#include "welcome_page.h"

#include "about_dlg.h"
#include "control_ids.h"
#include "scheme_wnd.h"
#include <velumar/text/texts.h>

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace velumar::ui {

CWelcomePage::CWelcomePage(CWizard *wizard) : CWizardPage(wizard, text::IDS_CAPTION_WELCOME)
{
    const DialogLayout &l = layout();

    // Bitmap 141: the measurement idea, drawn at about twice the size the
    // area has with the dialog font.
    auto *picture = new QLabel(this);
    control::NameControl(picture, "welcomePicture", control::kWelcomePicture);
    l.place(picture, 0, 0, 112, 197);
    // The area's shape follows the font's base units; the picture keeps its
    // proportions and is cut to the area from the centre.
    const QPixmap art = QPixmap(QStringLiteral(":/velumar/bitmap141.png"))
                            .scaled(picture->size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QSize area = picture->size();
    picture->setPixmap(art.copy((art.width() - area.width()) / 2, (art.height() - area.height()) / 2,
                                area.width(), area.height()));

    auto *intro = new QLabel(QStringLiteral("Программа Velumar позволяет:\n\n"
                                            "1. Изучить общую схему оценки качества.\n"
                                            "2. Настроить реализацию алгоритма \n"
                                            "3. Протестировать его работу на любых подходящих звуковых файлах.\n"
                                            "4. Получить статистику работы алгоритма."),
                             this);
    intro->setWordWrap(true);
    intro->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l.place(intro, 152, 29, 160, 64);

    auto *scheme = new QPushButton(QStringLiteral("Изучить &схему ..."), this);
    control::NameControl(scheme, "schemeButton", control::kShowScheme);
    l.place(scheme, 163, 110, 118, 14);
    connect(scheme, &QPushButton::clicked, this, &CWelcomePage::OnShowScheme);

    auto *about = new QPushButton(QStringLiteral("О &программе..."), this);
    control::NameControl(about, "aboutButton", control::kShowAbout);
    l.place(about, 268, 183, 72, 14);
    connect(about, &QPushButton::clicked, this, &CWelcomePage::OnAbout);
}

void CWelcomePage::OnSetActive()
{
    wizard()->SetWizardButtons(kNextButton);
}

void CWelcomePage::OnShowScheme()
{
    ShowSchemeWindow(this);
}

void CWelcomePage::OnAbout()
{
    // Owned by the main window, as a box without a parent of its own is.
    CAboutDlg dialog(wizard());
    dialog.exec();
}

} // namespace velumar::ui
