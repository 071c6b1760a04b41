#include "about_dlg.h"

#include "control_ids.h"
#include "dialog_layout.h"
#include "message_box.h"
#include <velumar/text/texts.h>

#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace velumar::ui {

QString VersionLine()
{
    // Linux executables carry no version resource; the program holds the
    // product version in its string table instead.
    return QStringLiteral("%1: v%2").arg(Text(text::IDS_APP_TITLE), Text(text::IDS_PRODUCT_VERSION));
}

CAboutDlg::CAboutDlg(QWidget *parent)
    : QDialog(parent), m_strCredits(Text(text::IDS_CREDITS)), m_strVersion(VersionLine())
{
    ApplyDialogStyle(this);
    control::NameControl(this, "aboutDialog", control::kAboutDialog);
    setWindowTitle(Text(text::IDS_CAPTION_ABOUT));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    const DialogLayout l(DialogFont());

    auto *icon = new QLabel(this);
    l.place(icon, 10, 10, 20, 20);
    icon->setPixmap(QIcon(QStringLiteral(":/velumar/icon128.png")).pixmap(32, 32));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *version = new QLabel(m_strVersion, this);
    control::NameControl(version, "versionLine", control::kVersionLine);
    version->setTextFormat(Qt::PlainText);
    l.place(version, 40, 10, 119, 8);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    control::NameControl(ok, "okButton", control::kOk);
    ok->setDefault(true);
    l.place(ok, 230, 7, 50, 14);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *authors = new QLabel(QStringLiteral("Авторы:"), this);
    l.place(authors, 40, 25, 145, 8);

    auto *credits = new QLabel(m_strCredits, this);
    control::NameControl(credits, "credits", control::kCredits);
    credits->setTextFormat(Qt::PlainText);
    credits->setWordWrap(true);
    credits->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l.place(credits, 40, 40, 240, 133);

    setFixedSize(l.toPixelsX(287), l.toPixelsY(180));
}

} // namespace velumar::ui
