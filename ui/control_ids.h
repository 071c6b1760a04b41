// The numeric ids of the wizard's dialogs, controls and menu commands.
//
// Every control that has an id carries it as the dynamic property
// "controlId" (see NameControl), so a test or a tool can find a control by
// the id its dialog description gives it; the object name is a readable
// word for the same control.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariant>

namespace velumar::ui::control {

// Dialog templates.
inline constexpr int kAboutDialog = 100;
inline constexpr int kWelcomeDialog = 104;
inline constexpr int kFilesDialog = 105;
inline constexpr int kProgressDialog = 106;
inline constexpr int kResultsDialog = 107;
inline constexpr int kSettingsDialog = 142;
inline constexpr int kPresetMenu = 145;

// Commands of the wizard frame.
inline constexpr int kCancelCommand = 2;
inline constexpr int kHelpCommand = 9;
inline constexpr int kFinishCommand = 12325;

// Welcome page.
inline constexpr int kWelcomePicture = 141;  // bitmap resource
inline constexpr int kShowScheme = 1000;
inline constexpr int kShowAbout = 1017;

// Input-files page.
inline constexpr int kFilesIntro = 1005;
inline constexpr int kReferenceEdit = 1007;
inline constexpr int kReferenceGroup = 1008;
inline constexpr int kReferenceChoose = 1009;
inline constexpr int kTestGroup = 1010;
inline constexpr int kTestEdit = 1011;
inline constexpr int kTestChoose = 1012;

// Calculation page.
inline constexpr int kProgressBar = 1012;
inline constexpr int kStart = 1013;
inline constexpr int kStop = 1014;
inline constexpr int kSettings = 1015;
inline constexpr int kStepTime = 1022;
inline constexpr int kStepValues = 1023;
inline constexpr int kElapsed = 1024;
inline constexpr int kRemaining = 1025;

// Results page.
inline constexpr int kGrade = 1021;
inline constexpr int kTime = 1026;
inline constexpr int kSpeed = 1027;
inline constexpr int kRealTimeFactor = 1028;
inline constexpr int kVerbalGrade = 1039;

// Settings dialog and its preset menu.
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kBasic = 1029;
inline constexpr int kAdvanced = 1030;
inline constexpr int kFree = 1031;
inline constexpr int kStepEdit = 1032;
inline constexpr int kLevelEdit = 1036;
inline constexpr int kLevelMenu = 1038;
inline constexpr int kStepMenu = 1039;
inline constexpr int kMenuMinimum = 32777;
inline constexpr int kMenuMaximum = 32778;
inline constexpr int kMenuDefault = 32779;

// About box.
inline constexpr int kCredits = 1020;
inline constexpr int kVersionLine = 1035;

inline constexpr char kIdProperty[] = "controlId";

// Gives `object` its readable name and, when it has one, its numeric id.
inline void NameControl(QObject *object, const QByteArray &name, int id = 0)
{
    object->setObjectName(QString::fromLatin1(name));
    if (id != 0) object->setProperty(kIdProperty, id);
}

} // namespace velumar::ui::control
