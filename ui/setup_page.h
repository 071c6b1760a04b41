// Page 2: the paths of the reference and the test file, typed or chosen
// with the file dialog, and the pair check that runs on every Next.
#pragma once

#include "wizard.h"

#include <QFileDialog>

#include <functional>

class QLineEdit;
class CWaveFile;

namespace velumar::ui {

// The open-file dialog for WAV files.
class CWavFileSelector : public QFileDialog {
    Q_OBJECT
public:
    explicit CWavFileSelector(QWidget *parent);
};

// Asks the user for a file, starting in `folder` (empty: the dialog's own
// choice); empty when the dialog was cancelled.
using FileChooserFn = std::function<QString(QWidget *parent, const QString &folder)>;

class CSetupPage : public CWizardPage {
    Q_OBJECT
public:
    explicit CSetupPage(CWizard *wizard);

    void OnSetActive() override;
    bool OnWizardNext() override;
    bool OnWizardBack() override;

    // Lets the user pick a file into `target`, then shows both stored paths.
    void ChooseWaveFile(QString &target);
    // The pair check; on success the files become the wizard's pair. When
    // the pair analysis then finds something, the user is asked whether to
    // go on; "Нет" keeps the page.
    bool CheckFilePair(const QString &reference, const QString &test);

    QString referencePath() const { return reference_path_; }
    QString testPath() const { return test_path_; }
    QLineEdit *referenceEdit() const { return reference_edit_; }
    QLineEdit *testEdit() const { return test_edit_; }

    void setFileChooser(FileChooserFn chooser) { chooser_ = std::move(chooser); }
    // The folder the file dialog opens in: where the last file chosen or
    // dropped during this run lies. Kept in memory only.
    QString lastFolder() const { return last_folder_; }

protected:
    // Files dropped on a path field: the field takes the file's path, as if
    // it had been typed.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Moves the paths between the members and the edit boxes; taking them
    // from the controls while going forward runs the pair check.
    bool UpdateData(bool save);
    void Fail(const QString &text);
    // Analyses the opened pair (busy cursor) and asks about any finding;
    // true to go on.
    bool ConfirmPairCheck(const CWaveFile &reference, const CWaveFile &test);

    QString reference_path_;
    QString test_path_;
    int going_back_ = 0;
    QLineEdit *reference_edit_;
    QLineEdit *test_edit_;
    FileChooserFn chooser_;
    QString last_folder_;
};

} // namespace velumar::ui
