#include "setup_page.h"

#include "control_ids.h"

#include <velumar/text/texts.h>

#include <velumar/audio/wave_file.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <utility>

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
    control::NameControl(info, "filesIntro", control::kFilesIntro);
    info->setWordWrap(true);
    info->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    l.place(info, 7, 7, 304, 31);

    // One file row of the template: a group box framing the path edit and
    // its "Выбрать..." button.
    struct Row {
        const char *name;  // "reference" or "test"
        int group_id, edit_id, button_id;
    };
    const auto file_row = [this, &l](const QString &title, const Row &row, int group_width, int y) {
        const QByteArray name(row.name);
        auto *group = new QGroupBox(title, this);
        control::NameControl(group, name + "Group", row.group_id);
        l.place(group, 7, y, group_width, 30);
        auto *edit = new QLineEdit(this);
        control::NameControl(edit, name + "Edit", row.edit_id);
        l.place(edit, 12, y + 10, 210, 14);
        auto *choose = new QPushButton(QStringLiteral("Выбрать..."), this);
        control::NameControl(choose, name + "ChooseButton", row.button_id);
        l.place(choose, 227, y + 10, 50, 14);
        return std::pair{edit, choose};
    };
    const auto [ref_edit, ref_choose] =
        file_row(QStringLiteral("Файл с эталонным сигналом"),
                 {"reference", control::kReferenceGroup, control::kReferenceEdit, control::kReferenceChoose}, 275, 65);
    const auto [test_edit, test_choose] =
        file_row(QStringLiteral("Файл с исследуемым сигналом"),
                 {"test", control::kTestGroup, control::kTestEdit, control::kTestChoose}, 277, 105);
    reference_edit_ = ref_edit;
    test_edit_ = test_edit;

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
    wizard()->SetWizardButtons(kBackButton | kNextButton);
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
