#include "setup_page.h"

#include <velumar/text/texts.h>

#include <velumar/app/pipeline.h>
#include <velumar/audio/wave_file.h>

#include <QApplication>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

    // One file row of the template: a group box framing the path edit and
    // its "Выбрать..." button.
    const auto file_row = [this, &l](const QString &title, int group_id, int group_width, int edit_id,
                                     int button_id, int y) {
        auto *group = new QGroupBox(title, this);
        group->setObjectName(QString::number(group_id));
        l.place(group, 7, y, group_width, 30);
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::number(edit_id));
        l.place(edit, 12, y + 10, 210, 14);
        auto *choose = new QPushButton(QStringLiteral("Выбрать..."), this);
        choose->setObjectName(QString::number(button_id));
        l.place(choose, 227, y + 10, 50, 14);
        return std::pair{edit, choose};
    };
    const auto [ref_edit, ref_choose] = file_row(QStringLiteral("Файл с эталонным сигналом"), 1008, 275, 1007, 1009, 65);
    const auto [test_edit, test_choose] =
        file_row(QStringLiteral("Файл с исследуемым сигналом"), 1010, 277, 1011, 1012, 105);
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
    // On a fault both files are closed before the message is shown.
    app::OpenedPair opened = app::OpenWavePair(reference.toStdString(), test.toStdString());
    if (opened.fault != app::OpenFault::None) {
        Fail(QString::fromStdString(opened.message));
        return false;
    }
    if (!ConfirmPairCheck(*opened.reference, *opened.test)) return false;
    wizard()->SetWaveFiles(std::move(opened.reference), std::move(opened.test));
    return true;
}

bool CSetupPage::ConfirmPairCheck(const CWaveFile &reference, const CWaveFile &test)
{
    std::vector<std::string> findings;
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        try {
            app::WavePairSource source(&reference, &test);
            findings = app::CheckFindings(app::AnalyseSource(source, {}));
        } catch (const std::exception &) {
            // The check only advises: without it the pair is graded as before.
            findings.clear();
        }
        QApplication::restoreOverrideCursor();
    }
    if (findings.empty()) return true;
    QString list;
    for (const std::string &f : findings) {
        if (!list.isEmpty()) list += QLatin1Char('\n');
        list += QStringLiteral("– ") + QString::fromStdString(f);
    }
    return AskYesNo(wizard()->messageBox(), this, Text(text::IDS_CHECK_QUESTION).arg(list));
}

} // namespace velumar::ui
