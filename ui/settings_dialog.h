// Dialog 142: model version, playback level and buffer size of the next
// calculation, with minimum/maximum/default presets from a popup menu and
// range checks on OK.
#pragma once

#include "dialog_layout.h"
#include "message_box.h"

#include <velumar/runner/model_runner.h>
#include <velumar/model.h>

#include <QDialog>

class QButtonGroup;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace velumar::ui {

class CSettingsDlg : public QDialog {
    Q_OBJECT
public:
    CSettingsDlg(const M_SETTINGS_DEFAULTS &limits, const RUN_SETTINGS &settings, MessageBoxFn message_box,
                 QWidget *parent = nullptr);

    // Writes version, level and step (after a successful OK) into settings.
    void ApplyTo(RUN_SETTINGS &settings) const;

    // The dialog's commands: the two menu buttons open the popup, the three
    // popup items apply their choice to the field the popup was opened for.
    void OnCommand(int id);

    int version() const { return version_; }
    double level() const { return level_; }
    long step() const { return step_; }

    QLineEdit *levelEdit() const { return level_edit_; }
    QLineEdit *stepEdit() const { return step_edit_; }
    QRadioButton *radio(int index) const;
    QMenu *popupMenu() const { return popup_; }

    void accept() override;

private:
    // Takes the values from the controls; false (after telling the user and
    // focusing the field at fault) when one is not acceptable.
    bool SaveData();
    void ApplyChoice(int choice);
    void OpenPopup(QPushButton *at);
    void Refuse(QLineEdit *focus, const QString &message);

    QLineEdit *step_edit_;
    QLineEdit *level_edit_;
    QPushButton *level_menu_button_;
    QPushButton *step_menu_button_;
    int version_;
    double level_;
    long step_;
    int menu_target_ = 0;
    QMenu *popup_;
    M_SETTINGS_DEFAULTS limits_;
    QButtonGroup *versions_;
    MessageBoxFn message_box_;
    DialogLayout layout_;
};

} // namespace velumar::ui
