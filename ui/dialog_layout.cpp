#include "dialog_layout.h"

#include "control_ids.h"
#include "fonts.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <cmath>

namespace velumar::ui {

QFont DialogFont()
{
    InstallFontSubstitutions();
    QFont font(QString::fromLatin1(kDialogFamily));
    font.setPixelSize(12);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void ApplyDialogStyle(QWidget *widget)
{
    const QFont font = DialogFont();
    widget->setFont(font);
    const int half = static_cast<int>(std::ceil(QFontMetricsF(font).height() / 2.0));
    // A style sheet replaces font inheritance by its own resolution, so the
    // font is named in it as well: the family the dialog font resolved to.
    widget->setStyleSheet(QStringLiteral("QWidget { font-family: \"%1\"; font-size: %2px; }"
                                         "QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                                         " margin-top: %3px; }"
                                         "QGroupBox::title { subcontrol-origin: margin;"
                                         " subcontrol-position: top left; left: 6px; padding: 0 2px; }")
                              .arg(QFontInfo(font).family())
                              .arg(font.pixelSize())
                              .arg(half));
}

DialogLayout::DialogLayout(const QFont &font)
{
    const QFontMetricsF metrics(font);
    // The average character width is measured over the letters the texts
    // are written in. The interface is Russian, and Cyrillic letters run
    // wider than Latin ones in every substitute font, so both alphabets
    // count: measuring the Latin alphabet alone would clip Russian labels.
    static const QString kLetters = QStringLiteral(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
        "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюя");
    const double average = metrics.horizontalAdvance(kLetters) / static_cast<double>(kLetters.size());
    base_x_ = static_cast<int>(std::ceil(average));
    base_y_ = static_cast<int>(std::ceil(metrics.height()));
}

int DialogLayout::toPixelsX(int dlu) const
{
    return (dlu * base_x_ + 2) / 4;
}

int DialogLayout::toPixelsY(int dlu) const
{
    return (dlu * base_y_ + 4) / 8;
}

QRect DialogLayout::rect(int x, int y, int w, int h) const
{
    const int left = toPixelsX(x);
    const int top = toPixelsY(y);
    // Right and bottom edges are converted on their own so that adjacent
    // controls stay adjacent after rounding.
    return QRect(left, top, toPixelsX(x + w) - left, toPixelsY(y + h) - top);
}

void DialogLayout::place(QWidget *widget, int x, int y, int w, int h) const
{
    widget->setGeometry(rect(x, y, w, h));
}

QLabel *DialogLayout::label(QWidget *parent, const QString &text, int x, int y, int w, int h,
                            Qt::Alignment align) const
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(align | Qt::AlignTop);
    place(label, x, y, w, h);
    return label;
}

QLabel *DialogLayout::valueLabel(QWidget *parent, const char *name, int id, int x, int y, int w) const
{
    QLabel *value = label(parent, QString(), x, y, w, 8);
    control::NameControl(value, name, id);
    return value;
}

} // namespace velumar::ui
