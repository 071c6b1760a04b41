#include "message_box.h"

#include <velumar/text/texts.h>

#include <QAbstractButton>

namespace velumar::ui {

QString Text(unsigned id)
{
    const std::string_view text = velumar::text::get(id);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

MessageBoxFn StandardMessageBox()
{
    return [](QWidget *parent, const MessageRequest &request) {
        QMessageBox box(request.icon, request.caption, request.text, request.buttons, parent);
        if (request.buttons & QMessageBox::Yes) {
            box.button(QMessageBox::Yes)->setText(QStringLiteral("&Да"));
            box.button(QMessageBox::No)->setText(QStringLiteral("&Нет"));
            box.setDefaultButton(QMessageBox::Yes);
        }
        QMetaObject::Connection closer;
        if (request.close_when) closer = request.close_when([&box] { box.done(QMessageBox::No); });
        const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
        QObject::disconnect(closer);
        return answer;
    };
}

void ShowError(const MessageBoxFn &box, QWidget *parent, const QString &text)
{
    box(parent, {text, Text(velumar::text::IDS_ERROR_CAPTION), QMessageBox::Critical, QMessageBox::Ok, {}});
}

void ShowWarning(const MessageBoxFn &box, QWidget *parent, const QString &text)
{
    box(parent, {text, Text(velumar::text::IDS_APP_TITLE), QMessageBox::Warning, QMessageBox::Ok, {}});
}

bool AskYesNo(const MessageBoxFn &box, QWidget *parent, const QString &text)
{
    return AskYesNo(box, parent, text, {});
}

bool AskYesNo(const MessageBoxFn &box, QWidget *parent, const QString &text,
              std::function<QMetaObject::Connection(std::function<void()>)> close_when)
{
    const auto answer = box(parent, {text, Text(velumar::text::IDS_APP_TITLE), QMessageBox::Question,
                                     QMessageBox::Yes | QMessageBox::No, std::move(close_when)});
    return answer == QMessageBox::Yes;
}

} // namespace velumar::ui
