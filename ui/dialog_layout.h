// Dialog-unit layout: the pages and dialogs are described by their
// templates in dialog units (a quarter of the average character width
// horizontally, an eighth of the font height vertically). DialogLayout turns
// those into pixels for the dialog font actually used, so the code that
// builds a dialog reads like its template.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace velumar::ui {

// The dialog font: "MS Sans Serif" at 12 pixels, which resolves to
// Liberation Sans (see fonts.h).
QFont DialogFont();

// Gives `widget` and its children the dialog font and the look the templates
// assume: group boxes whose title sits on the frame's top line, so that the
// controls placed inside by template coordinates clear the frame.
void ApplyDialogStyle(QWidget *widget);

class DialogLayout {
public:
    explicit DialogLayout(const QFont &font = DialogFont());

    int baseX() const { return base_x_; }
    int baseY() const { return base_y_; }

    int toPixelsX(int dlu) const;
    int toPixelsY(int dlu) const;
    // A template rectangle (x, y, width, height in dialog units) in pixels.
    QRect rect(int x, int y, int w, int h) const;
    // Moves and sizes `widget` to the template rectangle.
    void place(QWidget *widget, int x, int y, int w, int h) const;
    // A static text of the template, owned by `parent`.
    QLabel *label(QWidget *parent, const QString &text, int x, int y, int w, int h,
                  Qt::Alignment align = Qt::AlignLeft) const;
    // A one-line static text the page fills later, with its name and id.
    QLabel *valueLabel(QWidget *parent, const char *name, int id, int x, int y, int w) const;

private:
    int base_x_;
    int base_y_;
};

} // namespace velumar::ui
