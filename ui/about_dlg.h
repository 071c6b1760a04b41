// The about box: program name and product version, the authors' label and
// the credits.
#pragma once

#include <QDialog>
#include <QString>

namespace velumar::ui {

// "<application name>: v<product version>" from the values the program
// holds.
QString VersionLine();

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);

    QString versionText() const { return m_strVersion; }
    QString creditsText() const { return m_strCredits; }

private:
    QString m_strCredits;
    QString m_strVersion;
};

} // namespace velumar::ui
