// Message boxes behind a seam: the pages ask a MessageBoxFn instead of
// calling QMessageBox directly, so tests can read every text, caption and
// icon and answer questions without a human.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace velumar::ui {

struct MessageRequest {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// Shows the box modally (owned by parent) and returns the button pressed.
using MessageBoxFn = std::function<QMessageBox::StandardButton(QWidget *parent, const MessageRequest &)>;

// The real thing: a modal QMessageBox.
MessageBoxFn StandardMessageBox();

// A validation error: caption "Ошибка!", error icon, OK only.
void ShowError(const MessageBoxFn &box, QWidget *parent, const QString &text);
// A warning under the application title: warning icon, OK only.
void ShowWarning(const MessageBoxFn &box, QWidget *parent, const QString &text);
// A question with Yes and No under the application title; true for Yes.
bool AskYesNo(const MessageBoxFn &box, QWidget *parent, const QString &text);

// A string-table entry as a QString.
QString Text(unsigned id);

} // namespace velumar::ui
