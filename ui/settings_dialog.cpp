#include "settings_dialog.h"

#include "control_ids.h"

#include <velumar/text/texts.h>

#include <QButtonGroup>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <limits>

namespace velumar::ui {

namespace {

// The limits are unsigned; the step is compared as a signed 32-bit value.
long AsSigned(std::uint32_t v)
{
    return v > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
               ? std::numeric_limits<std::int32_t>::max()
               : static_cast<long>(v);
}

// A decimal number as typed: a comma is taken as the decimal separator
// too, since that is what a Russian keyboard layout types.
bool ParseDouble(QString text, double &out)
{
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool ParseInt32(const QString &text, long &out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok) return false;
    out = v;
    return true;
}

QString NumberText(double v)
{
    return QString::number(v, 'g', 15);
}

} // namespace

CSettingsDlg::CSettingsDlg(const M_SETTINGS_DEFAULTS &limits, const RUN_SETTINGS &settings,
                           MessageBoxFn message_box, QWidget *parent)
    : QDialog(parent),
      version_(settings.version),
      level_(settings.listening_level_db),
      step_(static_cast<long>(settings.step)),
      limits_(limits),
      message_box_(std::move(message_box)),
      layout_(DialogFont())
{
    ApplyDialogStyle(this);
    setWindowTitle(Text(text::IDS_CAPTION_SETTINGS));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    control::NameControl(this, "settingsDialog", control::kSettingsDialog);
    const DialogLayout &l = layout_;

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    control::NameControl(ok, "okButton", control::kOk);
    ok->setDefault(true);
    l.place(ok, 181, 7, 50, 14);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    control::NameControl(cancel, "cancelButton", control::kCancel);
    l.place(cancel, 181, 30, 50, 14);
    connect(ok, &QPushButton::clicked, this, [this] { OnCommand(control::kOk); accept(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCommand(control::kCancel); reject(); });

    auto *group = new QGroupBox(QStringLiteral("Версия метода"), this);
    l.place(group, 7, 7, 165, 75);
    versions_ = new QButtonGroup(this);
    const struct {
        const char *name;
        int id;
        const char *text;
        int y, w;
        std::int32_t available;
    } radios[] = {{"basicRadio", control::kBasic, "B&asic", 23, 33, limits_.basic_available},
                  {"advancedRadio", control::kAdvanced, "Ad&vanced", 42, 49, limits_.advanced_available},
                  {"freeRadio", control::kFree, "F&ree", 61, 30, limits_.free_available}};
    for (int i = 0; i < 3; ++i) {
        auto *r = new QRadioButton(QString::fromLatin1(radios[i].text), this);
        control::NameControl(r, radios[i].name, radios[i].id);
        // The template's width leaves room for the text and a small radio
        // glyph; the style's glyph is wider, and a box cut to the template
        // would clip the label ("Ad&vanced" would lose its last letters),
        // so the box grows to the size the button asks for.
        QRect rect = l.rect(16, radios[i].y, radios[i].w, 10);
        rect.setWidth(std::max(rect.width(), r->sizeHint().width()));
        r->setGeometry(rect);
        r->setEnabled(radios[i].available == 1);
        versions_->addButton(r, i);
    }
    if (QAbstractButton *checked = versions_->button(version_)) checked->setChecked(true);

    auto *level_label = new QLabel(QStringLiteral("Уровень воспроизведения (дБ):"), this);
    l.place(level_label, 7, 89, 109, 8);
    level_edit_ = new QLineEdit(this);
    control::NameControl(level_edit_, "levelEdit", control::kLevelEdit);
    l.place(level_edit_, 117, 87, 55, 14);
    const QIcon menu_icon(QStringLiteral(":/velumar/icon150.png"));
    level_menu_button_ = new QPushButton(this);
    control::NameControl(level_menu_button_, "levelMenuButton", control::kLevelMenu);
    level_menu_button_->setIcon(menu_icon);
    level_menu_button_->setIconSize(QSize(16, 16));
    l.place(level_menu_button_, 173, 87, 18, 14);

    auto *step_label = new QLabel(QStringLiteral("Объём буфера (в сэмплах):"), this);
    l.place(step_label, 23, 110, 94, 8);
    step_edit_ = new QLineEdit(this);
    control::NameControl(step_edit_, "stepEdit", control::kStepEdit);
    l.place(step_edit_, 117, 109, 55, 14);
    step_menu_button_ = new QPushButton(this);
    control::NameControl(step_menu_button_, "stepMenuButton", control::kStepMenu);
    step_menu_button_->setIcon(menu_icon);
    step_menu_button_->setIconSize(QSize(16, 16));
    l.place(step_menu_button_, 173, 109, 18, 14);

    connect(level_menu_button_, &QPushButton::clicked, this, [this] { OnCommand(control::kLevelMenu); });
    connect(step_menu_button_, &QPushButton::clicked, this, [this] { OnCommand(control::kStepMenu); });

    // Menu 145.
    popup_ = new QMenu(this);
    control::NameControl(popup_, "presetMenu", control::kPresetMenu);
    const struct {
        const char *name;
        int id;
        const char *text;
    } items[] = {{"minimumAction", control::kMenuMinimum, "М&инимум"},
                 {"maximumAction", control::kMenuMaximum, "М&аксимум"},
                 {nullptr, 0, nullptr},
                 {"defaultAction", control::kMenuDefault, "По у&молчанию"}};
    for (const auto &item : items) {
        if (!item.text) {
            popup_->addSeparator();
            continue;
        }
        QAction *action = popup_->addAction(QString::fromUtf8(item.text));
        control::NameControl(action, item.name, item.id);
        const int id = item.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }

    level_edit_->setText(NumberText(level_));
    step_edit_->setText(QString::number(step_));

    setFixedSize(l.toPixelsX(238), l.toPixelsY(130));
}

QRadioButton *CSettingsDlg::radio(int index) const
{
    return qobject_cast<QRadioButton *>(versions_->button(index));
}

void CSettingsDlg::OnCommand(int id)
{
    switch (id) {
    case control::kStepMenu:
        menu_target_ = 1;
        OpenPopup(step_menu_button_);
        break;
    case control::kLevelMenu:
        menu_target_ = 2;
        OpenPopup(level_menu_button_);
        break;
    case control::kMenuMinimum: ApplyChoice(0); break;
    case control::kMenuMaximum: ApplyChoice(1); break;
    case control::kMenuDefault: ApplyChoice(2); break;
    default: menu_target_ = 0; break;
    }
}

void CSettingsDlg::OpenPopup(QPushButton *at)
{
    const QPoint below = at->mapToGlobal(QPoint(0, at->height() + 1));
    popup_->exec(below);
}

void CSettingsDlg::ApplyChoice(int choice)
{
    if (menu_target_ == 1) {
        const std::uint32_t values[] = {limits_.step_min, limits_.step_max, limits_.step_default};
        step_ = AsSigned(values[choice]);
        step_edit_->setText(QString::number(values[choice]));
    } else if (menu_target_ == 2) {
        const double values[] = {limits_.level_min, limits_.level_max, limits_.level_default};
        level_ = values[choice];
        level_edit_->setText(QString::asprintf("%f", level_));
    }
    menu_target_ = 0;
}

void CSettingsDlg::Refuse(QLineEdit *focus, const QString &message)
{
    ShowError(message_box_, this, message);
    focus->setFocus(Qt::OtherFocusReason);
    focus->selectAll();
}

bool CSettingsDlg::SaveData()
{
    const QString level_range = Text(text::IDS_LEVEL_RANGE).arg(NumberText(limits_.level_min), NumberText(limits_.level_max));
    const QString step_range = Text(text::IDS_STEP_RANGE)
                                   .arg(QString::number(AsSigned(limits_.step_min)),
                                        QString::number(AsSigned(limits_.step_max)));

    const int version = versions_->checkedId();
    double level = 0.0;
    if (!ParseDouble(level_edit_->text(), level)) {
        Refuse(level_edit_, level_range);
        return false;
    }
    long step = 0;
    if (!ParseInt32(step_edit_->text(), step)) {
        Refuse(step_edit_, step_range);
        return false;
    }
    // Both range checks leave the focus in the step edit, the last field
    // read: the checks run after every field has been taken, so no single
    // field is singled out as the one to fix.
    if (step < AsSigned(limits_.step_min) || step > AsSigned(limits_.step_max)) {
        Refuse(step_edit_, step_range);
        return false;
    }
    if (level < limits_.level_min || level > limits_.level_max) {
        Refuse(step_edit_, level_range);
        return false;
    }
    if (version >= 0) version_ = version;
    level_ = level;
    step_ = step;
    return true;
}

void CSettingsDlg::accept()
{
    if (SaveData()) QDialog::accept();
}

void CSettingsDlg::ApplyTo(RUN_SETTINGS &settings) const
{
    settings.version = version_;
    settings.step = static_cast<std::uint32_t>(step_);
    settings.listening_level_db = level_;
}

} // namespace velumar::ui
