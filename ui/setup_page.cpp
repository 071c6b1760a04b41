#include "setup_page.h"

#include "control_ids.h"

#include <velumar/text/texts.h>

#include <velumar/app/pipeline.h>
#include <velumar/audio/wave_file.h>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velumar::ui {

namespace {

// The busy cursor while the pair is opened, checked and analysed: a file
// whose data chunk has to be searched for, or a long pair to analyse, takes
// seconds, and the window would look frozen. Restored on every way out,
// exceptions included.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// The local file a drag carries, or empty when it carries anything else
// (text, a remote URL, several files).
QString DroppedFile(const QMimeData *data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1) return QString();
    const QUrl url = data->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

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
    for (QLineEdit *edit : {reference_edit_, test_edit_}) {
        edit->setAcceptDrops(true);
        edit->installEventFilter(this);
    }

    connect(ref_choose, &QPushButton::clicked, this, [this] { ChooseWaveFile(reference_path_); });
    connect(test_choose, &QPushButton::clicked, this, [this] { ChooseWaveFile(test_path_); });

    chooser_ = [](QWidget *parent, const QString &folder) {
        CWavFileSelector selector(parent);
        if (!folder.isEmpty()) selector.setDirectory(folder);
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
    const QString chosen = chooser_(this, last_folder_);
    if (!chosen.isEmpty()) {
        target = chosen;
        last_folder_ = QFileInfo(chosen).absolutePath();
    }
    UpdateData(false);
}

bool CSetupPage::eventFilter(QObject *watched, QEvent *event)
{
    auto *edit = qobject_cast<QLineEdit *>(watched);
    if (!edit || (edit != reference_edit_ && edit != test_edit_)) return CWizardPage::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (DroppedFile(drag->mimeData()).isEmpty()) {
            drag->ignore();
        } else {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = DroppedFile(drop->mimeData());
        if (path.isEmpty()) {
            drop->ignore();
            return true;
        }
        edit->setText(path);
        edit->setFocus(Qt::OtherFocusReason);
        last_folder_ = QFileInfo(path).absolutePath();
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        return true;
    }
    default:
        return CWizardPage::eventFilter(watched, event);
    }
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
    // On a fault both files are closed, and the normal cursor is back,
    // before the message is shown.
    app::OpenedPair opened = [&] {
        const BusyCursor busy;
        return app::OpenWavePair(reference.toStdString(), test.toStdString());
    }();
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
        const BusyCursor busy;
        try {
            app::WavePairSource source(&reference, &test);
            const app::PairCheck check = app::AnalyseSource(source, {});
            findings = app::CheckFindings(check);
            wizard()->SetPairCheck(check);
        } catch (const std::exception &) {
            // The check only advises: a pair it cannot analyse is graded
            // without its findings rather than refused.
            findings.clear();
            wizard()->SetPairCheck(std::nullopt);
        }
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
