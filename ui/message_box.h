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
    // For a question that can stop mattering while it is open: the box
    // hands over a function that closes it (answered No), and gets back the
    // connection that will call it; the box breaks the connection when it
    // closes. Empty for boxes that wait for the user whatever happens.
    std::function<QMetaObject::Connection(std::function<void()> close)> close_when;
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
// The same question, closed with No when `close_when` fires first.
bool AskYesNo(const MessageBoxFn &box, QWidget *parent, const QString &text,
              std::function<QMetaObject::Connection(std::function<void()>)> close_when);

// A string-table entry as a QString.
QString Text(unsigned id);

} // namespace velumar::ui
