#include "setup_page.h"

#include "strings.h"

#include <wave_file.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

namespace velumar::ui {

CWavFileSelector::CWavFileSelector(QWidget *parent) : QFileDialog(parent)
{
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    setDefaultSuffix(QStringLiteral("wav"));
    setNameFilters({QStringLiteral("Windows PCM (*.wav)"), QStringLiteral("All Files (*)")});
}

CSetupPage::CSetupPage(CWizard *wizard) : CWizardPage(wizard, text::IDS_CAPTION_SETUP)
{
    const DialogLayout &l = layout();

    auto *info = new QLabel(
        QStringLiteral("Выберите входные файлы с эталонным и исследуемым сигналами.\n"
                       "Файлы должны быть в формате Windows PCM (WAV), иметь один или два канала "
                       "(моно или стерео), частоту дискретизации 48 кГц, разрешение 16 бит/сэмпл и "
                       "одинаковое количество сэмплов."),
        this);
    info->setObjectName(QStringLiteral("1005"));
    info->setWordWrap(true);
    info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l.place(info, 7, 7, 304, 31);

    auto *ref_group = new QGroupBox(QStringLiteral("Файл с эталонным сигналом"), this);
    ref_group->setObjectName(QStringLiteral("1008"));
    l.place(ref_group, 7, 65, 275, 30);
    reference_edit_ = new QLineEdit(this);
    reference_edit_->setObjectName(QStringLiteral("1007"));
    l.place(reference_edit_, 12, 75, 210, 14);
    auto *ref_choose = new QPushButton(QStringLiteral("Выбрать..."), this);
    ref_choose->setObjectName(QStringLiteral("1009"));
    l.place(ref_choose, 227, 75, 50, 14);

    auto *test_group = new QGroupBox(QStringLiteral("Файл с исследуемым сигналом"), this);
    test_group->setObjectName(QStringLiteral("1010"));
    l.place(test_group, 7, 105, 277, 30);
    test_edit_ = new QLineEdit(this);
    test_edit_->setObjectName(QStringLiteral("1011"));
    l.place(test_edit_, 12, 115, 210, 14);
    auto *test_choose = new QPushButton(QStringLiteral("Выбрать..."), this);
    test_choose->setObjectName(QStringLiteral("1012"));
    l.place(test_choose, 227, 115, 50, 14);

    connect(ref_choose, &QPushButton::clicked, this, [this] { ChooseWaveFile(reference_path_); });
    connect(test_choose, &QPushButton::clicked, this, [this] { ChooseWaveFile(test_path_); });

    chooser_ = [](QWidget *parent) {
        CWavFileSelector selector(parent);
        if (selector.exec() != QDialog::Accepted || selector.selectedFiles().isEmpty()) return QString();
        return selector.selectedFiles().constFirst();
    };
}

void CSetupPage::OnSetActive()
{
    wizard()->SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
    UpdateData(false);
}

bool CSetupPage::OnWizardBack()
{
    going_back_ = 1;
    return UpdateData(true);
}

bool CSetupPage::OnWizardNext()
{
    going_back_ = 0;
    return UpdateData(true);
}

bool CSetupPage::UpdateData(bool save)
{
    if (!save) {
        reference_edit_->setText(reference_path_);
        test_edit_->setText(test_path_);
        return true;
    }
    reference_path_ = reference_edit_->text();
    test_path_ = test_edit_->text();
    if (going_back_) return true;
    return CheckFilePair(reference_path_, test_path_);
}

void CSetupPage::ChooseWaveFile(QString &target)
{
    const QString chosen = chooser_(this);
    if (!chosen.isEmpty()) target = chosen;
    UpdateData(false);
}

void CSetupPage::Fail(const QString &text)
{
    ShowError(wizard()->messageBox(), this, text);
}

bool CSetupPage::CheckFilePair(const QString &reference, const QString &test)
{
    if (reference.isEmpty() || test.isEmpty()) {
        Fail(Text(text::IDS_EMPTY_PATH));
        return false;
    }

    wizard()->ReleaseWaveFiles();

    std::unique_ptr<CWaveFile> ref_file;
    std::unique_ptr<CWaveFile> test_file;
    // Both files are closed before the message is shown.
    auto fail = [&](const QString &message) {
        test_file.reset();
        ref_file.reset();
        Fail(message);
        return false;
    };
    try {
        ref_file.reset(OpenWaveFile(reference.toStdString()));
        test_file.reset(OpenWaveFile(test.toStdString()));
    } catch (const WaveErrors::FileException &e) {
        return fail(QString::fromStdString(e.text()));
    }

    if (!CheckModelRequirements(*ref_file))
        return fail(QString::fromStdString(text::format(text::IDS_REQUIREMENTS_ERROR, reference.toStdString())));
    if (!CheckModelRequirements(*test_file))
        return fail(QString::fromStdString(text::format(text::IDS_REQUIREMENTS_ERROR, test.toStdString())));
    if (!SameChannelCount(*ref_file, *test_file)) return fail(Text(text::IDS_CHANNELS_DIFFER));
    if (!SameLength(*ref_file, *test_file)) return fail(Text(text::IDS_LENGTHS_DIFFER));

    wizard()->SetWaveFiles(std::move(ref_file), std::move(test_file));
    return true;
}

} // namespace velumar::ui
